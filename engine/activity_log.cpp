#include "engine/activity_log.h"

#include <algorithm>
#include <ctime>

std::string EscapeForLog(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

bool ActivityLog::Write(const char* what, AffinityMask mask, const std::string& exePath) {
  std::FILE* file = std::fopen(path_.c_str(), "a");
  if (file == nullptr) return false;
  std::tm now = clock_.LocalNow();
  std::string escaped = EscapeForLog(exePath);
  std::fprintf(file, "(%d/%02d/%02d %02d:%02d:%02d) ", now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_hour,
               now.tm_min, now.tm_sec);
  std::fprintf(file, "%s 0x%08X to process \"%s\"\n", what, static_cast<unsigned>(mask), escaped.c_str());
  if (console_ != nullptr) {
    std::fprintf(console_, "%s 0x%08X to process \"%s\"\n", what, static_cast<unsigned>(mask), escaped.c_str());
  }
  return std::fclose(file) == 0;
}

bool ActivityLog::RecordChange(AffinityMask mask, const std::string& exePath) {
  return Write("set affinity mask", mask, exePath);
}

bool ActivityLog::RecordFailure(platform::ProcessId pid, AffinityMask mask, const std::string& exePath) {
  auto key = std::make_tuple(pid, exePath, mask);
  if (failures_.count(key) != 0) return false;
  // Remembered only once it is on record, so a log that cannot be written now gets it later.
  if (!Write("failed to set affinity mask", mask, exePath)) return false;
  failures_.insert(std::move(key));
  return true;
}

void ActivityLog::ForgetFailure(platform::ProcessId pid, AffinityMask mask, const std::string& exePath) {
  if (!failures_.empty()) failures_.erase(std::make_tuple(pid, exePath, mask));
}

void ActivityLog::ForgetEndedProcesses(const std::vector<ProcessInfo>& processes) {
  // Usually nothing or very little is remembered, so a scan per remembered failure is cheapest.
  for (auto it = failures_.begin(); it != failures_.end();) {
    const platform::ProcessId pid = std::get<0>(*it);
    const std::string& path = std::get<1>(*it);
    bool listed = std::any_of(processes.begin(), processes.end(), [&](const ProcessInfo& info) {
      return info.entry.th32ProcessID == pid && info.exePath == path;
    });
    it = listed ? std::next(it) : failures_.erase(it);
  }
}
