#include "framework/qt/qt_widgets.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionFrame>
#include <QTimerEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cstring>

#include "framework/resource_provider.h"

namespace framework::qt {

// ---- dialog units, fonts, icons ----

int MulDiv(int a, int b, int c) {
  if (c == 0) return 0;
  const long long product = static_cast<long long>(a) * b;
  const long long half = (c < 0 ? -c : c) / 2;
  const bool negative = (product < 0) != (c < 0);
  const long long magnitude = (product < 0 ? -product : product) + half;
  const long long quotient = magnitude / (c < 0 ? -c : c);
  return static_cast<int>(negative ? -quotient : quotient);
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  DialogBaseUnits base;
  base.x = (width / 26 + 1) / 2;
  base.y = metrics.ascent() + metrics.descent();
  return base;
}

QRect MapDialogRect(const DialogBaseUnits& base, int x, int y, int cx, int cy) {
  return QRect(MulDiv(x, base.x, 4), MulDiv(y, base.y, 8), MulDiv(cx, base.x, 4), MulDiv(cy, base.y, 8));
}

QString FontFamilyFor(const char* face) {
  const QString name = QString::fromUtf8(face != nullptr ? face : "");
  // The fixed-pitch Gothic of Japanese Windows and its stand-in; everything else of the dialogs is
  // the proportional UI Gothic.
  if (name == QStringLiteral("ＭＳ ゴシック") || name == QStringLiteral("MS Gothic"))
    return QStringLiteral("IPAGothic");
  if (name.isEmpty() || name == QStringLiteral("ＭＳ Ｐゴシック") || name == QStringLiteral("MS PGothic") ||
      name == QStringLiteral("MS UI Gothic") || name == QStringLiteral("MS Shell Dlg") ||
      name == QStringLiteral("MS Shell Dlg 2")) {
    return QStringLiteral("IPAPGothic");
  }
  return name;
}

QFont DialogFont(const DialogTemplate& tpl) {
  QFont font(FontFamilyFor(tpl.fontFace));
  // The templates were laid out for 96 dots per inch; Qt scales logical pixels on denser screens.
  const int points = tpl.pointSize > 0 ? tpl.pointSize : 9;
  font.setPixelSize(std::max(1, MulDiv(points, 96, 72)));
  return font;
}

QString StripMnemonics(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == QLatin1Char('&')) {
      if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) {
        out += QLatin1Char('&');
        ++i;
      }
      continue;
    }
    out += text[i];
  }
  return out;
}

QImage ToQImage(const IconImage& image) {
  if (image.width <= 0 || image.height <= 0 ||
      image.rgba.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 4u) {
    return QImage();
  }
  QImage view(image.rgba.data(), image.width, image.height, image.width * 4, QImage::Format_RGBA8888);
  return view.copy();
}

QIcon ToQIcon(const Icon& icon) {
  if (!icon.FilePath().empty()) {
    // An image file named by the shell service, shown at the icon's size.
    const QIcon loaded(QString::fromStdString(icon.FilePath()));
    const QPixmap pixmap = loaded.pixmap(QSize(icon.Width(), icon.Height()));
    return pixmap.isNull() ? QIcon() : QIcon(pixmap);
  }
  const IconImage* image = icon.Image();
  if (image == nullptr) return QIcon();
  const QImage converted = ToQImage(*image);
  if (converted.isNull()) return QIcon();
  return QIcon(QPixmap::fromImage(converted));
}

QIcon ResourceIcon(int id) {
  QIcon icon;
  for (int size : framework::Resources().IconSizes(id)) {
    IconImage image;
    if (framework::Resources().RenderIcon(id, size, image)) icon.addPixmap(QPixmap::fromImage(ToQImage(image)));
  }
  return icon;
}

Icon FromQIcon(const QIcon& icon, int size) {
  if (icon.isNull() || size <= 0) return Icon{};
  QImage image = icon.pixmap(QSize(size, size)).toImage();
  if (image.isNull()) return Icon{};
  if (image.width() != size || image.height() != size) {
    image = image.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  }
  image = image.convertToFormat(QImage::Format_RGBA8888);
  IconImage out;
  out.width = size;
  out.height = size;
  out.rgba.resize(static_cast<std::size_t>(size) * static_cast<std::size_t>(size) * 4u);
  for (int y = 0; y < size; ++y) {
    std::memcpy(out.rgba.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(size) * 4u,
                image.constScanLine(y), static_cast<std::size_t>(size) * 4u);
  }
  return Icon::FromImage(std::move(out));
}

// ---- events ----

QEvent::Type PostedMessageEvent::Kind() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

QEvent::Type TimerTickEvent::Kind() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

// ---- controls ----

AutoCheckBox::AutoCheckBox(DialogWindow* owner, int id, const QString& text)
    : QCheckBox(text, owner), owner_(owner), id_(id) {}

void AutoCheckBox::nextCheckState() { owner_->ClickControl(id_); }

StaticLabel::StaticLabel(DialogWindow* owner, int id, bool notify)
    : QLabel(owner), owner_(owner), id_(id), notify_(notify) {}

void StaticLabel::mousePressEvent(QMouseEvent* event) {
  if (notify_ && event->button() == Qt::LeftButton) {
    pressed_ = true;
    event->accept();
    return;
  }
  QLabel::mousePressEvent(event);
}

void StaticLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (notify_ && event->button() == Qt::LeftButton && pressed_) {
    pressed_ = false;
    event->accept();
    if (rect().contains(event->position().toPoint())) owner_->ClickControl(id_);
    return;
  }
  QLabel::mouseReleaseEvent(event);
}

ReportList::ReportList(DialogWindow* owner, int id, std::uint32_t style) : QTreeWidget(owner), owner_(owner), id_(id) {
  setColumnCount(0);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSortingEnabled(false);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode((style & LVS_SINGLESEL) != 0 ? QAbstractItemView::SingleSelection
                                                : QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setIconSize(QSize(16, 16));
  setTextElideMode(Qt::ElideRight);
  header()->setStretchLastSection(false);
  header()->setSectionsClickable(false);
  header()->setSectionsMovable(false);
  header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header()->setMinimumSectionSize(0);
  if ((style & WS_BORDER) == 0) setFrameShape(QFrame::NoFrame);
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { Sync(); });
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { Sync(); });
}

ReportList::~ReportList() {
  // The view's teardown may still move the selection; nothing is left to report it to.
  QObject::disconnect(selectionModel(), nullptr, this, nullptr);
}

unsigned ReportList::CurrentState(int row) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  if (item == nullptr) return 0;
  unsigned state = 0;
  if (item->isSelected()) state |= LVIS_SELECTED;
  const QModelIndex current = selectionModel()->currentIndex();
  if (current.isValid() && !current.parent().isValid() && current.row() == row) state |= LVIS_FOCUSED;
  return state;
}

void ReportList::Sync() {
  if (hold_ > 0) return;
  // A handler may change the selection again (or the rows): each row is compared afresh, and a
  // nested Sync has already brought the mirror up to date for what it reported.
  for (int pass = 0; pass < 2; ++pass) {
    for (int row = 0; row < static_cast<int>(mirror_.size()) && row < topLevelItemCount(); ++row) {
      const unsigned now = CurrentState(row);
      const unsigned old = mirror_[static_cast<std::size_t>(row)];
      if (now == old) continue;
      const bool gaining = (now & ~old) != 0;
      if ((pass == 0) == gaining) continue;
      mirror_[static_cast<std::size_t>(row)] = now;
      owner_->NotifyList(id_, LVN_ITEMCHANGED, row, old, now, QPoint());
    }
  }
}

void ReportList::InsertRowMirror(int row) {
  row = std::clamp(row, 0, static_cast<int>(mirror_.size()));
  mirror_.insert(mirror_.begin() + row, 0u);
}

void ReportList::SetImages(std::vector<QIcon> images) {
  images_ = std::move(images);
  for (int row = 0; row < topLevelItemCount(); ++row) {
    QTreeWidgetItem* item = topLevelItem(row);
    item->setIcon(0, ImageAt(item->data(0, Qt::UserRole).toInt()));
  }
}

QIcon ReportList::ImageAt(int index) const {
  if (index < 0 || index >= static_cast<int>(images_.size())) return QIcon();
  return images_[static_cast<std::size_t>(index)];
}

void ReportList::mousePressEvent(QMouseEvent* event) {
  HoldSync();
  PressImpl(event);
  ReleaseSync();
}

void ReportList::PressImpl(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  const QModelIndex index = indexAt(pos);
  if (event->button() == Qt::RightButton) {
    // The row under the mouse is selected as a left click would select it, then the right click
    // is reported when the button comes up.
    if (index.isValid()) {
      selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else {
      selectionModel()->clearSelection();
    }
    rightPressRow_ = index.isValid() ? index.row() : -1;
    rightPressPos_ = pos;
    event->accept();
    return;
  }
  // A click on empty space takes the selection away and leaves the focus where it was.
  if (!index.isValid() && event->button() == Qt::LeftButton) {
    selectionModel()->clearSelection();
    event->accept();
    return;
  }
  QTreeWidget::mousePressEvent(event);
}

void ReportList::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    event->accept();
    if (rightPressRow_ == -2) return;
    const int row = rightPressRow_;
    rightPressRow_ = -2;
    owner_->NotifyList(id_, NM_RCLICK, row, 0, 0, rightPressPos_);
    return;
  }
  HoldSync();
  QTreeWidget::mouseReleaseEvent(event);
  ReleaseSync();
}

void ReportList::mouseDoubleClickEvent(QMouseEvent* event) {
  HoldSync();
  QTreeWidget::mouseDoubleClickEvent(event);
  ReleaseSync();
}

void ReportList::keyPressEvent(QKeyEvent* event) {
  HoldSync();
  QTreeWidget::keyPressEvent(event);
  ReleaseSync();
}

void ReportList::focusInEvent(QFocusEvent* event) {
  HoldSync();
  QTreeWidget::focusInEvent(event);
  ReleaseSync();
}

void ReportList::contextMenuEvent(QContextMenuEvent* event) {
  // The dialog shows its own menu on NM_RCLICK; the event must not reach the dialog's background.
  event->accept();
}

}  // namespace framework::qt
