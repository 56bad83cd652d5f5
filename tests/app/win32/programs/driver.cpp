// Plays a user of mavrin.exe under Wine and checks what the program does, from outside, as a second
// Windows program: start-up and the single-instance rule, the observation of a watched program
// (the system's and the kernel's view of its mask, the log), the tray notifications and menu, pause,
// the About box, the settings and management dialogs, and the exit with its saved settings.
//
// Usage: mavrin_test_driver <mavrin.exe> <work folder> <ja|en> [<screenshot folder>]: ja or en is
// the language the program is to speak under the locale the driver runs in; every text read from
// the program is checked against it (in English, no byte of Japanese may be left). Prints one line
// per check; the exit code is the number of failed checks (0: all passed). Every process it starts
// is ended before it returns.
#include <windows.h>
// clang-format off
#include <commctrl.h>
// clang-format on

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The program's identifiers, as the user's clicks and the tray deliver them.
constexpr UINT kTrayNotify = WM_APP + 1;
constexpr UINT kCmdExit = 32776;
constexpr UINT kCmdOpenSettings = 32778;
constexpr UINT kCmdPause = 32780;
constexpr UINT kCmdAbout = 32787;
constexpr int kAboutVersion = 1014;
constexpr int kProcessList = 1001;
constexpr int kWindowList = 1002;
constexpr int kCpu0 = 1004;
constexpr int kCpu1 = 1005;
constexpr int kManage = 1014;
constexpr int kWatchList = 1020;

constexpr int kUpdateList = 1000;
constexpr int kManageNew = 1018;

// The texts the program shows in each language (code page 932 in this build, as in the program's),
// and the mnemonic keys of the tray menu's submenus.
struct Language {
  const char* aboutCaption;
  const char* manageCaption;
  const char* tipObserving;
  const char* tipPaused;
  const char* updateButton;
  const char* closeButton;
  const char* newButton;
  const char* deleteQuestion;  // how the delete confirmation begins
  char deleteKey;
  char quickChangeKey;
};
constexpr Language kJapanese{"Mavrin のバージョン情報",
                             "Mavrin / Observation Settings",
                             "Mavrin (監視中)",
                             "Mavrin (停止中)",
                             "リストの更新(&U)",
                             "閉じる(&X)",
                             "新規追加(&N)",
                             "下記の設定を削除してよろしいですか？",
                             'd',
                             'a'};
constexpr Language kEnglish{"About Mavrin",
                            "Mavrin - Watch List",
                            "Mavrin (watching)",
                            "Mavrin (paused)",
                            "&Refresh Lists",
                            "&Close",
                            "&Add...",
                            "Remove this setting from the watch list?",
                            'r',
                            'c'};
const Language* g_language = &kJapanese;
bool g_english = false;

int g_failures = 0;

void Report(bool ok, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::printf("%s: %s\n", ok ? "ok" : "FAIL", text);
  std::fflush(stdout);
  if (!ok) ++g_failures;
}

// In English no byte of another code page may be left in any text the program shows.
bool Ascii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

void Info(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::printf("info: ");
  std::vprintf(format, args);
  std::printf("\n");
  std::fflush(stdout);
  va_end(args);
}

// Polls until done or the time is up; returns the milliseconds it took, or -1.
long WaitFor(const std::function<bool()>& done, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (done()) return static_cast<long>(GetTickCount() - start);
    if (GetTickCount() - start > milliseconds) return -1;
    Sleep(50);
  }
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return s;
}

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return s;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Text(HWND window) {
  char buffer[1024] = {};
  GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

std::string ClassOf(HWND window) {
  char buffer[256] = {};
  GetClassNameA(window, buffer, sizeof buffer);
  return buffer;
}

struct Found {
  DWORD pid = 0;
  const char* cls = nullptr;
  const char* caption = nullptr;
  bool visibleOnly = false;
  HWND hwnd = nullptr;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
  auto* f = reinterpret_cast<Found*>(context);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (f->pid != 0 && pid != f->pid) return TRUE;
  if (f->cls != nullptr && ClassOf(window) != f->cls) return TRUE;
  if (f->caption != nullptr && Text(window) != f->caption) return TRUE;
  if (f->visibleOnly && !IsWindowVisible(window)) return TRUE;
  f->hwnd = window;
  return FALSE;
}

HWND FindTopWindow(DWORD pid, const char* cls, const char* caption, bool visibleOnly) {
  Found f{pid, cls, caption, visibleOnly, nullptr};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&f));
  return f.hwnd;
}

class Process {
 public:
  Process() = default;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() { Kill(); }

  bool Start(const std::string& commandLine, const std::string& folder) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi_)) {
      return false;
    }
    CloseHandle(pi_.hThread);
    pi_.hThread = nullptr;
    return true;
  }
  HANDLE Handle() const { return pi_.hProcess; }
  DWORD Id() const { return pi_.dwProcessId; }
  bool Running() const { return pi_.hProcess != nullptr && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }
  bool WaitExit(DWORD milliseconds, DWORD& code) {
    if (pi_.hProcess == nullptr || WaitForSingleObject(pi_.hProcess, milliseconds) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(pi_.hProcess, &code);
    return true;
  }
  void Kill() {
    if (pi_.hProcess == nullptr) return;
    if (Running()) {
      TerminateProcess(pi_.hProcess, 1);
      WaitForSingleObject(pi_.hProcess, 5000);
    }
    CloseHandle(pi_.hProcess);
    pi_.hProcess = nullptr;
  }

 private:
  PROCESS_INFORMATION pi_{};
};

DWORD_PTR MaskOf(const Process& p) {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (!GetProcessAffinityMask(p.Handle(), &process, &system)) return 0;
  return process;
}

// The kernel's id of the sleeper started with this tag: Wine shows its command line as the
// process's, and the host's file system as drive Z:. 0 when there is none.
long UnixPidOf(const std::string& tag) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA("Z:\\proc\\*", &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  long found = 0;
  do {
    if (data.cFileName[0] < '0' || data.cFileName[0] > '9') continue;
    std::string cmdline = ReadFile(std::string("Z:\\proc\\") + data.cFileName + "\\cmdline");
    for (char& c : cmdline) {
      if (c == '\0') c = ' ';
    }
    if (cmdline.find("mavrin_test_sleeper.exe " + tag + " ") != std::string::npos) found = std::atol(data.cFileName);
  } while (found == 0 && FindNextFileA(find, &data));
  FindClose(find);
  return found;
}

// The kernel's view: the allowed processors of every thread of the sleeper with this tag, as one
// mask when they all agree, 0 when they do not or cannot be read.
unsigned long long KernelMask(const std::string& tag) {
  const long unixPid = UnixPidOf(tag);
  if (unixPid <= 0) return 0;
  const std::string taskDir = "Z:\\proc\\" + std::to_string(unixPid) + "\\task\\";
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((taskDir + "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  unsigned long long agreed = 0;
  bool first = true;
  bool differ = false;
  do {
    if (data.cFileName[0] == '.') continue;
    const std::string status = ReadFile(taskDir + data.cFileName + "\\status");
    const std::size_t at = status.find("Cpus_allowed:");
    if (at == std::string::npos) continue;
    std::string hex;
    for (std::size_t i = at + 13; i < status.size() && status[i] != '\n'; ++i) {
      if (std::isxdigit(static_cast<unsigned char>(status[i]))) hex += status[i];
    }
    const unsigned long long mask =
        std::strtoull(hex.substr(hex.size() > 16 ? hex.size() - 16 : 0).c_str(), nullptr, 16);
    if (first) {
      agreed = mask;
      first = false;
    } else if (mask != agreed) {
      differ = true;
    }
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return differ ? 0 : agreed;
}

// Memory in the program's process, for list-view calls whose arguments are pointers.
class RemoteBuffer {
 public:
  RemoteBuffer(HANDLE process, std::size_t size) : process_(process), size_(size) {
    memory_ = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~RemoteBuffer() {
    if (memory_ != nullptr) VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;
  bool Ok() const { return memory_ != nullptr; }
  char* At(std::size_t offset) const { return static_cast<char*>(memory_) + offset; }
  bool Write(std::size_t offset, const void* data, std::size_t n) {
    SIZE_T done = 0;
    return WriteProcessMemory(process_, At(offset), data, n, &done) && done == n;
  }
  bool Read(std::size_t offset, void* data, std::size_t n) {
    SIZE_T done = 0;
    return ReadProcessMemory(process_, At(offset), data, n, &done) && done == n;
  }

 private:
  HANDLE process_;
  std::size_t size_;
  void* memory_ = nullptr;
};

std::string ListText(HANDLE process, HWND list, int row, int column) {
  RemoteBuffer remote(process, 4096);
  if (!remote.Ok()) return {};
  LVITEMA item{};
  item.iSubItem = column;
  item.cchTextMax = 1024;
  item.pszText = remote.At(1024);
  if (!remote.Write(0, &item, sizeof item)) return {};
  SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.At(0)));
  char text[1024] = {};
  remote.Read(1024, text, sizeof text - 1);
  return text;
}

bool SelectListRow(HANDLE process, HWND list, int row) {
  RemoteBuffer remote(process, 1024);
  if (!remote.Ok()) return false;
  LVITEMA item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  if (!remote.Write(0, &item, sizeof item)) return false;
  return SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.At(0))) != 0;
}

int ListCount(HWND list) { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

// The first text of dialog (its caption and its controls' texts) with a byte of another code page,
// or "" when there is none. What the edits and lists hold is the user's, not the program's.
std::string JapaneseLeftIn(HWND dialog) {
  std::string found = Ascii(Text(dialog)) ? std::string() : Text(dialog);
  EnumChildWindows(
      dialog,
      [](HWND child, LPARAM f) -> BOOL {
        auto* found = reinterpret_cast<std::string*>(f);
        if (found->empty() && ClassOf(child) != "Edit" && !Ascii(Text(child))) *found = Text(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// The log's records: "(YYYY/MM/DD hh:mm:ss) set affinity mask 0x%08X to process "path"" + CRLF.
struct LogCheck {
  int records = 0;
  bool wellFormed = true;
  std::string firstBad;
};

LogCheck CheckLog(const std::string& log, const std::string& mask, const std::string& path) {
  LogCheck result;
  const std::regex record("\\(\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}\\) set affinity mask " + mask +
                          " to process \"" + std::regex_replace(path, std::regex(R"([\\.^$|()\[\]{}*+?])"), R"(\$&)") +
                          "\"");
  std::size_t pos = 0;
  while (pos < log.size()) {
    const std::size_t nl = log.find('\n', pos);
    const std::size_t end = nl == std::string::npos ? log.size() : nl;
    std::string line = log.substr(pos, end - pos);
    const bool crlf = nl != std::string::npos && !line.empty() && line.back() == '\r';
    if (crlf) line.pop_back();
    if (!crlf || !std::regex_match(line, record)) {
      if (result.wellFormed) result.firstBad = line;
      result.wellFormed = false;
    }
    ++result.records;
    pos = end + 1;
  }
  return result;
}

std::string g_screenshots;  // folder for pictures of the dialogs; empty: none

// Saves what the screen shows of window as a 24-bit BMP file in the screenshots folder.
void Capture(HWND window, const char* name) {
  if (g_screenshots.empty() || window == nullptr) return;
  Sleep(700);  // let it paint
  RECT r{};
  GetWindowRect(window, &r);
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  const DWORD stride = static_cast<DWORD>((w * 3 + 3) / 4 * 4);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + stride * static_cast<DWORD>(h);
  if (std::FILE* out = std::fopen((g_screenshots + "\\" + name + ".bmp").c_str(), "wb")) {
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
    std::fwrite(bits, 1, stride * static_cast<DWORD>(h), out);
    std::fclose(out);
  }
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

HWND VisibleMenu() { return FindTopWindow(0, "#32768", nullptr, true); }

// Wine's notification area when no desktop offers one: a window of the display driver whose
// children are the icons.
HWND WineTray() {
  HWND tray = FindTopWindow(0, "__winex11_standalone_tray", nullptr, false);
  return tray != nullptr ? tray : FindTopWindow(0, "Shell_TrayWnd", nullptr, false);
}

int TrayIconCount(HWND tray) {
  int count = 0;
  if (tray == nullptr || !IsWindow(tray)) return 0;
  EnumChildWindows(
      tray,
      [](HWND child, LPARAM c) -> BOOL {
        if (ClassOf(child) == "__winex11_tray_icon") ++*reinterpret_cast<int*>(c);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

// The tips the notification area shows for its icons: tooltip windows of the area's process, read
// through memory in that process.
std::vector<std::string> TrayTips(HWND tray) {
  std::vector<std::string> tips;
  DWORD pid = 0;
  if (tray == nullptr || GetWindowThreadProcessId(tray, &pid) == 0) return tips;
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (process == nullptr) return tips;
  struct Search {
    DWORD pid;
    std::vector<HWND> found;
  } search{pid, {}};
  EnumWindows(
      [](HWND w, LPARAM c) -> BOOL {
        auto* s = reinterpret_cast<Search*>(c);
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == s->pid && ClassOf(w) == "tooltips_class32") s->found.push_back(w);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  for (HWND tooltip : search.found) {
    const int tools = static_cast<int>(SendMessageA(tooltip, TTM_GETTOOLCOUNT, 0, 0));
    for (int i = 0; i < tools; ++i) {
      RemoteBuffer remote(process, 2048);
      if (!remote.Ok()) break;
      TTTOOLINFOA info{};
      info.cbSize = sizeof info;
      info.lpszText = remote.At(1024);
      char empty[512] = {};
      if (!remote.Write(0, &info, sizeof info) || !remote.Write(1024, empty, sizeof empty)) break;
      if (SendMessageA(tooltip, TTM_ENUMTOOLSA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote.At(0))) == 0) {
        continue;
      }
      char text[512] = {};
      remote.Read(1024, text, sizeof text - 1);
      tips.emplace_back(text);
    }
  }
  CloseHandle(process);
  return tips;
}

bool TipShown(HWND tray, const std::string& tip) {
  for (const std::string& t : TrayTips(tray)) {
    if (t == tip) return true;
  }
  return false;
}

int VisibleMenuCount() {
  int count = 0;
  EnumWindows(
      [](HWND w, LPARAM c) -> BOOL {
        if (IsWindowVisible(w) && ClassOf(w) == "#32768") ++*reinterpret_cast<int*>(c);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

// Polls a condition that must stay true: false as soon as it does not.
bool Holds(const std::function<bool()>& condition, DWORD milliseconds) {
  return WaitFor([&] { return !condition(); }, milliseconds) < 0;
}

// What every check works on: the files, the program and the watched programs it runs with.
struct Session {
  explicit Session(const Language& language) : texts(language) {}
  const Language& texts;
  std::string mavrinExe;
  std::string work;
  std::string sleeper;
  std::string ini;
  std::string log;
  std::string watched;  // the sleeper's path as the program keeps it: lower-cased
  DWORD_PTR fullMask = 0;
  Process mavrin;
  Process before;         // started before the program
  Process after;          // started while it runs
  HWND hidden = nullptr;  // the tray window
  HWND tray = nullptr;    // Wine's notification area
};

// Waits until the tray window has handled every message posted to it so far: a pause and a resume
// posted after them show in the icon's tip only once those before them are done.
bool Settle(Session& s) {
  for (const char* tip : {s.texts.tipPaused, s.texts.tipObserving}) {
    PostMessageA(s.hidden, WM_COMMAND, kCmdPause, 0);
    PostMessageA(s.hidden, kTrayNotify, 1, WM_MOUSEMOVE);
    if (WaitFor([&] { return TipShown(s.tray, tip); }, 5000) < 0) return false;
  }
  return true;
}

// Waits for an observation tick: a watched program started now is given its mask by the next one.
bool WaitForTick(Session& s) {
  Process probe;
  return probe.Start("\"" + s.sleeper + "\" probe 300", s.work) &&
         WaitFor([&] { return MaskOf(probe) == 1; }, 6000) >= 0;
}

// Closes whatever menu is open, innermost first.
void CloseMenus() {
  for (int open = VisibleMenuCount(); open > 0; open = VisibleMenuCount()) {
    if (HWND menu = VisibleMenu()) PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    if (WaitFor([&] { return VisibleMenuCount() < open; }, 5000) < 0) return;
  }
}

// Opens the tray menu with a right press on the icon; nullptr when it does not open.
HWND OpenTrayMenu(Session& s) {
  PostMessageA(s.hidden, kTrayNotify, 1, WM_RBUTTONDOWN);
  WaitFor([&] { return VisibleMenu() != nullptr; }, 5000);
  return VisibleMenu();
}

// Start-up: the tray window, hidden and without a task-bar button, and the icon. False when the
// program never got that far.
bool CheckStartUp(Session& s) {
  Report(s.before.Start("\"" + s.sleeper + "\" before 300", s.work), "the watched program starts before Mavrin");
  WaitFor([&] { return UnixPidOf("before") != 0; }, 10000);
  Report(MaskOf(s.before) == s.fullMask, "it starts on every processor (mask 0x%llx)",
         static_cast<unsigned long long>(MaskOf(s.before)));

  if (!s.mavrin.Start("\"" + s.mavrinExe + "\"", s.work)) {
    Report(false, "mavrin.exe starts");
    return false;
  }
  const long startMs = WaitFor(
      [&] {
        s.hidden = FindTopWindow(s.mavrin.Id(), "#32770", "Mavrin", false);
        return s.hidden != nullptr;
      },
      30000);
  Report(s.hidden != nullptr, "the tray window exists (after %ld ms)", startMs);
  if (s.hidden == nullptr) return false;
  LONG_PTR exStyle = 0;
  WaitFor(
      [&] {
        exStyle = GetWindowLongPtrA(s.hidden, GWL_EXSTYLE);
        return (exStyle & WS_EX_TOOLWINDOW) != 0;
      },
      5000);
  Report(!IsWindowVisible(s.hidden), "the tray window is hidden");
  Report((exStyle & WS_EX_APPWINDOW) == 0 && (exStyle & WS_EX_TOOLWINDOW) != 0,
         "the tray window has no task-bar button (extended style 0x%lx)", static_cast<long>(exStyle));
  // Wine shows its own notification area only where no desktop offers one; when it shows, it is
  // there for our icon.
  WaitFor([&] { return TrayIconCount(s.tray = WineTray()) > 0; }, 5000);
  Report(TrayIconCount(s.tray) == 1, "the icon is in the notification area (%d icons)", TrayIconCount(s.tray));
  return true;
}

void CheckSecondInstance(Session& s) {
  const std::string iniBefore = ReadFile(s.ini);
  Process second;
  DWORD code = 1234;
  const bool started = second.Start("\"" + s.mavrinExe + "\"", s.work);
  const bool ended = started && second.WaitExit(20000, code);
  Report(ended && code == 0, "a second instance ends at once (exit code %lu)", code);
  Report(ReadFile(s.ini) == iniBefore && !FileExists(s.ini + ".new"),
         "the second instance leaves the settings file alone");
  Report(s.mavrin.Running() && IsWindow(s.hidden), "the first instance keeps running");
  // The second start does not end unseen: the first one comes forward with its settings dialog.
  HWND forward = nullptr;
  WaitFor(
      [&] {
        forward = FindTopWindow(s.mavrin.Id(), "#32770", "Mavrin", true);
        return forward != nullptr && forward != s.hidden;
      },
      5000);
  Report(forward != nullptr && forward != s.hidden, "the second start brings the first one's settings dialog forward");
  if (forward != nullptr && forward != s.hidden) {
    PostMessageA(forward, WM_COMMAND, IDCANCEL, 0);
    WaitFor([&] { return !IsWindowVisible(forward); }, 5000);
  }
}

// The main job: programs started before and after get their mask, once, and a hand edit of the
// settings file is in force without a restart.
void CheckObservation(Session& s) {
  const long firstMs = WaitFor([&] { return MaskOf(s.before) == 1; }, 6000);
  Report(firstMs >= 0, "the program started before gets mask 1 (after %ld ms)", firstMs);
  // Wine hands the mask to the threads' kernel side on its own time: the kernel's view follows.
  WaitFor([] { return KernelMask("before") == 1; }, 3000);
  Report(KernelMask("before") == 1, "the kernel agrees for every thread of it (0x%llx)", KernelMask("before"));

  s.after.Start("\"" + s.sleeper + "\" after 300", s.work);
  const long secondMs = WaitFor([&] { return MaskOf(s.after) == 1; }, 6000);
  Report(secondMs >= 0, "the program started after gets mask 1 (after %ld ms)", secondMs);
  WaitFor([] { return KernelMask("after") == 1; }, 3000);
  Report(KernelMask("after") == 1, "the kernel agrees for every thread of it (0x%llx)", KernelMask("after"));

  // Further ticks must not log again: the masks are right now. The probe's own change is the third.
  Report(WaitForTick(s), "a program started later gets mask 1 too");
  {
    const LogCheck check = CheckLog(ReadFile(s.log), "0x00000001", s.watched);
    Report(check.records == 3, "the log holds one record per change (%d records)", check.records);
    Report(check.wellFormed, "every record has the exact format and ends with CR LF%s%s", check.wellFormed ? "" : ": ",
           check.firstBad.c_str());
  }

  // And so is the edit back.
  for (int mask : {2, 1}) {
    {
      std::ofstream out(s.ini, std::ios::binary | std::ios::trunc);
      out << "[MAV_RIN]\r\n001_process_path=" << s.watched << "\r\n001_affinity_mask=" << mask << "\r\n";
    }
    const auto wanted = static_cast<DWORD_PTR>(mask);
    const long editMs = WaitFor([&] { return MaskOf(s.before) == wanted && MaskOf(s.after) == wanted; }, 6000);
    Report(editMs >= 0, "mavrin.ini edited to mask %d while the program runs: both programs get it (after %ld ms)",
           mask, editMs);
  }
}

// The icon: its tip follows the pause state, presses open the menu, other icons' notifications
// and releases do nothing.
void CheckTrayIcon(Session& s) {
  PostMessageA(s.hidden, kTrayNotify, 1, WM_MOUSEMOVE);
  Report(WaitFor([&] { return TipShown(s.tray, s.texts.tipObserving); }, 5000) >= 0,
         "moving over the icon shows the tip \"%s\"", s.texts.tipObserving);
  PostMessageA(s.hidden, WM_COMMAND, kCmdPause, 0);
  PostMessageA(s.hidden, kTrayNotify, 1, WM_MOUSEMOVE);
  Report(WaitFor([&] { return TipShown(s.tray, s.texts.tipPaused); }, 5000) >= 0, "after pausing the tip reads \"%s\"",
         s.texts.tipPaused);
  PostMessageA(s.hidden, WM_COMMAND, kCmdPause, 0);
  PostMessageA(s.hidden, kTrayNotify, 1, WM_MOUSEMOVE);
  Report(WaitFor([&] { return TipShown(s.tray, s.texts.tipObserving); }, 5000) >= 0,
         "after resuming it reads \"%s\" again", s.texts.tipObserving);
  PostMessageA(s.hidden, kTrayNotify, 1, WM_MOUSEMOVE);
  PostMessageA(s.hidden, kTrayNotify, 2, WM_LBUTTONDOWN);
  Report(Settle(s) && VisibleMenu() == nullptr && s.mavrin.Running(), "a notification for another icon id is ignored");

  for (UINT button : {static_cast<UINT>(WM_LBUTTONDOWN), static_cast<UINT>(WM_RBUTTONDOWN)}) {
    PostMessageA(s.hidden, kTrayNotify, 1, button);
    HWND menu = nullptr;
    const long menuMs = WaitFor([&] { return (menu = VisibleMenu()) != nullptr; }, 5000);
    Report(menu != nullptr, "a %s press on the icon opens the tray menu (after %ld ms)",
           button == WM_LBUTTONDOWN ? "left" : "right", menuMs);
    if (menu == nullptr) continue;
    if (button == WM_LBUTTONDOWN) Capture(menu, "tray-menu");
    // Escape closes it as it would for the user.
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    const long closeMs = WaitFor([&] { return VisibleMenu() == nullptr; }, 5000);
    Report(closeMs >= 0, "Escape closes the tray menu");
  }
  PostMessageA(s.hidden, kTrayNotify, 1, WM_LBUTTONUP);
  Report(Settle(s) && VisibleMenu() == nullptr, "releasing the button opens nothing");
}

// Pause from the menu: a program started now keeps its mask until observation resumes.
void CheckPause(Session& s) {
  OpenTrayMenu(s);
  PostMessageA(VisibleMenu(), WM_CHAR, 'p', 0);
  Report(WaitFor([&] { return VisibleMenu() == nullptr; }, 5000) >= 0, "the pause item closes the menu");
  Process paused;
  paused.Start("\"" + s.sleeper + "\" paused 300", s.work);
  // Nothing outside shows a paused tick: the mask must hold for a few of them.
  Report(Holds([&] { return MaskOf(paused) == s.fullMask; }, 3000),
         "while paused a new program keeps its mask (0x%llx)", static_cast<unsigned long long>(MaskOf(paused)));
  PostMessageA(s.hidden, WM_COMMAND, kCmdPause, 0);
  const long resumeMs = WaitFor([&] { return MaskOf(paused) == 1; }, 6000);
  Report(resumeMs >= 0, "after resuming it gets mask 1 (after %ld ms)", resumeMs);
}

// The delete submenu's first item asks about the first watch entry (answered No).
void CheckDeleteSubmenu(Session& s) {
  OpenTrayMenu(s);
  PostMessageA(VisibleMenu(), WM_CHAR, s.texts.deleteKey, 0);
  WaitFor([] { return VisibleMenuCount() >= 2; }, 5000);
  PostMessageA(VisibleMenu(), WM_KEYDOWN, VK_RETURN, 0);
  HWND box = nullptr;
  WaitFor([&] { return (box = FindTopWindow(s.mavrin.Id(), "#32770", "mavrin", true)) != nullptr; }, 5000);
  const std::string question = box != nullptr ? Text(GetDlgItem(box, 0xFFFF)) : std::string();
  Report(box != nullptr && question.find("\n  " + s.watched) != std::string::npos,
         "the delete submenu's first item asks about the watch entry (\"%s\")", question.c_str());
  Report(question.rfind(s.texts.deleteQuestion, 0) == 0 && (!g_english || Ascii(question)),
         "the question is the program's in its language");
  if (box != nullptr) {
    PostMessageA(box, WM_COMMAND, IDNO, 0);
    WaitFor([&] { return !IsWindow(box); }, 5000);
  }
  CloseMenus();
}

// Every window of the program, with its controls, for a check that did not find its dialog.
void ListVisibleWindows() {
  EnumWindows(
      [](HWND w, LPARAM) -> BOOL {
        if (IsWindowVisible(w)) {
          Info("visible: class \"%s\" caption \"%s\"", ClassOf(w).c_str(), Text(w).c_str());
          EnumChildWindows(
              w,
              [](HWND child, LPARAM) -> BOOL {
                Info("  child: class \"%s\" id %d text \"%s\"", ClassOf(child).c_str(), GetDlgCtrlID(child),
                     Text(child).c_str());
                return TRUE;
              },
              0);
        }
        return TRUE;
      },
      0);
}

// The process submenu's first item opens the quick change for a listed process.
void CheckQuickChangeSubmenu(Session& s) {
  OpenTrayMenu(s);
  // The quick-change item opens with its window submenu selected: down to the processes, open.
  PostMessageA(VisibleMenu(), WM_CHAR, s.texts.quickChangeKey, 0);
  WaitFor([] { return VisibleMenuCount() >= 2; }, 5000);
  PostMessageA(VisibleMenu(), WM_KEYDOWN, VK_DOWN, 0);
  PostMessageA(VisibleMenu(), WM_KEYDOWN, VK_RIGHT, 0);
  WaitFor([] { return VisibleMenuCount() >= 3; }, 5000);
  PostMessageA(VisibleMenu(), WM_KEYDOWN, VK_RETURN, 0);
  // The change-assignment dialog: the one with the target edit.
  struct Search {
    DWORD pid;
    HWND found;
  } search{s.mavrin.Id(), nullptr};
  HWND change = nullptr;
  WaitFor(
      [&] {
        search.found = nullptr;
        EnumWindows(
            [](HWND w, LPARAM c) -> BOOL {
              auto* found = reinterpret_cast<Search*>(c);
              DWORD pid = 0;
              GetWindowThreadProcessId(w, &pid);
              if (pid != found->pid || !IsWindowVisible(w) || GetDlgItem(w, 1016) == nullptr) return TRUE;
              found->found = w;
              return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        return (change = search.found) != nullptr;
      },
      5000);
  // An edit keeps its text to itself: another process asks for it with WM_GETTEXT.
  std::string shown;
  if (change != nullptr) {
    char buffer[2048] = {};
    SendMessageA(GetDlgItem(change, 1016), WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
    shown = buffer;
  }
  // "name (path)": the path is lower-cased and ends with the name as the system reported it.
  const std::size_t paren = shown.find(" (");
  const std::string name = paren != std::string::npos ? shown.substr(0, paren) : std::string();
  const std::string path =
      paren != std::string::npos && shown.size() > paren + 3 ? shown.substr(paren + 2, shown.size() - paren - 3) : "";
  if (change == nullptr || shown.empty()) ListVisibleWindows();
  if (change != nullptr) {
    const std::string cancel = Text(GetDlgItem(change, IDCANCEL));
    Report(cancel == (g_english ? "Cancel" : "キャンセル"), "the quick change's Cancel button reads \"%s\"",
           cancel.c_str());
  }
  Report(change != nullptr && !name.empty() && shown.back() == ')' && path == Lower(path) &&
             path.size() > name.size() && path.compare(path.size() - name.size(), name.size(), Lower(name)) == 0,
         "the process submenu's first item opens the quick change for that process (\"%s\")", shown.c_str());
  if (change != nullptr) {
    PostMessageA(change, WM_COMMAND, IDCANCEL, 0);
    WaitFor([&] { return !IsWindow(change); }, 5000);
  }
  CloseMenus();
}

// About, twice: the second request while it is open does nothing.
void CheckAbout(Session& s) {
  PostMessageA(s.hidden, WM_COMMAND, kCmdAbout, 0);
  HWND about = nullptr;
  WaitFor([&] { return (about = FindTopWindow(s.mavrin.Id(), "#32770", s.texts.aboutCaption, true)) != nullptr; },
          5000);
  Report(about != nullptr, "About opens");
  if (about == nullptr) return;
  const std::string version = Text(GetDlgItem(about, kAboutVersion));
  Report(version == "Version 1.0.1", "About shows \"%s\"", version.c_str());
  if (g_english) {
    const std::string left = JapaneseLeftIn(about);
    Report(left.empty(), "nothing in About is Japanese%s%s", left.empty() ? "" : ": ", left.c_str());
  }
  Capture(about, "about");
  PostMessageA(s.hidden, WM_COMMAND, kCmdAbout, 0);
  Settle(s);
  int count = 0;
  EnumWindows(
      [](HWND w, LPARAM c) -> BOOL {
        if (ClassOf(w) == "#32770" && Text(w) == g_language->aboutCaption && IsWindowVisible(w)) {
          ++*reinterpret_cast<int*>(c);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  Report(count == 1, "a second About request while it is open does nothing (%d open)", count);
  PostMessageA(about, WM_COMMAND, IDOK, 0);
  Report(WaitFor([&] { return !IsWindow(about); }, 5000) >= 0, "OK closes About");
}

// The management dialog, opened from the settings dialog, lists the one watch entry.
void CheckManagementDialog(Session& s, HWND settings) {
  PostMessageA(settings, WM_COMMAND, MAKEWPARAM(kManage, BN_CLICKED), 0);
  HWND manage = nullptr;
  WaitFor([&] { return (manage = FindTopWindow(s.mavrin.Id(), "#32770", s.texts.manageCaption, true)) != nullptr; },
          5000);
  Report(manage != nullptr, "the management dialog opens");
  if (manage == nullptr) return;
  HWND list = GetDlgItem(manage, kWatchList);
  const std::string entry = ListCount(list) > 0 ? ListText(s.mavrin.Handle(), list, 0, 0) : std::string();
  Capture(manage, "management");
  const std::string add = Text(GetDlgItem(manage, kManageNew));
  const std::string left = g_english ? JapaneseLeftIn(manage) : std::string();
  Report(add == s.texts.newButton && left.empty(), "the management dialog speaks %s (\"%s\")%s%s",
         g_english ? "English" : "Japanese", add.c_str(), left.empty() ? "" : ", not: ", left.c_str());
  Report(ListCount(list) == 1 && entry == s.watched, "it lists the watch entry (%d rows, \"%s\")", ListCount(list),
         entry.c_str());
  PostMessageA(manage, WM_COMMAND, IDCANCEL, 0);
  Report(WaitFor([&] { return !IsWindow(manage); }, 5000) >= 0, "the management dialog closes");
}

// The settings dialog: its lists, its language, a box that changes a program's mask at once, and
// the program it changed left alone afterwards.
void CheckSettingsDialog(Session& s) {
  PostMessageA(s.hidden, kTrayNotify, 1, WM_LBUTTONDBLCLK);
  HWND settings = nullptr;
  WaitFor(
      [&] {
        settings = FindTopWindow(s.mavrin.Id(), "#32770", "Mavrin", true);
        return settings != nullptr && settings != s.hidden;
      },
      8000);
  Report(settings != nullptr && settings != s.hidden, "a double-click opens the settings dialog");
  if (settings == nullptr || settings == s.hidden) return;
  HWND windows = GetDlgItem(settings, kWindowList);
  HWND processes = GetDlgItem(settings, kProcessList);
  Report(ListCount(windows) > 0 && ListCount(processes) > 0, "both lists are filled (%d windows, %d processes)",
         ListCount(windows), ListCount(processes));
  int row = -1;
  for (int i = 0; i < ListCount(processes) && row < 0; ++i) {
    if (ListText(s.mavrin.Handle(), processes, i, 0).find("mavrin_test_sleeper.exe") != std::string::npos) row = i;
  }
  Report(row >= 0, "the watched program is in the process list (row %d)", row);
  Capture(settings, "settings");
  {
    const std::string update = Text(GetDlgItem(settings, kUpdateList));
    const std::string close = Text(GetDlgItem(settings, IDCANCEL));
    Report(update == s.texts.updateButton && close == s.texts.closeButton,
           "the settings dialog speaks %s (\"%s\", \"%s\")", g_english ? "English" : "Japanese", update.c_str(),
           close.c_str());
    if (g_english) {
      const std::string left = JapaneseLeftIn(settings);
      Report(left.empty(), "nothing in the settings dialog is Japanese%s%s", left.empty() ? "" : ": ", left.c_str());
    }
  }
  // A click on the icon while the dialog is open raises the dialog and opens no menu.
  PostMessageA(s.hidden, kTrayNotify, 1, WM_LBUTTONDOWN);
  Report(Settle(s) && VisibleMenu() == nullptr, "a click on the icon with the dialog open opens no menu");
  if (row < 0) {
    PostMessageA(settings, WM_COMMAND, IDCANCEL, 0);
    return;
  }
  // The selected row's process is the first of its name: find which of ours it is by its mask
  // after the click.
  SelectListRow(s.mavrin.Handle(), processes, row);
  HWND cpu0 = GetDlgItem(settings, kCpu0);
  HWND cpu1 = GetDlgItem(settings, kCpu1);
  Report(WaitFor(
             [&] {
               return SendMessageA(cpu0, BM_GETCHECK, 0, 0) == BST_CHECKED &&
                      SendMessageA(cpu1, BM_GETCHECK, 0, 0) == BST_UNCHECKED;
             },
             5000) >= 0,
         "the boxes show the selected program's mask 1");
  PostMessageA(cpu1, BM_CLICK, 0, 0);
  Process* changed = nullptr;
  const long boxMs = WaitFor(
      [&] {
        if (MaskOf(s.before) == 3) changed = &s.before;
        if (MaskOf(s.after) == 3) changed = &s.after;
        return changed != nullptr;
      },
      5000);
  Report(boxMs >= 0, "a click on the CPU 1 box gives the program mask 3 (after %ld ms)", boxMs);
  CheckManagementDialog(s, settings);
  PostMessageA(settings, WM_COMMAND, IDCANCEL, 0);
  Report(WaitFor([&] { return !IsWindow(settings); }, 5000) >= 0, "the settings dialog closes");
  if (changed != nullptr) {
    WaitForTick(s);
    Report(MaskOf(*changed) == 3, "the hand-changed program is left alone by observation (mask 0x%llx)",
           static_cast<unsigned long long>(MaskOf(*changed)));
  }
}

// Exit: the window and the icon go, and the settings file holds exactly the list.
void CheckExit(Session& s) {
  PostMessageA(s.hidden, WM_COMMAND, kCmdExit, 0);
  DWORD code = 1234;
  Report(s.mavrin.WaitExit(15000, code), "Exit ends the program");
  Report(!IsWindow(s.hidden), "its window is gone");
  Report(WaitFor([&] { return TrayIconCount(s.tray) == 0; }, 5000) >= 0, "the icon is gone from the notification area");
  const std::string saved = ReadFile(s.ini);
  std::string expected = "[MAV_RIN]\r\n001_process_path=" + s.watched + "\r\n001_affinity_mask=1\r\n";
  for (int n = 2; n <= 100; ++n) {
    char slot[8];
    std::snprintf(slot, sizeof slot, "%03d", n);
    expected += std::string(slot) + "_process_path=\r\n" + slot + "_affinity_mask=0\r\n";
  }
  Report(saved == expected, "mavrin.ini holds the exact keys and values (%zu bytes, expected %zu)", saved.size(),
         expected.size());
  if (saved != expected) std::printf("---- mavrin.ini ----\n%s\n----\n", saved.c_str());
  Report(!FileExists(s.ini + ".new"), "no working copy of the settings file is left");
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc != 4 && argc != 5) || (std::strcmp(argv[3], "ja") != 0 && std::strcmp(argv[3], "en") != 0)) {
    std::fputs("usage: mavrin_test_driver <mavrin.exe> <work folder> <ja|en> [<screenshot folder>]\n", stderr);
    return 100;
  }
  g_english = std::strcmp(argv[3], "en") == 0;
  g_language = g_english ? &kEnglish : &kJapanese;
  if (argc == 5) g_screenshots = argv[4];
  Session s(*g_language);
  s.mavrinExe = argv[1];
  s.work = argv[2];
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  s.sleeper = self;
  s.sleeper = s.sleeper.substr(0, s.sleeper.find_last_of('\\') + 1) + "mavrin_test_sleeper.exe";
  s.ini = s.work + "\\mavrin.ini";
  s.log = s.work + "\\mavrin.log";
  s.watched = Lower(s.sleeper);
  Info("code page %u, interface language 0x%04x, expecting %s; sleeper %s", GetACP(), GetUserDefaultUILanguage(),
       g_english ? "English" : "Japanese", s.sleeper.c_str());

  SYSTEM_INFO si;
  GetSystemInfo(&si);
  if (si.dwNumberOfProcessors < 2) {
    std::puts("skip: one processor only; no mask could differ from the default");
    return 0;
  }
  s.fullMask = (si.dwNumberOfProcessors >= 64) ? ~DWORD_PTR{0} : ((DWORD_PTR{1} << si.dwNumberOfProcessors) - 1);

  // The settings file names the watched program in capitals; the program must match it lower-cased.
  {
    std::ofstream out(s.ini, std::ios::binary);
    out << "[MAV_RIN]\r\n001_process_path=" << Upper(s.sleeper) << "\r\n001_affinity_mask=1\r\n";
  }
  DeleteFileA(s.log.c_str());

  if (!CheckStartUp(s)) return g_failures;
  CheckSecondInstance(s);
  CheckObservation(s);
  CheckTrayIcon(s);
  CheckPause(s);
  CheckDeleteSubmenu(s);
  CheckQuickChangeSubmenu(s);
  CheckAbout(s);
  CheckSettingsDialog(s);
  CheckExit(s);
  return g_failures;
}
