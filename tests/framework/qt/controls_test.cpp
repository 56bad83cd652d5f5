// Input on the controls as the dialogs must see it: check-box cycles, buttons, keys, the close
// box, clickable statics and the window menu.
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QtTest/QTest>

#include "qt_test_support.h"
#include "tests/support/box_columns.h"

namespace mavrin_test {
namespace {

using Commands = std::vector<std::pair<unsigned, unsigned>>;

TEST_F(QtBackendTest, ThreeStateBoxCyclesAsWindowsDoesAndTellsTheDialogEachTime) {
  RecordingDialog dialog(IDD_ASSIGN_LIST);
  std::vector<int> statesSeen;
  dialog.onCommand = [&](RecordingDialog& d, unsigned id, unsigned) {
    if (id == IDC_CPU3) statesSeen.push_back(d.ButtonItem(IDC_CPU3).GetCheck());
  };
  RunWith(dialog, [&](QWidget&) {
    auto* box = qobject_cast<QCheckBox*>(backend.ControlWidget(dialog.GetSafeHwnd(), IDC_CPU3));
    ASSERT_NE(box, nullptr);
    for (int i = 0; i < 4; ++i) box->click();
    EXPECT_EQ(box->checkState(), Qt::Checked);
    // A box the program disabled takes no clicks.
    dialog.Item(IDC_CPU3).Enable(false);
    box->click();
    dialog.EndDialog(IDCANCEL);
  });
  // The dialog sees the new state when it is told: checked, indeterminate, unchecked, checked.
  EXPECT_EQ(statesSeen, (std::vector<int>{BST_CHECKED, BST_INDETERMINATE, BST_UNCHECKED, BST_CHECKED}));
  EXPECT_EQ(dialog.Commands(), Commands(4, {IDC_CPU3, BN_CLICKED}));
}

TEST_F(QtBackendTest, TwoStateBoxTogglesAndProgramSetStatesShowUp) {
  RecordingDialog dialog(IDD_CHANGE_CPU_ASSIGN);
  RunWith(dialog, [&](QWidget&) {
    auto* box = qobject_cast<QCheckBox*>(backend.ControlWidget(dialog.GetSafeHwnd(), IDC_CPU7));
    ASSERT_NE(box, nullptr);
    box->click();
    EXPECT_EQ(dialog.ButtonItem(IDC_CPU7).GetCheck(), BST_CHECKED);
    box->click();
    EXPECT_EQ(dialog.ButtonItem(IDC_CPU7).GetCheck(), BST_UNCHECKED);
    // Set by the program: no notification, and the box shows it.
    dialog.ButtonItem(IDC_CPU0).SetCheck(BST_CHECKED);
    EXPECT_EQ(qobject_cast<QCheckBox*>(backend.ControlWidget(dialog.GetSafeHwnd(), IDC_CPU0))->checkState(),
              Qt::Checked);
    dialog.EndDialog(IDCANCEL);
  });
  EXPECT_EQ(dialog.Commands(), (Commands{{IDC_CPU7, BN_CLICKED}, {IDC_CPU7, BN_CLICKED}}));
}

TEST_F(QtBackendTest, EnterEscapeAndButtonsEndTheDialogThroughItsCommands) {
  {
    // Enter in the edit: the default button, OK.
    RecordingDialog dialog(IDD_CHANGE_CPU_ASSIGN);
    const int result = RunWith(dialog, [&](QWidget&) {
      QWidget* edit = backend.ControlWidget(dialog.GetSafeHwnd(), IDC_TARGET_TEXT);
      QTest::keyClick(edit, Qt::Key_Return);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.Commands(), (Commands{{IDOK, BN_CLICKED}}));
  }
  {
    // Enter with the Cancel button focused: Cancel.
    RecordingDialog dialog(IDD_CHANGE_CPU_ASSIGN);
    const int result = RunWith(dialog, [&](QWidget& window) {
      QWidget* cancel = backend.ControlWidget(dialog.GetSafeHwnd(), IDCANCEL);
      cancel->setFocus();
      QTest::keyClick(window.focusWidget() != nullptr ? window.focusWidget() : cancel, Qt::Key_Return);
    });
    EXPECT_EQ(result, IDCANCEL);
  }
  {
    // Escape on a check box.
    RecordingDialog dialog(IDD_CHANGE_CPU_ASSIGN);
    const int result = RunWith(dialog, [&](QWidget&) {
      QTest::keyClick(backend.ControlWidget(dialog.GetSafeHwnd(), IDC_CPU1), Qt::Key_Escape);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(dialog.Commands(), (Commands{{IDCANCEL, BN_CLICKED}}));
  }
  {
    // A plain click on a push button; the dialog ends only when its handler says so.
    RecordingDialog dialog(IDD_MANAGE_ASSIGN);
    dialog.onCommand = [](RecordingDialog& d, unsigned id, unsigned) {
      if (id == IDC_BUTTON_DELETE) d.EndDialog(77);
    };
    const int result = RunWith(dialog, [&](QWidget&) {
      qobject_cast<QPushButton*>(backend.ControlWidget(dialog.GetSafeHwnd(), IDC_BUTTON_NEW))->click();
      qobject_cast<QPushButton*>(backend.ControlWidget(dialog.GetSafeHwnd(), IDC_BUTTON_DELETE))->click();
    });
    EXPECT_EQ(result, 77);
    EXPECT_EQ(dialog.Commands(), (Commands{{IDC_BUTTON_NEW, BN_CLICKED}, {IDC_BUTTON_DELETE, BN_CLICKED}}));
  }
}

TEST_F(QtBackendTest, CloseBoxCancelsOnlyWhereThereIsOne) {
  RecordingDialog about(IDD_ABOUTBOX);
  const int result = RunWith(about, [&](QWidget& window) { window.close(); });
  EXPECT_EQ(result, IDCANCEL);
  ASSERT_EQ(about.Of(WM_SYSCOMMAND).size(), 1u);
  EXPECT_EQ(about.Of(WM_SYSCOMMAND)[0].wParam, SC_CLOSE);

  // The change-assignment dialog has no title bar: a close request from outside changes nothing.
  RecordingDialog change(IDD_CHANGE_CPU_ASSIGN);
  bool stillVisible = false;
  RunWith(change, [&](QWidget& window) {
    window.close();
    stillVisible = window.isVisible();
    change.EndDialog(5);
  });
  EXPECT_TRUE(stillVisible);
  EXPECT_TRUE(change.Commands().empty());
}

TEST_F(QtBackendTest, ClickableStaticReportsClicksOthersDoNot) {
  RecordingDialog dialog(IDD_ABOUTBOX);
  RunWith(dialog, [&](QWidget& window) {
    QWidget* address = backend.ControlWidget(dialog.GetSafeHwnd(), IDC_ABOUT_WEBPAGE);
    QTest::mouseClick(address, Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mouseClick(address, Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mouseClick(backend.ControlWidget(dialog.GetSafeHwnd(), IDC_ABOUT_VERSION), Qt::LeftButton, {}, QPoint(3, 3));
    // The "Mavrin" static has no id and no SS_NOTIFY.
    QTest::mouseClick(backend.ControlWidgets(dialog.GetSafeHwnd())[1], Qt::LeftButton, {}, QPoint(3, 3));
    (void)window;
    dialog.EndDialog(IDOK);
  });
  EXPECT_EQ(dialog.Commands(), (Commands{{IDC_ABOUT_WEBPAGE, STN_CLICKED}, {IDC_ABOUT_WEBPAGE, STN_CLICKED}}));
}

TEST_F(QtBackendTest, ControlTextsKeepWhatTheProgramSet) {
  RecordingDialog dialog(IDD_ABOUTBOX);
  RunWith(dialog, [&](QWidget&) {
    framework::Control version = dialog.Item(IDC_ABOUT_VERSION);
    version.SetItemText(version.ItemText() + "1.0.1");
    EXPECT_EQ(version.ItemText(), "Version 1.0.1");
    auto* label = qobject_cast<QLabel*>(backend.ControlWidget(dialog.GetSafeHwnd(), IDC_ABOUT_VERSION));
    EXPECT_EQ(label->text(), QStringLiteral("Version 1.0.1"));
    // SS_NOPREFIX: an ampersand is shown as it is; elsewhere it marks a mnemonic.
    version.SetItemText("A&B");
    EXPECT_EQ(label->text(), QStringLiteral("A&B"));
    framework::Control address = dialog.Item(IDC_ABOUT_WEBPAGE);
    address.SetItemText("A&&B&C");
    EXPECT_EQ(qobject_cast<QLabel*>(backend.ControlWidget(dialog.GetSafeHwnd(), IDC_ABOUT_WEBPAGE))->text(),
              QStringLiteral("A&BC"));
    EXPECT_EQ(address.ItemText(), "A&&B&C");
    dialog.SetCaption("新しい題");
    EXPECT_EQ(dialog.Caption(), "新しい題");
    dialog.EndDialog(IDOK);
  });
}

TEST_F(QtBackendTest, SystemMenuItemsReachTheDialogAsSysCommands) {
  RecordingDialog dialog(IDD_ASSIGN_LIST);
  dialog.onInit = [](RecordingDialog& d) {
    d.AppendSystemMenuSeparator();
    d.AppendSystemMenuItem(IDM_ABOUTBOX, framework::LoadStringResource(IDS_ABOUTBOX));
  };
  QStringList texts;
  RunWith(dialog, [&](QWidget& window) {
    QTimer::singleShot(0, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_NE(menu, nullptr);
      QAction* about = nullptr;
      for (QAction* a : menu->actions()) {
        texts << a->text();
        if (a->data().toUInt() == IDM_ABOUTBOX) about = a;
      }
      ASSERT_NE(about, nullptr);
      QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(about).center());
    });
    QTest::keyClick(&window, Qt::Key_Space, Qt::AltModifier);
    dialog.EndDialog(IDCANCEL);
  });
  EXPECT_TRUE(texts.contains(QStringLiteral("バージョン情報 MavrinTest(&A)...")));
  const std::vector<Received> sys = dialog.Of(WM_SYSCOMMAND);
  ASSERT_EQ(sys.size(), 1u);
  EXPECT_EQ(sys[0].wParam, static_cast<framework::WParam>(IDM_ABOUTBOX));
}

}  // namespace
}  // namespace mavrin_test

namespace mavrin_test {
namespace {

TEST_F(QtBackendTest, OwnerTakesNoInputWhileItsBoxIsOpenAndKeepsItsControlStates) {
  RecordingDialog dialog(IDD_MANAGE_ASSIGN);
  bool enabledDuringBox = false;
  bool visibleAfterClose = false;
  RunWith(dialog, [&](QWidget& window) {
    QWidget* button = backend.ControlWidget(dialog.GetSafeHwnd(), IDC_BUTTON_NEW);
    QTimer::singleShot(0, [&, button] {
      QTest::mouseClick(button, Qt::LeftButton);
      QTest::keyClick(&window, Qt::Key_Escape);
      window.close();
      enabledDuringBox = button->isEnabled() && dialog.Item(IDC_BUTTON_NEW).IsEnabled();
      visibleAfterClose = window.isVisible();
      QTest::keyClick(backend.OpenMessageBox(), Qt::Key_Return);
    });
    dialog.ShowMessageBox("確認", "Mavrin", MB_OK);
    // The box is gone: the dialog takes input again.
    QTest::mouseClick(button, Qt::LeftButton);
    dialog.EndDialog(IDCANCEL);
  });
  EXPECT_TRUE(enabledDuringBox);
  EXPECT_TRUE(visibleAfterClose);
  EXPECT_EQ(dialog.Commands(), (Commands{{IDC_BUTTON_NEW, BN_CLICKED}}));
}

}  // namespace
}  // namespace mavrin_test

namespace mavrin_test {
namespace {

// Paths can hold any byte but NUL; what the toolkit cannot decode is shown replaced, never a crash,
// and the program reads back what it put in.
TEST_F(QtBackendTest, TextsThatAreNoValidUtf8AreShownWithoutHarm) {
  const std::string bad = std::string("/tmp/\xff\xfe") + "bad\xc3" + "(\x80\xe3\x81)";
  RecordingDialog dialog(IDD_ASSIGN_LIST);
  RunWith(dialog, [&](QWidget&) {
    framework::Control button = dialog.Item(IDC_UPDATE_LIST);
    button.SetItemText(bad);
    EXPECT_EQ(button.ItemText(), bad);
    framework::ListView list = dialog.ListViewItem(IDC_PROCESS_LIST);
    list.InsertColumn(0, bad, LVCFMT_LEFT, 100);
    EXPECT_EQ(0, list.InsertItem(0, bad));
    EXPECT_EQ(list.ItemText(0, 0), bad);
    dialog.SetCaption(bad);
    framework::Menu menu;
    menu.AppendString(32798, bad);
    QTimer::singleShot(50, [&] {
      if (QWidget* popup = backend.OpenPopup()) popup->close();
    });
    dialog.TrackPopup(menu, TPM_RIGHTBUTTON, 10, 10);
    QCoreApplication::processEvents();
    dialog.EndDialog(IDOK);
  });
}

TEST_F(QtBackendTest, AddedBoxesContinueTheTemplatesColumnsAndClickLikeItsOwn) {
  RecordingDialog dialog(IDD_CHANGE_CPU_ASSIGN);
  int widthBefore = 0;
  dialog.onInit = [&](RecordingDialog& d) {
    widthBefore = backend.WindowWidget(d.GetSafeHwnd())->width();
    EXPECT_TRUE(d.AddControls(BoxColumns(2)));
  };
  RunWith(dialog, [&](QWidget& window) {
    const auto at = [&](int id) { return backend.ControlWidget(dialog.GetSafeHwnd(), id); };
    ASSERT_NE(at(2015), nullptr);
    EXPECT_EQ(backend.BlockScroller(dialog.GetSafeHwnd()), nullptr);
    // One more column per 44 units, rows as the template's; the window and OK move by two columns.
    const int pitch = at(IDC_CPU4)->x() - at(IDC_CPU0)->x();
    EXPECT_EQ(at(2012)->x(), at(IDC_CPU4)->x() + 2 * pitch);
    EXPECT_EQ(at(2015)->y(), at(IDC_CPU3)->y());
    EXPECT_NEAR(window.width() - widthBefore, 2 * pitch, 1);
    EXPECT_NEAR(at(IDOK)->x() + at(IDOK)->width(), window.width() - (at(IDC_TARGET_TEXT)->x()), 2);
    EXPECT_TRUE(at(2015)->isVisible());
    qobject_cast<QCheckBox*>(at(2015))->click();
    qobject_cast<QPushButton*>(at(3000))->click();
    EXPECT_EQ(dialog.ButtonItem(2015).GetCheck(), BST_CHECKED);
    dialog.EndDialog(IDCANCEL);
  });
  EXPECT_EQ(dialog.Commands(), (Commands{{2015, BN_CLICKED}, {3000, BN_CLICKED}}));
}

TEST_F(QtBackendTest, BoxesTooManyForTheScreenScrollSidewaysInsideAWindowThatFits) {
  RecordingDialog dialog(IDD_CHANGE_CPU_ASSIGN);
  dialog.onInit = [&](RecordingDialog& d) { EXPECT_TRUE(d.AddControls(BoxColumns(254))); };
  RunWith(dialog, [&](QWidget& window) {
    const auto at = [&](int id) { return backend.ControlWidget(dialog.GetSafeHwnd(), id); };
    auto* scroller = qobject_cast<QScrollArea*>(backend.BlockScroller(dialog.GetSafeHwnd()));
    ASSERT_NE(scroller, nullptr);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(window.width(), screen.width());
    // The template's boxes scroll with the new ones and still answer.
    EXPECT_TRUE(scroller->widget()->isAncestorOf(at(IDC_CPU0)));
    qobject_cast<QCheckBox*>(at(IDC_CPU0))->click();
    QScrollBar* bar = scroller->horizontalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    // Tabbing to a box out of sight brings it into view.
    at(2008 + 1014)->setFocus();
    QTest::keyClick(at(2008 + 1014), Qt::Key_Tab);
    EXPECT_EQ(window.focusWidget(), at(2008 + 1015));
    const int left = at(2008 + 1015)->x() - bar->value();
    EXPECT_GE(left, 0);
    EXPECT_LE(left + at(2008 + 1015)->width(), scroller->viewport()->width());
    // The plain wheel turns it sideways.
    bar->setValue(0);
    QWheelEvent wheel(QPointF(5, 5), scroller->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(scroller->viewport(), &wheel);
    EXPECT_GT(bar->value(), 0);
    dialog.EndDialog(IDCANCEL);
  });
  EXPECT_EQ(dialog.Commands(), (Commands{{IDC_CPU0, BN_CLICKED}}));
}

}  // namespace
}  // namespace mavrin_test
