#include "res/resources.h"

#include <array>

#include "framework/defs.h"
#include "res/texts.h"

namespace res {
namespace {

using framework::ControlKind;
using framework::ControlTemplate;
using framework::DialogTemplate;
using framework::MenuItemTemplate;
using framework::MenuTemplate;

constexpr std::uint32_t kChild = WS_CHILD | WS_VISIBLE;
constexpr std::uint32_t kPush = kChild | WS_TABSTOP | BS_PUSHBUTTON;
constexpr std::uint32_t kDefPush = kChild | WS_TABSTOP | BS_DEFPUSHBUTTON;
constexpr std::uint32_t kCheck2 = kChild | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr std::uint32_t kCheck3 = kChild | WS_TABSTOP | BS_AUTO3STATE;
constexpr std::uint32_t kReportList =
    kChild | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_ALIGNLEFT | LVS_NOSORTHEADER;

// Each language has its own set of templates: the same layout, with the texts of that language
// and fonts that have its glyphs on the system the program was made for.
template <Language L>
constexpr const char* T(TextId id) {
  return TextIn(L, id);
}
template <Language L>
constexpr const char* kFixedFace = L == Language::kJapanese ? "ＭＳ ゴシック" : "MS Shell Dlg";
template <Language L>
constexpr const char* kUiFace = L == Language::kJapanese ? "MS UI Gothic" : "MS Shell Dlg";

// ---- 100: the About box ----
template <Language L>
constexpr ControlTemplate kAboutControls[] = {
    {-1, ControlKind::StaticIcon, "", 11, 11, 20, 20, kChild | SS_ICON, 0, IDR_MAINFRAME},
    {-1, ControlKind::StaticText, T<L>(TextId::kProgramName), 40, 14, 91, 8, kChild | WS_GROUP | SS_LEFT, 0, 0},
    {IDC_ABOUT_VERSION, ControlKind::StaticText, T<L>(TextId::kAboutVersion), 129, 14, 57, 8,
     kChild | SS_LEFT | SS_NOPREFIX, 0, 0},
    // The line and the address are wider than the classic layout had them, so that neither is cut
    // in any of the fonts the dialog may get; they still end left of the OK button's column.
    {-1, ControlKind::StaticText, T<L>(TextId::kAboutLine), 40, 32, 148, 8, kChild | SS_LEFT, 0, 0},
    {IDC_ABOUT_WEBPAGE, ControlKind::StaticText, T<L>(TextId::kProductAddress), 40, 46, 148, 8,
     kChild | SS_LEFT | SS_NOTIFY, 0, 0},
    {IDOK, ControlKind::PushButton, T<L>(TextId::kButtonOk), 192, 14, 50, 16, kDefPush | WS_GROUP, 0, 0},
};
template <Language L>
constexpr DialogTemplate kAbout{IDD_ABOUTBOX,     T<L>(TextId::kAboutCaption), 249, 61, 0x80C800C0u, 0, kUiFace<L>, 9,
                                kAboutControls<L>};

// ---- 102: the settings dialog ----
template <Language L>
constexpr ControlTemplate kAssignListControls[] = {
    {IDC_UPDATE_LIST, ControlKind::PushButton, T<L>(TextId::kSettingsUpdate), 7, 7, 72, 16, kPush, 0, 0},
    {IDCANCEL, ControlKind::PushButton, T<L>(TextId::kButtonClose), 387, 7, 50, 16, kPush, 0, 0},
    {IDC_CPU0, ControlKind::CheckBox, T<L>(TextId::kCpu0), 392, 33, 36, 10, kCheck3, 0, 0},
    {IDC_CPU1, ControlKind::CheckBox, T<L>(TextId::kCpu1), 392, 53, 36, 10, kCheck3, 0, 0},
    {IDC_CPU2, ControlKind::CheckBox, T<L>(TextId::kCpu2), 392, 71, 36, 10, kCheck3, 0, 0},
    {IDC_CPU3, ControlKind::CheckBox, T<L>(TextId::kCpu3), 392, 91, 36, 10, kCheck3, 0, 0},
    {IDC_CPU4, ControlKind::CheckBox, T<L>(TextId::kCpu4), 392, 109, 36, 10, kCheck3, 0, 0},
    {IDC_CPU5, ControlKind::CheckBox, T<L>(TextId::kCpu5), 392, 129, 36, 10, kCheck3, 0, 0},
    {IDC_CPU6, ControlKind::CheckBox, T<L>(TextId::kCpu6), 392, 147, 36, 10, kCheck3, 0, 0},
    {IDC_CPU7, ControlKind::CheckBox, T<L>(TextId::kCpu7), 392, 167, 36, 10, kCheck3, 0, 0},
    {IDC_WINDOW_LIST, ControlKind::ListView, "", 7, 33, 174, 184, kReportList, 0, 0},
    {IDC_PROCESS_LIST, ControlKind::ListView, "", 192, 33, 188, 184, kReportList, 0, 0},
    {IDC_MANAGE, ControlKind::PushButton, T<L>(TextId::kSettingsManage), 90, 7, 80, 16, kPush, 0, 0},
};
template <Language L>
constexpr DialogTemplate kAssignList{
    IDD_ASSIGN_LIST,       T<L>(TextId::kProgramName), 444, 224, 0x90CA00C0u, WS_EX_APPWINDOW, kFixedFace<L>, 9,
    kAssignListControls<L>};

// ---- 130: the hidden tray window ----
template <Language L>
constexpr DialogTemplate kDummy{
    IDD_DUMMY, T<L>(TextId::kProgramName), 186, 90, 0x80C800C8u, WS_EX_TOOLWINDOW, "MS Shell Dlg", 8, {}};

// ---- 131: the change-assignment dialog ----
template <Language L>
constexpr ControlTemplate kChangeCpuControls[] = {
    {IDC_TARGET_TEXT, ControlKind::Edit, "", 7, 7, 155, 14,
     kChild | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL | ES_READONLY, 0, 0},
    {IDOK, ControlKind::PushButton, T<L>(TextId::kButtonOk), 112, 27, 50, 14, kDefPush, 0, 0},
    {IDCANCEL, ControlKind::PushButton, T<L>(TextId::kButtonCancel), 112, 44, 50, 14, kPush, 0, 0},
    {IDC_CPU0, ControlKind::CheckBox, T<L>(TextId::kCpu0), 7, 27, 36, 9, kCheck2, 0, 0},
    {IDC_CPU1, ControlKind::CheckBox, T<L>(TextId::kCpu1), 7, 44, 36, 9, kCheck2, 0, 0},
    {IDC_CPU2, ControlKind::CheckBox, T<L>(TextId::kCpu2), 7, 62, 36, 9, kCheck2, 0, 0},
    {IDC_CPU3, ControlKind::CheckBox, T<L>(TextId::kCpu3), 7, 78, 36, 9, kCheck2, 0, 0},
    {IDC_CPU4, ControlKind::CheckBox, T<L>(TextId::kCpu4), 51, 27, 36, 9, kCheck2, 0, 0},
    {IDC_CPU5, ControlKind::CheckBox, T<L>(TextId::kCpu5), 51, 44, 36, 9, kCheck2, 0, 0},
    {IDC_CPU6, ControlKind::CheckBox, T<L>(TextId::kCpu6), 51, 62, 36, 9, kCheck2, 0, 0},
    {IDC_CPU7, ControlKind::CheckBox, T<L>(TextId::kCpu7), 51, 78, 36, 9, kCheck2, 0, 0},
};
template <Language L>
constexpr DialogTemplate kChangeCpu{
    IDD_CHANGE_CPU_ASSIGN, "", 169, 94, WS_POPUP | DS_MODALFRAME | DS_SHELLFONT, WS_EX_TOPMOST, "MS Shell Dlg", 8,
    kChangeCpuControls<L>};

// ---- 132: the watch-list management dialog ----
template <Language L>
constexpr ControlTemplate kManageControls[] = {
    {IDCANCEL, ControlKind::PushButton, T<L>(TextId::kButtonClose), 358, 7, 50, 16, 0x50010000u, 0, 0},
    {IDC_LIST_WATCH, ControlKind::ListView, "", 7, 95, 401, 168, 0x5081880Du, 0, 0},
    {IDC_BUTTON_NEW, ControlKind::PushButton, T<L>(TextId::kManageNew), 7, 7, 59, 16, 0x50010000u, 0, 0},
    {-1, ControlKind::StaticText, T<L>(TextId::kManageHelp), 7, 33, 401, 51, 0x50021000u, 0, 0},
    {IDC_BUTTON_DELETE, ControlKind::PushButton, T<L>(TextId::kManageDelete), 73, 7, 45, 16, 0x50010000u, 0, 0},
};
template <Language L>
constexpr DialogTemplate kManage{
    IDD_MANAGE_ASSIGN, T<L>(TextId::kManageCaption), 415, 270, 0x90CA00C0u, WS_EX_APPWINDOW, kFixedFace<L>, 9,
    kManageControls<L>};

// ---- 133: the program's window where the desktop has no notification area ----
// An ordinary window with a task-bar button, so that it can be minimised and found again.
template <Language L>
constexpr ControlTemplate kStatusControls[] = {
    {-1, ControlKind::StaticIcon, "", 7, 7, 20, 20, kChild | SS_ICON, 0, IDR_MAINFRAME},
    {IDC_STATUS_STATE, ControlKind::StaticText, T<L>(TextId::kStatusObserving), 34, 8, 172, 9,
     kChild | SS_LEFT | SS_NOPREFIX, 0, 0},
    {IDC_STATUS_NOTE, ControlKind::StaticText, T<L>(TextId::kStatusNote), 34, 20, 172, 18,
     kChild | SS_LEFT | SS_NOPREFIX, 0, 0},
    {ID_TRAY_PAUSE, ControlKind::CheckBox, T<L>(TextId::kTrayPause), 7, 42, 199, 10, kCheck2, 0, 0},
    {ID_TRAY_OPEN_SETTINGS, ControlKind::PushButton, T<L>(TextId::kTrayOpenSettings), 7, 58, 98, 16, kDefPush, 0, 0},
    {ID_STATUS_DELETE_MENU, ControlKind::PushButton, T<L>(TextId::kStatusDeleteMenu), 108, 58, 98, 16, kPush, 0, 0},
    {ID_STATUS_QUICK_MENU, ControlKind::PushButton, T<L>(TextId::kStatusQuickMenu), 7, 78, 199, 16, kPush, 0, 0},
    {ID_TRAY_ABOUT, ControlKind::PushButton, T<L>(TextId::kTrayAbout), 7, 98, 98, 16, kPush, 0, 0},
    {ID_TRAY_EXIT, ControlKind::PushButton, T<L>(TextId::kTrayExit), 108, 98, 98, 16, kPush, 0, 0},
};
template <Language L>
constexpr DialogTemplate kStatus{
    IDD_STATUS,
    T<L>(TextId::kProgramName),
    213,
    121,
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_SETFONT,
    WS_EX_APPWINDOW,
    kUiFace<L>,
    9,
    kStatusControls<L>};

template <Language L>
constexpr const DialogTemplate* kDialogs[] = {&kAbout<L>,     &kAssignList<L>, &kDummy<L>,
                                              &kChangeCpu<L>, &kManage<L>,     &kStatus<L>};

// ---- 129: the tray menu and the settings dialog's two list popups ----
// The placeholders and the information items are replaced before a menu is shown.
constexpr MenuItemTemplate kDeleteItems[] = {{"dummy", ID_TRAY_DELETE_DUMMY, MF_STRING, {}}};
constexpr MenuItemTemplate kWindowItems[] = {{"dummy", ID_TRAY_WINDOW_DUMMY, MF_STRING, {}}};
constexpr MenuItemTemplate kProcessItems[] = {{"dummy", ID_TRAY_PROCESS_DUMMY, MF_STRING, {}}};
template <Language L>
constexpr MenuItemTemplate kQuickItems[] = {
    {T<L>(TextId::kTrayWindows), 0, MF_POPUP, kWindowItems},
    {T<L>(TextId::kTrayProcesses), 0, MF_POPUP, kProcessItems},
};
template <Language L>
constexpr MenuItemTemplate kTrayItems[] = {
    {T<L>(TextId::kTrayOpenSettings), ID_TRAY_OPEN_SETTINGS, MF_STRING, {}},
    {"", 0, MF_SEPARATOR, {}},
    {T<L>(TextId::kTrayPause), ID_TRAY_PAUSE, MF_STRING, {}},
    {T<L>(TextId::kTrayDelete), 0, MF_POPUP, kDeleteItems},
    {T<L>(TextId::kTrayQuickChange), 0, MF_POPUP, kQuickItems<L>},
    {"", 0, MF_SEPARATOR, {}},
    {T<L>(TextId::kTrayAbout), ID_TRAY_ABOUT, MF_STRING, {}},
    {T<L>(TextId::kTrayExit), ID_TRAY_EXIT, MF_STRING, {}},
};
template <Language L>
constexpr MenuItemTemplate kWindowListItems[] = {
    {T<L>(TextId::kListAddCurrent), ID_WINDOWLIST_ADD, MF_STRING, {}},
    {"", 0, MF_SEPARATOR, {}},
    {"window name", ID_WINDOWLIST_WINDOW_NAME, MF_STRING | MF_GRAYED, {}},
    {"process name", ID_WINDOWLIST_PROCESS_NAME, MF_STRING | MF_GRAYED, {}},
};
template <Language L>
constexpr MenuItemTemplate kProcessListItems[] = {
    {T<L>(TextId::kListAddCurrent), ID_PROCESSLIST_ADD, MF_STRING, {}},
    {"", 0, MF_SEPARATOR, {}},
    {"process name", ID_PROCESSLIST_PROCESS_NAME, MF_STRING | MF_GRAYED, {}},
};
template <Language L>
constexpr MenuItemTemplate kMenuBar[] = {
    {"&TrayMenu", 0, MF_POPUP, kTrayItems<L>},
    {"WindowListPopupMenu", 0, MF_POPUP, kWindowListItems<L>},
    {"ProcessListPopupMenu", 0, MF_POPUP, kProcessListItems<L>},
};
template <Language L>
constexpr MenuTemplate kTrayMenu{IDR_TRAY_MENU, kMenuBar<L>};

bool Japanese() { return CurrentLanguage() == Language::kJapanese; }

constexpr int kIconSizes[] = {48, 32, 16};

}  // namespace

std::span<const framework::DialogTemplate* const> DialogTemplates() {
  if (Japanese()) return kDialogs<Language::kJapanese>;
  return kDialogs<Language::kEnglish>;
}

const framework::DialogTemplate* FindDialogTemplate(int id) {
  for (const DialogTemplate* tpl : DialogTemplates()) {
    if (tpl->id == id) return tpl;
  }
  return nullptr;
}

const framework::MenuTemplate* FindMenuTemplate(int id) {
  if (id != IDR_TRAY_MENU) return nullptr;
  return Japanese() ? &kTrayMenu<Language::kJapanese> : &kTrayMenu<Language::kEnglish>;
}

const char* FindString(int id) { return id == IDS_ABOUTBOX ? Text(TextId::kAboutMenuItem) : nullptr; }

std::span<const int> IconSizes(int id) {
  if (id == IDR_MAINFRAME) return kIconSizes;
  return {};
}

namespace {

class ProgramResourceProvider final : public framework::IResourceProvider {
 public:
  const framework::DialogTemplate* FindDialogTemplate(int id) const override { return res::FindDialogTemplate(id); }
  const framework::MenuTemplate* FindMenuTemplate(int id) const override { return res::FindMenuTemplate(id); }
  const char* FindString(int id) const override { return res::FindString(id); }
  std::span<const int> IconSizes(int id) const override { return res::IconSizes(id); }
  bool RenderIcon(int id, int size, framework::IconImage& out) const override { return res::RenderIcon(id, size, out); }
  const char* Text(framework::BackendText text) const override {
    switch (text) {
      case framework::BackendText::kErrorCaption: return res::Text(TextId::kErrorCaption);
      case framework::BackendText::kButtonOk: return res::Text(TextId::kButtonOk);
      case framework::BackendText::kButtonCancel: return res::Text(TextId::kButtonCancel);
      case framework::BackendText::kButtonYes: return res::Text(TextId::kButtonYes);
      case framework::BackendText::kButtonNo: return res::Text(TextId::kButtonNo);
      case framework::BackendText::kSystemMenuMinimize: return res::Text(TextId::kSystemMenuMinimize);
      case framework::BackendText::kSystemMenuClose: return res::Text(TextId::kSystemMenuClose);
    }
    return "";
  }
  const char* LanguageCode() const override { return CurrentLanguage() == Language::kJapanese ? "ja" : "en"; }
};

}  // namespace

const framework::IResourceProvider& ProgramResources() {
  static const ProgramResourceProvider provider;
  return provider;
}

}  // namespace res
