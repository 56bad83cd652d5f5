#pragma once
// Message boxes as the program uses them. The portable core asks through this interface; each
// framework backend (Qt, Win32, headless) answers it.
#include <cstdint>
#include <string>

// The system's values for the box types and answers the program uses; on Windows they come from
// the system headers.
#ifndef MB_OK
#define MB_OK 0x00000000u
#define MB_YESNO 0x00000004u
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7
#endif

namespace framework {

// A window the box is modal to; 0 = no owner.
using OwnerWindow = std::uintptr_t;

class IMessageBoxes {
 public:
  virtual ~IMessageBoxes() = default;
  // Shows text with caption (nullptr: the system's default caption) and waits for the answer
  // (IDOK, IDYES, IDNO, ...). The nested loop keeps the program's timers running.
  virtual int ShowMessageBox(OwnerWindow owner, const std::string& text, const char* caption, unsigned type) = 0;
};

}  // namespace framework
