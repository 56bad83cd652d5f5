#include "engine/console_message_boxes.h"

namespace {
constexpr unsigned kTypeMask = 0x0000000Fu;
constexpr unsigned kAbortRetryIgnore = 0x00000002u;
constexpr int kIdAbort = 3;
}  // namespace

int ConsoleMessageBoxes::ShowMessageBox(framework::OwnerWindow /*owner*/, const std::string& text, const char* caption,
                                        unsigned type) {
  if (stream_ != nullptr) {
    if (caption != nullptr) std::fprintf(stream_, "[%s] ", caption);
    std::fprintf(stream_, "%s\n", text.c_str());
    std::fflush(stream_);
  }
  switch (type & kTypeMask) {
    case MB_OK: return IDOK;
    case MB_YESNO: return IDNO;
    case kAbortRetryIgnore: return kIdAbort;
    default: return IDCANCEL;
  }
}
