// Every dialog template built through the Qt backend: where each control lands, what it is, what it
// says and in which state it starts; the window's size, caption and kind.
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <cmath>

#include "framework/qt/qt_backend.h"
#include "framework/resource_types.h"
#include "qt_test_support.h"
#include "res/resources.h"

namespace mavrin_test {
namespace {

using framework::ControlKind;
using framework::DialogTemplate;

struct Units {
  double x;
  double y;
};

// The dialog's base units worked out here from the face and size the template maps to.
Units ExpectedUnits(const char* family, int pixelSize) {
  QFont font(QString::fromLatin1(family));
  font.setPixelSize(pixelSize);
  const QFontMetrics metrics(font);
  const double average =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0;
  return Units{std::floor(average + 0.5), static_cast<double>(metrics.ascent() + metrics.descent())};
}

int Px(int units, double base, int divisor) { return static_cast<int>(std::floor(units * base / divisor + 0.5)); }

struct Expectation {
  int templateId;
  const char* family;
  int pixelSize;
};

class DialogLayoutTest : public QtBackendTest, public ::testing::WithParamInterface<Expectation> {};

TEST_P(DialogLayoutTest, ControlsSitAtTheirTemplatePositionsWithTheirTextsAndStates) {
  const Expectation expected = GetParam();
  const DialogTemplate* tpl = res::FindDialogTemplate(expected.templateId);
  ASSERT_NE(tpl, nullptr);
  const Units units = ExpectedUnits(expected.family, expected.pixelSize);
  ASSERT_GT(units.x, 3);
  ASSERT_GT(units.y, 8);

  framework::CDialog dialog(expected.templateId);
  bool checked = false;
  const int result = RunWith(dialog, [&](QWidget& window) {
    checked = true;
    EXPECT_EQ(window.font().family(), QString::fromLatin1(expected.family));
    EXPECT_EQ(window.font().pixelSize(), expected.pixelSize);
    EXPECT_EQ(window.width(), Px(tpl->cx, units.x, 4));
    EXPECT_EQ(window.height(), Px(tpl->cy, units.y, 8));
    EXPECT_EQ(window.windowTitle().toStdString(), std::string(tpl->caption));
    const framework::Size client = dialog.ClientSize();
    EXPECT_EQ(client.cx, window.width());
    EXPECT_EQ(client.cy, window.height());

    const std::vector<QWidget*> widgets = backend.ControlWidgets(dialog.GetSafeHwnd());
    ASSERT_EQ(widgets.size(), tpl->controls.size());
    for (std::size_t i = 0; i < widgets.size(); ++i) {
      const framework::ControlTemplate& c = tpl->controls[i];
      QWidget* w = widgets[i];
      SCOPED_TRACE(std::string("control ") + std::to_string(c.id) + " " + c.text);
      EXPECT_EQ(w->x(), Px(c.x, units.x, 4));
      EXPECT_EQ(w->y(), Px(c.y, units.y, 8));
      if (c.kind == ControlKind::StaticIcon) {
        EXPECT_EQ(w->size(), QSize(32, 32));  // an icon static takes its icon's size
      } else {
        EXPECT_EQ(w->width(), Px(c.cx, units.x, 4));
        EXPECT_EQ(w->height(), Px(c.cy, units.y, 8));
      }
      EXPECT_TRUE(w->isVisible());
      EXPECT_TRUE(w->isEnabled());
      const QString text = QString::fromUtf8(c.text);
      switch (c.kind) {
        case ControlKind::PushButton: {
          auto* button = qobject_cast<QPushButton*>(w);
          ASSERT_NE(button, nullptr);
          EXPECT_EQ(button->text(), text);  // "&" stays: Qt shows it as the mnemonic
          // (A focused push button shows as the default one too, as on the system.)
          if ((c.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
            EXPECT_TRUE(button->isDefault());
          }
          break;
        }
        case ControlKind::CheckBox: {
          auto* box = qobject_cast<QCheckBox*>(w);
          ASSERT_NE(box, nullptr);
          EXPECT_EQ(box->text(), text);
          EXPECT_EQ(box->checkState(), Qt::Unchecked);
          EXPECT_EQ(box->isTristate(), (c.style & BS_TYPEMASK) == BS_AUTO3STATE);
          EXPECT_EQ(framework::Button(&dialog, c.id).GetCheck(), BST_UNCHECKED);
          break;
        }
        case ControlKind::Edit: {
          auto* edit = qobject_cast<QLineEdit*>(w);
          ASSERT_NE(edit, nullptr);
          EXPECT_TRUE(edit->isReadOnly());
          EXPECT_EQ(edit->text(), text);
          break;
        }
        case ControlKind::ListView: {
          auto* list = qobject_cast<QTreeWidget*>(w);
          ASSERT_NE(list, nullptr);
          EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
          EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
          EXPECT_FALSE(list->isSortingEnabled());
          EXPECT_FALSE(list->rootIsDecorated());
          EXPECT_EQ(list->topLevelItemCount(), 0);
          break;
        }
        case ControlKind::StaticText: {
          auto* label = qobject_cast<QLabel*>(w);
          ASSERT_NE(label, nullptr);
          EXPECT_EQ(label->textFormat(), Qt::PlainText);
          EXPECT_EQ(label->text(), text);  // no "&" in any static of ours
          break;
        }
        case ControlKind::StaticIcon: {
          auto* label = qobject_cast<QLabel*>(w);
          ASSERT_NE(label, nullptr);
          EXPECT_FALSE(label->pixmap().isNull());
          break;
        }
      }
      if (c.id != -1) {
        EXPECT_EQ(framework::Control(&dialog, c.id).ItemText(), std::string(c.text));
      }
    }
    dialog.EndDialog(IDCANCEL);
  });
  EXPECT_TRUE(checked);
  EXPECT_EQ(result, IDCANCEL);
}

INSTANTIATE_TEST_SUITE_P(
    Templates, DialogLayoutTest,
    ::testing::Values(Expectation{IDD_ABOUTBOX, "IPAPGothic", 12}, Expectation{IDD_ASSIGN_LIST, "IPAGothic", 12},
                      Expectation{IDD_DUMMY, "IPAPGothic", 11}, Expectation{IDD_CHANGE_CPU_ASSIGN, "IPAPGothic", 11},
                      Expectation{IDD_MANAGE_ASSIGN, "IPAGothic", 12}, Expectation{IDD_STATUS, "IPAPGothic", 12}),
    [](const ::testing::TestParamInfo<Expectation>& info) {
      return "Template" + std::to_string(info.param.templateId);
    });

TEST_F(QtBackendTest, WindowKindsFollowTheTemplateStyles) {
  struct Case {
    int id;
    bool tool;
    bool ownWindow;  // a task-bar entry of its own
    bool title;
    bool onTop;
  };
  for (const Case& c :
       {Case{IDD_ABOUTBOX, false, false, true, false}, Case{IDD_ASSIGN_LIST, false, true, true, false},
        Case{IDD_DUMMY, true, false, true, false}, Case{IDD_CHANGE_CPU_ASSIGN, false, false, false, true},
        Case{IDD_MANAGE_ASSIGN, false, true, true, false}, Case{IDD_STATUS, false, true, true, false}}) {
    SCOPED_TRACE(c.id);
    framework::CDialog dialog(c.id);
    RunWith(dialog, [&](QWidget& window) {
      const Qt::WindowFlags flags = window.windowFlags();
      EXPECT_EQ((flags & Qt::WindowType_Mask) == Qt::Tool, c.tool);
      EXPECT_EQ((flags & Qt::WindowType_Mask) == Qt::Window, c.ownWindow);
      EXPECT_EQ(flags.testFlag(Qt::WindowTitleHint), c.title);
      EXPECT_EQ(flags.testFlag(Qt::WindowCloseButtonHint), c.title);
      EXPECT_EQ(flags.testFlag(Qt::WindowStaysOnTopHint), c.onTop);
      // Taking WS_EX_APPWINDOW away leaves a transient dialog without a task-bar entry.
      dialog.ModifyStyleEx(WS_EX_APPWINDOW, 0);
      if (c.ownWindow) {
        EXPECT_EQ(window.windowFlags() & Qt::WindowType_Mask, Qt::Dialog);
        EXPECT_TRUE(window.isVisible());
      }
      dialog.EndDialog(IDOK);
    });
  }
}

TEST_F(QtBackendTest, HiddenWindowIsNeverShownWhileItsLoopRuns) {
  RecordingDialog dialog(IDD_DUMMY);
  dialog.onInit = [](RecordingDialog& d) { d.HideWindow(); };
  bool wasVisible = true;
  RunWith(dialog, [&](QWidget& window) {
    wasVisible = window.isVisible();
    dialog.EndDialog(0);
  });
  EXPECT_FALSE(wasVisible);
}

TEST(QtHelpers, DialogUnitsFontsAndMnemonics) {
  using framework::qt::MulDiv;
  EXPECT_EQ(MulDiv(9, 96, 72), 12);
  EXPECT_EQ(MulDiv(8, 96, 72), 11);  // 10.67 rounds up
  EXPECT_EQ(MulDiv(5, 3, 2), 8);     // 7.5: halves go away from zero
  EXPECT_EQ(MulDiv(-5, 3, 2), -8);
  EXPECT_EQ(MulDiv(1, 1, 0), 0);
  const QRect r = framework::qt::MapDialogRect({6, 13}, 7, 33, 174, 184);
  EXPECT_EQ(r, QRect(11, 54, 261, 299));

  EXPECT_EQ(framework::qt::FontFamilyFor("ＭＳ ゴシック"), QStringLiteral("IPAGothic"));
  EXPECT_EQ(framework::qt::FontFamilyFor("MS UI Gothic"), QStringLiteral("IPAPGothic"));
  EXPECT_EQ(framework::qt::FontFamilyFor("MS Shell Dlg"), QStringLiteral("IPAPGothic"));
  EXPECT_EQ(framework::qt::FontFamilyFor("DejaVu Sans"), QStringLiteral("DejaVu Sans"));

  EXPECT_EQ(framework::qt::StripMnemonics(QStringLiteral("閉じる(&X)")), QStringLiteral("閉じる(X)"));
  EXPECT_EQ(framework::qt::StripMnemonics(QStringLiteral("A && B&")), QStringLiteral("A & B"));
}

TEST(QtHelpers, IconResourceCarriesEverySize) {
  const QIcon icon = framework::qt::ResourceIcon(IDR_MAINFRAME);
  QList<QSize> sizes = icon.availableSizes();
  std::sort(sizes.begin(), sizes.end(), [](const QSize& a, const QSize& b) { return a.width() < b.width(); });
  EXPECT_EQ(sizes, (QList<QSize>{QSize(16, 16), QSize(32, 32), QSize(48, 48)}));
  // Pixels survive the trip: the converted 16-pixel image equals the resource's own.
  const framework::Icon small = framework::LoadIconResource(IDR_MAINFRAME, 16);
  const QImage image = framework::qt::ToQImage(*small.Image());
  const framework::Icon back = framework::qt::FromQIcon(QIcon(QPixmap::fromImage(image)), 16);
  ASSERT_FALSE(back.IsNull());
  EXPECT_EQ(back.Image()->rgba, small.Image()->rgba);
  EXPECT_TRUE(framework::qt::ResourceIcon(999).isNull());
}

}  // namespace
}  // namespace mavrin_test
