#pragma once
// Identifiers of the program's resources, controls and commands.

// Dialog templates, menu, icon, string.
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_ASSIGN_LIST 102
#define IDR_MAINFRAME 128
#define IDR_TRAY_MENU 129
#define IDD_DUMMY 130
#define IDD_CHANGE_CPU_ASSIGN 131
#define IDD_MANAGE_ASSIGN 132
#define IDD_STATUS 133

// Controls.
#define IDC_UPDATE_LIST 1000
#define IDC_PROCESS_LIST 1001
#define IDC_WINDOW_LIST 1002
#define IDC_CPU0 1004
#define IDC_CPU1 1005
#define IDC_CPU2 1006
#define IDC_CPU3 1007
#define IDC_CPU4 1008
#define IDC_CPU5 1009
#define IDC_CPU6 1010
#define IDC_CPU7 1011
#define IDC_MANAGE 1014
#define IDC_ABOUT_VERSION 1014
#define IDC_ABOUT_WEBPAGE 1015
#define IDC_TARGET_TEXT 1016
#define IDC_BUTTON_NEW 1018
#define IDC_BUTTON_DELETE 1019
#define IDC_LIST_WATCH 1020
#define IDC_STATUS_STATE 1021
#define IDC_STATUS_NOTE 1022
// Made at run time on machines with more processors than the templates have boxes: the preset
// button, and the box of processor n (8 and above) with id IDC_CPU_MORE_BASE + n.
#define IDC_CPU_PRESETS 1023
#define IDC_CPU_MORE_BASE 2000
#define IDC_CPU_MORE_LAST (IDC_CPU_MORE_BASE + 1023)

// Commands of menu 129.
#define ID_TRAY_EXIT 32776
#define ID_TRAY_OPEN_SETTINGS 32778
#define ID_TRAY_PAUSE 32780
#define ID_TRAY_WINDOW_DUMMY 32783
#define ID_TRAY_PROCESS_DUMMY 32784
#define ID_TRAY_ABOUT 32787
#define ID_WINDOWLIST_WINDOW_NAME 32788
#define ID_WINDOWLIST_PROCESS_NAME 32792
#define ID_PROCESSLIST_PROCESS_NAME 32797
#define ID_PROCESSLIST_ADD 32798
#define ID_WINDOWLIST_ADD 32800
#define ID_TRAY_DELETE_DUMMY 32803

// Buttons of the window shown where there is no notification area: the tray menu's two submenus.
#define ID_STATUS_DELETE_MENU 32810
#define ID_STATUS_QUICK_MENU 32811

// Dynamic items of the tray menu: base + 0-based index, 1000 ids per range.
#define ID_QUICK_WINDOW_BASE 40000
#define ID_QUICK_PROCESS_BASE 41000
#define ID_DELETE_ENTRY_BASE 42000
// The processor presets' menu: base + the preset's position.
#define ID_PRESET_BASE 43000
#define ID_DYNAMIC_RANGE_SIZE 1000

// System-menu command of the settings dialog.
#define IDM_ABOUTBOX 0x0010

// The tray icon's callback message: WM_APP + 1.
#define WM_TRAY_NOTIFY 0x8001u
// The tray icon's id.
#define ID_TRAY_ICON 1
