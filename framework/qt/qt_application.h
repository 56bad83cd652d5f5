#pragma once
// Starting Qt only where it can run. Qt ends the process when its platform cannot be opened, so
// the display is tried first and the program falls back to running without windows.
#include <memory>

class QApplication;

namespace framework::qt {

// True when DISPLAY or WAYLAND_DISPLAY names a display this process can reach (or QT_QPA_PLATFORM
// asks for a platform that needs none, such as offscreen).
bool DisplayAvailable();

// The application object, or nullptr when there is no usable display. argc and argv must outlive
// the application, as Qt keeps them.
std::unique_ptr<QApplication> TryCreateQtApplication(int& argc, char** argv);

}  // namespace framework::qt
