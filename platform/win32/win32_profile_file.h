#pragma once
// The Windows edition of ProfileFile: the system's profile services over the file at a path
// relative to the current directory.
//
// A batch works on a copy beside the file ("<file>.new"): reads and writes go to the copy, and the
// commit moves it over the file in one step (replace-existing, write-through), so the file is
// always either wholly old or wholly new. A program that is killed mid-batch leaves the file alone.
#include <string>
#include <vector>

#include "settings/profile_file.h"

namespace platform {

class Win32ProfileFile final : public ProfileFile {
 public:
  explicit Win32ProfileFile(std::string path);
  ~Win32ProfileFile() override;
  Win32ProfileFile(const Win32ProfileFile&) = delete;
  Win32ProfileFile& operator=(const Win32ProfileFile&) = delete;

  std::size_t Read(const char* section, const char* key, const char* defaultValue, char* buffer,
                   std::size_t bufferSize) override;
  bool Write(const char* section, const char* key, const char* value) override;
  bool ReadKeys(const char* section, std::vector<std::string>& keys) override;
  bool BeginBatch() override;
  bool CommitBatch() override;
  void DiscardBatch() override;

  const std::string& Path() const override { return path_; }
  std::string LastError() const override { return lastError_; }
  std::string Fingerprint() const override { return fingerprint_; }

 private:
  enum class BatchState { kNone, kOpen, kBroken };

  // The full path of the file, or of the batch's copy, as the profile calls need it (a bare name
  // would send them to the system directory).
  std::string FullPath(const std::string& path) const;
  std::string WorkingPath() const;
  bool WriteTo(const std::string& file, const char* section, const char* key, const char* value);
  void RemoveCopy();

  std::string path_;
  std::string copyPath_;
  BatchState batch_ = BatchState::kNone;
  bool batchWritten_ = false;
  bool batchFailed_ = false;
  std::string fingerprint_ = kMissingFile;
  std::string lastError_;
};

}  // namespace platform
