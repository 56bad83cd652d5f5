#pragma once
// Which dialog object the screenshot tool renders for a template. Until the program's own dialog
// classes are linked in, a plain dialog shows the template as it stands; a build that has them
// replaces screenshot_dialogs.cpp with one that constructs them (and the data they show).
#include <memory>

#include "framework/dialog.h"

namespace framework::qt {

std::unique_ptr<CDialog> MakeScreenshotDialog(int templateId);

}  // namespace framework::qt
