// The real program, started as a user would start it without a display: it keeps a watched program
// on its processor, refuses to run twice, and saves when it is told to stop.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// How a child starts besides its directory and arguments.
struct ChildSetup {
  int stdoutFd = -1;              // its standard output; -1: the file out-<pid> in its directory
  const char* display = nullptr;  // DISPLAY, with Qt drawing off screen; nullptr: no display
};

// A started process that is killed and reaped whatever happens to the test.
class Child {
 public:
  Child(const fs::path& cwd, std::vector<std::string> argv, const fs::path& runtimeDir, ChildSetup setup = {}) {
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (chdir(cwd.c_str()) != 0) _exit(127);
      unsetenv("DISPLAY");
      unsetenv("WAYLAND_DISPLAY");
      if (setup.display != nullptr) {
        setenv("DISPLAY", setup.display, 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // Never the developer's own session bus; an absent one is answered at once, where a
        // guessed one makes the bus library search and keep what it found until exit.
        setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
      }
      setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
      setenv("MAVRIN_INSTANCE_DIR", runtimeDir.c_str(), 1);
      setenv("MAVRIN_LANG", "ja", 1);
      const std::string out = (cwd / ("out-" + std::to_string(getpid()))).string();
      if (setup.stdoutFd >= 0 ? dup2(setup.stdoutFd, 1) < 0 : !freopen(out.c_str(), "w", stdout)) _exit(127);
      if (!freopen((out + ".err").c_str(), "w", stderr)) _exit(127);
      std::vector<char*> args;
      for (std::string& a : argv) args.push_back(a.data());
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  pid_t Pid() const { return pid_; }
  // The exit status, or -1 when it did not end within the time.
  int WaitExit(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

template <class F>
bool WaitFor(F condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

std::string AllowedCpus(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Cpus_allowed_list:", 0) == 0) return line.substr(line.find_first_not_of(" \t", 18));
  }
  return "";
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/mavrin-program-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    runtime = dir / "runtime";
    fs::create_directory(runtime);
    fs::copy_file("/bin/sleep", dir / "Sleeper");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path dir;
  fs::path runtime;
};

}  // namespace

TEST_F(ProgramTest, AReaderThatGoesAwayEndsOnlyTheOutput) {
  if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "needs two processors";
  std::string watched = (dir / "Sleeper").string();
  for (char& c : watched) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::ofstream(dir / "mavrin.ini") << "[MAV_RIN]\n001_process_path=" << watched << "\n001_affinity_mask=1\n";
  // Without a display and with Qt: `mavrin | head -1`.
  for (const char* display : {static_cast<const char*>(nullptr), ":79"}) {
    SCOPED_TRACE(display != nullptr ? "Qt" : "headless");
    int pipeFds[2];
    ASSERT_EQ(0, pipe2(pipeFds, O_CLOEXEC));
    Child program(dir, {MAVRIN_PROGRAM}, runtime, ChildSetup{pipeFds[1], display});
    close(pipeFds[1]);
    std::string line;
    for (char c; read(pipeFds[0], &c, 1) == 1 && c != '\n';) line += c;
    close(pipeFds[0]);
    EXPECT_EQ("observing...", line);

    // Every later tick writes into the closed pipe; observation goes on all the same.
    Child sleeper(dir, {(dir / "Sleeper").string(), "60"}, runtime);
    EXPECT_TRUE(WaitFor([&] { return AllowedCpus(sleeper.Pid()) == "0"; }, std::chrono::seconds(10)));
    kill(program.Pid(), SIGTERM);
    EXPECT_EQ(0, program.WaitExit(std::chrono::seconds(10)));
    EXPECT_NE(ReadFile(dir / "mavrin.ini").find("001_affinity_mask=1\n"), std::string::npos);
  }
}

TEST_F(ProgramTest, AFifoInTheLogsPlaceStopsNothingAndIsReportedOnce) {
  if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "needs two processors";
  std::string watched = (dir / "Sleeper").string();
  for (char& c : watched) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::ofstream(dir / "mavrin.ini") << "[MAV_RIN]\n001_process_path=" << watched << "\n001_affinity_mask=1\n";
  ASSERT_EQ(0, mkfifo((dir / "mavrin.log").c_str(), 0600));  // and nobody ever reads it
  Child sleeper(dir, {(dir / "Sleeper").string(), "60"}, runtime);
  Child program(dir, {MAVRIN_PROGRAM}, runtime);
  EXPECT_TRUE(WaitFor([&] { return AllowedCpus(sleeper.Pid()) == "0"; }, std::chrono::seconds(10)));
  Child later(dir, {(dir / "Sleeper").string(), "60"}, runtime);
  EXPECT_TRUE(WaitFor([&] { return AllowedCpus(later.Pid()) == "0"; }, std::chrono::seconds(10)));
  kill(program.Pid(), SIGTERM);
  EXPECT_EQ(0, program.WaitExit(std::chrono::seconds(10)));
  const std::string errors = ReadFile(dir / ("out-" + std::to_string(program.Pid()) + ".err"));
  const std::string report = "mavrin: cannot write the log ./mavrin.log: not a regular file\n";
  EXPECT_NE(errors.find(report), std::string::npos) << errors;
  EXPECT_EQ(errors.find(report), errors.rfind(report)) << "reported once";
  EXPECT_TRUE(fs::is_fifo(dir / "mavrin.log"));
}

TEST_F(ProgramTest, HandEditsOfTheSettingsFileAreTakenInAndSurviveTheSave) {
  if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "needs two processors";
  auto lower = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  fs::copy_file("/bin/sleep", dir / "Other");
  const std::string sleeper = lower((dir / "Sleeper").string());
  const std::string other = lower((dir / "Other").string());
  const fs::path ini = dir / "mavrin.ini";
  std::ofstream(ini) << "[MAV_RIN]\n001_process_path=" << sleeper << "\n001_affinity_mask=1\n";
  Child watched(dir, {(dir / "Sleeper").string(), "60"}, runtime);
  Child program(dir, {MAVRIN_PROGRAM}, runtime);
  ASSERT_TRUE(WaitFor([&] { return AllowedCpus(watched.Pid()) == "0"; }, std::chrono::seconds(10)));

  // sed -i writes a new file and renames it over.
  ASSERT_EQ(0, std::system(("sed -i 's/^001_affinity_mask=1$/001_affinity_mask=2/' '" + ini.string() + "'").c_str()));
  EXPECT_TRUE(WaitFor([&] { return AllowedCpus(watched.Pid()) == "1"; }, std::chrono::seconds(10)));
  // An editor's save: the whole text beside it, renamed over; with a second entry.
  std::ofstream(dir / ".mavrin.ini.swp") << "[MAV_RIN]\r\n001_process_path=" << sleeper << "\r\n001_affinity_mask=1\r\n"
                                         << "002_process_path=" << other << "\r\n002_affinity_mask=2\r\n";
  fs::rename(dir / ".mavrin.ini.swp", ini);
  Child second(dir, {(dir / "Other").string(), "60"}, runtime);
  EXPECT_TRUE(WaitFor([&] { return AllowedCpus(watched.Pid()) == "0" && AllowedCpus(second.Pid()) == "1"; },
                      std::chrono::seconds(10)));
  // Truncated and written in place.
  std::ofstream(ini, std::ios::trunc) << "[MAV_RIN]\r\n001_process_path=" << sleeper << "\r\n001_affinity_mask=3\r\n"
                                      << "002_process_path=" << other << "\r\n002_affinity_mask=2\r\n";
  EXPECT_TRUE(WaitFor([&] { return AllowedCpus(watched.Pid()) == "0-1"; }, std::chrono::seconds(10)));

  kill(program.Pid(), SIGTERM);
  EXPECT_EQ(0, program.WaitExit(std::chrono::seconds(10)));
  const std::string saved = ReadFile(ini);
  EXPECT_NE(saved.find("001_process_path=" + sleeper + "\r\n001_affinity_mask=3\r\n002_process_path=" + other +
                       "\r\n002_affinity_mask=2\r\n"),
            std::string::npos)
      << saved;
  const std::string out = ReadFile(dir / ("out-" + std::to_string(program.Pid())));
  EXPECT_NE(out.find("reloaded ./mavrin.ini: 1 entries\n"), std::string::npos) << out;
  EXPECT_NE(out.find("reloaded ./mavrin.ini: 2 entries\n"), std::string::npos) << out;
}

// --help and --version answer and end; anything else is refused. None of them starts the program:
// no settings file appears and a running instance is not disturbed.
TEST_F(ProgramTest, OptionsAnswerWithoutStartingTheProgram) {
  struct Case {
    const char* option;
    int status;
    const char* says;
  };
  for (const Case& c :
       {Case{"--help", 0, "使い方: mavrin [--help | --version]"}, Case{"-h", 0, "--version"},
        Case{"--version", 0, "mavrin 1.0.1\n"}, Case{"--verbose", 2, "不明なオプションです：--verbose"}}) {
    SCOPED_TRACE(c.option);
    Child program(dir, {MAVRIN_PROGRAM, c.option}, runtime);
    EXPECT_EQ(c.status, program.WaitExit(std::chrono::seconds(5)));
    const std::string out = ReadFile(dir / ("out-" + std::to_string(program.Pid())));
    const std::string err = ReadFile(dir / ("out-" + std::to_string(program.Pid()) + ".err"));
    EXPECT_NE((c.status == 0 ? out : err).find(c.says), std::string::npos) << out << err;
    EXPECT_EQ(out.find("observing"), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(dir / "mavrin.ini"));
  EXPECT_FALSE(fs::exists(runtime / "MAV_RIN.lock"));
}

TEST_F(ProgramTest, HeadlessRunPinsTheWatchedProgramRefusesASecondInstanceAndSavesOnEachStopSignal) {
  if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "needs two processors";
  const std::string upperPath = (dir / "SLEEPER").string();
  std::string lowerPath = (dir / "sleeper").string();
  for (char& c : lowerPath) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // The file names the program in upper case; the running process is found all the same.
  std::ofstream(dir / "mavrin.ini") << "[MAV_RIN]\r\n001_process_path = " << upperPath
                                    << "\r\n001_affinity_mask = 1\r\n";
  Child sleeper(dir, {(dir / "Sleeper").string(), "60"}, runtime);

  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    fs::remove(dir / "mavrin.log");
    Child program(dir, {MAVRIN_PROGRAM}, runtime);
    if (sig == SIGTERM) {
      ASSERT_TRUE(WaitFor([&] { return ReadFile(dir / "mavrin.log").find("0x00000001") != std::string::npos; },
                          std::chrono::seconds(10)));
      EXPECT_NE(ReadFile(dir / "mavrin.log").find(") set affinity mask 0x00000001 to process \"" + lowerPath + "\"\n"),
                std::string::npos)
          << ReadFile(dir / "mavrin.log");
      EXPECT_EQ("0", AllowedCpus(sleeper.Pid()));

      // A second start ends at once, says why and leaves the file alone. Headless, the running one
      // has nothing to show.
      const std::string before = ReadFile(dir / "mavrin.ini");
      Child second(dir, {MAVRIN_PROGRAM}, runtime);
      EXPECT_EQ(0, second.WaitExit(std::chrono::seconds(5)));
      EXPECT_EQ(before, ReadFile(dir / "mavrin.ini"));
      const std::string said = ReadFile(dir / ("out-" + std::to_string(second.Pid()) + ".err"));
      EXPECT_NE(said.find("mavrin: 既に起動しています．"), std::string::npos) << said;
      EXPECT_EQ(said.find("no display"), std::string::npos) << said;
    } else {
      // Wait until the program has its loop running before the signal.
      ASSERT_TRUE(WaitFor(
          [&] {
            return ReadFile(dir / ("out-" + std::to_string(program.Pid()))).find("observing...") != std::string::npos;
          },
          std::chrono::seconds(10)));
    }
    fs::remove(dir / "mavrin.ini");
    kill(program.Pid(), sig);
    EXPECT_EQ(0, program.WaitExit(std::chrono::seconds(10)));
    const std::string saved = ReadFile(dir / "mavrin.ini");
    EXPECT_NE(saved.find("001_process_path=" + lowerPath + "\n001_affinity_mask=1\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("100_process_path=\n"), std::string::npos);
  }
}

TEST_F(ProgramTest, AWatchedProgramStartedLaterIsPinnedBeforeTheNextTickWithEitherLoop) {
  if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "needs two processors";
  std::string watched = (dir / "Sleeper").string();
  for (char& c : watched) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::ofstream(dir / "mavrin.ini") << "[MAV_RIN]\n001_process_path=" << watched << "\n001_affinity_mask=1\n";
  for (const char* display : {static_cast<const char*>(nullptr), ":79"}) {
    SCOPED_TRACE(display != nullptr ? "Qt" : "headless");
    Child program(dir, {MAVRIN_PROGRAM}, runtime, ChildSetup{-1, display});
    const fs::path out = dir / ("out-" + std::to_string(program.Pid()));
    auto ticks = [&] {
      const std::string text = ReadFile(out);
      std::size_t count = 0;
      for (std::size_t at = text.find("observing..."); at != std::string::npos; at = text.find("observing...", at + 1))
        ++count;
      return count;
    };
    ASSERT_TRUE(WaitFor([&] { return ticks() >= 1; }, std::chrono::seconds(10)));
    // Started right after a tick, it is pinned by its start's event, not by the tick a second later.
    // A loaded machine may delay one start past the tick; three chances.
    bool beforeTick = false;
    for (int attempt = 0; attempt < 3 && !beforeTick; ++attempt) {
      const std::size_t seen = ticks();
      ASSERT_TRUE(WaitFor([&] { return ticks() > seen; }, std::chrono::seconds(5)));
      const std::size_t after = ticks();
      Child sleeper(dir, {(dir / "Sleeper").string(), "60"}, runtime);
      ASSERT_TRUE(WaitFor([&] { return AllowedCpus(sleeper.Pid()) == "0"; }, std::chrono::seconds(10)));
      beforeTick = ticks() == after;
    }
    EXPECT_TRUE(beforeTick);
    kill(program.Pid(), SIGTERM);
    EXPECT_EQ(0, program.WaitExit(std::chrono::seconds(10)));
  }
}
