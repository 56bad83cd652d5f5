#pragma once
// Which dialog object the screenshot tool renders for each template. Without a registration the
// tool shows the bare template through a plain dialog. The program's own dialog classes take over
// by registering a factory from a source file added to the tool (screenshots/, listed with the tool
// in framework/qt/CMakeLists.txt), for example:
//
//   [[maybe_unused]] const bool kAbout = framework::qt::RegisterScreenshotDialog(
//       IDD_ABOUTBOX, [] { return std::unique_ptr<framework::CDialog>(new CAboutDlg); });
//
// A factory may prepare whatever data the dialog shows before it returns it.
#include <memory>
#include <string>
#include <vector>

#include "framework/dialog.h"

namespace framework::qt {

class QtBackend;

using ScreenshotDialogFactory = std::unique_ptr<CDialog> (*)();

// Registers the factory for templateId (a later registration replaces an earlier one). Returns true.
bool RegisterScreenshotDialog(int templateId, ScreenshotDialogFactory factory);
// The registered dialog for templateId, or a plain dialog built from that template.
std::unique_ptr<CDialog> MakeScreenshotDialog(int templateId);

// Pictures beyond the dialog templates (the tray menu, say): each runs once after the dialogs, with
// the backend and the folder, and returns how many of its pictures failed.
using ScreenshotExtra = int (*)(QtBackend& backend, const std::string& folder);
bool RegisterScreenshotExtra(ScreenshotExtra extra);
const std::vector<ScreenshotExtra>& ScreenshotExtras();

}  // namespace framework::qt
