// Every text fits its control, in both languages: each dialog is rendered offscreen as it looks
// right after it opened (the program's own dialog classes, filled by the screenshot tool's small
// machine), and so are Qt's file dialog and a confirmation. A text wider or taller than the room
// its control gives it, which the user would see cut, fails.
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStyleOptionButton>
#include <QStyleOptionHeader>
#include <QStyleOptionViewItem>
#include <QTreeView>
#include <QUrl>

#include "app/assign_app.h"
#include "engine/console_message_boxes.h"
#include "framework/qt/screenshot_dialogs.h"
#include "platform/fake/fake_instance_guard.h"
#include "platform/fake/fake_system.h"
#include "platform/linux/ini_file.h"
#include "qt_test_support.h"
#include "res/resources.h"
#include "ui/assign_list_dlg.h"
#include "ui/change_cpu_assign_dlg.h"
#include "ui/manage_assign_dlg.h"

namespace mavrin_test {
namespace {

using framework::qt::StripMnemonics;

// Every text of window's controls that does not fit, one line each. What the user reads: a single
// "&" only marks the mnemonic; plain-text labels show what they hold.
std::string CutTexts(QWidget& window) {
  std::string cuts;
  auto check = [&cuts](const QWidget& w, const QString& text, int need, int have, const char* what) {
    if (need <= have) return;
    cuts += std::string("\n  ") + w.metaObject()->className() + " \"" + text.toStdString() + "\": needs " +
            std::to_string(need) + " px " + what + ", has " + std::to_string(have);
  };
  for (QWidget* w : window.findChildren<QWidget*>()) {
    if (!w->isVisibleTo(&window)) continue;
    const QFontMetrics fm(w->font());
    const QStyle* style = w->style();
    if (auto* push = qobject_cast<QPushButton*>(w)) {
      if (push->text().isEmpty()) continue;
      QStyleOptionButton option;
      option.initFrom(push);
      const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, push);
      const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, &option, push);
      const int icon = push->icon().isNull() ? 0 : push->iconSize().width() + 4;
      const QString text = StripMnemonics(push->text());
      // As the style sizes a button for its contents, without its floor of 80 pixels.
      check(*push, text, fm.horizontalAdvance(text) + icon + margin + 2 * frame, push->width(), "wide");
      check(*push, text, fm.height() + 2 * frame, push->height(), "high");
    } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
      QStyleOptionButton option;
      option.initFrom(box);
      const QString text = StripMnemonics(box->text());
      const int indicator = style->pixelMetric(QStyle::PM_IndicatorWidth, &option, box) +
                            style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &option, box);
      check(*box, text, indicator + fm.horizontalAdvance(text), box->width(), "wide");
      check(*box, text, fm.height(), box->height(), "high");
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
      if (label->text().isEmpty()) continue;
      const QString text = label->textFormat() == Qt::PlainText ? label->text() : StripMnemonics(label->text());
      const QRect room = label->contentsRect();
      if (label->wordWrap()) {
        check(*label, text, label->heightForWidth(label->width()), label->height(), "high");
        for (const QString& word : text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
          check(*label, word, fm.horizontalAdvance(word), room.width(), "wide");
        }
      } else {
        const QStringList lines = text.split(QLatin1Char('\n'));
        for (const QString& line : lines) check(*label, line, fm.horizontalAdvance(line), room.width(), "wide");
        check(*label, text, static_cast<int>(lines.size()) * fm.lineSpacing() - fm.leading(), room.height(), "high");
      }
    } else if (auto* header = qobject_cast<QHeaderView*>(w)) {
      if (header->model() == nullptr) continue;
      QStyleOptionHeader option;
      option.initFrom(header);
      const int margin = style->pixelMetric(QStyle::PM_HeaderMargin, &option, header);
      const int mark = style->pixelMetric(QStyle::PM_HeaderMarkSize, &option, header);
      for (int i = 0; i < header->count(); ++i) {
        if (header->isSectionHidden(i)) continue;
        const QString text = header->model()->headerData(i, header->orientation()).toString();
        // A sortable header keeps room for its arrow beside the text.
        const int arrow = header->isSortIndicatorShown() && header->sortIndicatorSection() == i ? mark + margin : 0;
        check(*header, text, fm.horizontalAdvance(text) + 2 * margin + arrow, header->sectionSize(i), "wide");
      }
    } else if (auto* places = qobject_cast<QListView*>(w)) {
      // A list of a window's own entries (the file dialog's places): each must be readable whole.
      // Lists of the user's data (window titles, paths) are not ours to fit.
      if (places->model() == nullptr) continue;
      // The room the view's delegate asks for each entry, icon and margins included.
      QStyleOptionViewItem option;
      option.initFrom(places);
      option.font = places->font();
      const int small = style->pixelMetric(QStyle::PM_SmallIconSize, nullptr, places);
      option.decorationSize = places->iconSize().isValid() ? places->iconSize() : QSize(small, small);
      for (int row = 0; row < places->model()->rowCount(places->rootIndex()); ++row) {
        const QModelIndex index = places->model()->index(row, 0, places->rootIndex());
        check(*places, index.data().toString(), places->itemDelegate()->sizeHint(option, index).width(),
              places->visualRect(index).width(), "wide");
      }
    }
  }
  return cuts;
}

using Language = res::Language;
std::string Name(Language language) { return language == Language::kJapanese ? "Japanese" : "English"; }

class TextFitTest : public QtBackendTest, public ::testing::WithParamInterface<std::tuple<Language, int>> {};

TEST_P(TextFitTest, EveryTextOfTheDialogFitsItsControl) {
  const QtLanguage language(std::get<0>(GetParam()));
  std::unique_ptr<framework::CDialog> dialog = framework::qt::MakeScreenshotDialog(std::get<1>(GetParam()));
  std::string cuts = "<never shown>";
  RunWith(*dialog, [&](QWidget& window) {
    QCoreApplication::processEvents();
    cuts = CutTexts(window);
    dialog->EndDialog(IDCANCEL);
  });
  EXPECT_EQ(cuts, "");
}

INSTANTIATE_TEST_SUITE_P(DialogsInBothLanguages, TextFitTest,
                         ::testing::Combine(::testing::Values(Language::kJapanese, Language::kEnglish),
                                            ::testing::Values(IDD_ABOUTBOX, IDD_ASSIGN_LIST, IDD_DUMMY,
                                                              IDD_CHANGE_CPU_ASSIGN, IDD_MANAGE_ASSIGN)),
                         [](const auto& info) {
                           return Name(std::get<0>(info.param)) + std::to_string(std::get<1>(info.param));
                         });

// The boxes a machine of 1024 processors adds (the longest numbers there are) and the preset button,
// in both dialogs that have boxes.
class LargestMachineFitTest : public TextFitTest {};

TEST_P(LargestMachineFitTest, BoxesAndThePresetButtonFit) {
  const int templateId = std::get<1>(GetParam());
  const QtLanguage language(std::get<0>(GetParam()));
  platform::FakeSystem system;
  system.processorCount = 1024;
  system.AddProcess(10, "/usr/bin/encoder", 0x1);
  ConsoleMessageBoxes boxes(nullptr);
  platform::FakeInstanceRegistry registry;
  platform::FakeInstanceGuard guard{registry};
  platform::IniFile settings{"/nonexistent/mavrin-text-fit/mavrin.ini"};
  CAssignApp app(CAssignApp::Services{system, boxes, guard, settings, nullptr, "/dev/null", nullptr, nullptr});
  std::unique_ptr<framework::CDialog> dialog;
  if (templateId == IDD_ASSIGN_LIST) {
    dialog = std::make_unique<CAssignListDlg>(app);
  } else {
    dialog = std::make_unique<CChangeCpuAssignDlg>(app);
    static_cast<CChangeCpuAssignDlg&>(*dialog).targetText = "/usr/bin/encoder";
  }
  std::string cuts = "<never shown>";
  RunWith(*dialog, [&](QWidget& window) {
    QCoreApplication::processEvents();
    ASSERT_NE(backend.ControlWidget(dialog->GetSafeHwnd(), IDC_CPU_MORE_BASE + 1023), nullptr);
    cuts = CutTexts(window);
    dialog->EndDialog(IDCANCEL);
  });
  EXPECT_EQ(cuts, "");
}

INSTANTIATE_TEST_SUITE_P(DialogsWithBoxes, LargestMachineFitTest,
                         ::testing::Combine(::testing::Values(Language::kJapanese, Language::kEnglish),
                                            ::testing::Values(IDD_ASSIGN_LIST, IDD_CHANGE_CPU_ASSIGN)),
                         [](const auto& info) {
                           return Name(std::get<0>(info.param)) + std::to_string(std::get<1>(info.param));
                         });

// Qt's own file dialog, asked as the watch-list manager asks it, and a confirmation: every text in
// the language chosen (Qt's from its catalogue), none cut.
class QtWindowsFitTest : public QtBackendTest, public ::testing::WithParamInterface<Language> {};

TEST_P(QtWindowsFitTest, FileDialogAndMessageBoxSpeakTheLanguageAndFit) {
  const QtLanguage language(GetParam());
  const bool japanese = GetParam() == Language::kJapanese;
  // Qt opens its list of places as wide as it was left last time; a narrow one must not cut them.
  QSettings qtSettings(QSettings::UserScope, QStringLiteral("QtProject"));
  qtSettings.setValue(QStringLiteral("FileDialog/sidebarWidth"), 40);
  qtSettings.setValue(QStringLiteral("FileDialog/shortcuts"),
                      QStringList{QStringLiteral("file:"), QUrl::fromLocalFile(QDir::homePath()).toString()});
  RecordingDialog owner(IDD_DUMMY);
  owner.onInit = [](RecordingDialog& d) { d.HideWindow(); };
  std::string cuts = "<never shown>";
  QStringList buttons;
  QString firstColumn;
  RunWith(owner, [&](QWidget&) {
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(backend.OpenFileDialog());
      ASSERT_NE(dialog, nullptr);
      QCoreApplication::processEvents();
      cuts = CutTexts(*dialog);
      for (QPushButton* b : dialog->findChildren<QPushButton*>()) buttons << StripMnemonics(b->text());
      if (auto* tree = dialog->findChild<QTreeView*>())
        firstColumn = tree->model()->headerData(0, Qt::Horizontal).toString();
      dialog->reject();
    });
    std::string path;
    EXPECT_FALSE(backend.ShowFileOpen(owner.GetSafeHwnd(), WatchFileRequest(), path));
    QTimer::singleShot(0, [&] {
      QWidget* box = backend.OpenMessageBox();
      ASSERT_NE(box, nullptr);
      QCoreApplication::processEvents();
      cuts += CutTexts(*box);
      box->close();
    });
    owner.ShowMessageBox(res::Fill(res::TextId::kConfirmDelete, {"/usr/bin/video-encoder"}), "mavrin", MB_YESNO);
    owner.EndDialog(0);
  });
  EXPECT_EQ(cuts, "");
  // Qt's own words come from its catalogue in Japanese, and are Qt's English otherwise.
  EXPECT_TRUE(buttons.contains(japanese ? QStringLiteral("開く(O)") : QStringLiteral("Open")))
      << buttons.join(QLatin1Char('|')).toStdString();
  EXPECT_EQ(firstColumn, japanese ? QStringLiteral("名前") : QStringLiteral("Name"));
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, QtWindowsFitTest, ::testing::Values(Language::kJapanese, Language::kEnglish),
                         [](const auto& info) { return Name(info.param); });

}  // namespace
}  // namespace mavrin_test
