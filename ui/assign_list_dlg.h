#pragma once
// CAssignListDlg: the settings window. Shows the visible top-level windows and the running
// processes of one snapshot, with processor boxes for the selected process.
#include "framework/dialog.h"

class CAssignListDlg : public framework::CDialog {
 public:
  CAssignListDlg();

  static const framework::MessageMap* GetThisMessageMap();
  const framework::MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }

 protected:
  bool OnInitDialog() override;

 private:
  void OnClose();
};
