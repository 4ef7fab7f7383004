// Resource ids shared by sorvane.rc and the code.
#pragma once

// Dialog templates.
#define IDD_MAIN 161
#define IDD_MESSAGE 176

// Icon group and numbered bitmaps.
#define IDI_APP 128
#define IDB_WARNING 147
#define IDB_INFORMATION 177
#define IDB_QUESTION 178
#define IDB_ERROR 179
#define IDB_BACKGROUND 180

// Controls of the main dialog (IDCANCEL is its CANCEL button).
#define IDC_LOWER_GROUP 1034
#define IDC_SCAN 1052
#define IDC_DOWNLOAD 1053
#define IDC_CLOSE_X 1054
#define IDC_RESULT_LOG 1055
#define IDC_UPPER_GROUP 1064
#define IDC_PATH_DISPLAY 1065
#define IDC_PROGRAM_CAPTION 1068
#define IDC_OK_BUTTON 1070
#define IDC_MAKER_LINE 1072
#define IDC_TITLE_LINE 1074
#define IDC_PRODUCT_NOTE 1075
#define IDC_SEARCH_CAPTION 1076
#define IDC_DOWNLOAD_LINK 1077
#define IDC_UTILITY_LINK 1080
#define IDC_LOGO 1085

// Controls of the message dialog (besides IDOK, IDCANCEL, IDYES, IDNO).
#define IDC_SINGLE_OK 3
#define IDC_PICTURE 1085
#define IDC_MESSAGE_TEXT 1086
