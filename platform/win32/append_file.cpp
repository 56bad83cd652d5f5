#include "platform/append_file.h"

#include <windows.h>

#include "platform/win32/system_message.h"

namespace platform {

bool AppendToRegularFile(const std::string& path, const std::string& text, std::string& error) {
  // Shared for every access, so other programs may read, rename or delete the log meanwhile.
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = SystemMessage(GetLastError());
    return false;
  }
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    error = "not a regular file";
    return false;
  }
  // The log is a text file of the system's kind.
  std::string lines;
  lines.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  DWORD written = 0;
  const BOOL ok = WriteFile(file, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
  const DWORD code = GetLastError();
  CloseHandle(file);
  if (!ok || written != lines.size()) {
    error = ok ? std::string("the disk took only part of it") : SystemMessage(code);
    return false;
  }
  return true;
}

}  // namespace platform
