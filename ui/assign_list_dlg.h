#pragma once
// CAssignListDlg: the settings window. Shows the visible top-level windows and the running
// processes of one snapshot, with processor boxes for the selected process. A box click changes the
// process's mask at once; a right-click on a row offers the process's current mask to the watch
// list; a button opens the watch-list management dialog.
#include <string>

#include "framework/dialog.h"
#include "platform/types.h"
#include "ui/dialog_context.h"
#include "ui/processor_presets.h"

class CAssignListDlg : public framework::CDialog {
 public:
  explicit CAssignListDlg(DialogContext& context);
  ~CAssignListDlg() override;

  static const framework::MessageMap* GetThisMessageMap();
  const framework::MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }

  // Takes a new snapshot and refills both lists; the first process becomes the selected one.
  void UpdateLists();
  // Offers process row's current mask to the watch list (with the editing confirmations).
  // Rows outside the snapshot do nothing.
  void AddProcessToWatchList(int row);

  const framework::Icon& AppIcon() const { return m_hIcon; }
  // The window icons of the last update; emptied when the window goes.
  const framework::ImageList& WindowImages() const { return m_imageList; }

 protected:
  bool OnInitDialog() override;
  void DoDataExchange() override;
  // Catches the clicks of the eight processor boxes.
  bool OnCommand(framework::WParam wParam, framework::LParam lParam) override;
  // Catches the selection changes of both lists.
  bool OnNotify(framework::WParam wParam, framework::LParam lParam, framework::LResult* result) override;

 private:
  void OnSysCommand(unsigned id, framework::LParam lParam);
  framework::LResult OnQueryDragIcon(framework::WParam, framework::LParam);
  void OnBnClickedUpdateList();
  void OnDestroy();
  void OnClose();
  void OnRClickWindowList(const framework::NotifyHeader& header, framework::LResult& result);
  void OnRClickProcessList(const framework::NotifyHeader& header, framework::LResult& result);
  void OnWindowListAdd();
  void OnProcessListAdd();
  void OnBnClickedManage();

  void OnCpuBoxClicked(int processor);
  void OnBnClickedPresets();
  // A preset gives the selected process its processors at once, as the boxes do.
  void OnPresetChosen(unsigned id);
  // After process row's processors were changed: the lists anew with that process selected, and
  // its executable left alone by the observation cycle from now on.
  void ProcessChanged(int row);
  void OnProcessSelectionChanged();
  void OnWindowSelectionChanged();
  // The first selected row, or 0 when none is selected.
  static int ActedOnRow(const framework::ListView& list);
  // The process row of window row, or -1 (also for a row outside the snapshot).
  int ProcessRowOfWindow(int windowRow) const;
  // Shows popup position popupIndex of the list-popup menu after fill has put the information in.
  template <class Fill>
  void ShowListPopup(int popupIndex, Fill fill);

  DialogContext& m_context;
  framework::Icon m_hIcon;
  framework::ListView m_processList;
  framework::ListView m_windowList;
  framework::ImageList m_imageList;
  // Set while one list's handler changes the other list's selection, so the other list's handler
  // does not answer a change it did not cause.
  bool m_bSyncingLists = false;
  ProcessorPresetMenu m_presets;
};

// A window's title as the lists and popups show it: at most 1,023 bytes, never a split character.
std::string WindowTitleText(platform::ISystem& system, platform::WindowHandle window);
