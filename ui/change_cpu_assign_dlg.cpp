#include "ui/change_cpu_assign_dlg.h"

#include <cstdio>
#include <cstring>

#include "base/text.h"
#include "res/resource.h"
#include "res/texts.h"
#include "ui/cpu_boxes.h"

CChangeCpuAssignDlg::CChangeCpuAssignDlg(DialogContext& context) : CDialog(IDD_CHANGE_CPU_ASSIGN), m_context(context) {}

const framework::MessageMap* CChangeCpuAssignDlg::GetThisMessageMap() {
  using namespace framework;
  static constexpr MessageEntry kEntries[] = {
      MapClicked<&CChangeCpuAssignDlg::OnBnClickedOk>(IDOK),
      MapClicked<&CChangeCpuAssignDlg::OnBnClickedPresets>(IDC_CPU_PRESETS),
      MapCommandRange<&CChangeCpuAssignDlg::OnPresetChosen>(ID_PRESET_BASE, ID_PRESET_BASE + ID_DYNAMIC_RANGE_SIZE - 1),
  };
  static constexpr MessageMap kMap{&CDialog::GetThisMessageMap, kEntries};
  return &kMap;
}

bool CChangeCpuAssignDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  AddProcessorBoxes(*this, m_context.System().GetProcessorCount());
  m_hasTarget = false;
  m_targetPid = 0;
  m_targetPath.clear();

  if (processIndex < 0 && !targetText.empty()) {
    Item(IDC_TARGET_TEXT).SetItemText(targetText);
    // Does nothing for a negative row: every box stays enabled and clear.
    ShowProcessMask(processIndex, *this, m_context);
    return true;
  }

  const auto& processes = m_context.Snapshot().processes;
  if (processIndex >= 0 && static_cast<std::size_t>(processIndex) < processes.size()) {
    const ProcessInfo& process = processes[static_cast<std::size_t>(processIndex)];
    m_hasTarget = true;
    m_targetPid = process.entry.th32ProcessID;
    m_targetPath = process.exePath;
    // The name ends at its zero or at the end of the array, whichever comes first.
    std::string text(process.entry.szExeFile, NameLength(process.entry.szExeFile, sizeof process.entry.szExeFile));
    text += " (";
    text += process.exePath;
    text += ")";
    Item(IDC_TARGET_TEXT).SetItemText(text);
  }
  // A row outside the list (or no row at all) shows nothing and leaves the boxes as made.
  ShowProcessMask(processIndex, *this, m_context);
  return true;
}

void CChangeCpuAssignDlg::OnBnClickedOk() {
  const platform::ProcessorSet mask = ReadCpuBoxes(*this);
  if (std::FILE* out = m_context.Diagnostics()) {
    // The trace of old, in decimal; a set beyond CPU 31 as its list.
    if (mask.FitsIn32()) {
      std::fprintf(out, "%d\n", static_cast<int>(mask.Low32()));
    } else {
      std::fprintf(out, "%s\n", platform::FormatCpuList(mask).c_str());
    }
  }
  if (mask.Empty()) {
    ShowMessageBox(res::Text(res::TextId::kEmptyAssignment), framework::ApplicationName().c_str(), MB_OK);
    return;
  }

  if (processIndex >= 0 && m_hasTarget) {
    // Act on the process that was shown, wherever the current snapshot lists it; once it is no
    // longer listed, nothing is touched.
    const auto& processes = m_context.Snapshot().processes;
    for (const ProcessInfo& process : processes) {
      if (process.entry.th32ProcessID != m_targetPid || process.exePath != m_targetPath) continue;
      platform::ISystem& system = m_context.System();
      const platform::ProcessHandle handle = system.OpenProcess(platform::kSetRights, m_targetPid);
      if (handle != platform::kNoProcess) {
        const bool accepted = system.SetProcessAffinityMask(handle, mask);
        system.CloseHandle(handle);
        if (accepted) m_context.GetQuickChangedPaths().insert(m_targetPath);
      }
      break;
    }
  }

  resultMask = mask;
  CDialog::OnOK();
}

void CChangeCpuAssignDlg::OnBnClickedPresets() { m_presets.Show(*this, m_context.System()); }

void CChangeCpuAssignDlg::OnPresetChosen(unsigned id) {
  // Only the boxes change: OK applies them as any other choice.
  if (const platform::ProcessorSet* set = m_presets.Chosen(id)) TickProcessorBoxes(*this, *set);
}
