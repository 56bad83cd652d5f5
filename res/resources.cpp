#include "res/resources.h"

#include <array>

#include "framework/defs.h"

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

// ---- 100: the About box ----
constexpr ControlTemplate kAboutControls[] = {
    {-1, ControlKind::StaticIcon, "", 11, 11, 20, 20, kChild | SS_ICON, 0, IDR_MAINFRAME},
    {-1, ControlKind::StaticText, "Mavrin", 40, 14, 91, 8, kChild | WS_GROUP | SS_LEFT, 0, 0},
    {IDC_ABOUT_VERSION, ControlKind::StaticText, "Version ", 129, 14, 57, 8, kChild | SS_LEFT | SS_NOPREFIX, 0, 0},
    // The line and the address are wider than the classic layout had them, so that neither is cut
    // in any of the fonts the dialog may get; they still end left of the OK button's column.
    {-1, ControlKind::StaticText, kAboutLine, 40, 32, 148, 8, kChild | SS_LEFT, 0, 0},
    {IDC_ABOUT_WEBPAGE, ControlKind::StaticText, kProductAddress, 40, 46, 148, 8, kChild | SS_LEFT | SS_NOTIFY, 0, 0},
    {IDOK, ControlKind::PushButton, "OK", 192, 14, 50, 16, kDefPush | WS_GROUP, 0, 0},
};
constexpr DialogTemplate kAbout{IDD_ABOUTBOX, "Mavrin のバージョン情報", 249, 61, 0x80C800C0u, 0, "MS UI Gothic", 9,
                                kAboutControls};

// ---- 102: the settings dialog ----
constexpr ControlTemplate kAssignListControls[] = {
    {IDC_UPDATE_LIST, ControlKind::PushButton, "リストの更新(&U)", 7, 7, 72, 16, kPush, 0, 0},
    {IDCANCEL, ControlKind::PushButton, "閉じる(&X)", 387, 7, 50, 16, kPush, 0, 0},
    {IDC_CPU0, ControlKind::CheckBox, "CPU 0", 392, 33, 36, 10, kCheck3, 0, 0},
    {IDC_CPU1, ControlKind::CheckBox, "CPU 1", 392, 53, 36, 10, kCheck3, 0, 0},
    {IDC_CPU2, ControlKind::CheckBox, "CPU 2", 392, 71, 36, 10, kCheck3, 0, 0},
    {IDC_CPU3, ControlKind::CheckBox, "CPU 3", 392, 91, 36, 10, kCheck3, 0, 0},
    {IDC_CPU4, ControlKind::CheckBox, "CPU 4", 392, 109, 36, 10, kCheck3, 0, 0},
    {IDC_CPU5, ControlKind::CheckBox, "CPU 5", 392, 129, 36, 10, kCheck3, 0, 0},
    {IDC_CPU6, ControlKind::CheckBox, "CPU 6", 392, 147, 36, 10, kCheck3, 0, 0},
    {IDC_CPU7, ControlKind::CheckBox, "CPU 7", 392, 167, 36, 10, kCheck3, 0, 0},
    {IDC_WINDOW_LIST, ControlKind::ListView, "", 7, 33, 174, 184, kReportList, 0, 0},
    {IDC_PROCESS_LIST, ControlKind::ListView, "", 192, 33, 188, 184, kReportList, 0, 0},
    {IDC_MANAGE, ControlKind::PushButton, "監視設定の管理(&M)", 90, 7, 80, 16, kPush, 0, 0},
};
constexpr DialogTemplate kAssignList{IDD_ASSIGN_LIST, "Mavrin", 444, 224, 0x90CA00C0u, WS_EX_APPWINDOW, "ＭＳ ゴシック", 9,
                                     kAssignListControls};

// ---- 130: the hidden tray window ----
constexpr DialogTemplate kDummy{IDD_DUMMY, "Mavrin", 186, 90, 0x80C800C8u, WS_EX_TOOLWINDOW, "MS Shell Dlg", 8, {}};

// ---- 131: the change-assignment dialog ----
constexpr ControlTemplate kChangeCpuControls[] = {
    {IDC_TARGET_TEXT, ControlKind::Edit, "", 7, 7, 155, 14,
     kChild | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL | ES_READONLY, 0, 0},
    {IDOK, ControlKind::PushButton, "OK", 112, 27, 50, 14, kDefPush, 0, 0},
    {IDCANCEL, ControlKind::PushButton, "キャンセル", 112, 44, 50, 14, kPush, 0, 0},
    {IDC_CPU0, ControlKind::CheckBox, "CPU 0", 7, 27, 36, 9, kCheck2, 0, 0},
    {IDC_CPU1, ControlKind::CheckBox, "CPU 1", 7, 44, 36, 9, kCheck2, 0, 0},
    {IDC_CPU2, ControlKind::CheckBox, "CPU 2", 7, 62, 36, 9, kCheck2, 0, 0},
    {IDC_CPU3, ControlKind::CheckBox, "CPU 3", 7, 78, 36, 9, kCheck2, 0, 0},
    {IDC_CPU4, ControlKind::CheckBox, "CPU 4", 51, 27, 36, 9, kCheck2, 0, 0},
    {IDC_CPU5, ControlKind::CheckBox, "CPU 5", 51, 44, 36, 9, kCheck2, 0, 0},
    {IDC_CPU6, ControlKind::CheckBox, "CPU 6", 51, 62, 36, 9, kCheck2, 0, 0},
    {IDC_CPU7, ControlKind::CheckBox, "CPU 7", 51, 78, 36, 9, kCheck2, 0, 0},
};
constexpr DialogTemplate kChangeCpu{IDD_CHANGE_CPU_ASSIGN, "", 169, 94, WS_POPUP | DS_MODALFRAME | DS_SHELLFONT,
                                    WS_EX_TOPMOST, "MS Shell Dlg", 8, kChangeCpuControls};

// ---- 132: the watch-list management dialog ----
constexpr ControlTemplate kManageControls[] = {
    {IDCANCEL, ControlKind::PushButton, "閉じる(&X)", 358, 7, 50, 16, 0x50010000u, 0, 0},
    {IDC_LIST_WATCH, ControlKind::ListView, "", 7, 95, 401, 168, 0x5081880Du, 0, 0},
    {IDC_BUTTON_NEW, ControlKind::PushButton, "新規追加(&N)", 7, 7, 59, 16, 0x50010000u, 0, 0},
    {-1, ControlKind::StaticText,
     "監視設定の管理画面です．\n\n"
     "・「新規追加」ボタンを押すと，監視するプロセスのファイル名を指定して設定を追加できます．\n"
     "・下記の監視リストから項目を選び，「削除」ボタンを押すと監視設定を削除できます．",
     7, 33, 401, 51, 0x50021000u, 0, 0},
    {IDC_BUTTON_DELETE, ControlKind::PushButton, "削除(&D)", 73, 7, 45, 16, 0x50010000u, 0, 0},
};
constexpr DialogTemplate kManage{IDD_MANAGE_ASSIGN, "Mavrin / Observation Settings", 415, 270, 0x90CA00C0u,
                                 WS_EX_APPWINDOW, "ＭＳ ゴシック", 9, kManageControls};

constexpr const DialogTemplate* kDialogs[] = {&kAbout, &kAssignList, &kDummy, &kChangeCpu, &kManage};

// ---- 129: the tray menu and the settings dialog's two list popups ----
constexpr MenuItemTemplate kDeleteItems[] = {{"dummy", ID_TRAY_DELETE_DUMMY, MF_STRING, {}}};
constexpr MenuItemTemplate kWindowItems[] = {{"dummy", ID_TRAY_WINDOW_DUMMY, MF_STRING, {}}};
constexpr MenuItemTemplate kProcessItems[] = {{"dummy", ID_TRAY_PROCESS_DUMMY, MF_STRING, {}}};
constexpr MenuItemTemplate kQuickItems[] = {
    {"ウィンドウ(&W)", 0, MF_POPUP, kWindowItems},
    {"プロセス(&P)", 0, MF_POPUP, kProcessItems},
};
constexpr MenuItemTemplate kTrayItems[] = {
    {"設定画面を開く(&S)", ID_TRAY_OPEN_SETTINGS, MF_STRING, {}},
    {"", 0, MF_SEPARATOR, {}},
    {"監視の一時停止(&P)", ID_TRAY_PAUSE, MF_STRING, {}},
    {"監視設定の削除(&D)", 0, MF_POPUP, kDeleteItems},
    {"CPU割り当てのクイック変更(&A)", 0, MF_POPUP, kQuickItems},
    {"", 0, MF_SEPARATOR, {}},
    {"Mavrin について(&V)...", ID_TRAY_ABOUT, MF_STRING, {}},
    {"終了(&X)", ID_TRAY_EXIT, MF_STRING, {}},
};
constexpr MenuItemTemplate kWindowListItems[] = {
    {"現在のCPU割り当てを監視リストに追加(&A)...", ID_WINDOWLIST_ADD, MF_STRING, {}},
    {"", 0, MF_SEPARATOR, {}},
    {"window name", ID_WINDOWLIST_WINDOW_NAME, MF_STRING | MF_GRAYED, {}},
    {"process name", ID_WINDOWLIST_PROCESS_NAME, MF_STRING | MF_GRAYED, {}},
};
constexpr MenuItemTemplate kProcessListItems[] = {
    {"現在のCPU割り当てを監視リストに追加(&A)...", ID_PROCESSLIST_ADD, MF_STRING, {}},
    {"", 0, MF_SEPARATOR, {}},
    {"process name", ID_PROCESSLIST_PROCESS_NAME, MF_STRING | MF_GRAYED, {}},
};
constexpr MenuItemTemplate kMenuBar[] = {
    {"&TrayMenu", 0, MF_POPUP, kTrayItems},
    {"WindowListPopupMenu", 0, MF_POPUP, kWindowListItems},
    {"ProcessListPopupMenu", 0, MF_POPUP, kProcessListItems},
};
constexpr MenuTemplate kTrayMenu{IDR_TRAY_MENU, kMenuBar};

constexpr int kIconSizes[] = {48, 32, 16};

}  // namespace

const framework::DialogTemplate* FindDialogTemplate(int id) {
  for (const DialogTemplate* tpl : kDialogs) {
    if (tpl->id == id) return tpl;
  }
  return nullptr;
}

std::span<const framework::DialogTemplate* const> DialogTemplates() { return kDialogs; }

const framework::MenuTemplate* FindMenuTemplate(int id) { return id == IDR_TRAY_MENU ? &kTrayMenu : nullptr; }

const char* FindString(int id) { return id == IDS_ABOUTBOX ? "バージョン情報 MavrinTest(&A)..." : nullptr; }

std::span<const int> IconSizes(int id) {
  if (id == IDR_MAINFRAME) return kIconSizes;
  return {};
}

}  // namespace res
