#pragma once
// CAssignApp: the one owner of the program's shared data (the system snapshot, the watch list and
// the hand-changed paths) and the place where the program starts and ends. The dialogs reach the
// data through the DialogContext it is to them.
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "engine/activity_log.h"
#include "engine/incremental_observation.h"
#include "engine/observation_cycle.h"
#include "engine/system_snapshot.h"
#include "framework/message_box.h"
#include "platform/file_change_monitor.h"
#include "platform/instance_guard.h"
#include "platform/process_table.h"
#include "platform/system.h"
#include "settings/profile_file.h"
#include "settings/watch_list.h"
#include "settings/watch_list_editing.h"
#include "settings/watch_list_store.h"
#include "ui/dialog_context.h"

// The single-instance marker's name; the settings file's section has the same name.
inline constexpr char kInstanceName[] = "MAV_RIN";

class CAssignApp final : public DialogContext {
 public:
  // The services stay owned by the caller and must outlive the application object.
  struct Services {
    platform::ISystem& system;
    framework::IMessageBoxes& messageBoxes;
    platform::IInstanceGuard& instanceGuard;
    ProfileFile& settingsFile;
    // Tells when the settings file may have been edited; nullptr: look at it on every tick.
    platform::IFileChangeMonitor* settingsMonitor = nullptr;
    std::string logPath = kActivityLogPath;
    std::FILE* diagnostics = stdout;  // the diagnostic lines; nullptr: none
    std::FILE* errors = stderr;       // what the user must hear of (a log or a settings file that fails,
                                      // a second start); nullptr: none
    // Wakes the running program for a later start that asks it to come forward; called from any
    // thread (see IInstanceGuard::ListenForRequests). Empty: such requests are not listened for.
    std::function<void()> comeForward = {};
    // Where the system keeps track of processes between ticks and tells of watched executables
    // starting (both optional; without a table every tick looks at every process).
    platform::IProcessTable* processTable = nullptr;
    platform::IExecWatch* execWatch = nullptr;
    IncrementalObservation::Clock clock = {};  // required with a process table
    // Gives back memory the ticks do not use (what start-up read in, what a closed dialog used):
    // called a few ticks after start-up and every ten minutes after, while no menu or dialog of
    // the tray is open. Empty: never.
    std::function<void()> releaseIdleMemory = {};
  };

  explicit CAssignApp(Services services);
  ~CAssignApp() override;
  CAssignApp(const CAssignApp&) = delete;
  CAssignApp& operator=(const CAssignApp&) = delete;

  // Start-up: refuses a second instance (asking the first to come forward), loads the watch list,
  // runs the tray window as the main loop and saves the watch list when it ends. Always false: the
  // process is to end afterwards.
  bool InitInstance();
  // Whether the last InitInstance ran the program (false: another instance was running).
  bool Ran() const { return ran_; }

  // save = false: replaces the watch list by the settings file's content; true: writes it. True
  // when the file could be read, or the list reached it.
  bool SerializeWatchList(bool save);
  // Writes the watch list now (after an accepted change, at session end, on a stop signal), so a
  // program that is killed later loses nothing. Saves stay atomic, and take in a hand edit of the
  // file made meanwhile first.
  bool SaveWatchList() { return store_.Save(watchList_); }
  // Saves after a confirmed change; if the file was edited meanwhile, only this change (and any
  // other not saved yet) is made on what the file holds now.
  bool SaveChange(const WatchListChange& change) { return store_.Save(watchList_, &change); }
  std::string SaveError() const { return store_.LastError(); }
  // Takes in a hand edit of the settings file, if the monitor says there may be one.
  void ReloadWatchListIfChanged();

  SystemSnapshot& Snapshot() override { return snapshot_; }
  std::vector<ProcessInfo>& Processes() { return snapshot_.processes; }
  std::vector<WindowInfo>& Windows() { return snapshot_.windows; }
  WatchList& GetWatchList() override { return watchList_; }
  QuickChangedPaths& GetQuickChangedPaths() override { return quickChangedPaths_; }
  ActivityLog& Log() { return log_; }
  platform::ISystem& System() override { return services_.system; }
  framework::IMessageBoxes& MessageBoxes() { return services_.messageBoxes; }
  std::FILE* Diagnostics() override { return services_.diagnostics; }
  // The dialogs' editing commands are the application's own (below); the About box is the tray's.
  bool AddToWatchList(const WatchEntry& candidate, const std::string& note) override;
  bool DeleteFromWatchList(int index) override;
  void ShowAbout() override;

  // One observation tick: the cycle over the current watch list and hand-changed paths. Where a
  // process table is kept, only what can have changed is looked at, unless a menu or dialog that
  // addresses the snapshot's lists is open: then the snapshot is taken in full, as they expect.
  void RunObservationCycle();
  // Pins the processes that just started a watched file (the exec watch has word of them).
  void HandleExecEvents();
  // Observation is held back (paused, the settings dialog open): word of starts is dropped, and the
  // next tick looks at every process. ResumeObservation: the same look, after a pause.
  void DropExecEvents();
  void ResumeObservation();

  // While one of these lives, ticks refresh the snapshot in full.
  class SnapshotInUse {
   public:
    explicit SnapshotInUse(CAssignApp& app) : app_(app) { ++app_.snapshotUsers_; }
    ~SnapshotInUse() { --app_.snapshotUsers_; }
    SnapshotInUse(const SnapshotInUse&) = delete;
    SnapshotInUse& operator=(const SnapshotInUse&) = delete;

   private:
    CAssignApp& app_;
  };

 private:
  Services services_;
  SystemSnapshot snapshot_;
  WatchList watchList_;
  WatchListStore store_;
  QuickChangedPaths quickChangedPaths_;
  ActivityLog log_;
  std::unique_ptr<IncrementalObservation> incremental_;
  int snapshotUsers_ = 0;
  // Ticks until idle memory is given back next.
  int ticksToRelease_ = 3;
  bool ran_ = false;
};

// Takes the single-instance marker. When another instance holds it, asks that one to come forward,
// says so on errors and gives false.
bool ClaimSingleInstance(platform::IInstanceGuard& guard, std::FILE* errors);

// The confirmed editing commands on the application's watch list; an accepted change is saved at
// once. An accepted add or overwrite is the user's latest word on that path: a hand change made
// before no longer exempts it from observation. note: see ::AddOrUpdateWatchEntry.
bool AddOrUpdateWatchEntry(CAssignApp& app, const WatchEntry& candidate, const std::string& note = {});
bool DeleteWatchEntry(int index, CAssignApp& app);

// The application object; the program (or a test) registers exactly one.
CAssignApp& TheApp();
void SetTheApp(CAssignApp* app);
