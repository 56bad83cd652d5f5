#include "platform/linux/linux_shell.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/text.h"

namespace platform {

namespace {

constexpr int kSmallIconSize = 16;
// Desktop entries may sit in subdirectories (vendor folders); a deeper tree is not an XDG layout.
constexpr int kMaxScanDepth = 3;
// A desktop entry is a few kilobytes; anything far larger is not one.
constexpr std::uintmax_t kMaxDesktopFileBytes = 256 * 1024;
// Smallest first: the list shows 16 pixels, and a larger picture only has to be scaled down.
constexpr const char* kIconSizeDirs[] = {"16x16", "22x22", "24x24",   "32x32",   "48x48",
                                         "64x64", "96x96", "128x128", "256x256", "512x512"};
// Loose pictures often carry their size in the name: mini.xterm_32x32.xpm, pstree16.xpm.
constexpr const char* kIconSizeSuffixes[] = {"_16x16", "16", "_22x22", "_24x24", "_32x32", "32", "_48x48", "48"};
constexpr const char* kGenericIconName = "application-x-executable";
// File systems stamp changes with a coarse clock; two changes this close may look like one.
constexpr std::int64_t kRacyWindowNs = 2'000'000'000;

std::int64_t WallNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::int64_t SteadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsExecutableFile(const std::string& path) { return IsRegularFile(path) && access(path.c_str(), X_OK) == 0; }

// A command name as the shell would run it: names with a slash as they are, others through PATH.
std::string ResolveCommand(const std::string& name, const std::string& searchPath) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
  std::size_t start = 0;
  while (start <= searchPath.size()) {
    std::size_t end = searchPath.find(':', start);
    if (end == std::string::npos) end = searchPath.size();
    std::string dir = searchPath.substr(start, end - start);
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return {};
}

std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return {};
  return resolved;
}

std::vector<std::string> SplitDirs(const char* value, const std::vector<std::string>& fallback) {
  if (value == nullptr || value[0] == '\0') return fallback;
  std::vector<std::string> dirs;
  const std::string text = value;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(':', start);
    if (end == std::string::npos) end = text.size();
    std::string dir = text.substr(start, end - start);
    // Relative entries are invalid in the base-directory rules and are skipped.
    if (!dir.empty() && dir[0] == '/') dirs.push_back(dir);
    start = end + 1;
  }
  return dirs.empty() ? fallback : dirs;
}

// A plain window outline, for executables without an icon of their own when the system has no
// generic icon file either.
framework::Icon DrawnGenericIcon() {
  framework::IconImage image;
  image.width = kSmallIconSize;
  image.height = kSmallIconSize;
  image.rgba.assign(static_cast<std::size_t>(kSmallIconSize * kSmallIconSize * 4), 0);
  auto put = [&image](int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    const std::size_t at = (static_cast<std::size_t>(y) * kSmallIconSize + static_cast<std::size_t>(x)) * 4;
    image.rgba[at] = r;
    image.rgba[at + 1] = g;
    image.rgba[at + 2] = b;
    image.rgba[at + 3] = 255;
  };
  for (int y = 2; y <= 13; ++y) {
    for (int x = 1; x <= 14; ++x) {
      const bool border = x == 1 || x == 14 || y == 2 || y == 13;
      const bool title = y <= 4;
      if (border) {
        put(x, y, 64, 64, 64);
      } else if (title) {
        put(x, y, 48, 96, 176);
      } else {
        put(x, y, 240, 240, 240);
      }
    }
  }
  return framework::Icon::FromImage(std::move(image));
}

}  // namespace

std::string DesktopExecProgram(const std::string& exec) {
  // Words of the Exec value: blanks separate, double quotes group, a backslash escapes inside quotes.
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (std::size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (quoted) {
      if (c == '\\' && i + 1 < exec.size()) {
        word += exec[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        word += c;
      }
    } else if (c == '"') {
      quoted = true;
      inWord = true;
    } else if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
    // Only the first words matter; stop early on long command lines.
    if (words.size() > 16) break;
  }
  if (inWord) words.push_back(word);

  std::size_t at = 0;
  if (at < words.size() && (words[at] == "env" || words[at] == "/usr/bin/env")) {
    ++at;
    while (at < words.size() && (words[at].find('=') != std::string::npos || words[at].rfind('-', 0) == 0)) ++at;
  }
  if (at >= words.size()) return {};
  // A field code is not a program.
  if (words[at].size() == 2 && words[at][0] == '%') return {};
  return words[at];
}

ShellPaths ShellPaths::FromEnvironment() {
  ShellPaths paths;
  std::vector<std::string> dataDirs;
  const char* home = std::getenv("HOME");
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome != nullptr && dataHome[0] == '/') {
    dataDirs.push_back(dataHome);
  } else if (home != nullptr && home[0] == '/') {
    dataDirs.push_back(std::string(home) + "/.local/share");
  }
  for (const std::string& dir : SplitDirs(std::getenv("XDG_DATA_DIRS"), {"/usr/local/share", "/usr/share"})) {
    dataDirs.push_back(dir);
  }
  for (const std::string& dir : dataDirs) {
    paths.applicationDirs.push_back(dir + "/applications");
    paths.iconThemeDirs.push_back(dir + "/icons/hicolor");
  }
  for (const std::string& dir : dataDirs) paths.pixmapDirs.push_back(dir + "/pixmaps");
  const char* searchPath = std::getenv("PATH");
  paths.searchPath = searchPath != nullptr ? searchPath : "/usr/local/bin:/usr/bin:/bin";
  return paths;
}

LinuxShell::LinuxShell() : LinuxShell(ShellPaths::FromEnvironment()) {}

LinuxShell::LinuxShell(ShellPaths paths, std::string opener) : paths_(std::move(paths)), opener_(std::move(opener)) {}

// ---- opening an address ----

bool LinuxShell::OpenAddress(const std::string& address) {
  // The opener would take a leading dash for an option of its own.
  if (address.empty() || address[0] == '-') return false;
  const std::string program = ResolveCommand(opener_, paths_.searchPath);
  if (program.empty()) return false;

  // Everything the children use is made before fork: after it only async-signal-safe calls.
  std::vector<char> programBytes(program.begin(), program.end());
  programBytes.push_back('\0');
  std::vector<char> addressBytes(address.begin(), address.end());
  addressBytes.push_back('\0');
  char* const argv[] = {programBytes.data(), addressBytes.data(), nullptr};
  const long maxFd = sysconf(_SC_OPEN_MAX);
  const int lastFd = maxFd > 0 && maxFd < 65536 ? static_cast<int>(maxFd) - 1 : 65535;

  // The grandchild reports a failed exec through this pipe; a successful exec closes it silently.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;

  const pid_t child = fork();
  if (child < 0) {
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (child == 0) {
    // The middle process only starts the opener and leaves at once, so the opener is adopted by
    // init and never becomes our zombie.
    setsid();
    const pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);

    close(report[0]);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGCHLD, SIG_DFL);
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) {
      dup2(devNull, STDIN_FILENO);
      if (devNull != STDIN_FILENO) close(devNull);
    }
    // Our descriptors (display connection, settings file, instance lock) are not the opener's.
    if (close_range(3, ~0u, CLOSE_RANGE_CLOEXEC) != 0) {
      for (int fd = 3; fd <= lastFd; ++fd) {
        if (fd != report[1]) fcntl(fd, F_SETFD, FD_CLOEXEC);
      }
    }
    execv(argv[0], argv);
    const int error = errno;
    ssize_t ignored = write(report[1], &error, sizeof error);
    (void)ignored;
    _exit(127);
  }

  close(report[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  bool started = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  int error = 0;
  ssize_t got;
  do {
    got = read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  if (got > 0) started = false;
  close(report[0]);
  return started;
}

// ---- file icons ----

std::vector<LinuxShell::DirStamp> LinuxShell::CurrentStamps() const {
  std::vector<DirStamp> now;
  now.reserve(stamps_.size());
  for (const DirStamp& old : stamps_) {
    DirStamp s;
    s.path = old.path;
    struct stat st {};
    if (stat(s.path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      s.exists = true;
      s.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
      s.size = static_cast<std::int64_t>(st.st_size);
      s.inode = st.st_ino;
    }
    now.push_back(s);
  }
  return now;
}

void LinuxShell::RefreshIndexIfStale() {
  if (indexed_) {
    const std::vector<DirStamp> now = CurrentStamps();
    bool same = now.size() == stamps_.size();
    for (std::size_t i = 0; same && i < now.size(); ++i) {
      same = now[i].exists == stamps_[i].exists && now[i].mtimeNs == stamps_[i].mtimeNs &&
             now[i].size == stamps_[i].size && now[i].inode == stamps_[i].inode;
    }
    if (same && !(racy_ && SteadyNowNs() >= racyRecheckNs_)) return;
  }
  BuildIndex();
}

void LinuxShell::BuildIndex() {
  const std::int64_t started = WallNowNs();
  ++indexBuilds_;
  indexed_ = true;
  iconNameByExe_.clear();
  iconFileByName_.clear();
  iconByFile_.clear();
  iconFileByExe_.clear();
  genericResolved_ = false;
  genericFile_.clear();
  stamps_.clear();
  std::map<std::string, bool> seenIds;
  for (const std::string& dir : paths_.applicationDirs) ScanApplicationDir(dir, "", 0, seenIds);
  // The stamps are taken after the scan: a change during it shows at the next look.
  stamps_ = CurrentStamps();
  racy_ = false;
  for (const DirStamp& stamp : stamps_) {
    if (stamp.exists && stamp.mtimeNs >= started - kRacyWindowNs) racy_ = true;
  }
  racyRecheckNs_ = SteadyNowNs() + kRacyWindowNs;
}

void LinuxShell::ScanApplicationDir(const std::string& dir, const std::string& prefix, int depth,
                                    std::map<std::string, bool>& seenIds) {
  stamps_.push_back(DirStamp{dir, false, 0, 0});
  std::error_code ec;
  std::filesystem::directory_iterator it(dir, ec);
  if (ec) return;
  std::vector<std::filesystem::path> files;
  std::vector<std::filesystem::path> subdirs;
  for (const auto end = std::filesystem::directory_iterator(); it != end; it.increment(ec)) {
    if (ec) break;
    const std::filesystem::path& p = it->path();
    std::error_code typeError;
    if (it->is_directory(typeError)) {
      if (depth < kMaxScanDepth) subdirs.push_back(p);
    } else if (p.extension() == ".desktop") {
      files.push_back(p);
    }
  }
  // The listing order is the file system's; sort so the first entry for an executable is stable.
  std::sort(files.begin(), files.end());
  std::sort(subdirs.begin(), subdirs.end());
  for (const auto& file : files) {
    // An entry of an earlier directory with the same id hides the later ones.
    const std::string id = prefix + file.filename().string();
    if (seenIds.emplace(id, true).second) AddDesktopEntry(file.string());
  }
  for (const auto& sub : subdirs) {
    ScanApplicationDir(sub.string(), prefix + sub.filename().string() + "-", depth + 1, seenIds);
  }
}

void LinuxShell::AddDesktopEntry(const std::string& file) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec || size > kMaxDesktopFileBytes) return;
  std::ifstream in(file, std::ios::binary);
  if (!in) return;
  std::string line;
  bool inMainGroup = false;
  std::string exec;
  std::string tryExec;
  std::string icon;
  std::string type;
  bool hidden = false;
  while (std::getline(in, line)) {
    line = std::string(Trim(line));
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inMainGroup = line == "[Desktop Entry]";
      continue;
    }
    if (!inMainGroup) continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key(Trim(std::string_view(line).substr(0, eq)));
    const std::string value(Trim(std::string_view(line).substr(eq + 1)));
    // Localised keys (Icon[de]=...) are left to the unlocalised one; the first of duplicates wins.
    if (key == "Exec" && exec.empty()) exec = value;
    if (key == "TryExec" && tryExec.empty()) tryExec = value;
    if (key == "Icon" && icon.empty()) icon = value;
    if (key == "Type" && type.empty()) type = value;
    if (key == "Hidden") hidden = value == "true";
  }
  if (hidden || icon.empty() || (!type.empty() && type != "Application")) return;

  auto note = [this, &icon](const std::string& program) {
    const std::string resolved = ResolveCommand(program, paths_.searchPath);
    if (resolved.empty()) return;
    iconNameByExe_.emplace(ToLowerAsciiCopy(resolved), icon);
    // A running process names its executable with links resolved (/usr/bin/x -> /usr/lib/x/x).
    const std::string real = Canonical(resolved);
    if (!real.empty()) iconNameByExe_.emplace(ToLowerAsciiCopy(real), icon);
  };
  note(DesktopExecProgram(exec));
  if (!tryExec.empty()) note(tryExec);
}

std::string LinuxShell::ResolveIconName(const std::string& name) {
  if (name.empty()) return {};
  if (name[0] == '/') return IsRegularFile(name) ? name : std::string();
  auto cached = iconFileByName_.find(name);
  if (cached != iconFileByName_.end()) return cached->second;

  std::string found;
  // Theme names come without an extension, but older entries often give one.
  std::string base = name;
  for (const char* ext : {".png", ".xpm", ".svg"}) {
    const std::size_t n = std::strlen(ext);
    if (base.size() > n && base.compare(base.size() - n, n, ext) == 0) {
      base.erase(base.size() - n);
      break;
    }
  }
  if (base.find('/') == std::string::npos) {
    auto firstFile = [&found](const std::vector<std::string>& candidates) {
      for (const std::string& candidate : candidates) {
        if (IsRegularFile(candidate)) {
          found = candidate;
          return true;
        }
      }
      return false;
    };
    // Pictures in pixels first; a scalable one needs the toolkit's SVG support, so it comes last.
    std::vector<std::string> raster;
    for (const std::string& theme : paths_.iconThemeDirs) {
      for (const char* size : kIconSizeDirs) raster.push_back(theme + "/" + size + "/apps/" + base + ".png");
    }
    for (const std::string& dir : paths_.pixmapDirs) {
      for (const char* ext : {".png", ".xpm"}) raster.push_back(dir + "/" + base + ext);
      for (const char* suffix : kIconSizeSuffixes) {
        for (const char* ext : {".png", ".xpm"}) raster.push_back(dir + "/" + base + suffix + ext);
      }
    }
    std::vector<std::string> scalable;
    for (const std::string& theme : paths_.iconThemeDirs) scalable.push_back(theme + "/scalable/apps/" + base + ".svg");
    for (const std::string& dir : paths_.pixmapDirs) scalable.push_back(dir + "/" + base + ".svg");
    if (!firstFile(raster)) firstFile(scalable);
  }
  iconFileByName_.emplace(name, found);
  return found;
}

std::string LinuxShell::GenericIconFile() {
  if (genericResolved_) return genericFile_;
  genericResolved_ = true;
  for (const std::string& theme : paths_.iconThemeDirs) {
    // hicolor rarely carries mime-type icons; the theme that does sits beside it.
    const std::filesystem::path hicolor(theme);
    for (const std::string& root : {theme, (hicolor.parent_path() / "Adwaita").string()}) {
      for (const char* size : kIconSizeDirs) {
        const std::string candidate = root + "/" + size + "/mimetypes/" + kGenericIconName + ".png";
        if (IsRegularFile(candidate)) {
          genericFile_ = candidate;
          return genericFile_;
        }
      }
    }
  }
  return genericFile_;
}

std::string LinuxShell::IconFileFor(const std::string& path) {
  RefreshIndexIfStale();
  const std::string key = ToLowerAsciiCopy(path);
  auto cached = iconFileByExe_.find(key);
  if (cached != iconFileByExe_.end()) return cached->second;
  std::string file;
  auto entry = iconNameByExe_.find(key);
  if (entry != iconNameByExe_.end()) file = ResolveIconName(entry->second);
  iconFileByExe_.emplace(key, file);
  return file;
}

framework::Icon LinuxShell::FileIcon(const std::string& path) {
  std::string file = IconFileFor(path);
  if (file.empty()) file = GenericIconFile();
  if (file.empty()) {
    if (genericIcon_.IsNull()) genericIcon_ = DrawnGenericIcon();
    return genericIcon_;
  }
  // One icon object per file: every window of one program shares it.
  auto it = iconByFile_.find(file);
  if (it == iconByFile_.end()) it = iconByFile_.emplace(file, framework::Icon::FromFile(file, kSmallIconSize)).first;
  return it->second;
}

}  // namespace platform
