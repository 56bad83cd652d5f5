#pragma once
// What the Qt backend's files share: text conversion, the menus' style, the tray icons' records and
// their hover filter, raising a window.
#include <QGuiApplication>
#include <QProxyStyle>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>

#include "framework/qt/qt_backend.h"

namespace framework::qt {

inline QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string ToUtf8(const QString& text) { return text.toUtf8().toStdString(); }

// Menus taller than the screen scroll instead of spreading into columns: with hundreds of processes
// the columns ran off the screen's side and their far items could not be reached.
class ScrollingMenuStyle final : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == QStyle::SH_Menu_Scrollable) return 1;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

inline void RaiseAndActivate(QWidget& widget) {
  // Without a window system there is nothing to raise (and Qt complains about it).
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) return;
  widget.raise();
  widget.activateWindow();
}

struct QtBackend::Tray {
  WindowId owner = kNoWindowId;
  unsigned id = 0;
  unsigned callbackMessage = 0;
  std::unique_ptr<QSystemTrayIcon> icon;
  bool hasIcon = false;
  // A single click waits here for the double-click interval: a double click must not be preceded
  // by the single click that would open the menu (which then takes the second click).
  std::unique_ptr<QTimer> pendingClick;
};

class TrayHoverFilter final : public QObject {
 public:
  explicit TrayHoverFilter(QtBackend& backend) : backend_(backend) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::ToolTip) {
      for (auto& tray : backend_.trays_) {
        if (static_cast<QObject*>(tray->icon.get()) == watched) {
          // The program refreshes the tip on WM_MOUSEMOVE; it must have done so before the tip shows.
          backend_.TrayMouse(*tray, WM_MOUSEMOVE, true);
          break;
        }
      }
    }
    return false;
  }

 private:
  QtBackend& backend_;
};

}  // namespace framework::qt
