// Every text fits its control, in both languages: each dialog is rendered offscreen as it looks
// right after it opened (the program's own dialog classes, filled by the screenshot tool's small
// machine), and so are Qt's file dialog and a confirmation. A text wider or taller than the room
// its control gives it, which the user would see cut, fails.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStyleOptionButton>
#include <QStyleOptionHeader>
#include <QStyleOptionViewItem>
#include <QTreeView>
#include <QUrl>

#include "framework/qt/screenshot_dialogs.h"
#include "qt_test_support.h"
#include "res/resources.h"
#include "ui/manage_assign_dlg.h"

namespace mavrin_test {
namespace {

using framework::qt::StripMnemonics;

// What the user reads: a single "&" only marks the mnemonic. Plain-text labels show what they hold.
QString Shown(const QString& text, bool plain = false) { return plain ? text : StripMnemonics(text); }

std::string Describe(const QWidget& w, const QString& text, int need, int have, const char* what) {
  return std::string(w.metaObject()->className()) + " \"" + text.toStdString() + "\": needs " + std::to_string(need) +
         " px " + what + ", has " + std::to_string(have);
}

// Every text of window and its children that does not fit, one line each.
std::vector<std::string> CutTexts(QWidget& window) {
  std::vector<std::string> cuts;
  auto check = [&cuts](const QWidget& w, const QString& text, int need, int have, const char* what) {
    if (need > have) cuts.push_back(Describe(w, text, need, have, what));
  };
  QList<QWidget*> widgets = window.findChildren<QWidget*>();
  widgets.prepend(&window);
  for (QWidget* w : widgets) {
    if (!w->isVisibleTo(&window) && w != &window) continue;
    const QFontMetrics fm(w->font());
    const QStyle* style = w->style();
    if (auto* push = qobject_cast<QPushButton*>(w)) {
      if (push->text().isEmpty()) continue;
      QStyleOptionButton option;
      option.initFrom(push);
      const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, push);
      const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, &option, push);
      const int icon = push->icon().isNull() ? 0 : push->iconSize().width() + 4;
      const QString text = Shown(push->text());
      // As the style sizes a button for its contents, without its floor of 80 pixels.
      check(*push, text, fm.horizontalAdvance(text) + icon + margin + 2 * frame, push->width(), "wide");
      check(*push, text, fm.height() + 2 * frame, push->height(), "high");
    } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
      QStyleOptionButton option;
      option.initFrom(box);
      const QString text = Shown(box->text());
      const int indicator = style->pixelMetric(QStyle::PM_IndicatorWidth, &option, box) +
                            style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &option, box);
      check(*box, text, indicator + fm.horizontalAdvance(text), box->width(), "wide");
      check(*box, text, fm.height(), box->height(), "high");
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
      if (label->text().isEmpty()) continue;
      const QString text = Shown(label->text(), label->textFormat() == Qt::PlainText);
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
      if (places->model() == nullptr || qobject_cast<QComboBox*>(places->parentWidget()) != nullptr) continue;
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
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
      // The widest choice must fit once the box is open, its current one while it is closed.
      check(*combo, combo->currentText(), combo->minimumSizeHint().width(), combo->width(), "wide");
    }
  }
  // The title bar: the caption beside the window manager's icon and buttons, in its bold face.
  if (window.isWindow() && !window.windowTitle().isEmpty()) {
    QFont bold = window.font();
    bold.setBold(true);
    constexpr int kTitleBarButtons = 100;
    check(window, window.windowTitle(), QFontMetrics(bold).horizontalAdvance(window.windowTitle()) + kTitleBarButtons,
          window.width(), "wide");
  }
  return cuts;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& line : lines) all += "\n  " + line;
  return all;
}

struct Case {
  res::Language language;
  int templateId;
};

void PrintTo(const Case& c, std::ostream* out) {
  *out << (c.language == res::Language::kJapanese ? "Japanese" : "English") << " dialog " << c.templateId;
}

class TextFitTest : public QtBackendTest, public ::testing::WithParamInterface<Case> {};

TEST_P(TextFitTest, EveryTextOfTheDialogFitsItsControl) {
  const QtLanguage language(GetParam().language);
  std::unique_ptr<framework::CDialog> dialog = framework::qt::MakeScreenshotDialog(GetParam().templateId);
  std::vector<std::string> cuts;
  bool shown = false;
  RunWith(*dialog, [&](QWidget& window) {
    QCoreApplication::processEvents();
    cuts = CutTexts(window);
    shown = true;
    dialog->EndDialog(IDCANCEL);
  });
  EXPECT_TRUE(shown);
  EXPECT_TRUE(cuts.empty()) << Joined(cuts);
}

INSTANTIATE_TEST_SUITE_P(
    DialogsInBothLanguages, TextFitTest,
    ::testing::Values(Case{res::Language::kJapanese, IDD_ABOUTBOX}, Case{res::Language::kEnglish, IDD_ABOUTBOX},
                      Case{res::Language::kJapanese, IDD_ASSIGN_LIST}, Case{res::Language::kEnglish, IDD_ASSIGN_LIST},
                      Case{res::Language::kJapanese, IDD_DUMMY}, Case{res::Language::kEnglish, IDD_DUMMY},
                      Case{res::Language::kJapanese, IDD_CHANGE_CPU_ASSIGN},
                      Case{res::Language::kEnglish, IDD_CHANGE_CPU_ASSIGN},
                      Case{res::Language::kJapanese, IDD_MANAGE_ASSIGN}, Case{res::Language::kEnglish, IDD_MANAGE_ASSIGN}),
    [](const ::testing::TestParamInfo<Case>& info) {
      return std::string(info.param.language == res::Language::kJapanese ? "Japanese" : "English") +
             std::to_string(info.param.templateId);
    });

// Qt's own file dialog, asked as the watch-list manager asks it, and a confirmation: every text in
// the language chosen (Qt's from its catalogue), none cut.
class QtWindowsFitTest : public QtBackendTest, public ::testing::WithParamInterface<res::Language> {};

TEST_P(QtWindowsFitTest, FileDialogAndMessageBoxSpeakTheLanguageAndFit) {
  const QtLanguage language(GetParam());
  const bool japanese = GetParam() == res::Language::kJapanese;
  // Qt opens its list of places as wide as it was left last time; a narrow one must not cut them.
  QSettings qtSettings(QSettings::UserScope, QStringLiteral("QtProject"));
  qtSettings.setValue(QStringLiteral("FileDialog/sidebarWidth"), 40);
  qtSettings.setValue(QStringLiteral("FileDialog/shortcuts"),
                      QStringList{QStringLiteral("file:"), QUrl::fromLocalFile(QDir::homePath()).toString()});
  RecordingDialog owner(IDD_DUMMY);
  owner.onInit = [](RecordingDialog& d) { d.HideWindow(); };
  std::vector<std::string> cuts;
  QStringList buttons;
  QStringList columns;
  RunWith(owner, [&](QWidget&) {
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(backend.OpenFileDialog());
      ASSERT_NE(dialog, nullptr);
      QCoreApplication::processEvents();
      cuts = CutTexts(*dialog);
      for (QPushButton* b : dialog->findChildren<QPushButton*>()) buttons << StripMnemonics(b->text());
      if (auto* tree = dialog->findChild<QTreeView*>()) {
        for (int i = 0; i < tree->header()->count(); ++i) {
          columns << tree->model()->headerData(i, Qt::Horizontal).toString();
        }
      }
      dialog->reject();
    });
    std::string path;
    EXPECT_FALSE(backend.ShowFileOpen(owner.GetSafeHwnd(), WatchFileRequest(), path));

    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(backend.OpenMessageBox());
      ASSERT_NE(box, nullptr);
      QCoreApplication::processEvents();
      const std::vector<std::string> boxCuts = CutTexts(*box);
      cuts.insert(cuts.end(), boxCuts.begin(), boxCuts.end());
      box->reject();
    });
    owner.ShowMessageBox(res::Fill(res::TextId::kConfirmDelete, {"/usr/bin/video-encoder"}),
                         res::Text(res::TextId::kEditingCaption), MB_YESNO);
    owner.EndDialog(0);
  });
  EXPECT_TRUE(cuts.empty()) << Joined(cuts);
  // Qt's own words come from its catalogue in Japanese, and are Qt's English otherwise.
  EXPECT_TRUE(buttons.contains(japanese ? QStringLiteral("開く(O)") : QStringLiteral("Open")))
      << buttons.join(QLatin1Char('|')).toStdString();
  ASSERT_FALSE(columns.isEmpty());
  EXPECT_EQ(columns.front(), japanese ? QStringLiteral("名前") : QStringLiteral("Name"));
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, QtWindowsFitTest,
                         ::testing::Values(res::Language::kJapanese, res::Language::kEnglish),
                         [](const ::testing::TestParamInfo<res::Language>& info) {
                           return info.param == res::Language::kJapanese ? "Japanese" : "English";
                         });

}  // namespace
}  // namespace mavrin_test
