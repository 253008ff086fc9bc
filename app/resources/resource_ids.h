/* Every resource, command, control, timer and message id of the Windows program, shared by the
   resource scripts and the C++ code. Plain #defines only: windres reads this file too. */
#ifndef FERRYWICK_APP_RESOURCES_RESOURCE_IDS_H
#define FERRYWICK_APP_RESOURCES_RESOURCE_IDS_H

/* Resources. */
#define IDR_MAIN_MENU 101
#define IDD_FOLDER_PAIR 102
#define IDD_FILE_TREE 104
#define IDB_FOLDER_PLAIN 107
#define IDB_FOLDER_RED 108
#define IDB_FOLDER_GREEN 109
#define IDB_FOLDER_BLUE 110
#define IDB_FILE_PLAIN 111
#define IDB_FILE_RED 112
#define IDB_FILE_GREEN 113
#define IDB_FILE_PINK 114
#define IDB_FILE_CYAN 115
#define IDB_FILE_YELLOW 117
#define IDD_SYNC_FINISHED 118
#define IDD_OPTIONS 119
#define IDD_WORKING 120
#define IDD_SAVE_DIFF 121
#define IDD_ABOUT 122
#define IDI_APP 125
#define IDD_FAILURES 126
#define IDR_ACCELERATORS 127
#define IDD_SYNC_CONFIRM 128

/* Menu commands. */
#define IDM_NEW 40005
#define IDM_OPEN 40006
#define IDM_SAVE_AS 40007
#define IDM_EXIT 40008
#define IDM_OPTIONS 40010
#define IDM_SWAP 40014
#define IDM_ABOUT 40015
#define IDM_WEB 40016

/* Main window controls; of each pair the first is the source side's. */
#define IDC_LABEL_SOURCE 200
#define IDC_LABEL_TARGET 201
#define IDC_KIND_SOURCE 210
#define IDC_KIND_TARGET 211
#define IDC_BROWSE_SOURCE 220
#define IDC_BROWSE_TARGET 221
#define IDC_LIST_SOURCE 240
#define IDC_LIST_TARGET 241
#define IDC_ADD 10000
#define IDC_EDIT 10001
#define IDC_DELETE 10002
#define IDC_COMPARE 10005

/* Commands that double as task ids. */
#define IDT_SAVE_SOURCE_STATE 1005
#define IDT_SAVE_TARGET_STATE 1006
#define IDT_SAVE_DIFF 1007
#define IDT_SYNC 1008
#define IDT_COMPARE 10005

/* Sync finished dialog (118), also the progress window of a sync or a difference save. */
#define IDC_SUMMARY_OK 1040
#define IDC_SUMMARY_FAILED 1041
#define IDC_SUMMARY_DETAILS 1042 /* shown only when something failed */

/* The list of failed entries (126). */
#define IDC_FAILURES_LIST 1060
/* The question before a sync (128). */
#define IDC_CONFIRM_TEXT 1070
#define IDC_CONFIRM_QUESTION 1071
#define IDC_CONFIRM_NO_ASK 1072
#define IDT_PROGRESS_TIMER 119

/* Folder pair dialog (102). */
#define IDC_PAIR_SOURCE_EDIT 1001
#define IDC_PAIR_SOURCE_BROWSE 1002
#define IDC_PAIR_TARGET_EDIT 1003
#define IDC_PAIR_TARGET_BROWSE 1004
#define IDC_PAIR_WARNING 1080 /* empty while the folders lie apart */

/* File Tree window (104). */
#define IDC_TREE 1004
#define IDC_TREE_OPTIONS 10007
#define IDC_TREE_SOURCE_FILES 1031
#define IDC_TREE_SOURCE_BYTES 1032
#define IDC_TREE_TARGET_FILES 1033
#define IDC_TREE_TARGET_BYTES 1034
#define IDC_TREE_SOURCE_FILE_CAPTION 1043
#define IDC_TREE_SOURCE_FILE_DETAIL 1044
#define IDC_TREE_TARGET_FILE_CAPTION 1045
#define IDC_TREE_TARGET_FILE_DETAIL 1046
#define IDC_TREE_SOURCE_HEADING 1047
#define IDC_TREE_SOURCE_FILES_TAG 1048
#define IDC_TREE_SOURCE_DATA_TAG 1049
#define IDC_TREE_TARGET_HEADING 1050
#define IDC_TREE_TARGET_FILES_TAG 1051
#define IDC_TREE_TARGET_DATA_TAG 1052

/* Options dialog (119): per category row Source, Target, No change, Colorize, swatch. */
#define IDC_OPT_FIRST_RADIO 1009 /* rows of four ids from here: 1009..1028 */
#define IDC_OPT_IGNORE 1029
#define IDC_OPT_FIRST_SWATCH 1035 /* 1035..1039 */

/* Save diff dialog (121). */
#define IDC_SPLIT_CHECK 1045
#define IDC_SPLIT_SIZE 1029

/* About box (122). */
#define IDC_DONATE_LINK 1050

/* Messages. */
#define WM_STATE_SAVE_FAILED (WM_USER + 1) /* 1025: to the File Tree window; wParam task, lParam result */
#define WM_WORKER_DONE (WM_APP + 1)        /* to the main window: a worker has returned */
#define WM_TREE_CHECK_TOGGLED (WM_APP + 2) /* to the File Tree window: a box changed, lParam item */
#define WM_TREE_PLACE (WM_APP + 3) /* to the File Tree window: apply its stored placement */

/* Sync finished dialog (118): its log of the sync. */
#define IDC_SUMMARY_LOG 1120 /* shown only when the sync wrote a log */

/* Options dialog (119): the presets and, per row, what its choice does. */
#define IDC_OPT_PRESET_MIRROR 1200
#define IDC_OPT_PRESET_TWO_WAY 1201
#define IDC_OPT_PRESET_UPDATE 1202
#define IDC_OPT_FIRST_EFFECT 1203 /* 1203..1207, a row each */

/* Safety dialog (142), from the File menu's "Safety...". */
#define IDD_SAFETY 142
#define IDM_SAFETY 40140
#define IDC_SAFETY_BACKUP 1220
#define IDC_SAFETY_BROWSE 1221
#define IDC_SAFETY_RECYCLE 1222
#define IDC_SAFETY_PERCENT 1223
#define IDC_SAFETY_SHARE_FILES 1224
#define IDC_SAFETY_FILES 1225
#define IDC_SAFETY_TIME_SHIFT 1226
#define IDC_SAFETY_ASK 1227
/* File Tree window: the context menu's own items and the re-check of entries on disk. */
#define IDM_TREE_OPEN_SOURCE 40100
#define IDM_TREE_OPEN_TARGET 40101
#define IDM_TREE_SHELL_TOO_LONG 40102 /* greyed: the shell cannot take the path */
#define WM_TREE_RECHECK (WM_APP + 40) /* to the File Tree window: look at the entries again */
/* Progress window (118, 120 as it runs a task): bar, current file, estimates (1100..1119). */
#define IDC_PROGRESS_FILE 1100    /* the file being copied or stored now */
#define IDC_PROGRESS_BAR 1101     /* 0..1000 of the task's files and bytes */
#define IDC_PROGRESS_DONE 1102    /* "42% of 35 files, 1.2 GB" */
#define IDC_PROGRESS_RATE 1103    /* "12 MB/s, about 2 min left" */
#define IDC_PROGRESS_ENTRIES 1104 /* a comparison's "1,234 entries read" */
/* Main window's project file: Save and the recently used projects of the File menu. */
#define IDM_SAVE 40020
/* "&1 path" .. "&8 path": 40040..40047 (40030 and 40031 are the safety items, safety_net.h) */
#define IDM_RECENT_FIRST 40040
#define IDM_RECENT_LAST 40047
#define IDM_RECENT_SEPARATOR 40048 /* between the recent projects and Exit */

#endif
