#include "platform/win32/win32_profile_file.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "base/text.h"
#include "platform/win32/system_message.h"

namespace platform {
namespace {

bool HasLineBreak(const char* text) { return std::strpbrk(text, "\r\n") != nullptr; }

// A key must come back from the file as the same key, or a later read would miss it.
bool IsStorableKey(const char* key) {
  const std::size_t n = std::strlen(key);
  if (n == 0 || HasLineBreak(key) || std::strchr(key, '=') != nullptr) return false;
  if (IsBlank(key[0]) || IsBlank(key[n - 1])) return false;
  return key[0] != '[' && key[0] != ';';
}

bool IsStorableSection(const char* section) {
  const std::size_t n = std::strlen(section);
  if (n == 0 || HasLineBreak(section) || std::strchr(section, ']') != nullptr) return false;
  return !IsBlank(section[0]) && !IsBlank(section[n - 1]);
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Makes the profile services write out and forget what they hold of file, so the next read sees
// the disk.
void ReleaseCached(const std::string& file) { WritePrivateProfileStringA(nullptr, nullptr, nullptr, file.c_str()); }

// A double-zero-terminated list as the profile calls return it, read with a growing buffer.
template <typename Fetch>
std::vector<std::string> ReadList(Fetch fetch) {
  std::vector<std::string> items;
  for (DWORD size = 4096; size <= (64u << 20); size *= 4) {
    std::vector<char> buffer(size, '\0');
    const DWORD got = fetch(buffer.data(), size);
    if (got + 2 >= size) continue;  // cut short: ask again with more room
    for (const char* p = buffer.data(); *p != '\0'; p += std::strlen(p) + 1) items.emplace_back(p);
    break;
  }
  return items;
}

// The fingerprint of the file's bytes; empty when it cannot be read.
std::string FingerprintOfFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char chunk[65536];
  DWORD n = 0;
  bool ok = true;
  while ((ok = ReadFile(file, chunk, sizeof chunk, &n, nullptr) != FALSE) && n > 0) bytes.append(chunk, n);
  CloseHandle(file);
  return ok ? FingerprintOf(bytes) : std::string();
}

bool SameNameIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

Win32ProfileFile::Win32ProfileFile(std::string path) : path_(std::move(path)), copyPath_(path_ + ".new") {}

Win32ProfileFile::~Win32ProfileFile() {
  if (batch_ != BatchState::kNone) DiscardBatch();
}

std::string Win32ProfileFile::FullPath(const std::string& path) const {
  char full[MAX_PATH * 4];
  const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (n == 0 || n >= sizeof full) return path;
  return std::string(full, n);
}

std::string Win32ProfileFile::WorkingPath() const { return FullPath(batch_ == BatchState::kOpen ? copyPath_ : path_); }

std::size_t Win32ProfileFile::Read(const char* section, const char* key, const char* defaultValue, char* buffer,
                                   std::size_t bufferSize) {
  if (buffer == nullptr || bufferSize == 0) return 0;
  const char* fallback = defaultValue != nullptr ? defaultValue : "";
  if (section == nullptr || key == nullptr || batch_ == BatchState::kBroken) {
    const std::size_t n = std::min(std::strlen(fallback), bufferSize - 1);
    std::memcpy(buffer, fallback, n);
    buffer[n] = '\0';
    return n;
  }
  const DWORD size = static_cast<DWORD>(std::min<std::size_t>(bufferSize, 0x7FFFFFFF));
  const DWORD n = GetPrivateProfileStringA(section, key, fallback, buffer, size, WorkingPath().c_str());
  buffer[std::min<std::size_t>(n, bufferSize - 1)] = '\0';
  return std::strlen(buffer);
}

bool Win32ProfileFile::WriteTo(const std::string& file, const char* section, const char* key, const char* value) {
  return WritePrivateProfileStringA(section, key, value, file.c_str()) != FALSE;
}

bool Win32ProfileFile::Write(const char* section, const char* key, const char* value) {
  // A null value would delete the key; a line break would let a value write lines of its own.
  if (section == nullptr || key == nullptr || value == nullptr) return false;
  if (!IsStorableSection(section) || !IsStorableKey(key) || HasLineBreak(value)) return false;
  if (batch_ == BatchState::kBroken) {
    batchWritten_ = true;  // so the commit reports that this write never reached the file
    return false;
  }
  if (batch_ == BatchState::kNone) {
    // Alone, a write is a batch of one, so it too replaces the file in one step.
    if (!BeginBatch()) {
      DiscardBatch();
      return false;
    }
    const bool written = Write(section, key, value);
    if (!written) {
      DiscardBatch();
      return false;
    }
    return CommitBatch();
  }
  if (!WriteTo(WorkingPath(), section, key, value)) {
    lastError_ = SystemMessage(GetLastError());
    batchFailed_ = true;
    return false;
  }
  batchWritten_ = true;
  return true;
}

bool Win32ProfileFile::ReadKeys(const char* section, std::vector<std::string>& keys) {
  keys.clear();
  if (section == nullptr || batch_ == BatchState::kBroken) return false;
  const std::string file = WorkingPath();
  if (!FileExists(file)) return false;
  const std::vector<std::string> sections = ReadList(
      [&file](char* buffer, DWORD size) { return GetPrivateProfileSectionNamesA(buffer, size, file.c_str()); });
  const std::string wanted(section);
  if (std::none_of(sections.begin(), sections.end(),
                   [&wanted](const std::string& s) { return SameNameIgnoringAsciiCase(s, wanted); })) {
    return false;
  }
  const std::vector<std::string> all = ReadList([&file, section](char* buffer, DWORD size) {
    return GetPrivateProfileStringA(section, nullptr, "", buffer, size, file.c_str());
  });
  for (const std::string& key : all) {
    const bool seen = std::any_of(keys.begin(), keys.end(),
                                  [&key](const std::string& k) { return SameNameIgnoringAsciiCase(k, key); });
    if (!seen) keys.push_back(key);
  }
  return true;
}

void Win32ProfileFile::RemoveCopy() {
  const std::string copy = FullPath(copyPath_);
  ReleaseCached(copy);
  DeleteFileA(copy.c_str());
}

bool Win32ProfileFile::BeginBatch() {
  if (batch_ != BatchState::kNone) return batch_ == BatchState::kOpen;
  batchWritten_ = false;
  batchFailed_ = false;
  const std::string file = FullPath(path_);
  const std::string copy = FullPath(copyPath_);
  RemoveCopy();  // a copy left by a run that was killed mid-batch
  ReleaseCached(file);
  lastError_.clear();
  fingerprint_ = kMissingFile;
  if (FileExists(file)) {
    // The copy must start as the file is now; a file that cannot be copied must not be replaced.
    if (!CopyFileA(file.c_str(), copy.c_str(), FALSE)) {
      lastError_ = SystemMessage(GetLastError());
      fingerprint_.clear();
      batch_ = BatchState::kBroken;
      return false;
    }
    fingerprint_ = FingerprintOfFile(copy);
  }
  batch_ = BatchState::kOpen;
  return true;
}

bool Win32ProfileFile::CommitBatch() {
  const BatchState state = batch_;
  if (state == BatchState::kNone) return true;
  if (state == BatchState::kBroken) {
    batch_ = BatchState::kNone;
    return !batchWritten_;
  }
  const std::string file = FullPath(path_);
  const std::string copy = FullPath(copyPath_);
  bool ok = true;
  if (batchWritten_) {
    ReleaseCached(copy);  // out to the disk before it takes the file's place
    const std::string written = FingerprintOfFile(copy);
    ok = !batchFailed_ &&
         MoveFileExA(copy.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    if (ok) {
      fingerprint_ = written;
    } else if (!batchFailed_) {
      lastError_ = SystemMessage(GetLastError());
    }
    ReleaseCached(file);
  }
  batch_ = BatchState::kNone;
  RemoveCopy();
  return ok;
}

void Win32ProfileFile::DiscardBatch() {
  if (batch_ == BatchState::kNone) return;
  batch_ = BatchState::kNone;
  RemoveCopy();
}

}  // namespace platform
