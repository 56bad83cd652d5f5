// Nested loops: timers keep running inside message boxes and popup menus, the popup's choice
// arrives afterwards, boxes and the file dialog answer as the system's do, and requests from a
// signal handler or the session manager reach the program's main window.
#include <signal.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAbstractProxyModel>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include "framework/menu.h"
#include "qt_test_support.h"

namespace mavrin_test {
namespace {

QAbstractButton* ButtonWithText(QWidget* box, const QString& text) {
  for (QAbstractButton* b : box->findChildren<QAbstractButton*>()) {
    if (b->text() == text) return b;
  }
  return nullptr;
}

TEST_F(QtBackendTest, TimersKeepFiringInsideAMessageBoxOpenedByTheirOwnHandler) {
  RecordingDialog dialog(IDD_ASSIGN_LIST);
  int ticks = 0;
  int ticksWhenBoxClosed = 0;
  int answer = 0;
  dialog.onInit = [](RecordingDialog& d) {
    d.SetTimer(0, 20);
    d.SetTimer(7, 15);
  };
  dialog.onTimer = [&](RecordingDialog& d, std::uintptr_t id) {
    if (id == 0) {
      if (++ticks == 1) {
        answer = d.ShowMessageBox("待っています", "Mavrin", MB_OK);
        ticksWhenBoxClosed = ticks;
        d.EndDialog(IDOK);
      }
    } else if (id == 7 && ticks >= 4) {
      // Another timer closes the box once the first one has ticked on inside it.
      if (QWidget* box = backend.OpenMessageBox()) {
        ButtonWithText(box, QStringLiteral("OK"))->click();
      }
    }
  };
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(answer, IDOK);
  EXPECT_GE(ticksWhenBoxClosed, 4);
  // The window's timers went with it.
  EXPECT_FALSE(dialog.HasWindow());
}

TEST_F(QtBackendTest, MessageBoxesHaveTheSystemsButtonsAndAnswers) {
  RecordingDialog dialog(IDD_DUMMY);
  dialog.onInit = [](RecordingDialog& d) { d.HideWindow(); };
  struct Seen {
    QString title;
    QString text;
    QStringList buttons;
    QString defaultButton;
  };
  std::vector<Seen> seen;
  std::vector<int> answers;
  auto answerWith = [&](const QString& press) {
    QTimer::singleShot(0, [&, press] {
      auto* box = qobject_cast<QMessageBox*>(backend.OpenMessageBox());
      ASSERT_NE(box, nullptr);
      Seen s{box->windowTitle(),
             box->text(),
             {},
             box->defaultButton() != nullptr ? box->defaultButton()->text() : QString()};
      for (QAbstractButton* b : box->buttons()) s.buttons << b->text();
      seen.push_back(s);
      if (press == QStringLiteral("<Escape>")) {
        QTest::keyClick(box, Qt::Key_Escape);
      } else if (press == QStringLiteral("<Enter>")) {
        QTest::keyClick(box, Qt::Key_Return);
      } else {
        ButtonWithText(box, press)->click();
      }
    });
  };
  RunWith(dialog, [&](QWidget&) {
    answerWith(QStringLiteral("<Enter>"));
    answers.push_back(dialog.ShowMessageBox("上書きしますか？", "Mavrin", MB_YESNO));
    answerWith(QStringLiteral("いいえ(&N)"));
    answers.push_back(dialog.ShowMessageBox("削除しますか？", "Mavrin", MB_YESNO));
    answerWith(QStringLiteral("<Escape>"));
    answers.push_back(dialog.ShowMessageBox("失敗しました", nullptr, MB_OK));
    dialog.EndDialog(0);
  });
  EXPECT_EQ(answers, (std::vector<int>{IDYES, IDNO, IDOK}));
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].title, QStringLiteral("Mavrin"));
  EXPECT_EQ(seen[0].text, QStringLiteral("上書きしますか？"));
  EXPECT_EQ(seen[0].buttons, (QStringList{QStringLiteral("はい(&Y)"), QStringLiteral("いいえ(&N)")}));
  EXPECT_EQ(seen[0].defaultButton, QStringLiteral("はい(&Y)"));
  EXPECT_EQ(seen[2].title, QStringLiteral("エラー"));
  EXPECT_EQ(seen[2].buttons, (QStringList{QStringLiteral("OK")}));

  // In English the same boxes say so, and the mnemonics stay where the keys are.
  const QtLanguage english(res::Language::kEnglish);
  RecordingDialog again(IDD_DUMMY);
  again.onInit = [](RecordingDialog& d) { d.HideWindow(); };
  RunWith(again, [&](QWidget&) {
    answerWith(QStringLiteral("&No"));
    answers.push_back(again.ShowMessageBox("Delete?", "Mavrin", MB_YESNO));
    answerWith(QStringLiteral("<Escape>"));
    answers.push_back(again.ShowMessageBox("Failed", nullptr, MB_OK));
    again.EndDialog(0);
  });
  EXPECT_EQ(answers, (std::vector<int>{IDYES, IDNO, IDOK, IDNO, IDOK}));
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[3].buttons, (QStringList{QStringLiteral("&Yes"), QStringLiteral("&No")}));
  EXPECT_EQ(seen[3].defaultButton, QStringLiteral("&Yes"));
  EXPECT_EQ(seen[4].title, QStringLiteral("Error"));
}

TEST_F(QtBackendTest, TrayMenuFromResourceShowsItsItemsAndTheChoiceArrivesAfterwards) {
  RecordingDialog dialog(IDD_DUMMY);
  dialog.onInit = [](RecordingDialog& d) {
    d.HideWindow();
    d.SetTimer(0, 10);
  };
  framework::Menu menu;
  ASSERT_TRUE(menu.LoadFromResource(IDR_TRAY_MENU));
  framework::Menu* tray = menu.SubMenu(0);
  ASSERT_NE(tray, nullptr);
  tray->SubMenu(3)->RemoveAt(0);
  tray->SubMenu(3)->AppendString(42000, " 1 : c:\\tools\\a.exe\t2 [oo]");
  tray->SetItemState(ID_TRAY_PAUSE, MFS_CHECKED);
  tray->SetItemState(ID_TRAY_OPEN_SETTINGS, MFS_DEFAULT);

  QStringList texts;
  QStringList deleteTexts;
  bool pauseChecked = false;
  bool settingsBold = false;
  int ticksWhileOpen = 0;
  std::size_t commandsRightAfter = 99;
  RunWith(dialog, [&](QWidget&) {
    QTimer::singleShot(120, [&] {
      auto* popup = qobject_cast<QMenu*>(backend.OpenPopup());
      ASSERT_NE(popup, nullptr);
      // Counted from here, so only ticks that arrive while the popup runs its own loop count; a
      // busy machine may delay them, hence the wait rather than a fixed window.
      const auto ticks = [&] { return static_cast<int>(dialog.Of(WM_TIMER).size()); };
      const int before = ticks();
      (void)QTest::qWaitFor([&] { return ticks() >= before + 3; }, 5000);
      ticksWhileOpen = ticks() - before;
      QAction* pause = nullptr;
      for (QAction* a : popup->actions()) {
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
        if (a->data().toUInt() == ID_TRAY_PAUSE) pause = a;
        if (a->data().toUInt() == ID_TRAY_OPEN_SETTINGS) settingsBold = a->font().bold();
        if (a->menu() != nullptr && a->text() == QStringLiteral("監視設定の削除(&D)")) {
          for (QAction* s : a->menu()->actions()) deleteTexts << s->text();
        }
      }
      ASSERT_NE(pause, nullptr);
      pauseChecked = pause->isChecked();
      QTest::mouseClick(popup, Qt::LeftButton, {}, popup->actionGeometry(pause).center());
    });
    dialog.TrackPopup(*tray, TPM_RIGHTBUTTON, 10, 10);
    commandsRightAfter = dialog.Commands().size();
    QTimer::singleShot(30, [&] { dialog.EndDialog(0); });
  });
  EXPECT_EQ(texts, (QStringList{QStringLiteral("設定画面を開く(&S)"), QStringLiteral("-"),
                                QStringLiteral("監視の一時停止(&P)"), QStringLiteral("監視設定の削除(&D)"),
                                QStringLiteral("CPU割り当てのクイック変更(&A)"), QStringLiteral("-"),
                                QStringLiteral("Mavrin について(&V)..."), QStringLiteral("終了(&X)")}));
  EXPECT_EQ(deleteTexts, (QStringList{QStringLiteral(" 1 : c:\\tools\\a.exe\t2 [oo]")}));
  EXPECT_TRUE(pauseChecked);
  EXPECT_TRUE(settingsBold);
  EXPECT_GE(ticksWhileOpen, 3);
  // Posted, not sent: nothing had arrived when TrackPopup returned.
  EXPECT_EQ(commandsRightAfter, 0u);
  EXPECT_EQ(dialog.Commands(), (std::vector<std::pair<unsigned, unsigned>>{{ID_TRAY_PAUSE, 0}}));
}

TEST_F(QtBackendTest, DismissedPopupChoosesNothing) {
  RecordingDialog dialog(IDD_DUMMY);
  dialog.onInit = [](RecordingDialog& d) { d.HideWindow(); };
  framework::Menu menu;
  ASSERT_TRUE(menu.LoadFromResource(IDR_TRAY_MENU));
  unsigned chosen = 1;
  RunWith(dialog, [&](QWidget&) {
    QTimer::singleShot(0, [&] { QTest::keyClick(backend.OpenPopup(), Qt::Key_Escape); });
    chosen = backend.TrackPopup(dialog.GetSafeHwnd(), *menu.SubMenu(2), TPM_RIGHTBUTTON, 0, 0);
    dialog.EndDialog(0);
  });
  EXPECT_EQ(chosen, 0u);
}

TEST_F(QtBackendTest, FileDialogAsksWithTheRequestAndKeepsTheCurrentDirectory) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString exe = dir.filePath(QStringLiteral("Tool.EXE"));
  QFile file(exe);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  const QString cwd = QDir::currentPath();

  RecordingDialog dialog(IDD_MANAGE_ASSIGN);
  framework::FileOpenRequest request;
  request.title = "監視するプログラムのファイル名を指定してください";
  request.filters = {{"実行形式ファイル(*.exe)", "*.exe"}, {"すべてのファイル(*.*)", "*.*"}};
  request.initialName = "*.exe";
  request.flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST;
  QString title;
  QStringList filters;
  QString selectedFilter;
  std::string path;
  bool accepted = false;
  bool cancelled = true;
  RunWith(dialog, [&](QWidget&) {
    QTimer::singleShot(0, [&] {
      auto* fd = qobject_cast<QFileDialog*>(backend.OpenFileDialog());
      ASSERT_NE(fd, nullptr);
      title = fd->windowTitle();
      filters = fd->nameFilters();
      selectedFilter = fd->selectedNameFilter();
      fd->setDirectory(dir.path());
      fd->selectFile(exe);
      static_cast<QDialog*>(fd)->accept();
    });
    accepted = backend.ShowFileOpen(dialog.GetSafeHwnd(), request, path);
    QTimer::singleShot(0, [&] { qobject_cast<QFileDialog*>(backend.OpenFileDialog())->reject(); });
    std::string unused;
    cancelled = !backend.ShowFileOpen(dialog.GetSafeHwnd(), request, unused);
    dialog.EndDialog(0);
  });
  EXPECT_EQ(title, QStringLiteral("監視するプログラムのファイル名を指定してください"));
  // The descriptions already name their patterns; nothing is added to them.
  EXPECT_EQ(filters, (QStringList{QStringLiteral("実行形式ファイル(*.exe)"), QStringLiteral("すべてのファイル(*.*)")}));
  EXPECT_EQ(selectedFilter, QStringLiteral("実行形式ファイル(*.exe)"));
  EXPECT_TRUE(accepted);
  EXPECT_EQ(QString::fromStdString(path), QFileInfo(exe).absoluteFilePath());
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(QDir::currentPath(), cwd);
}

TEST_F(QtBackendTest, PostedMessagesArriveInOrderAndNotAfterTheWindowIsGone) {
  RecordingDialog dialog(IDD_DUMMY);
  dialog.onInit = [](RecordingDialog& d) {
    d.HideWindow();
    d.PostToSelf(WM_USER, 1);
    d.PostToSelf(WM_USER, 2);
    d.PostToSelf(WM_COMMAND, IDOK);
    d.PostToSelf(WM_USER, 3);  // after OK: the window is gone before it could arrive
  };
  EXPECT_EQ(dialog.DoModal(), IDOK);
  Spin(20);
  const std::vector<Received> user = dialog.Of(WM_USER);
  ASSERT_EQ(user.size(), 2u);
  EXPECT_EQ(user[0].wParam, 1u);
  EXPECT_EQ(user[1].wParam, 2u);
  EXPECT_FALSE(backend.PostToWindow(0x1, WM_USER, 0, 0));
}

TEST_F(QtBackendTest, SessionEndAsksThenTellsTheMainWindowOnce) {
  RecordingDialog main(IDD_DUMMY);
  main.onInit = [](RecordingDialog& d) { d.HideWindow(); };
  framework::SetMainWindow(&main);
  RunWith(main, [&](QWidget&) {
    backend.EndSession();
    backend.EndSession();
    main.EndDialog(0);
  });
  std::vector<unsigned> order;
  for (const Received& r : main.received) {
    if (r.message == WM_QUERYENDSESSION || r.message == WM_ENDSESSION) order.push_back(r.message);
  }
  EXPECT_EQ(order, (std::vector<unsigned>{WM_QUERYENDSESSION, WM_ENDSESSION}));
  ASSERT_EQ(main.Of(WM_ENDSESSION).size(), 1u);
  EXPECT_EQ(main.Of(WM_ENDSESSION)[0].wParam, 1u);
}

int g_slot = -1;
extern "C" void OnTestSignal(int) { framework::Backend().TriggerAsync(g_slot); }

TEST_F(QtBackendTest, SignalHandlerRequestReachesTheMainWindowInsideNestedLoops) {
  RecordingDialog main(IDD_DUMMY);
  main.onInit = [](RecordingDialog& d) { d.HideWindow(); };
  framework::SetMainWindow(&main);
  g_slot = backend.AddAsyncAction([] {
    if (framework::CDialog* w = framework::MainWindow()) w->PostToSelf(WM_COMMAND, IDCANCEL);
  });
  ASSERT_GE(g_slot, 0);
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = OnTestSignal;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  int boxAnswer = 0;
  const int result = RunWith(main, [&](QWidget&) {
    // The signal comes while a box is open; the box stays until answered, then the main loop ends.
    QTimer::singleShot(10, [] { ::kill(::getpid(), SIGUSR1); });
    QTimer::singleShot(60, [&] { ButtonWithText(backend.OpenMessageBox(), QStringLiteral("OK"))->click(); });
    boxAnswer = main.ShowMessageBox("x", "Mavrin", MB_OK);
  });
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(boxAnswer, IDOK);
  EXPECT_FALSE(backend.TriggerAsync(-1));
}

TEST_F(QtBackendTest, WatchedDescriptorIsServedInsideNestedLoopsThroughTheEventLoopRole) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  framework::IEventLoop& loop = backend;
  ASSERT_TRUE(loop.WatchesDescriptors());
  std::string got;
  bool servedByTheBox = false;
  loop.WatchReadable(fds[0], [&] {
    char c = 0;
    if (::read(fds[0], &c, 1) == 1) got += c;
    if (got != "ab") return;
    // Still inside the box's own loop: answering it is what ends the test.
    if (QWidget* box = backend.OpenMessageBox()) {
      servedByTheBox = true;
      ButtonWithText(box, QStringLiteral("OK"))->click();
    }
  });
  RecordingDialog main(IDD_DUMMY);
  main.onInit = [](RecordingDialog& d) { d.HideWindow(); };
  QObject guard;
  RunWith(main, [&](QWidget&) {
    QTimer::singleShot(10, &guard, [&] { EXPECT_EQ(::write(fds[1], "ab", 2), 2); });
    QTimer::singleShot(5000, &guard, [&] {
      if (QWidget* box = backend.OpenMessageBox()) ButtonWithText(box, QStringLiteral("OK"))->click();
    });
    main.ShowMessageBox("x", "Mavrin", MB_OK);
    main.EndDialog(0);
  });
  EXPECT_EQ(got, "ab");
  EXPECT_TRUE(servedByTheBox);
  ::close(fds[1]);
  ::close(fds[0]);
}

}  // namespace
}  // namespace mavrin_test

namespace mavrin_test {
namespace {

// On Linux an executable has no suffix: the first file type shows what may be run, the second
// everything, and the dialog shows the program's own wording for both.
TEST_F(QtBackendTest, ExecutablesFilterShowsRunnableFilesAndAllFilesShowsEverything) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString tool = dir.filePath(QStringLiteral("tool"));
  const QString notes = dir.filePath(QStringLiteral("notes"));
  for (const QString& name : {tool, notes}) {
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  QFile(tool).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

  RecordingDialog dialog(IDD_MANAGE_ASSIGN);
  framework::FileOpenRequest request;
  request.title = "監視するプログラムのファイル名を指定してください";
  request.filters = {{"実行形式ファイル", ""}, {"すべてのファイル(*.*)", "*"}};
  request.flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST;
  bool toolShown[2] = {false, false};
  bool notesShown[2] = {true, false};
  bool detailsHidden = false;
  QStringList filters;
  std::string path;
  RunWith(dialog, [&](QWidget&) {
    QTimer::singleShot(0, [&] {
      auto* fd = qobject_cast<QFileDialog*>(backend.OpenFileDialog());
      ASSERT_NE(fd, nullptr);
      filters = fd->nameFilters();
      detailsHidden = fd->testOption(QFileDialog::HideNameFilterDetails);
      fd->setDirectory(dir.path());
      auto* files =
          fd->proxyModel() != nullptr ? qobject_cast<QFileSystemModel*>(fd->proxyModel()->sourceModel()) : nullptr;
      if (files == nullptr) {
        ADD_FAILURE() << "no executables filter on the dialog's model";
        fd->reject();
        return;
      }
      // Let the model read the folder.
      for (int i = 0; i < 200 && files->rowCount(files->index(dir.path())) < 2; ++i) QTest::qWait(10);
      auto shown = [&](const QString& name) { return fd->proxyModel()->mapFromSource(files->index(name)).isValid(); };
      toolShown[0] = shown(tool);
      notesShown[0] = shown(notes);
      fd->selectNameFilter(filters.at(1));
      emit fd->filterSelected(filters.at(1));
      toolShown[1] = shown(tool);
      notesShown[1] = shown(notes);
      // The name field has the focus by now, where selectFile leaves it alone: type the name.
      if (auto* name = fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) name->setText(QStringLiteral("tool"));
      static_cast<QDialog*>(fd)->accept();
    });
    EXPECT_TRUE(backend.ShowFileOpen(dialog.GetSafeHwnd(), request, path));
    dialog.EndDialog(0);
  });
  EXPECT_TRUE(detailsHidden);
  EXPECT_EQ(filters,
            (QStringList{QStringLiteral("実行形式ファイル (*)"), QStringLiteral("すべてのファイル(*.*) (*)")}));
  EXPECT_TRUE(toolShown[0]);
  EXPECT_FALSE(notesShown[0]);
  EXPECT_TRUE(toolShown[1]);
  EXPECT_TRUE(notesShown[1]);
  EXPECT_EQ(QString::fromStdString(path), QFileInfo(tool).absoluteFilePath());
}

}  // namespace
}  // namespace mavrin_test
