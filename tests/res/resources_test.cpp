// The resource data: ids, texts, layout and the icon.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "framework/defs.h"
#include "framework/icon.h"
#include "framework/menu.h"
#include "res/resources.h"
#include "tests/support/scoped_language.h"

using namespace framework;

namespace {

// The framework's loaders find this program's resources once the program installs them.
class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override { SetResources(&res::ProgramResources()); }
  void TearDown() override { SetResources(nullptr); }
};
using TextsTest = ResourcesTest;

const ControlTemplate* FindControl(int tplId, int id) {
  const DialogTemplate* tpl = res::FindDialogTemplate(tplId);
  if (tpl == nullptr) return nullptr;
  for (const ControlTemplate& c : tpl->controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

TEST_F(ResourcesTest, EveryTemplateAndControlIdIsThere) {
  for (int id : {IDD_ABOUTBOX, IDD_ASSIGN_LIST, IDD_DUMMY, IDD_CHANGE_CPU_ASSIGN, IDD_MANAGE_ASSIGN, IDD_STATUS}) {
    ASSERT_NE(res::FindDialogTemplate(id), nullptr) << id;
  }
  EXPECT_EQ(res::FindDialogTemplate(101), nullptr);
  EXPECT_EQ(res::DialogTemplates().size(), 6u);
  const std::pair<int, std::set<int>> expected[] = {
      {IDD_ABOUTBOX, {-1, IDC_ABOUT_VERSION, IDC_ABOUT_WEBPAGE, IDOK}},
      {IDD_ASSIGN_LIST,
       {IDC_UPDATE_LIST, IDCANCEL, IDC_CPU0, IDC_CPU1, IDC_CPU2, IDC_CPU3, IDC_CPU4, IDC_CPU5, IDC_CPU6, IDC_CPU7,
        IDC_WINDOW_LIST, IDC_PROCESS_LIST, IDC_MANAGE}},
      {IDD_DUMMY, {}},
      {IDD_CHANGE_CPU_ASSIGN,
       {IDC_TARGET_TEXT, IDOK, IDCANCEL, IDC_CPU0, IDC_CPU1, IDC_CPU2, IDC_CPU3, IDC_CPU4, IDC_CPU5, IDC_CPU6,
        IDC_CPU7}},
      {IDD_MANAGE_ASSIGN, {IDCANCEL, IDC_LIST_WATCH, IDC_BUTTON_NEW, -1, IDC_BUTTON_DELETE}},
      // The window without a notification area: every command of the tray menu, under the menu's ids.
      {IDD_STATUS,
       {-1, IDC_STATUS_STATE, IDC_STATUS_NOTE, ID_TRAY_PAUSE, ID_TRAY_OPEN_SETTINGS, ID_STATUS_DELETE_MENU,
        ID_STATUS_QUICK_MENU, ID_TRAY_ABOUT, ID_TRAY_EXIT}},
  };
  for (const auto& [tplId, ids] : expected) {
    std::set<int> have;
    for (const ControlTemplate& c : res::FindDialogTemplate(tplId)->controls) have.insert(c.id);
    EXPECT_EQ(have, ids) << tplId;
  }
}

TEST_F(ResourcesTest, KeyTextsAndStylesAreExact) {
  EXPECT_STREQ(res::FindString(IDS_ABOUTBOX), "バージョン情報 MavrinTest(&A)...");
  EXPECT_STREQ(res::FindDialogTemplate(IDD_ABOUTBOX)->caption, "Mavrin のバージョン情報");
  EXPECT_STREQ(res::FindDialogTemplate(IDD_MANAGE_ASSIGN)->caption, "Mavrin / Observation Settings");
  EXPECT_STREQ(FindControl(IDD_ABOUTBOX, IDC_ABOUT_VERSION)->text, "Version ");
  EXPECT_STREQ(FindControl(IDD_ABOUTBOX, IDC_ABOUT_WEBPAGE)->text, res::Text(res::TextId::kProductAddress));
  EXPECT_STREQ(FindControl(IDD_CHANGE_CPU_ASSIGN, IDCANCEL)->text, "キャンセル");
  EXPECT_STREQ(FindControl(IDD_ASSIGN_LIST, IDC_MANAGE)->text, "監視設定の管理(&M)");
  // The management dialog's static text, byte for byte: "．" and "，" are full-width.
  const char* help = nullptr;
  for (const ControlTemplate& c : res::FindDialogTemplate(IDD_MANAGE_ASSIGN)->controls) {
    if (c.kind == ControlKind::StaticText) help = c.text;
  }
  ASSERT_NE(help, nullptr);
  EXPECT_EQ(std::strncmp(help, "監視設定の管理画面です．\n\n・「新規追加」ボタンを押すと，", 52), 0);
  EXPECT_EQ(std::string(help).size(), 291u);

  // The styles by what the backends make of them: the tray window stays off the task bar, the About
  // box has a title and a close box, the management dialog a minimise box too and shows at once,
  // the quick change floats without a frame, the two lists select one row, keep it shown and sort
  // nothing when their header is clicked.
  constexpr std::uint32_t kWindowBits = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  EXPECT_EQ(res::FindDialogTemplate(IDD_DUMMY)->exStyle, static_cast<std::uint32_t>(WS_EX_TOOLWINDOW));
  EXPECT_EQ(res::FindDialogTemplate(IDD_ABOUTBOX)->style & kWindowBits, WS_CAPTION | WS_SYSMENU);
  EXPECT_EQ(res::FindDialogTemplate(IDD_MANAGE_ASSIGN)->style & kWindowBits, kWindowBits);
  EXPECT_EQ(res::FindDialogTemplate(IDD_CHANGE_CPU_ASSIGN)->exStyle, static_cast<std::uint32_t>(WS_EX_TOPMOST));
  EXPECT_EQ(res::FindDialogTemplate(IDD_CHANGE_CPU_ASSIGN)->style & (WS_CAPTION | WS_SYSMENU), 0u);
  constexpr std::uint32_t kListBits =
      WS_VISIBLE | WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER;
  EXPECT_EQ(FindControl(IDD_MANAGE_ASSIGN, IDC_LIST_WATCH)->style & kListBits, kListBits);
  EXPECT_EQ(FindControl(IDD_ASSIGN_LIST, IDC_PROCESS_LIST)->style & kListBits, kListBits);
  EXPECT_EQ(FindControl(IDD_ASSIGN_LIST, IDC_CPU4)->style & BS_TYPEMASK, static_cast<std::uint32_t>(BS_AUTO3STATE));
  EXPECT_EQ(FindControl(IDD_CHANGE_CPU_ASSIGN, IDC_CPU4)->style & BS_TYPEMASK,
            static_cast<std::uint32_t>(BS_AUTOCHECKBOX));
  EXPECT_STREQ(FindControl(IDD_CHANGE_CPU_ASSIGN, IDC_CPU6)->text, "CPU 6");
  EXPECT_EQ(FindControl(IDD_CHANGE_CPU_ASSIGN, IDOK)->style & BS_TYPEMASK,
            static_cast<std::uint32_t>(BS_DEFPUSHBUTTON));
  EXPECT_EQ(FindControl(IDD_ABOUTBOX, IDC_ABOUT_WEBPAGE)->style & SS_NOTIFY, static_cast<std::uint32_t>(SS_NOTIFY));
  for (const ControlTemplate& c : res::FindDialogTemplate(IDD_MANAGE_ASSIGN)->controls) {
    if (c.kind == ControlKind::PushButton) {
      EXPECT_EQ(c.style & BS_TYPEMASK, static_cast<std::uint32_t>(BS_PUSHBUTTON));
    }
  }
}

TEST_F(ResourcesTest, ControlsLieInsideTheirDialogAndDoNotOverlap) {
  for (const DialogTemplate* tpl : res::DialogTemplates()) {
    const auto& cs = tpl->controls;
    for (std::size_t i = 0; i < cs.size(); ++i) {
      const ControlTemplate& a = cs[i];
      EXPECT_GE(a.x, 0);
      EXPECT_GE(a.y, 0);
      EXPECT_LE(a.x + a.cx, tpl->cx) << tpl->id << " control " << i;
      EXPECT_LE(a.y + a.cy, tpl->cy) << tpl->id << " control " << i;
      for (std::size_t j = i + 1; j < cs.size(); ++j) {
        const ControlTemplate& b = cs[j];
        const bool overlap = a.x < b.x + b.cx && b.x < a.x + a.cx && a.y < b.y + b.cy && b.y < a.y + a.cy;
        // The About box's name label runs under the version text, as its layout has it.
        const bool known = tpl->id == IDD_ABOUTBOX && std::string(a.text) == "Mavrin" && b.id == IDC_ABOUT_VERSION;
        EXPECT_EQ(overlap, known) << tpl->id << ": controls " << i << " and " << j;
      }
    }
  }
}

// ---- the texts of both languages ----

using res::Language;
using res::TextId;

// "%s" and "%d" in order; "%%" is no placeholder.
std::string Placeholders(const char* text) {
  std::string found;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p != '%' || p[1] == '\0') continue;
    if (p[1] == 's' || p[1] == 'd') found += p[1];
    ++p;
  }
  return found;
}

// The mnemonic letter after a single "&", lower-cased; 0 when there is none.
char Mnemonic(const std::string& text) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (text[i + 1] == '&') {
      ++i;
      continue;
    }
    const char c = text[i + 1];
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  }
  return 0;
}

TEST_F(TextsTest, EveryRowHasBothLanguagesWithTheSamePlaceholdersAndEnglishIsAscii) {
  for (std::size_t i = 0; i < res::kTextCount; ++i) {
    const auto id = static_cast<TextId>(i);
    const char* ja = res::TextIn(Language::kJapanese, id);
    const char* en = res::TextIn(Language::kEnglish, id);
    SCOPED_TRACE(std::string("row ") + std::to_string(i) + ": " + en);
    EXPECT_NE(ja[0], '\0');
    EXPECT_NE(en[0], '\0');
    EXPECT_EQ(Placeholders(ja), Placeholders(en));
    EXPECT_EQ(Mnemonic(ja) != 0, Mnemonic(en) != 0);
    // The Windows edition hands English to the system's 8-bit calls in any code page.
    for (const char* p = en; *p != '\0'; ++p) EXPECT_LT(static_cast<unsigned char>(*p), 0x80u);
  }
  ScopedLanguage english(Language::kEnglish);
  EXPECT_STREQ(res::Text(TextId::kTrayExit), "E&xit");
  res::SetLanguage(Language::kJapanese);
  EXPECT_STREQ(res::Text(TextId::kTrayExit), "終了(&X)");
}

TEST_F(TextsTest, FillPutsArgumentsInOrderAndNeverReadsThemAsFormats) {
  EXPECT_EQ(res::Fill("%s and %d", {"/tmp/%s%d%%", "2"}), "/tmp/%s%d%% and 2");
  EXPECT_EQ(res::Fill("100%% of %s, %x", {}), "100% of , %x");  // a missing argument leaves nothing
  EXPECT_EQ(res::Fill(TextId::kTrayLeftOut, {"7"}), "… 他 7 件");
}

TEST_F(TextsTest, TheLanguageComesFromMavrinLangThenTheLocaleOfMessages) {
  constexpr Language ja = Language::kJapanese;
  constexpr Language en = Language::kEnglish;
  const auto fromEnv = [](const char* mavrin, const char* language, const char* all, const char* messages,
                          const char* lang) {
    return res::LanguageFromEnvironment(mavrin, language, all, messages, lang);
  };
  EXPECT_EQ(fromEnv(nullptr, nullptr, nullptr, nullptr, "ja_JP.UTF-8"), ja);
  EXPECT_EQ(fromEnv(nullptr, nullptr, nullptr, nullptr, "japanese"), en);  // no locale name of Japanese
  EXPECT_EQ(fromEnv(nullptr, nullptr, nullptr, nullptr, nullptr), en);
  EXPECT_EQ(fromEnv(nullptr, nullptr, "C", nullptr, "ja_JP.UTF-8"), en);
  EXPECT_EQ(fromEnv(nullptr, nullptr, "", "ja_JP.eucJP", "en_US.UTF-8"), ja);  // empty counts as unset
  EXPECT_EQ(fromEnv(nullptr, "fr:ja:en", nullptr, nullptr, "en_US.UTF-8"), ja);
  EXPECT_EQ(fromEnv(nullptr, "fr:de", nullptr, nullptr, "ja_JP.UTF-8"), en);
  EXPECT_EQ(fromEnv(nullptr, "C:ja", nullptr, nullptr, "ja_JP.UTF-8"), en);
  EXPECT_EQ(fromEnv("en", "ja", "ja_JP.UTF-8", nullptr, nullptr), en);
  EXPECT_EQ(fromEnv("fr", nullptr, nullptr, nullptr, "ja_JP.UTF-8"), ja);  // not ours: the locale decides

  // Windows: Japanese only for a Japanese interface on code page 932, never garbled elsewhere.
  EXPECT_EQ(res::LanguageForWindows(nullptr, 0x0411, 932), ja);
  EXPECT_EQ(res::LanguageForWindows(nullptr, 0x0411, 1252), en);
  EXPECT_EQ(res::LanguageForWindows(nullptr, 0x0409, 932), en);
  EXPECT_EQ(res::LanguageForWindows("ja", 0x0409, 1252), ja);
}

// A mnemonic used twice in one dialog or one menu makes its key reach only the first.
void ExpectUniqueMnemonics(const std::vector<std::string>& texts, const std::string& where) {
  std::set<char> seen;
  for (const std::string& text : texts) {
    const char m = Mnemonic(text);
    if (m != 0) {
      EXPECT_TRUE(seen.insert(m).second) << where << ": \"" << text << "\" repeats &" << m;
    }
  }
}

void ExpectMenuMnemonics(const Menu& menu, const std::string& where) {
  std::vector<std::string> texts;
  for (int i = 0; i < menu.ItemCount(); ++i) {
    const MenuItem* item = menu.ItemAt(i);
    if (!item->IsSeparator()) texts.push_back(item->text);
    if (item->IsPopup()) ExpectMenuMnemonics(*item->popup, where + " > " + item->text);
  }
  ExpectUniqueMnemonics(texts, where);
}

TEST_F(TextsTest, MnemonicsAreUniqueWithinEachDialogAndMenuInBothLanguages) {
  for (Language language : {Language::kJapanese, Language::kEnglish}) {
    ScopedLanguage scoped(language);
    for (const DialogTemplate* tpl : res::DialogTemplates()) {
      std::vector<std::string> texts;
      for (const ControlTemplate& c : tpl->controls) texts.push_back(c.text);
      ExpectUniqueMnemonics(texts, "dialog " + std::to_string(tpl->id));
    }
    Menu menu;
    ASSERT_TRUE(menu.LoadFromResource(IDR_TRAY_MENU));
    ExpectMenuMnemonics(menu, "menu 129");
  }
}

TEST_F(ResourcesTest, AppIconIsDrawnAtEachSizeAsAnOpaqueChip) {
  ASSERT_EQ(res::IconSizes(IDR_MAINFRAME).size(), 3u);
  IconImage none;
  EXPECT_FALSE(res::RenderIcon(IDR_MAINFRAME, 24, none));
  EXPECT_FALSE(res::RenderIcon(4711, 16, none));
  for (int size : {48, 32, 16}) {
    IconImage image;
    ASSERT_TRUE(res::RenderIcon(IDR_MAINFRAME, size, image));
    ASSERT_EQ(image.rgba.size(), static_cast<std::size_t>(size * size * 4));
    // Pixels are either clear or opaque (24-bit colour with a mask); the centre is the chip, the
    // corners are clear, and the lit core shows green.
    std::set<std::uint32_t> colours;
    bool green = false;
    for (std::size_t p = 0; p < image.rgba.size(); p += 4) {
      const std::uint8_t a = image.rgba[p + 3];
      EXPECT_TRUE(a == 0 || a == 255);
      if (a == 255) colours.insert(image.rgba[p] << 16 | image.rgba[p + 1] << 8 | image.rgba[p + 2]);
      if (a == 255 && image.rgba[p + 1] > 180 && image.rgba[p] < 100) green = true;
    }
    EXPECT_EQ(image.rgba[3], 0) << size;
    EXPECT_EQ(image.rgba[((size / 2) * size + size / 2) * 4 + 3], 255) << size;
    EXPECT_GE(colours.size(), 4u) << size;
    EXPECT_TRUE(green) << size;
  }
  // Loading picks the stored size, or scales the nearest one.
  EXPECT_EQ(LoadIconResource(IDR_MAINFRAME, 16).Width(), 16);
  EXPECT_EQ(LoadIconResource(IDR_MAINFRAME, 20).Image()->rgba.size(), 20u * 20u * 4u);
  EXPECT_TRUE(LoadIconResource(4711, 16).IsNull());
}

}  // namespace
