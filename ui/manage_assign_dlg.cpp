#include "ui/manage_assign_dlg.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/text.h"
#include "res/resource.h"
#include "res/texts.h"
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

namespace {

// The path column leaves room for the CPU column's note on entries that observation leaves alone.
constexpr int kPathColumnWidth = 360;
constexpr int kCpuColumnWidth = 230;

#ifndef _WIN32
// A process reports the file the kernel ran, with every link resolved; an entry naming the link
// (/usr/bin/python3, alternatives such as /usr/bin/editor) would never match it.
std::string ResolvedPath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::canonical(path, error);
  return error ? path : resolved.string();
}

// The interpreter a "#!" first line names ("/usr/bin/env python3" names python3), or empty text when
// the file is no script.
std::string ScriptInterpreter(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[2] = {};
  if (!in.read(magic, 2) || magic[0] != '#' || magic[1] != '!') return {};
  std::string line;
  std::getline(in, line);
  line.resize(std::min<std::size_t>(line.size(), 256));
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < line.size()) {
    const std::size_t start = line.find_first_not_of(" \t\r", at);
    if (start == std::string::npos) break;
    const std::size_t end = line.find_first_of(" \t\r", start);
    words.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
    at = end == std::string::npos ? line.size() : end;
  }
  if (words.empty()) return "?";
  if (words.size() > 1 && std::filesystem::path(words[0]).filename() == "env") {
    for (std::size_t i = 1; i < words.size(); ++i) {
      if (words[i].rfind('-', 0) != 0 && words[i].find('=') == std::string::npos) return words[i];
    }
  }
  return words[0];
}
#endif

}  // namespace

CManageAssignDlg::CManageAssignDlg(DialogContext& context) : CDialog(IDD_MANAGE_ASSIGN), m_context(context) {}

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
  m_list.InsertColumn(0, res::Text(res::TextId::kColumnProgram), LVCFMT_LEFT, kPathColumnWidth);
  m_list.InsertColumn(1, res::Text(res::TextId::kColumnCpu), LVCFMT_LEFT, kCpuColumnWidth);
  m_list.SetExtendedStyle(LVS_EX_FULLROWSELECT);
  RefreshWatchList();
  return true;
}

void CManageAssignDlg::RefreshWatchList() {
  m_list.DeleteAllItems();
  const unsigned processors = m_context.System().GetProcessorCount();
  const WatchList& list = m_context.GetWatchList();
  if (list.Empty()) return;
  const QuickChangedPaths& exempt = m_context.GetQuickChangedPaths();
  for (std::size_t i = 0; i < list.Count(); ++i) {
    const WatchEntry& entry = list.At(i);
    const int row = m_list.InsertItem(static_cast<int>(i), entry.exePath);
    std::string cpu = FormatCpuDisplay(entry.affinityMask, processors);
    // An entry whose program was re-assigned by hand does nothing until the next start: say so.
    if (exempt.count(entry.exePath) != 0) cpu += std::string("  ") + res::Text(res::TextId::kQuickChangedNote);
    m_list.SetItemText(row, 1, cpu);
  }
  m_list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
}

void CManageAssignDlg::OnBnClickedNew() {
  std::string path;
  if (!framework::Backend().ShowFileOpen(GetSafeHwnd(), WatchFileRequest(), path)) return;
  if (path.empty()) return;

  std::string target = path;
  std::string note;
#ifndef _WIN32
  target = ResolvedPath(path);
  if (target != path) note = res::Fill(res::TextId::kLinkResolved, {path});
  // A script runs as its interpreter's process: an entry for it could never match anything.
  if (const std::string interpreter = ScriptInterpreter(target); !interpreter.empty()) {
    ShowMessageBox(res::Fill(res::TextId::kScriptRefused, {target, interpreter}),
                   res::Text(res::TextId::kEditingCaption), MB_OK);
    return;
  }
#endif

  CChangeCpuAssignDlg processors(m_context);
  processors.processIndex = -1;
  processors.targetText = target;
  if (processors.DoModal() != IDOK) return;

  const WatchEntry entry{ToLowerAsciiCopy(target), processors.resultMask};
  if (m_context.AddToWatchList(entry, note)) RefreshWatchList();
}

void CManageAssignDlg::OnBnClickedDelete() {
  int row = m_list.FirstSelected();
  if (row < 0) row = 0;
  if (static_cast<std::size_t>(row) >= m_context.GetWatchList().Count()) return;
  if (m_context.DeleteFromWatchList(row)) RefreshWatchList();
}
