#pragma once
// The fixed numbers of the Windows program's resources: dialogs, menus, pictures, texts, controls
// and commands. Shared by the resource script and the code. Plain #defines: windres reads them.

// --- dialogs ------------------------------------------------------------------------------------
#define IDD_ABOUT 100
#define IDD_MAIN 102
#define IDD_HISTORY 138
#define IDD_SERVER_INPUT 148
#define IDD_OPTIONS 156
#define IDD_PAGE_GENERAL 157
#define IDD_PAGE_USERS 158
#define IDD_PAGE_MAIL 159
#define IDD_PAGE_REPORT 160
#define IDD_PAGE_BLACK_LIST 165
#define IDD_PAGE_WHITE_LIST 166
#define IDD_ADD_USER 167
#define IDD_OPEN_FILES 190
#define IDD_SHARES 191

// --- menus, texts -------------------------------------------------------------------------------
#define IDR_MENUS 131
#define IDS_ABOUT_ITEM 101
#define IDS_SOCKETS_FAILED 103

// --- icons --------------------------------------------------------------------------------------
#define IDI_VANTOR 128
#define IDI_TRAY 129
#define IDI_TRAY_USER 130
#define IDI_HISTORY 142
#define IDI_REMOTE 150
#define IDI_REPORT 155
#define IDI_FOLDER 162
#define IDI_FILE 163
#define IDI_HELP 168
#define IDI_HIDE 178

// --- bitmaps ------------------------------------------------------------------------------------
#define IDB_USER 132
#define IDB_HEADER_USER 144
#define IDB_HEADER_COMPUTER 145
#define IDB_HEADER_FILES 146
#define IDB_HEADER_TIMESTAMP 147
#define IDB_HEADER_DURATION 151
#define IDB_MENU_CLOSE_SESSION 135
#define IDB_MENU_CLOSE_ALL 173
#define IDB_MENU_CONNECT 180
#define IDB_MENU_BLACK_LIST 170
#define IDB_MENU_WHITE_LIST 171
#define IDB_MENU_CLOSE_RESOURCE 1004
#define IDB_MENU_OPEN_FOLDER 172
#define IDB_MENU_SHOW_HISTORY 137
#define IDB_MENU_CLEAR_HISTORY 140
#define IDB_MENU_OPTIONS 161

// --- the main window's controls -----------------------------------------------------------------
#define IDC_REMOTE_SERVER 1000
#define IDC_SESSIONS 1001
#define IDC_HELP_BUTTON 1003
#define IDC_OPEN_FILES_BUTTON 1005
#define IDC_SHARES_BUTTON 1006
#define IDC_HIDE 1004
#define IDC_HISTORY_BUTTON 1010
#define IDC_ANIMATION 1011
#define IDC_SPLITTER 1012
#define IDC_FILES 1013
#define IDC_CAPTION 1020
#define IDC_NO_USERS 1050

// --- the other windows' controls ----------------------------------------------------------------
#define IDC_HISTORY_SESSIONS 1008
#define IDC_HISTORY_FILES 1009
#define IDC_REPORT_BUTTON 1000
#define IDC_SERVER_NAME 1019
#define IDC_TABS 1029
#define IDC_ABOUT_VERSION 1060
#define IDC_FILES_FILTER 1070
#define IDC_ALL_FILES 1071
#define IDC_FILES_STATUS 1072
#define IDC_CLOSE_LISTED_FILE 1073
#define IDC_SHARES_LIST 1074

#define IDC_HIDE_SYSTEM_REQUESTS 1016
#define IDC_HIDE_LOCAL_USERS 1017
#define IDC_NO_HISTORY 1018
#define IDC_LOG_FILES 1036
#define IDC_LAUNCH_ON_STARTUP 1021
#define IDC_USE_BLACK_LIST 1040
#define IDC_USE_WHITE_LIST 1041

#define IDC_POPUP 1015
#define IDC_BEEP 1014
#define IDC_MAIL_ON_NEW_USER 1025

#define IDC_MAIL_ADDRESS 1023
#define IDC_SMTP_SERVER 1024
#define IDC_TEST_MAIL 1000
#define IDC_DAILY_REPORT 1026
#define IDC_DAILY_REPORT_TIME 1027

#define IDC_REPORT_PATH 1030
#define IDC_BROWSE 1000
#define IDC_AUTO_UPDATE 1031
#define IDC_REPORT_LIMIT 1033
#define IDC_REPORT_LIMIT_CHOICE 1034

#define IDC_LIST 1001
#define IDC_ADD_USER 1000
#define IDC_REMOVE_USER 1042
#define IDC_CLEAR 1043

#define IDC_USER_COMBO 1046
#define IDC_COMPUTER_COMBO 1047

// --- commands -----------------------------------------------------------------------------------
#define IDM_ABOUT_SYSTEM 16
#define IDM_CLOSE_SESSION 32771
#define IDM_MAIN_DIALOG 32773
#define IDM_EXIT 32774
#define IDM_SHOW_HISTORY 32775
#define IDM_CLEAR_HISTORY 32776
#define IDM_CLOSE_RESOURCE 32777
#define IDM_OPTIONS 32778
#define IDM_ABOUT 32779
#define IDM_CONNECT_TO_USER 32780
#define IDM_OPEN_FOLDER 32783
#define IDM_BLACK_USER 32784
#define IDM_BLACK_COMPUTER 32785
#define IDM_BLACK_BOTH 32786
#define IDM_WHITE_USER 32787
#define IDM_WHITE_COMPUTER 32788
#define IDM_WHITE_BOTH 32789
#define IDM_CLOSE_ALL_SESSIONS 32791
#define IDM_OPEN_FILES_WINDOW 32800
#define IDM_SHARES_WINDOW 32801
// The header menu of a list whose columns a person shows and hides: one item per column.
#define IDM_COLUMN_FIRST 33000

// --- the tray icon ------------------------------------------------------------------------------
#define TRAY_ICON_ID 4662
#define WM_TRAY_CALLBACK 0xA123
#define TIMER_POLL 273
#define TIMER_FLASH 74615
