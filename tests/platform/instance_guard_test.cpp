// The single-instance guard on Linux: one place per user whatever the environment says, never a
// shared name, and a later start that reaches the running one.
#include "platform/linux/linux_instance_guard.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;
using platform::LinuxInstanceGuard;

class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    value ? setenv(name, value->c_str(), 1) : unsetenv(name);
  }
  ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class InstanceGuardTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/mavrin-guard-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  std::string dir;
};

TEST_F(InstanceGuardTest, ThePlaceIsTheSameWhateverTheEnvironmentAndNeverShared) {
  std::string withRuntime;
  std::string without;
  {
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir);
    ScopedEnv home("HOME", dir);
    withRuntime = LinuxInstanceGuard::DefaultDirectory();
  }
  {
    ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
    ScopedEnv home("HOME", std::nullopt);
    without = LinuxInstanceGuard::DefaultDirectory();
  }
  ASSERT_FALSE(withRuntime.empty());
  EXPECT_EQ(withRuntime, without);
  EXPECT_NE(withRuntime.rfind("/tmp", 0), 0u);
  EXPECT_TRUE(LinuxInstanceGuard::IsPrivateDirectory(withRuntime));

  // A folder others may write to is not a place for it, asked for or not.
  const std::string shared = dir + "/shared";
  fs::create_directory(shared);
  chmod(shared.c_str(), 01777);
  EXPECT_FALSE(LinuxInstanceGuard::IsPrivateDirectory(shared));
  EXPECT_EQ(LinuxInstanceGuard(shared).Directory(), withRuntime);
  EXPECT_FALSE(LinuxInstanceGuard::IsPrivateDirectory("/tmp"));
}

TEST_F(InstanceGuardTest, ALaterStartIsRefusedAndReachesTheRunningOne) {
  const std::string place = dir + "/instance";
  std::atomic<int> requests{0};
  {
    LinuxInstanceGuard first(place);
    ASSERT_EQ(first.Directory(), place);
    ASSERT_TRUE(first.TryAcquire("MAV_RIN"));
    LinuxInstanceGuard second(place);
    // Nobody listens yet: refused, and the request goes nowhere.
    EXPECT_FALSE(second.TryAcquire("MAV_RIN"));
    EXPECT_FALSE(second.AskHolderToComeForward("MAV_RIN"));
    first.ListenForRequests([&requests] { ++requests; });
    EXPECT_TRUE(second.AskHolderToComeForward("MAV_RIN"));
    EXPECT_TRUE(second.AskHolderToComeForward("MAV_RIN"));
    EXPECT_EQ(2, requests.load());
    EXPECT_TRUE(LinuxInstanceGuard(place).TryAcquire("OTHER"));  // another marker is another matter
  }
  // The holder has gone: the next start runs, and nothing answers the old socket any more.
  LinuxInstanceGuard next(place);
  EXPECT_FALSE(next.AskHolderToComeForward("MAV_RIN"));
  EXPECT_TRUE(next.TryAcquire("MAV_RIN"));
  EXPECT_EQ(2, requests.load());
}

}  // namespace
