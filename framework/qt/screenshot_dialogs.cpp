#include "framework/qt/screenshot_dialogs.h"

#include <map>

namespace framework::qt {
namespace {

// Filled by static initialisers of other files: constructed on first use.
std::map<int, ScreenshotDialogFactory>& Factories() {
  static std::map<int, ScreenshotDialogFactory> factories;
  return factories;
}

std::vector<ScreenshotExtra>& Extras() {
  static std::vector<ScreenshotExtra> extras;
  return extras;
}

}  // namespace

bool RegisterScreenshotExtra(ScreenshotExtra extra) {
  if (extra != nullptr) Extras().push_back(extra);
  return true;
}

const std::vector<ScreenshotExtra>& ScreenshotExtras() { return Extras(); }

bool RegisterScreenshotDialog(int templateId, ScreenshotDialogFactory factory) {
  if (factory != nullptr) Factories()[templateId] = factory;
  return true;
}

std::unique_ptr<CDialog> MakeScreenshotDialog(int templateId) {
  auto it = Factories().find(templateId);
  if (it != Factories().end()) {
    if (std::unique_ptr<CDialog> dialog = it->second()) return dialog;
  }
  return std::make_unique<CDialog>(templateId);
}

}  // namespace framework::qt
