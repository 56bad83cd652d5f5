#include "ui/manage_assign_dlg.h"

#include "app/assign_app.h"
#include "res/resource.h"
#include "res/texts.h"
#include "settings/text.h"
#include "ui/change_cpu_assign_dlg.h"
#include "ui/cpu_boxes.h"

framework::FileOpenRequest WatchFileRequest() {
  framework::FileOpenRequest request;
  using res::Text;
  using res::TextId;
  request.title = Text(TextId::kFileDialogTitle);
#ifdef _WIN32
  request.filters = {{Text(TextId::kFilterProgramsExe), "*.exe"}, {Text(TextId::kFilterAllFiles), "*.*"}};
  request.initialName = "*.exe";
#else
  // Executables carry no extension here: the empty pattern asks the backend for the files the user
  // may execute.
  request.filters = {{Text(TextId::kFilterPrograms), ""}, {Text(TextId::kFilterAllFiles), "*"}};
#endif
  request.filterIndex = 1;
  request.flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST;
  return request;
}

CManageAssignDlg::CManageAssignDlg() : CDialog(IDD_MANAGE_ASSIGN) {}

const framework::MessageMap* CManageAssignDlg::GetThisMessageMap() {
  using namespace framework;
  static constexpr MessageEntry kEntries[] = {
      MapClicked<&CManageAssignDlg::OnBnClickedNew>(IDC_BUTTON_NEW),
      MapClicked<&CManageAssignDlg::OnBnClickedDelete>(IDC_BUTTON_DELETE),
  };
  static constexpr MessageMap kMap{&CDialog::GetThisMessageMap, kEntries};
  return &kMap;
}

void CManageAssignDlg::DoDataExchange() { BindControl(IDC_LIST_WATCH, m_list); }

bool CManageAssignDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  m_list.InsertColumn(0, res::Text(res::TextId::kColumnProgram), LVCFMT_LEFT, 500);
  m_list.InsertColumn(1, res::Text(res::TextId::kColumnCpu), LVCFMT_LEFT, 80);
  m_list.SetExtendedStyle(LVS_EX_FULLROWSELECT);
  RefreshWatchList();
  return true;
}

void CManageAssignDlg::RefreshWatchList() {
  m_list.DeleteAllItems();
  CAssignApp& app = TheApp();
  const unsigned processors = app.System().GetProcessorCount();
  const WatchList& list = app.GetWatchList();
  if (list.Empty()) return;
  for (std::size_t i = 0; i < list.Count(); ++i) {
    const WatchEntry& entry = list.At(i);
    const int row = m_list.InsertItem(static_cast<int>(i), entry.exePath);
    m_list.SetItemText(row, 1, FormatCpuDisplay(entry.affinityMask, processors));
  }
  m_list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
}

void CManageAssignDlg::OnBnClickedNew() {
  std::string path;
  if (!framework::Backend().ShowFileOpen(GetSafeHwnd(), WatchFileRequest(), path)) return;
  if (path.empty()) return;

  CChangeCpuAssignDlg processors;
  processors.processIndex = -1;
  processors.targetText = path;
  if (processors.DoModal() != IDOK) return;

  const WatchEntry entry{ToLowerAsciiCopy(path), processors.resultMask};
  if (AddOrUpdateWatchEntry(TheApp(), entry)) RefreshWatchList();
}

void CManageAssignDlg::OnBnClickedDelete() {
  int row = m_list.FirstSelected();
  if (row < 0) row = 0;
  if (static_cast<std::size_t>(row) >= TheApp().GetWatchList().Count()) return;
  if (DeleteWatchEntry(row, TheApp())) RefreshWatchList();
}
