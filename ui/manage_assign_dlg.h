#pragma once
// CManageAssignDlg: the whole watch list with each entry's processors. Adds an executable chosen in
// a file dialog (it need not be running) and deletes entries, always through the confirmed editing
// commands; it keeps no copy of the list.
#include "framework/backend.h"
#include "framework/dialog.h"
#include "ui/dialog_context.h"

class CManageAssignDlg : public framework::CDialog {
 public:
  explicit CManageAssignDlg(DialogContext& context);

  static const framework::MessageMap* GetThisMessageMap();
  const framework::MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }

  // Refills the rows from the watch list (row i shows entry i) and selects the first.
  void RefreshWatchList();

 protected:
  bool OnInitDialog() override;
  void DoDataExchange() override;

 private:
  void OnBnClickedNew();
  void OnBnClickedDelete();

  DialogContext& m_context;
  framework::ListView m_list;
};

// The question the New button asks of the file dialog.
framework::FileOpenRequest WatchFileRequest();
