#pragma once
// A dialog that records what reaches it, and a fixture that runs the Qt backend without a display.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "framework/backend.h"
#include "framework/dialog.h"
#include "framework/qt/qt_application.h"
#include "framework/qt/qt_backend.h"
#include "res/resource.h"
#include "res/texts.h"

namespace mavrin_test {

struct Received {
  unsigned message = 0;
  framework::WParam wParam = 0;
  framework::LParam lParam = 0;
  // WM_NOTIFY: a copy of the list-view record.
  framework::ListViewNotify notify;
};

class RecordingDialog : public framework::CDialog {
 public:
  explicit RecordingDialog(int templateId) : CDialog(templateId) {}

  static const framework::MessageMap* GetThisMessageMap();
  const framework::MessageMap* GetMessageMap() const override { return GetThisMessageMap(); }

  std::vector<Received> received;
  std::function<void(RecordingDialog&)> onInit;
  std::function<void(RecordingDialog&, unsigned id, unsigned code)> onCommand;
  std::function<void(RecordingDialog&, const framework::ListViewNotify&)> onNotify;
  std::function<void(RecordingDialog&, std::uintptr_t)> onTimer;
  std::function<void(RecordingDialog&, framework::WParam, framework::LParam)> onTray;

  std::vector<Received> Of(unsigned message) const {
    std::vector<Received> out;
    for (const Received& r : received) {
      if (r.message == message) out.push_back(r);
    }
    return out;
  }
  // WM_COMMAND ids (with codes) in arrival order.
  std::vector<std::pair<unsigned, unsigned>> Commands() const {
    std::vector<std::pair<unsigned, unsigned>> out;
    for (const Received& r : Of(WM_COMMAND))
      out.emplace_back(framework::LowWord(r.wParam), framework::HighWord(r.wParam));
    return out;
  }

 protected:
  bool OnInitDialog() override {
    CDialog::OnInitDialog();
    if (onInit) onInit(*this);
    return true;
  }
  bool OnCommand(framework::WParam wParam, framework::LParam lParam) override {
    received.push_back({WM_COMMAND, wParam, lParam, {}});
    if (onCommand) onCommand(*this, framework::LowWord(wParam), framework::HighWord(wParam));
    return CDialog::OnCommand(wParam, lParam);
  }
  bool OnNotify(framework::WParam wParam, framework::LParam lParam, framework::LResult* result) override {
    Received r{WM_NOTIFY, wParam, lParam, *reinterpret_cast<const framework::ListViewNotify*>(lParam)};
    received.push_back(r);
    if (onNotify) onNotify(*this, r.notify);
    return CDialog::OnNotify(wParam, lParam, result);
  }

 private:
  void Record(unsigned message, framework::WParam w, framework::LParam l) { received.push_back({message, w, l, {}}); }
  void OnTimerMessage(std::uintptr_t id) {
    Record(WM_TIMER, id, 0);
    if (onTimer) onTimer(*this, id);
  }
  void OnSys(unsigned id, framework::LParam l) {
    Record(WM_SYSCOMMAND, id, l);
    Default();
  }
  void OnTrayMessage(framework::WParam w, framework::LParam l) {
    Record(WM_TRAY_NOTIFY, w, l);
    if (onTray) onTray(*this, w, l);
  }
  framework::LResult OnQueryEnd(framework::WParam w, framework::LParam l) {
    Record(WM_QUERYENDSESSION, w, l);
    return 1;
  }
  void OnEnd(framework::WParam w, framework::LParam l) { Record(WM_ENDSESSION, w, l); }
  void OnUser(framework::WParam w, framework::LParam l) { Record(WM_USER, w, l); }
};

inline const framework::MessageMap* RecordingDialog::GetThisMessageMap() {
  static constexpr framework::MessageEntry kEntries[] = {
      framework::MapTimer<&RecordingDialog::OnTimerMessage>(),
      framework::MapSysCommand<&RecordingDialog::OnSys>(),
      framework::MapMessage<&RecordingDialog::OnTrayMessage>(WM_TRAY_NOTIFY),
      framework::MapMessage<&RecordingDialog::OnQueryEnd>(WM_QUERYENDSESSION),
      framework::MapMessage<&RecordingDialog::OnEnd>(WM_ENDSESSION),
      framework::MapMessage<&RecordingDialog::OnUser>(WM_USER),
  };
  static constexpr framework::MessageMap kMap{&CDialog::GetThisMessageMap, kEntries};
  return &kMap;
}

// The program's texts and Qt's own in another language for one test, and back when it ends.
class QtLanguage {
 public:
  explicit QtLanguage(res::Language language) : saved_(res::CurrentLanguage()) { Use(language); }
  ~QtLanguage() { Use(saved_); }
  QtLanguage(const QtLanguage&) = delete;
  QtLanguage& operator=(const QtLanguage&) = delete;

 private:
  static void Use(res::Language language) {
    res::SetLanguage(language);
    framework::qt::ApplyLanguage();
  }
  res::Language saved_;
};

class QtBackendTest : public ::testing::Test {
 protected:
  void SetUp() override { framework::SetBackend(&backend); }
  void TearDown() override {
    framework::SetMainWindow(nullptr);
    framework::SetBackend(nullptr);
  }

  // Runs dialog modally; body runs inside its modal loop (the window shown) and must end it.
  int RunWith(framework::CDialog& dialog, std::function<void(QWidget&)> body) {
    backend.SetModalStartHandler([&dialog, body](framework::CDialog& running, QWidget& window) {
      if (&running != &dialog) return;
      QWidget* target = &window;
      QTimer::singleShot(0, target, [body, target] { body(*target); });
    });
    const int result = dialog.DoModal();
    backend.SetModalStartHandler(nullptr);
    return result;
  }

  // Lets the event loop run for about ms milliseconds.
  static void Spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
  }

  framework::qt::QtBackend backend;
};

}  // namespace mavrin_test
