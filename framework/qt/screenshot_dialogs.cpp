#include "framework/qt/screenshot_dialogs.h"

namespace framework::qt {

std::unique_ptr<CDialog> MakeScreenshotDialog(int templateId) { return std::make_unique<CDialog>(templateId); }

}  // namespace framework::qt
