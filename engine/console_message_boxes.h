#pragma once
// Message boxes for a program without a user interface: the text goes to a stream (stderr by
// default) and the answer is the cautious one, so nothing is confirmed that nobody saw.
#include <cstdio>

#include "framework/message_box.h"

class ConsoleMessageBoxes final : public framework::IMessageBoxes {
 public:
  explicit ConsoleMessageBoxes(std::FILE* stream = stderr) : stream_(stream) {}
  // IDOK for MB_OK, IDNO for MB_YESNO, IDCANCEL for the other types that have a cancel button.
  int ShowMessageBox(framework::OwnerWindow owner, const std::string& text, const char* caption,
                     unsigned type) override;

 private:
  std::FILE* stream_;
};
