#include "ui/assign_list_dlg.h"

#include <cstdio>
#include <vector>

#include "base/text.h"
#include "framework/backend.h"
#include "framework/shell.h"
#include "res/resource.h"
#include "res/texts.h"
#include "ui/cpu_boxes.h"
#include "ui/manage_assign_dlg.h"

namespace {

constexpr int kStandardIconSize = 32;
constexpr int kSmallIconSize = 16;
// The texts the system hands over fit a 1,024-byte buffer with its terminating zero.
constexpr std::size_t kTextBytes = 1023;
// Titles are read with room to spare and cut here, so no character is ever split.
constexpr std::size_t kTitleReadBytes = 4 * (kTextBytes + 1);
// Positions of the list popups in menu 129 (0 is the tray menu).
constexpr int kWindowListPopup = 1;
constexpr int kProcessListPopup = 2;

}  // namespace

std::string WindowTitleText(platform::ISystem& system, platform::WindowHandle window) {
  return CutToBytes(system.WindowTitle(window, kTitleReadBytes), kTextBytes);
}

CAssignListDlg::CAssignListDlg(DialogContext& context)
    : CDialog(IDD_ASSIGN_LIST),
      m_context(context),
      m_hIcon(framework::LoadIconResource(IDR_MAINFRAME, kStandardIconSize)) {}

CAssignListDlg::~CAssignListDlg() = default;

const framework::MessageMap* CAssignListDlg::GetThisMessageMap() {
  using namespace framework;
  static constexpr MessageEntry kEntries[] = {
      MapSysCommand<&CAssignListDlg::OnSysCommand>(),
      MapMessage<&CAssignListDlg::OnQueryDragIcon>(WM_QUERYDRAGICON),
      MapClicked<&CAssignListDlg::OnBnClickedUpdateList>(IDC_UPDATE_LIST),
      MapMessage<&CAssignListDlg::OnDestroy>(WM_DESTROY),
      MapMessage<&CAssignListDlg::OnClose>(WM_CLOSE),
      MapNotify<&CAssignListDlg::OnRClickWindowList>(NM_RCLICK, IDC_WINDOW_LIST),
      MapNotify<&CAssignListDlg::OnRClickProcessList>(NM_RCLICK, IDC_PROCESS_LIST),
      MapCommand<&CAssignListDlg::OnWindowListAdd>(ID_WINDOWLIST_ADD),
      MapCommand<&CAssignListDlg::OnProcessListAdd>(ID_PROCESSLIST_ADD),
      MapClicked<&CAssignListDlg::OnBnClickedManage>(IDC_MANAGE),
      MapClicked<&CAssignListDlg::OnBnClickedPresets>(IDC_CPU_PRESETS),
      MapCommandRange<&CAssignListDlg::OnPresetChosen>(ID_PRESET_BASE, ID_PRESET_BASE + ID_DYNAMIC_RANGE_SIZE - 1),
  };
  static constexpr MessageMap kMap{&CDialog::GetThisMessageMap, kEntries};
  return &kMap;
}

void CAssignListDlg::DoDataExchange() {
  BindControl(IDC_PROCESS_LIST, m_processList);
  BindControl(IDC_WINDOW_LIST, m_windowList);
}

bool CAssignListDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  const std::string aboutText = framework::LoadStringResource(IDS_ABOUTBOX);
  if (!aboutText.empty()) {
    AppendSystemMenuSeparator();
    AppendSystemMenuItem(IDM_ABOUTBOX, aboutText);
  }
  SetIcon(m_hIcon, true);
  SetIcon(m_hIcon, false);
  // No task-bar button of its own: it belongs to the tray program.
  ModifyStyleEx(WS_EX_APPWINDOW, 0);

  m_windowList.InsertColumn(0, res::Text(res::TextId::kColumnWindow), LVCFMT_LEFT, 240);
  m_processList.InsertColumn(0, res::Text(res::TextId::kColumnProcess), LVCFMT_LEFT, 180);
  m_processList.InsertColumn(1, res::Text(res::TextId::kColumnCpu), LVCFMT_LEFT, 80);
  m_processList.SetExtendedStyle(LVS_EX_FULLROWSELECT);
  m_windowList.SetExtendedStyle(LVS_EX_FULLROWSELECT);
  AddProcessorBoxes(*this, m_context.System().GetProcessorCount());

  UpdateLists();
  return true;
}

void CAssignListDlg::UpdateLists() {
  SystemSnapshot& snapshot = m_context.Snapshot();
  snapshot.Refresh();

  m_processList.DeleteAllItems();
  const unsigned processors = m_context.System().GetProcessorCount();
  const std::vector<ProcessInfo>& processes = snapshot.processes;
  for (std::size_t i = 0; i < processes.size(); ++i) {
    const ProcessInfo& process = processes[i];
    const int row = m_processList.InsertItem(static_cast<int>(i), process.entry.szExeFile);
    m_processList.SetItemText(row, 1, FormatCpuDisplay(process.cpuCount, process.affinityMask, processors));
  }
  if (!processes.empty()) {
    m_processList.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    // The boxes show (and change) the selected process: it must be the one the user sees.
    m_processList.EnsureVisible(0, false);
    ShowProcessMask(0, *this, m_context);
  }

  // The icons of the previous update go with their list (and with the control's copies below).
  m_imageList.Destroy();
  m_imageList.Create(kSmallIconSize, kSmallIconSize, ILC_COLORDDB | ILC_MASK, 1, 1);
  const std::vector<WindowInfo>& windows = snapshot.windows;
  std::vector<int> images(windows.size(), -1);
  for (std::size_t j = 0; j < windows.size(); ++j) {
    // The window's own picture first: the program's file icon is often only the generic one.
    std::vector<std::uint8_t> own = m_context.System().WindowIcon(windows[j].hwnd, kSmallIconSize);
    if (!own.empty()) {
      images[j] = m_imageList.Add(
          framework::Icon::FromImage(framework::IconImage{kSmallIconSize, kSmallIconSize, std::move(own)}));
      if (images[j] >= 0) continue;
    }
    const int process = snapshot.FindProcessByWindow(windows[j].hwnd);
    if (process < 0) continue;
    images[j] = m_imageList.Add(framework::Shell().FileIcon(processes[static_cast<std::size_t>(process)].exePath));
  }
  m_windowList.SetSmallImageList(&m_imageList);

  m_windowList.DeleteAllItems();
  for (std::size_t j = 0; j < windows.size(); ++j) {
    m_windowList.InsertItem(static_cast<int>(j), WindowTitleText(m_context.System(), windows[j].hwnd), images[j]);
  }
  // Under Wayland only X11 windows can be listed: an empty list must not look like an empty desktop.
  if (windows.empty() && m_context.System().ListsOnlySomeWindows()) {
    m_windowList.InsertItem(0, res::Text(res::TextId::kWaylandWindows));
  }
}

int CAssignListDlg::ActedOnRow(const framework::ListView& list) {
  const int row = list.FirstSelected();
  return row < 0 ? 0 : row;
}

int CAssignListDlg::ProcessRowOfWindow(int windowRow) const {
  const SystemSnapshot& snapshot = m_context.Snapshot();
  if (windowRow < 0 || static_cast<std::size_t>(windowRow) >= snapshot.windows.size()) return -1;
  return snapshot.FindProcessByWindow(snapshot.windows[static_cast<std::size_t>(windowRow)].hwnd);
}

// ---- selection ----

bool CAssignListDlg::OnNotify(framework::WParam wParam, framework::LParam lParam, framework::LResult* result) {
  const auto* header = reinterpret_cast<const framework::NotifyHeader*>(lParam);
  if (header != nullptr && header->code == LVN_ITEMCHANGED) {
    if (header->idFrom == IDC_PROCESS_LIST) {
      if (!m_bSyncingLists) OnProcessSelectionChanged();
      return CDialog::OnNotify(wParam, lParam, result);
    }
    if (header->idFrom == IDC_WINDOW_LIST) {
      // Only a row that became selected counts. The deselection that precedes every new selection
      // would otherwise show the process of row 0 for a moment, and leave it in the boxes when the
      // new window's process is not listed.
      const auto* change = reinterpret_cast<const framework::ListViewNotify*>(lParam);
      const bool selected = (change->uNewState & LVIS_SELECTED) != 0 && (change->uOldState & LVIS_SELECTED) == 0;
      if (!m_bSyncingLists && selected) OnWindowSelectionChanged();
      if (result != nullptr) *result = 0;
      return true;
    }
  }
  return CDialog::OnNotify(wParam, lParam, result);
}

void CAssignListDlg::OnProcessSelectionChanged() {
  m_bSyncingLists = true;
  m_windowList.DeselectAll();
  m_bSyncingLists = false;
  ShowProcessMask(ActedOnRow(m_processList), *this, m_context);
}

void CAssignListDlg::OnWindowSelectionChanged() {
  const int process = ProcessRowOfWindow(ActedOnRow(m_windowList));
  m_bSyncingLists = true;
  if (process >= 0) {
    m_processList.SetItemState(process, LVIS_SELECTED, LVIS_SELECTED);
    m_processList.EnsureVisible(process, true);
    ShowProcessMask(process, *this, m_context);
  } else {
    m_processList.DeselectAll();
  }
  m_bSyncingLists = false;
}

// ---- the processor boxes ----

bool CAssignListDlg::OnCommand(framework::WParam wParam, framework::LParam lParam) {
  const unsigned id = framework::LowWord(wParam);
  const int processor = ProcessorOfBox(id);
  if (processor >= 0 && framework::HighWord(wParam) == BN_CLICKED) {
    OnCpuBoxClicked(processor);
    return true;
  }
  return CDialog::OnCommand(wParam, lParam);
}

void CAssignListDlg::OnCpuBoxClicked(int processor) {
  const CpuBoxRequest request = InterpretCpuBoxClick(*this, processor, m_context.System().GetProcessorCount());
  if (request == CpuBoxRequest::kNone) return;
  const bool add = request == CpuBoxRequest::kAdd;
  const int row = ActedOnRow(m_processList);

  if (!m_context.Snapshot().SetProcessorEnabled(processor, row, add)) {
    SettleCpuBox(*this, processor, request, false);
    return;
  }
  ProcessChanged(row);
  SettleCpuBox(*this, processor, request, true);
}

void CAssignListDlg::OnBnClickedPresets() { m_presets.Show(*this, m_context.System()); }

void CAssignListDlg::OnPresetChosen(unsigned id) {
  const platform::ProcessorSet* set = m_presets.Chosen(id);
  const int row = ActedOnRow(m_processList);
  if (set == nullptr || static_cast<std::size_t>(row) >= m_context.Snapshot().processes.size()) return;
  // A refusal leaves the process, and so the boxes, as they were.
  if (m_context.Snapshot().SetProcessors(row, *set)) ProcessChanged(row);
}

void CAssignListDlg::ProcessChanged(int row) {
  SystemSnapshot& snapshot = m_context.Snapshot();
  // The update rebuilds the snapshot; remember now which process was changed.
  const ProcessInfo changed = snapshot.processes[static_cast<std::size_t>(row)];
  UpdateLists();

  // The new snapshot may list a process that started meanwhile before the changed one; keep the
  // changed process selected, not whichever now stands at its old row.
  int reselect = row;
  for (std::size_t i = 0; i < snapshot.processes.size(); ++i) {
    const ProcessInfo& p = snapshot.processes[i];
    if (p.entry.th32ProcessID == changed.entry.th32ProcessID && p.exePath == changed.exePath) {
      reselect = static_cast<int>(i);
      break;
    }
  }
  m_processList.SetItemState(reselect, LVIS_SELECTED, LVIS_SELECTED);
  m_processList.EnsureVisible(reselect, true);
  // Hand-changed: the observation cycle leaves this executable alone from now on.
  m_context.GetQuickChangedPaths().insert(changed.exePath);
}

// ---- popups ----

template <class Fill>
void CAssignListDlg::ShowListPopup(int popupIndex, Fill fill) {
  framework::Menu menu;
  if (!menu.LoadFromResource(IDR_TRAY_MENU)) return;
  framework::Menu* popup = menu.SubMenu(popupIndex);
  if (popup == nullptr) return;
  fill(*popup);
  const framework::Point cursor = framework::Backend().CursorPos();
  SetForeground();
  TrackPopup(*popup, TPM_RIGHTBUTTON, cursor.x, cursor.y);
  PostToSelf(WM_NULL);
  menu.Destroy();
}

void CAssignListDlg::OnRClickWindowList(const framework::NotifyHeader&, framework::LResult& result) {
  result = 0;
  const int windowRow = ActedOnRow(m_windowList);
  const int process = ProcessRowOfWindow(windowRow);
  if (process < 0) return;
  const SystemSnapshot& snapshot = m_context.Snapshot();
  const std::string title =
      WindowTitleText(m_context.System(), snapshot.windows[static_cast<std::size_t>(windowRow)].hwnd);
  const std::string path = CutToBytes(snapshot.processes[static_cast<std::size_t>(process)].exePath, kTextBytes);
  ShowListPopup(kWindowListPopup, [&](framework::Menu& popup) {
    popup.SetItemText(ID_WINDOWLIST_WINDOW_NAME, title);
    popup.SetItemText(ID_WINDOWLIST_PROCESS_NAME, path);
  });
}

void CAssignListDlg::OnRClickProcessList(const framework::NotifyHeader&, framework::LResult& result) {
  result = 0;
  const int row = ActedOnRow(m_processList);
  const SystemSnapshot& snapshot = m_context.Snapshot();
  // An empty list has no row 0: nothing to offer.
  if (static_cast<std::size_t>(row) >= snapshot.processes.size()) return;
  const std::string path = CutToBytes(snapshot.processes[static_cast<std::size_t>(row)].exePath, kTextBytes);
  ShowListPopup(kProcessListPopup,
                [&](framework::Menu& popup) { popup.SetItemText(ID_PROCESSLIST_PROCESS_NAME, path); });
}

void CAssignListDlg::OnWindowListAdd() {
  const int process = ProcessRowOfWindow(ActedOnRow(m_windowList));
  if (process >= 0) AddProcessToWatchList(process);
}

void CAssignListDlg::OnProcessListAdd() { AddProcessToWatchList(ActedOnRow(m_processList)); }

void CAssignListDlg::AddProcessToWatchList(int row) {
  const std::vector<ProcessInfo>& processes = m_context.Snapshot().processes;
  if (row < 0 || static_cast<std::size_t>(row) >= processes.size()) return;
  const ProcessInfo& process = processes[static_cast<std::size_t>(row)];
  const WatchEntry entry{process.exePath, process.affinityMask};
  m_context.AddToWatchList(entry, {});
}

// ---- buttons, system menu, window ----

void CAssignListDlg::OnBnClickedUpdateList() { UpdateLists(); }

void CAssignListDlg::OnBnClickedManage() {
  CManageAssignDlg manage(m_context);
  manage.DoModal();
}

// The system keeps the low four bits of a system-menu command for itself and its own commands
// from 0xF000 up.
static_assert((IDM_ABOUTBOX & 0xFFF0u) == IDM_ABOUTBOX && IDM_ABOUTBOX < 0xF000u);

void CAssignListDlg::OnSysCommand(unsigned id, framework::LParam) {
  if ((id & 0xFFF0u) == IDM_ABOUTBOX) {
    m_context.ShowAbout();
    return;
  }
  Default();
}

framework::LResult CAssignListDlg::OnQueryDragIcon(framework::WParam, framework::LParam) {
  // The window system's handle of the application icon; a pixel icon has none, and 0 lets the
  // system use its default drag image.
  return static_cast<framework::LResult>(m_hIcon.Handle());
}

void CAssignListDlg::OnDestroy() {
  Default();
  // The control's copies go with the window; nothing keeps shell icons while the dialog is closed.
  m_imageList.Destroy();
}

void CAssignListDlg::OnClose() {
  if (std::FILE* out = m_context.Diagnostics()) std::fputs("end\n", out);
  EndDialog(0);
  Default();
}
