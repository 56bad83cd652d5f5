#include "engine/activity_log.h"

#include <algorithm>
#include <ctime>

#include "platform/append_file.h"
#include "platform/processor_set_text.h"

bool ActivityLog::Write(const char* what, const platform::ProcessorSet& mask, const std::string& exePath) {
  const std::tm now = clock_.LocalNow();
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "(%d/%02d/%02d %02d:%02d:%02d) ", now.tm_year + 1900, now.tm_mon + 1, now.tm_mday,
                now.tm_hour, now.tm_min, now.tm_sec);
  const std::string line =
      std::string(what) + " " + platform::FormatHexMask(mask) + " to process \"" + EscapeForLog(exePath) + "\"\n";
  std::string error;
  if (!platform::AppendToRegularFile(path_, stamp + line, error)) {
    if (!failureReported_ && errors_ != nullptr) {
      std::fprintf(errors_, "mavrin: cannot write the log %s: %s\n", path_.c_str(), error.c_str());
      std::fflush(errors_);
    }
    failureReported_ = true;
    return false;
  }
  failureReported_ = false;
  if (console_ != nullptr) std::fputs(line.c_str(), console_);
  return true;
}

bool ActivityLog::RecordChange(const platform::ProcessorSet& mask, const std::string& exePath) {
  return Write("set affinity mask", mask, exePath);
}

bool ActivityLog::RecordFailure(platform::ProcessId pid, const platform::ProcessorSet& mask,
                                const std::string& exePath) {
  auto key = std::make_tuple(pid, exePath, mask);
  if (failures_.count(key) != 0) return false;
  // Remembered only once it is on record, so a log that cannot be written now gets it later.
  if (!Write("failed to set affinity mask", mask, exePath)) return false;
  failures_.insert(std::move(key));
  return true;
}

void ActivityLog::ForgetFailure(platform::ProcessId pid, const platform::ProcessorSet& mask,
                                const std::string& exePath) {
  if (!failures_.empty()) failures_.erase(std::make_tuple(pid, exePath, mask));
}

void ActivityLog::ForgetEndedProcesses(const std::vector<ProcessInfo>& processes) {
  ForgetFailuresUnless([&processes](platform::ProcessId pid, const std::string& path) {
    return std::any_of(processes.begin(), processes.end(), [&](const ProcessInfo& info) {
      return info.entry.th32ProcessID == pid && info.exePath == path;
    });
  });
}

void ActivityLog::ForgetFailuresUnless(const std::function<bool(platform::ProcessId, const std::string&)>& runs) {
  // Usually nothing or very little is remembered, so a question per remembered failure is cheapest.
  for (auto it = failures_.begin(); it != failures_.end();) {
    it = runs(std::get<0>(*it), std::get<1>(*it)) ? std::next(it) : failures_.erase(it);
  }
}
