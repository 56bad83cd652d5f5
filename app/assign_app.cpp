#include "app/assign_app.h"

#include "app/about_dlg.h"
#include "app/dummy_dlg.h"
#include "framework/dialog.h"
#include "res/texts.h"
#include "settings/settings_file.h"

namespace {
CAssignApp* g_theApp = nullptr;
}  // namespace

CAssignApp& TheApp() { return *g_theApp; }
void SetTheApp(CAssignApp* app) { g_theApp = app; }

CAssignApp::CAssignApp(Services services)
    : services_(services),
      snapshot_(services.system, services.messageBoxes),
      store_(services.settingsFile, services.diagnostics, services.errors),
      log_(services.system, services.logPath, services.diagnostics, services.errors) {
  if (services.processTable != nullptr) {
    incremental_ = std::make_unique<IncrementalObservation>(services.system, *services.processTable, services.execWatch,
                                                            services.clock);
  }
}

CAssignApp::~CAssignApp() {
  if (g_theApp == this) g_theApp = nullptr;
}

bool CAssignApp::SerializeWatchList(bool save) {
  if (save) return store_.Save(watchList_);
  store_.Load(watchList_);
  return true;
}

void CAssignApp::ReloadWatchListIfChanged() {
  if (services_.settingsMonitor == nullptr || services_.settingsMonitor->MayHaveChanged()) {
    store_.ReloadIfChanged(watchList_);
  }
}

void CAssignApp::RunObservationCycle() {
  if (incremental_ && snapshotUsers_ == 0) {
    incremental_->Tick(watchList_, quickChangedPaths_, log_, services_.diagnostics);
  } else {
    ::RunObservationCycle(watchList_, snapshot_, quickChangedPaths_, log_, services_.diagnostics);
  }
  // Start-up has settled after a few ticks; later, what dialogs read in goes back every ten minutes.
  if (snapshotUsers_ == 0 && services_.releaseIdleMemory && --ticksToRelease_ <= 0) {
    ticksToRelease_ = 600;
    services_.releaseIdleMemory();
  }
}

void CAssignApp::HandleExecEvents() {
  if (incremental_) incremental_->HandleExecEvents(watchList_, quickChangedPaths_, log_);
}

void CAssignApp::DropExecEvents() {
  if (incremental_) incremental_->DropExecEvents();
}

void CAssignApp::ResumeObservation() {
  if (incremental_) incremental_->LookAtEverythingNext();
}

bool ClaimSingleInstance(platform::IInstanceGuard& guard, std::FILE* errors) {
  // Taking the marker and learning whether it existed is one step, so two instances started at the
  // same moment cannot both run.
  if (guard.TryAcquire(kInstanceName)) return true;
  // Ending unseen would leave the user wondering; the running one shows itself instead.
  const bool asked = guard.AskHolderToComeForward(kInstanceName);
  if (errors != nullptr) {
    std::fputs(res::Text(asked ? res::TextId::kAlreadyRunning : res::TextId::kAlreadyRunningUnreachable), errors);
  }
  return false;
}

bool CAssignApp::InitInstance() {
  ran_ = false;
  if (!ClaimSingleInstance(services_.instanceGuard, services_.errors)) return false;
  ran_ = true;
  if (services_.comeForward) services_.instanceGuard.ListenForRequests(services_.comeForward);

  SerializeWatchList(false);
  {
    CDummyDlg mainWindow;
    framework::SetMainWindow(&mainWindow);
    mainWindow.DoModal();
    // The tray window has stopped its timer and removed its icon by now; only then is the list saved.
    SerializeWatchList(true);
    framework::SetMainWindow(nullptr);
    framework::EndQuit();
  }
  return false;
}

namespace {

WatchListEditing EditingOf(CAssignApp& app) {
  return WatchListEditing{app.GetWatchList(), app.MessageBoxes(), [&app] { return app.System().GetProcessorCount(); },
                          [&app](const WatchListChange& change, std::string& why) {
                            const bool saved = app.SaveChange(change);
                            if (!saved) why = app.SaveError();
                            return saved;
                          }};
}

}  // namespace

bool AddOrUpdateWatchEntry(CAssignApp& app, const WatchEntry& candidate, const std::string& note) {
  WatchListEditing editing = EditingOf(app);
  if (!AddOrUpdateWatchEntry(editing, candidate, note)) return false;
  // The confirmed entry is what the user wants for this path now (from the settings dialog it is
  // even the mask the user set by hand): observation must not go on leaving it alone.
  app.GetQuickChangedPaths().erase(candidate.exePath);
  return true;
}

bool DeleteWatchEntry(int index, CAssignApp& app) {
  WatchListEditing editing = EditingOf(app);
  return DeleteWatchEntry(index, editing);
}

bool CAssignApp::AddToWatchList(const WatchEntry& candidate, const std::string& note) {
  return AddOrUpdateWatchEntry(*this, candidate, note);
}

bool CAssignApp::DeleteFromWatchList(int index) { return DeleteWatchEntry(index, *this); }

void CAssignApp::ShowAbout() { CAboutDlg::ShowOrRaise(); }
