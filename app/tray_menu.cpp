// The tray menu: built anew from menu 129 at every opening, with one item per watch entry (delete),
// per listed window and per listed process (quick change).
#include <cstdio>
#include <cstring>
#include <string>

#include "app/assign_app.h"
#include "app/dummy_dlg.h"
#include "app/tray_menu_text.h"
#include "base/text.h"
#include "framework/menu.h"
#include "res/resource.h"
#include "res/texts.h"
#include "ui/change_cpu_assign_dlg.h"
#include "ui/cpu_boxes.h"

namespace {

// One id range holds this many items; more would spill into the next range.
constexpr std::size_t kMaxItems = ID_DYNAMIC_RANGE_SIZE;

// "%2d : " for the 1-based number i + 1.
std::string ItemNumber(std::size_t i) {
  char number[16];
  std::snprintf(number, sizeof number, "%2d : ", static_cast<int>(i + 1));
  return number;
}

// szExeFile up to its zero, or the whole array when the system filled it.
std::string ExeFileName(const platform::ProcessEntry& entry) {
  return std::string(entry.szExeFile, NameLength(entry.szExeFile, sizeof entry.szExeFile));
}

// Closes a submenu whose list had more items than its id range: one grayed line says how many
// were left out.
void AppendLeftOutNote(framework::Menu& submenu, std::size_t total) {
  if (total <= kMaxItems) return;
  submenu.AppendString(0, res::Fill(res::TextId::kTrayLeftOut, {std::to_string(total - kMaxItems)}),
                       MF_STRING | MF_GRAYED);
}

// What tells two items of the same text apart: the process id and the full path.
std::string ProcessTip(const ProcessInfo& process) {
  return res::Fill(res::TextId::kMenuItemTip, {std::to_string(process.entry.th32ProcessID), process.exePath});
}

// Index of offset within a remembered list, or -1 when the last menu had no such item.
template <class List>
int RememberedIndex(const List& list, unsigned offset) {
  return offset < list.size() ? static_cast<int>(offset) : -1;
}

}  // namespace

std::string TrayItemText(std::size_t index, const std::string& name, int cpuCount, const platform::ProcessorSet& mask,
                         unsigned processors) {
  return CutToBytes(ItemNumber(index) + name + "\t" + FormatCpuDisplay(cpuCount, mask, processors), kTrayItemTextBytes);
}

std::string TrayTitleOnlyItemText(std::size_t index, const std::string& title) {
  return CutToBytes(ItemNumber(index) + title, kTrayItemTextBytes);
}

std::string TrayWindowTitle(const std::string& title) { return CutToBytes(title, kTrayTitleBytes); }

void CDummyDlg::ShowTrayMenu(int part) {
  CAssignApp& app = TheApp();
  app.Snapshot().Refresh();
  // What the items of this menu stand for; they become the ones commands look up once this menu's
  // tracking ends (a tray click during tracking can build and track another menu in between).
  std::vector<platform::WindowHandle> menuWindows;
  std::vector<MenuProcess> menuProcesses;
  std::vector<std::string> menuEntries;

  framework::Menu menu;
  if (!menu.LoadFromResource(IDR_TRAY_MENU)) return;
  framework::Menu* tray = menu.SubMenu(0);
  if (tray == nullptr) return;

  platform::ISystem& system = app.System();
  const unsigned processors = system.GetProcessorCount();

  if (framework::Menu* deleteMenu = tray->SubMenu(3)) {
    deleteMenu->RemoveAt(0);
    const WatchList& list = app.GetWatchList();
    const QuickChangedPaths& exempt = app.GetQuickChangedPaths();
    for (std::size_t i = 0; i < list.Count() && i < kMaxItems; ++i) {
      const WatchEntry& entry = list.At(i);
      // An entry whose program the user re-assigned by hand does nothing until the next start.
      const std::string tip =
          exempt.count(entry.exePath) != 0 ? std::string(res::Text(res::TextId::kQuickChangedTip)) : std::string();
      deleteMenu->AppendString(
          ID_DELETE_ENTRY_BASE + static_cast<unsigned>(i),
          TrayItemText(i, entry.exePath, CountCpus(entry.affinityMask, processors), entry.affinityMask, processors), 0,
          tip);
      menuEntries.push_back(entry.exePath);
    }
    AppendLeftOutNote(*deleteMenu, list.Count());
  }

  if (framework::Menu* quick = tray->SubMenu(4)) {
    const SystemSnapshot& snapshot = app.Snapshot();
    if (framework::Menu* windowMenu = quick->SubMenu(0)) {
      windowMenu->RemoveAt(0);
      for (std::size_t i = 0; i < snapshot.windows.size() && i < kMaxItems; ++i) {
        const platform::WindowHandle window = snapshot.windows[i].hwnd;
        const std::string title = TrayWindowTitle(system.WindowTitle(window, kTrayTitleBufferBytes));
        const int row = snapshot.FindProcessByWindow(window);
        std::string text;
        std::string tip;
        if (row >= 0 && static_cast<std::size_t>(row) < snapshot.processes.size()) {
          const ProcessInfo& process = snapshot.processes[static_cast<std::size_t>(row)];
          text = TrayItemText(i, title, process.cpuCount, process.affinityMask, processors);
          tip = ProcessTip(process);
        } else {
          text = TrayTitleOnlyItemText(i, title);
        }
        windowMenu->AppendString(ID_QUICK_WINDOW_BASE + static_cast<unsigned>(i), text, 0, tip);
        menuWindows.push_back(window);
      }
      AppendLeftOutNote(*windowMenu, snapshot.windows.size());
    }
    if (framework::Menu* processMenu = quick->SubMenu(1)) {
      processMenu->RemoveAt(0);
      for (std::size_t j = 0; j < snapshot.processes.size() && j < kMaxItems; ++j) {
        const ProcessInfo& process = snapshot.processes[j];
        processMenu->AppendString(
            ID_QUICK_PROCESS_BASE + static_cast<unsigned>(j),
            TrayItemText(j, ExeFileName(process.entry), process.cpuCount, process.affinityMask, processors), 0,
            ProcessTip(process));
        menuProcesses.push_back(MenuProcess{process.entry.th32ProcessID, process.exePath});
      }
      AppendLeftOutNote(*processMenu, snapshot.processes.size());
    }
  }

  tray->SetItemState(ID_TRAY_PAUSE, m_bPaused ? MFS_CHECKED : 0u);
  tray->SetItemState(ID_TRAY_OPEN_SETTINGS, MFS_DEFAULT);

  const framework::Menu* shown = part < 0 ? tray : tray->SubMenu(part);
  if (shown == nullptr) return;
  const framework::Point cursor = framework::Backend().CursorPos();
  SetForeground();
  const bool outer = m_bMenuOpen;
  m_bMenuOpen = true;
  {
    // The items stand for rows of the snapshot, which the ticks during tracking keep whole.
    CAssignApp::SnapshotInUse inUse(app);
    TrackPopup(*shown, TPM_RIGHTBUTTON, cursor.x, cursor.y);
  }
  m_bMenuOpen = outer;
  // The choice, if any, is posted and arrives after this: it names an item of this menu.
  m_menuWindows = std::move(menuWindows);
  m_menuProcesses = std::move(menuProcesses);
  m_menuEntries = std::move(menuEntries);
  PostToSelf(WM_NULL);
}

bool CDummyDlg::OnDynamicCommand(unsigned id) {
  CAssignApp& app = TheApp();
  // The command names what the user saw in the last menu; each branch finds that same entry,
  // window or process in the lists as they are now (a tick may have rebuilt them), and does
  // nothing once it is gone. Values are copied out: a nested loop below may rebuild the menu.
  if (id >= ID_DELETE_ENTRY_BASE && id < ID_DELETE_ENTRY_BASE + ID_DYNAMIC_RANGE_SIZE) {
    const int item = RememberedIndex(m_menuEntries, id - ID_DELETE_ENTRY_BASE);
    if (item < 0) return false;
    const std::string path = m_menuEntries[static_cast<std::size_t>(item)];
    const WatchList& list = app.GetWatchList();
    int index = -1;
    if (static_cast<std::size_t>(item) < list.Count() && list.At(static_cast<std::size_t>(item)).exePath == path) {
      index = item;
    } else {
      index = list.FindWatchEntry(path.c_str());
    }
    if (index < 0) return false;
    DeleteWatchEntry(index, app);
    return true;
  }

  int row = -1;
  if (id >= ID_QUICK_WINDOW_BASE && id < ID_QUICK_WINDOW_BASE + ID_DYNAMIC_RANGE_SIZE) {
    const int item = RememberedIndex(m_menuWindows, id - ID_QUICK_WINDOW_BASE);
    if (item < 0) return false;
    const platform::WindowHandle window = m_menuWindows[static_cast<std::size_t>(item)];
    bool listed = false;
    for (const WindowInfo& info : app.Windows()) listed = listed || info.hwnd == window;
    if (!listed) return false;
    row = app.Snapshot().FindProcessByWindow(window);
  } else if (id >= ID_QUICK_PROCESS_BASE && id < ID_QUICK_PROCESS_BASE + ID_DYNAMIC_RANGE_SIZE) {
    const int item = RememberedIndex(m_menuProcesses, id - ID_QUICK_PROCESS_BASE);
    if (item < 0) return false;
    const MenuProcess chosen = m_menuProcesses[static_cast<std::size_t>(item)];
    const auto& processes = app.Processes();
    for (std::size_t j = 0; j < processes.size() && row < 0; ++j) {
      if (processes[j].entry.th32ProcessID == chosen.pid && processes[j].exePath == chosen.exePath) {
        row = static_cast<int>(j);
      }
    }
  } else {
    return true;  // not a dynamic item: the default routing alone
  }
  if (row < 0 || static_cast<std::size_t>(row) >= app.Processes().size()) return false;

  // One quick change at a time: a second one would open exactly on top of the first.
  if (m_quickChange != nullptr && m_quickChange->HasWindow() && !m_quickChange->IsEnding()) {
    m_quickChange->BringToFront();
    return true;
  }
  // The dialog addresses its process by a row of the snapshot, which ticks then refresh in full.
  CAssignApp::SnapshotInUse inUse(app);
  CChangeCpuAssignDlg dialog(app);
  dialog.processIndex = row;
  CChangeCpuAssignDlg* const outer = m_quickChange;
  m_quickChange = &dialog;
  dialog.DoModal();
  m_quickChange = outer;
  return true;
}
