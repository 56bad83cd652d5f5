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

// Qt's own texts (the file dialog, standard buttons, the context menus of text fields) and its
// formats of numbers and dates in the language of the installed resources: installs Qt's
// translations for it, as Debian ships them, and removes those of a language used before. Needs the
// application object. QtBackend does this when it is made; a program that switches languages while
// it runs calls it again.
void ApplyLanguage();

}  // namespace framework::qt
