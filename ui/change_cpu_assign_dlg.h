#pragma once
// CChangeCpuAssignDlg: edits one processor assignment with eight check boxes.
//   Process mode (processIndex >= 0): shows a process of the current snapshot; OK gives it the mask
//   at once and takes its executable out of observation for the rest of the run.
//   File mode (processIndex < 0, targetText set): shows a path with every box clear; OK only hands
//   the mask back in resultMask.
#include <cstdint>
#include <string>

#include "framework/dialog.h"
#include "platform/system.h"
#include "platform/types.h"
#include "ui/dialog_context.h"
#include "ui/processor_presets.h"

class CChangeCpuAssignDlg : public framework::CDialog {
 public:
  explicit CChangeCpuAssignDlg(DialogContext& context);

  static const framework::MessageMap* GetThisMessageMap();
  const framework::MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }

  // Row in the snapshot's processes when the dialog opens; negative selects file mode.
  std::int32_t processIndex = -1;
  // File mode: the full path of the executable to show.
  std::string targetText;
  // The processors accepted by OK; valid after DoModal returned IDOK.
  platform::ProcessorSet resultMask;

 protected:
  bool OnInitDialog() override;
  void DoDataExchange() override {}

 private:
  void OnBnClickedOk();
  void OnBnClickedPresets();
  void OnPresetChosen(unsigned id);

  // The process the user was shown. A tick may rebuild the snapshot while the dialog is open, so
  // OK looks the process up again by these instead of trusting the row.
  DialogContext& m_context;
  bool m_hasTarget = false;
  platform::ProcessId m_targetPid = 0;
  std::string m_targetPath;
  ProcessorPresetMenu m_presets;
};
