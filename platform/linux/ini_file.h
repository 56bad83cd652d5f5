#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/profile_file.h"

namespace platform {

// Ways a commit can be made to fail, for tests of the failure paths.
struct IniFileFaults {
  enum class Step { kCreateTemp, kWrite, kSync, kRename };
  // Asked before each step; true makes the step fail as the system would.
  std::function<bool(Step)> failAt;
  // The temporary file takes this many bytes, then every write reports a full disk (-1: no limit).
  std::int64_t diskFullAfterBytes = -1;
};

// The POSIX edition of ProfileFile: the file at `path`, read and written whole through an
// IniDocument (which says how the text is read and changed).
//
// A commit writes a temporary file in the same directory, flushes it to the disk and renames it
// over the old file, so the file is always either wholly old or wholly new. The old file's
// permissions and owner carry over.
class IniFile : public ProfileFile {
 public:
  // Files above this size are read only up to it and are never written over.
  static constexpr std::size_t kDefaultMaxFileSize = 16u << 20;

  explicit IniFile(std::string path, std::size_t maxFileSize = kDefaultMaxFileSize);
  ~IniFile() override;
  IniFile(const IniFile&) = delete;
  IniFile& operator=(const IniFile&) = delete;

  std::size_t Read(const char* section, const char* key, const char* defaultValue, char* buffer,
                   std::size_t bufferSize) override;
  bool Write(const char* section, const char* key, const char* value) override;
  bool ReadKeys(const char* section, std::vector<std::string>& keys) override;
  bool BeginBatch() override;
  bool CommitBatch() override;
  void DiscardBatch() override;

  const std::string& Path() const override { return path_; }
  std::string LastError() const override { return lastError_; }
  std::string Fingerprint() const override;
  void SetFaultsForTesting(IniFileFaults faults);

 private:
  struct Snapshot;

  std::unique_ptr<Snapshot> Load() const;
  bool Commit(const std::string& content);

  std::string path_;
  std::size_t maxFileSize_;
  IniFileFaults faults_;
  std::unique_ptr<Snapshot> batch_;         // the snapshot while a batch runs
  std::string fingerprint_ = kMissingFile;  // of the last snapshot or commit
  std::string lastError_;
};

}  // namespace platform
