#include "platform/linux/ini_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "settings/ini_document.h"

namespace platform {
namespace {

// False when a file is there but could not be taken whole (unreadable, not a plain file, too
// big): writing it over would lose what we could not read. `text` keeps what could be read,
// `error` says why.
bool ReadWholeFile(const std::string& path, std::size_t maxSize, std::string& text, bool& exists, std::string& error) {
  // O_NONBLOCK: a FIFO put in the file's place must not stall the program.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  exists = fd >= 0 || errno != ENOENT;
  if (fd < 0) {
    if (exists) error = std::strerror(errno);
    return !exists;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "not a regular file";
    close(fd);
    return false;
  }
  bool whole = true;
  char chunk[65536];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = std::strerror(errno);
      whole = false;
      break;
    }
    if (n == 0) break;
    std::size_t room = maxSize - text.size();
    if (static_cast<std::size_t>(n) > room) {
      text.append(chunk, room);
      error = "larger than " + std::to_string(maxSize) + " bytes";
      whole = false;
      break;
    }
    text.append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  return whole;
}

// A commit killed in mid-write leaves its temporary file ".<name>.tmp-<pid>-<n>" behind, and
// nobody else would ever remove it. Those of writers that are gone are removed; a writer that
// still runs (or a process that now has its id) keeps its file.
void RemoveOrphanedTemporaries(const std::string& dir, const std::string& name) {
  const std::string prefix = "." + name + ".tmp-";
  DIR* listing = opendir(dir.c_str());
  if (listing == nullptr) return;
  while (const dirent* entry = readdir(listing)) {
    std::string_view file = entry->d_name;
    if (file.substr(0, prefix.size()) != prefix) continue;
    std::string_view rest = file.substr(prefix.size());
    const std::size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash > 9) continue;
    long pid = 0;
    bool digits = true;
    for (char c : rest.substr(0, dash)) {
      digits = digits && c >= '0' && c <= '9';
      pid = pid * 10 + (c - '0');
    }
    if (!digits || pid <= 0 || pid == getpid()) continue;
    if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    unlinkat(dirfd(listing), entry->d_name, 0);
  }
  closedir(listing);
}

}  // namespace

// The document as one look at the file found it, with what that look could tell about the file.
struct IniFile::Snapshot {
  IniDocument document;
  bool writable = true;  // false: a commit would lose what could not be read
  std::string error;
  std::string fingerprint;
};

std::unique_ptr<IniFile::Snapshot> IniFile::Load() const {
  auto snapshot = std::make_unique<Snapshot>();
  std::string raw;
  bool exists = false;
  snapshot->writable = ReadWholeFile(path_, maxFileSize_, raw, exists, snapshot->error);
  snapshot->fingerprint = !snapshot->writable ? std::string() : exists ? FingerprintOf(raw) : std::string(kMissingFile);
  if (!snapshot->document.Parse(std::move(raw))) {
    // Not what it claims to be: whatever we wrote would be read back as something else.
    if (snapshot->writable) snapshot->error = "not valid UTF-16";
    snapshot->writable = false;
    snapshot->fingerprint.clear();
  }
  return snapshot;
}

IniFile::IniFile(std::string path, std::size_t maxFileSize) : path_(std::move(path)), maxFileSize_(maxFileSize) {}

IniFile::~IniFile() = default;

void IniFile::SetFaultsForTesting(IniFileFaults faults) { faults_ = std::move(faults); }

std::size_t IniFile::Read(const char* section, const char* key, const char* defaultValue, char* buffer,
                          std::size_t bufferSize) {
  if (buffer == nullptr || bufferSize == 0) return 0;
  std::unique_ptr<Snapshot> fresh;
  const Snapshot* snapshot = batch_.get();
  if (snapshot == nullptr) {
    fresh = Load();
    snapshot = fresh.get();
  }
  std::string_view value;
  if (section == nullptr || key == nullptr || !snapshot->document.Find(section, key, value)) {
    value = defaultValue != nullptr ? defaultValue : "";
  }
  // The caller gets a C string; what follows a NUL byte in the file could never reach it.
  value = value.substr(0, value.find('\0'));
  std::size_t n = std::min(value.size(), bufferSize - 1);
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return n;
}

std::string IniFile::Fingerprint() const { return batch_ != nullptr ? batch_->fingerprint : fingerprint_; }

bool IniFile::Write(const char* section, const char* key, const char* value) {
  if (section == nullptr || key == nullptr || value == nullptr) return false;
  if (!IniDocument::IsStorableSection(section) || !IniDocument::IsStorableKey(key) ||
      IniDocument::HasLineBreak(value)) {
    return false;
  }
  const bool ownBatch = batch_ == nullptr;
  if (ownBatch) BeginBatch();
  const IniDocument& document = batch_->document;
  if (!batch_->writable || !document.CanHold(section) || !document.CanHold(key) || !document.CanHold(value)) {
    if (ownBatch) DiscardBatch();
    return false;
  }
  batch_->document.Set(section, key, value);
  return ownBatch ? CommitBatch() : true;
}

bool IniFile::ReadKeys(const char* section, std::vector<std::string>& keys) {
  keys.clear();
  if (section == nullptr) return false;
  if (batch_ != nullptr) return batch_->document.Keys(section, keys);
  return Load()->document.Keys(section, keys);
}

bool IniFile::BeginBatch() {
  if (batch_ == nullptr) {
    batch_ = Load();
    fingerprint_ = batch_->fingerprint;
    lastError_ = batch_->error;
  }
  return batch_->writable;
}

bool IniFile::CommitBatch() {
  std::unique_ptr<Snapshot> snapshot = std::move(batch_);
  if (snapshot == nullptr || !snapshot->document.Dirty()) return true;
  if (!snapshot->writable) {
    lastError_ = snapshot->error;
    return false;
  }
  const std::string bytes = snapshot->document.Bytes();
  if (!Commit(bytes)) {
    lastError_ = std::strerror(errno);
    return false;
  }
  fingerprint_ = FingerprintOf(bytes);
  lastError_.clear();
  return true;
}

void IniFile::DiscardBatch() { batch_.reset(); }

bool IniFile::Commit(const std::string& content) {
  using Step = IniFileFaults::Step;
  auto injected = [this](Step step, int error) {
    if (faults_.failAt && faults_.failAt(step)) {
      errno = error;
      return true;
    }
    return false;
  };

  // Renaming over a symbolic link would replace the link; the file it points to is the one to
  // replace.
  std::string target = path_;
  struct stat st {};
  if (lstat(path_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* resolved = realpath(path_.c_str(), nullptr)) {
      target = resolved;
      std::free(resolved);
    }
  }
  const bool exists = stat(target.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return false;
  if (exists && !S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return false;
  }

  std::size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  std::string name = slash == std::string::npos ? target : target.substr(slash + 1);

  // The temporary file lives beside the target: a rename is only atomic within one file system.
  static unsigned counter = 0;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = dir + "/." + name + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    if (injected(Step::kCreateTemp, EACCES)) return false;
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  auto fail = [&]() {
    const int error = errno;  // the reason, not what the cleaning up met
    if (fd >= 0) close(fd);
    unlink(temp.c_str());
    errno = error;
    return false;
  };

  if (exists) {
    // Owner first: changing it may clear set-id bits that the mode then puts back.
    if (fchown(fd, st.st_uid, st.st_gid) != 0) {
      // Only a privileged process can give a file away; the mode below still carries over.
    }
    if (fchmod(fd, st.st_mode & 07777) != 0) return fail();
  }

  std::size_t done = 0;
  while (done < content.size()) {
    std::size_t chunk = content.size() - done;
    if (faults_.diskFullAfterBytes >= 0) {
      std::size_t room = static_cast<std::size_t>(faults_.diskFullAfterBytes);
      if (done >= room) {
        errno = ENOSPC;
        return fail();
      }
      chunk = std::min(chunk, room - done);
    }
    if (injected(Step::kWrite, EIO)) return fail();
    ssize_t n = write(fd, content.data() + done, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail();
    }
    done += static_cast<std::size_t>(n);
  }
  if (injected(Step::kSync, EIO) || fsync(fd) != 0) return fail();
  int closed = close(fd);
  fd = -1;
  if (closed != 0) return fail();
  if (injected(Step::kRename, EACCES) || rename(temp.c_str(), target.c_str()) != 0) return fail();

  // Makes the rename itself durable. The new file is in place by now, so a file system that
  // cannot sync a directory does not make the commit a failure.
  int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  RemoveOrphanedTemporaries(dir, name);
  return true;
}

}  // namespace platform
