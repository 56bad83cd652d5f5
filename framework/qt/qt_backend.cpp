#include "framework/qt/qt_backend.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <cerrno>

#include "framework/qt/qt_application.h"
#include "framework/qt/qt_backend_private.h"
#include "framework/qt/qt_widgets.h"
#include "framework/resource_provider.h"

namespace framework::qt {

namespace {

std::atomic<int> g_wakeWrite{-1};
constexpr int kMaxAsyncSlots = 256;

}  // namespace

// The owner of a modal run takes no input, as a disabled window on the system: its controls keep
// their look and state, and a click on it brings the running dialog to the front instead.
class InputBlocker final : public QObject {
 public:
  explicit InputBlocker(QtBackend& backend) : backend_(backend) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::ContextMenu:
      case QEvent::Close: break;
      default: return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr) return false;
    auto* window = dynamic_cast<DialogWindow*>(widget->window());
    if (window == nullptr || window->blocked == 0) return false;
    if (event->type() == QEvent::Close) {
      event->ignore();
    } else if (event->type() == QEvent::MouseButtonPress) {
      backend_.RaiseBlocker(window->Id());
    }
    return true;
  }

 private:
  QtBackend& backend_;
};

QtBackend::QtBackend() : QtBackend(nullptr) {}

QtBackend::QtBackend(std::unique_ptr<QApplication> app)
    : ownedApp_(std::move(app)),
      menuStyle_(std::make_unique<ScrollingMenuStyle>()),
      hoverFilter_(std::make_unique<TrayHoverFilter>(*this)),
      inputBlocker_(std::make_unique<InputBlocker>(*this)),
      sessionHook_(std::make_unique<QObject>()) {
  QCoreApplication::instance()->installEventFilter(inputBlocker_.get());
  ApplyLanguage();
  // Closing the last visible dialog must not end the program's loops: only the program does that.
  QApplication::setQuitOnLastWindowClosed(false);
  if (auto* guiApp = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    QObject::connect(guiApp, &QGuiApplication::commitDataRequest, sessionHook_.get(),
                     [this](QSessionManager&) { EndSession(); });
    QObject::connect(guiApp, &QCoreApplication::aboutToQuit, sessionHook_.get(), [this] { EndSession(); });
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
    wakeNotifier_ = std::make_unique<QSocketNotifier>(wakeRead_, QSocketNotifier::Read);
    QObject::connect(wakeNotifier_.get(), &QSocketNotifier::activated, sessionHook_.get(), [this] { DrainAsync(); });
    g_wakeWrite.store(wakeWrite_);
  }
}

QtBackend::~QtBackend() {
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(inputBlocker_.get());
  g_wakeWrite.store(-1);
  wakeNotifier_.reset();
  readNotifiers_.clear();
  if (wakeRead_ >= 0) ::close(wakeRead_);
  if (wakeWrite_ >= 0) ::close(wakeWrite_);
  trays_.clear();
  for (auto& [id, window] : windows_) {
    window->Detach();
    delete window;
  }
  windows_.clear();
}

// ---- lookups ----

DialogWindow* QtBackend::Window(WindowId window) const {
  auto it = windows_.find(window);
  return it != windows_.end() ? it->second : nullptr;
}

QWidget* QtBackend::WindowWidget(WindowId window) const { return Window(window); }

QWidget* QtBackend::ControlWidget(WindowId window, int id) const {
  DialogWindow* w = Window(window);
  if (w == nullptr) return nullptr;
  DialogWindow::ControlEntry* entry = w->Control(id);
  return entry != nullptr ? entry->widget : nullptr;
}

std::vector<QWidget*> QtBackend::ControlWidgets(WindowId window) const {
  std::vector<QWidget*> out;
  if (DialogWindow* w = Window(window)) {
    for (const DialogWindow::ControlEntry& entry : w->Controls()) out.push_back(entry.widget);
  }
  return out;
}

QWidget* QtBackend::BlockScroller(WindowId window) const {
  DialogWindow* w = Window(window);
  return w != nullptr ? w->BlockScroller() : nullptr;
}

QWidget* QtBackend::OpenPopup() const {
  for (auto it = openMenus_.rbegin(); it != openMenus_.rend(); ++it) {
    if (!it->isNull()) return it->data();
  }
  return nullptr;
}
QWidget* QtBackend::OpenMessageBox() const { return openBox_.data(); }
QWidget* QtBackend::OpenFileDialog() const { return openFileDialog_.data(); }

QSystemTrayIcon* QtBackend::TrayIcon(WindowId window, unsigned id) const {
  for (const auto& tray : trays_) {
    if (tray->owner == window && tray->id == id) return tray->icon.get();
  }
  return nullptr;
}

std::vector<std::pair<unsigned, std::string>> QtBackend::SystemMenuItems(WindowId window) const {
  DialogWindow* w = Window(window);
  return w != nullptr ? w->SystemMenu() : std::vector<std::pair<unsigned, std::string>>{};
}

void QtBackend::ShowSystemMenu(WindowId window) {
  if (DialogWindow* w = Window(window)) w->ShowSystemMenu(w->mapToGlobal(QPoint(0, 0)));
}

void QtBackend::RaiseBlocker(WindowId blocked) {
  for (auto it = nested_.rbegin(); it != nested_.rend(); ++it) {
    if (it->owner != blocked || it->widget.isNull() || !it->widget->isVisible()) continue;
    if (auto* dialog = dynamic_cast<DialogWindow*>(it->widget.data()); dialog != nullptr && dialog->blocked > 0) {
      RaiseBlocker(dialog->Id());
      return;
    }
    RaiseAndActivate(*it->widget);
    return;
  }
}

DialogWindow* QtBackend::CurrentOwner(WindowId preferred) const {
  if (DialogWindow* w = Window(preferred)) return w;
  return Window(DefaultOwner());
}

// ---- dialog windows ----

WindowId QtBackend::CreateDialogWindow(CDialog& dialog, const DialogTemplate& tpl) {
  const WindowId id = nextWindow_++;
  windows_[id] = new DialogWindow(*this, dialog, tpl, id);
  return id;
}

void QtBackend::RunModalLoop(WindowId window) {
  DialogWindow* w = Window(window);
  if (w == nullptr || w->endRequested) return;
  // The owner is disabled for the run, as the system does it; other windows and the tray stay live.
  // The owner is the dialog that opened this one (the main window for the tray's dialogs), so an
  // About box from the tray stays usable while a settings dialog from the tray is open.
  DialogWindow* owner = w->Dialog() != nullptr ? Window(w->Dialog()->ModalOwner()) : nullptr;
  if (owner == w) owner = nullptr;
  const WindowId ownerId = owner != nullptr ? owner->Id() : kNoWindowId;
  if (owner != nullptr) ++owner->blocked;
  modalStack_.push_back(window);
  nested_.push_back(Nested{w, ownerId});

  const bool show = (w->Template().style & WS_VISIBLE) != 0 || !w->hidden;
  if (show) {
    const QWidget* anchor = owner != nullptr && owner->isVisible() ? owner : nullptr;
    QRect area = anchor != nullptr ? anchor->frameGeometry() : QRect();
    if (area.isEmpty()) {
      QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
      if (screen == nullptr) screen = QGuiApplication::primaryScreen();
      if (screen != nullptr) area = screen->availableGeometry();
    }
    if (!area.isEmpty()) w->move(area.center() - QPoint(w->width() / 2, w->height() / 2));
    w->show();
    RaiseAndActivate(*w);
  }
  if (modalStartHandler_ && w->Dialog() != nullptr) modalStartHandler_(*w->Dialog(), *w);

  if (!w->endRequested) {
    const LoopScope scope(*this);
    w->ownLoopDepth = loopDepth_;
    QEventLoop loop;
    w->loop = &loop;
    loop.exec(QEventLoop::DialogExec);
    w->loop = nullptr;
  }

  modalStack_.erase(std::remove(modalStack_.begin(), modalStack_.end(), window), modalStack_.end());
  std::erase_if(nested_, [w](const Nested& n) { return n.widget == w; });
  w->hide();
  if (DialogWindow* stillThere = Window(ownerId)) --stillThere->blocked;
}

void QtBackend::EndModalLoop(WindowId window) {
  DialogWindow* w = Window(window);
  if (w == nullptr) return;
  w->endRequested = true;
  // Gone from the screen now, as the system's EndDialog hides it, even when a loop started later
  // runs above its own and its run returns only once that one has.
  w->hide();
  if (w->loop != nullptr) w->loop->exit(0);
}

void QtBackend::DestroyDialogWindow(WindowId window) {
  DialogWindow* w = Window(window);
  if (w == nullptr) return;
  w->StopAllTimers();
  if (CDialog* dialog = w->Dialog()) {
    dialog->Dispatch(WM_DESTROY, 0, 0);
    dialog->Dispatch(WM_NCDESTROY, 0, 0);
  }
  // Icons whose window is gone could never report again.
  trays_.erase(
      std::remove_if(trays_.begin(), trays_.end(), [window](const auto& tray) { return tray->owner == window; }),
      trays_.end());
  windows_.erase(window);
  modalStack_.erase(std::remove(modalStack_.begin(), modalStack_.end(), window), modalStack_.end());
  w->Detach();
  // Never called from an event handler of this window: its run has returned before it is destroyed.
  delete w;
}

bool QtBackend::PostToWindow(WindowId window, unsigned message, WParam wParam, LParam lParam) {
  DialogWindow* w = Window(window);
  if (w == nullptr) return false;
  QCoreApplication::postEvent(w, new PostedMessageEvent(message, wParam, lParam));
  return true;
}

void QtBackend::SetWindowIcon(WindowId window, const Icon& icon, bool big) {
  if (DialogWindow* w = Window(window)) w->SetIcons(icon, big);
}

std::uint32_t QtBackend::WindowStyleEx(WindowId window) {
  DialogWindow* w = Window(window);
  return w != nullptr ? w->ExStyle() : 0u;
}

void QtBackend::SetWindowStyleEx(WindowId window, std::uint32_t exStyle) {
  if (DialogWindow* w = Window(window)) w->SetExStyle(exStyle);
}

void QtBackend::HideWindow(WindowId window) {
  if (DialogWindow* w = Window(window)) {
    w->hidden = true;
    w->hide();
  }
}

bool QtBackend::SetForeground(WindowId window) {
  DialogWindow* w = Window(window);
  if (w == nullptr || !w->isVisible()) return false;
  RaiseAndActivate(*w);
  return true;
}

bool QtBackend::BringToFront(WindowId window) {
  DialogWindow* w = Window(window);
  if (w == nullptr || w->endRequested || (!w->isVisible() && !w->isMinimized())) return false;
  // Raising alone leaves a minimised window where it is: the tray had no way to bring it back.
  if (w->isMinimized()) w->showNormal();
  RaiseAndActivate(*w);
  return true;
}

bool QtBackend::IsMinimized(WindowId window) {
  DialogWindow* w = Window(window);
  return w != nullptr && w->isMinimized();
}

bool QtBackend::AddControls(WindowId window, const ControlBlock& block) {
  DialogWindow* w = Window(window);
  return w != nullptr && w->AddControls(block);
}

Size QtBackend::ClientSize(WindowId window) {
  DialogWindow* w = Window(window);
  if (w == nullptr) return {};
  return Size{w->width(), w->height()};
}

std::string QtBackend::WindowCaption(WindowId window) {
  DialogWindow* w = Window(window);
  return w != nullptr ? ToUtf8(w->windowTitle()) : std::string();
}

void QtBackend::SetWindowCaption(WindowId window, const std::string& text) {
  if (DialogWindow* w = Window(window)) w->setWindowTitle(FromUtf8(text));
}

void QtBackend::AppendSystemMenu(WindowId window, unsigned id, const std::string& text) {
  if (DialogWindow* w = Window(window)) w->AddSystemMenuItem(id, id == 0 ? std::string() : text);
}

bool QtBackend::SetTimer(WindowId window, std::uintptr_t id, unsigned milliseconds) {
  DialogWindow* w = Window(window);
  return w != nullptr && w->StartWindowTimer(id, milliseconds);
}

bool QtBackend::KillTimer(WindowId window, std::uintptr_t id) {
  DialogWindow* w = Window(window);
  return w != nullptr && w->StopWindowTimer(id);
}

// ---- message boxes ----

void QtBackend::CancelTransientLoops() {
  DismissPopupMenus();
  for (auto it = nested_.rbegin(); it != nested_.rend(); ++it) {
    if (it->widget.isNull() || dynamic_cast<DialogWindow*>(it->widget.data()) != nullptr) continue;
    if (auto* dialog = qobject_cast<QDialog*>(it->widget.data())) dialog->done(QDialog::Rejected);
  }
}

void QtBackend::RunNested(QWidget& widget, WindowId ownerWindow) {
  DialogWindow* owner = CurrentOwner(ownerWindow);
  const WindowId ownerId = owner != nullptr ? owner->Id() : kNoWindowId;
  if (owner != nullptr) ++owner->blocked;
  nested_.push_back(Nested{&widget, ownerId});
  if (owner != nullptr && owner->isVisible()) {
    widget.winId();
    if (widget.windowHandle() != nullptr && owner->windowHandle() != nullptr) {
      widget.windowHandle()->setTransientParent(owner->windowHandle());
    }
  }
  auto* dialog = qobject_cast<QDialog*>(&widget);
  // Qt makes boxes modal to the whole program, which would leave the tray icon dead while one is
  // open; only the owner waits, as on the system.
  widget.setWindowModality(Qt::NonModal);
  QEventLoop loop;
  // Showing may already run events (a file dialog reads its folder), and a dialog may be finished
  // by them before the loop starts: then there is nothing to wait for.
  bool finished = false;
  if (dialog != nullptr) {
    QObject::connect(dialog, &QDialog::finished, &loop, [&loop, &finished] {
      finished = true;
      loop.exit(0);
    });
  }
  widget.show();
  RaiseAndActivate(widget);
  if (widget.isVisible() && !finished) {
    const LoopScope scope(*this);
    loop.exec(QEventLoop::DialogExec);
  }
  widget.hide();
  std::erase_if(nested_, [&widget](const Nested& n) { return n.widget == &widget; });
  if (DialogWindow* stillThere = Window(ownerId)) --stillThere->blocked;
}

int QtBackend::ShowMessageBox(OwnerWindow owner, const std::string& text, const char* caption, unsigned type) {
  if (Quitting()) return SafeMessageBoxAnswer(type);
  QMessageBox box;
  box.setIcon(QMessageBox::NoIcon);
  box.setTextFormat(Qt::PlainText);
  box.setText(FromUtf8(text));
  box.setWindowTitle(QString::fromUtf8(
      caption != nullptr ? caption : framework::Resources().Text(framework::BackendText::kErrorCaption)));
  if (DialogWindow* w = CurrentOwner(owner)) box.setFont(w->font());

  // The buttons with the texts the system's boxes have in the program's language; the answer is the
  // button's id.
  using TextId = framework::BackendText;
  std::vector<std::pair<QPushButton*, int>> buttons;
  auto add = [&](TextId label, QMessageBox::ButtonRole role, int answer) {
    buttons.emplace_back(box.addButton(QString::fromUtf8(framework::Resources().Text(label)), role), answer);
  };
  int escapeAnswer = IDCANCEL;
  switch (type & 0xFu) {
    case MB_OKCANCEL:
      add(TextId::kButtonOk, QMessageBox::AcceptRole, IDOK);
      add(TextId::kButtonCancel, QMessageBox::RejectRole, IDCANCEL);
      break;
    case MB_YESNOCANCEL:
      add(TextId::kButtonYes, QMessageBox::YesRole, IDYES);
      add(TextId::kButtonNo, QMessageBox::NoRole, IDNO);
      add(TextId::kButtonCancel, QMessageBox::RejectRole, IDCANCEL);
      break;
    case MB_YESNO:
      add(TextId::kButtonYes, QMessageBox::YesRole, IDYES);
      add(TextId::kButtonNo, QMessageBox::NoRole, IDNO);
      escapeAnswer = IDNO;
      break;
    default:
      add(TextId::kButtonOk, QMessageBox::AcceptRole, IDOK);
      escapeAnswer = IDOK;
      break;
  }
  const std::size_t defaultIndex = std::min<std::size_t>((type >> 8) & 0xFu, buttons.size() - 1);
  box.setDefaultButton(buttons[defaultIndex].first);
  for (const auto& [button, answer] : buttons) {
    if (answer == escapeAnswer) box.setEscapeButton(button);
  }

  const QPointer<QWidget> outerBox = openBox_;
  openBox_ = &box;
  RunNested(box, owner);
  openBox_ = outerBox;
  for (const auto& [button, answer] : buttons) {
    if (box.clickedButton() == button) return answer;
  }
  return escapeAnswer;
}

// ---- session end and asynchronous requests ----

void QtBackend::EndSession() {
  if (sessionEnded_) return;
  CDialog* main = MainWindow();
  if (main == nullptr || !main->HasWindow()) return;
  sessionEnded_ = true;
  // The answer to the question is not consulted: the session ends either way on this system.
  main->Dispatch(WM_QUERYENDSESSION, 0, 0);
  if (main->HasWindow()) main->Dispatch(WM_ENDSESSION, 1, 0);
}

int QtBackend::AddAsyncAction(std::function<void()> action) {
  if (static_cast<int>(asyncActions_.size()) >= kMaxAsyncSlots || !action) return -1;
  asyncActions_.push_back(std::move(action));
  return static_cast<int>(asyncActions_.size()) - 1;
}

bool QtBackend::TriggerAsync(int slot) {
  const int fd = g_wakeWrite.load();
  if (fd < 0 || slot < 0 || slot >= kMaxAsyncSlots) return false;
  const unsigned char byte = static_cast<unsigned char>(slot);
  const int savedErrno = errno;
  const bool written = ::write(fd, &byte, 1) == 1;
  errno = savedErrno;
  return written;
}

void QtBackend::WatchReadable(int fd, std::function<void()> readable) {
  if (fd < 0 || !readable) return;
  auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, sessionHook_.get(),
                   [action = std::move(readable)] { action(); });
  readNotifiers_.push_back(std::move(notifier));
}

void QtBackend::DrainAsync() {
  unsigned char buffer[64];
  for (;;) {
    const ssize_t got = ::read(wakeRead_, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t i = 0; i < got; ++i) {
      const std::size_t slot = buffer[i];
      if (slot < asyncActions_.size()) asyncActions_[slot]();
    }
  }
}

std::unique_ptr<IBackend> CreateQtBackend(int& argc, char** argv) {
  std::unique_ptr<QApplication> app = TryCreateQtApplication(argc, argv);
  if (!app) return nullptr;
  return std::make_unique<QtBackend>(std::move(app));
}

}  // namespace framework::qt
