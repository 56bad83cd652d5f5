#pragma once
// The append-only text log of the mask changes the observation cycle made, one time-stamped
// record per line. The file is opened and closed for every record, so other programs may read,
// move or delete it at any time. Only a regular file is written: whatever else stands in its place
// (a FIFO, a device) is refused at once instead of stopping the program.
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "base/text.h"
#include "engine/system_snapshot.h"
#include "platform/system.h"

inline constexpr char kActivityLogPath[] = "./mavrin.log";

// The path as it may appear inside one log line: control bytes (CR, LF, ...) become \xNN so that
// no path can start a record of its own. Other bytes, backslashes included, stay as they are.
inline std::string EscapeForLog(const std::string& path) { return EscapeControlBytes(path); }

class ActivityLog {
 public:
  // console: where each record is echoed without its time stamp (nullptr: nowhere). errors: where
  // a log that cannot be written is reported, once until it can be written again (nullptr: nowhere).
  explicit ActivityLog(platform::IClock& clock, std::string path = kActivityLogPath, std::FILE* console = stdout,
                       std::FILE* errors = stderr)
      : clock_(clock), path_(std::move(path)), console_(console), errors_(errors) {}

  // "set affinity mask 0x%08X to process "%s"": the system accepted the set. False when the
  // file could not be written; then nothing is written anywhere else either. A set reaching CPU 32 or above
  // is written whole in the same form, 8 hex digits per 32 processors (FormatHexMask).
  bool RecordChange(const platform::ProcessorSet& mask, const std::string& exePath);
  // "failed to set affinity mask 0x%08X to process "%s"", written once per process and set
  // until the process is gone or the set is later accepted. False when nothing was written.
  bool RecordFailure(platform::ProcessId pid, const platform::ProcessorSet& mask, const std::string& exePath);
  // The set was accepted after all: a later refusal is news again.
  void ForgetFailure(platform::ProcessId pid, const platform::ProcessorSet& mask, const std::string& exePath);
  // Drops the remembered failures of processes that are no longer listed.
  void ForgetEndedProcesses(const std::vector<ProcessInfo>& processes);
  // Drops the remembered failures of every process for which runs(pid, exePath) is false.
  void ForgetFailuresUnless(const std::function<bool(platform::ProcessId, const std::string&)>& runs);
  std::size_t RememberedFailureCount() const { return failures_.size(); }

  const std::string& Path() const { return path_; }

 private:
  bool Write(const char* what, const platform::ProcessorSet& mask, const std::string& exePath);

  platform::IClock& clock_;
  std::string path_;
  std::FILE* console_;
  std::FILE* errors_;
  bool failureReported_ = false;
  // (process id, executable path, mask) of the refusals already on record.
  std::set<std::tuple<platform::ProcessId, std::string, platform::ProcessorSet>> failures_;
};
