#pragma once
// Resource identifiers of the Support Services Utility.

// Dialog templates of the three pages.
#define IDD_COMTESTER                   103
#define IDD_PROJECTTESTER               104
#define IDD_GENERAL                     105

// Icons.
#define IDR_MAINFRAME                   128
#define IDI_COMPONENT                   129
#define IDI_FEATURE                     131
#define IDI_PROJECT                     132
#define IDI_ERROR_LINE                  133

// Strings.
#define IDS_BROWSE_SYSTEM_FOLDER        103
#define IDS_COL_FILE_NAME               104
#define IDS_COL_REGISTERED              105
#define IDS_COL_ON_SYSTEM               106
#define IDS_YES                         107
#define IDS_NO                          108
#define IDS_NOT_CHECKED                 110
#define IDS_COL_PROGID                  111
#define IDS_COL_LOCATION                112
#define IDS_MERGE_MODULE_PROJECT        113
#define IDS_STANDARD_PROJECT            114
#define IDS_SWIFT_PROJECT               115
#define IDS_BASIC_PROJECT               116
#define IDS_COL_ERROR                   117
#define IDS_SHEET_CAPTION               118
#define IDS_TORVEX_PROJECT              121
#define IDS_COL_VERSION                 122
#define IDS_OS_WIN32S                   123
#define IDS_OS_WIN9X_FAMILY             124
#define IDS_OS_WINNT_FAMILY             125
#define IDS_OS_WIN95                    126
#define IDS_OS_WIN98                    127
#define IDS_OS_WINME                    128
#define IDS_OS_WINNT                    129
#define IDS_OS_WIN2000                  130
#define IDS_OS_WINXP                    131

// Controls of the COM tester page.
#define IDC_BROWSE_SYSTEM_FOLDER        1000
#define IDC_SYSTEM_FOLDER               1001
#define IDC_COMPONENT_LIST              1002
#define IDC_VERIFY_COM                  1003
#define IDC_PROGRESS                    1004
#define IDC_REGISTER_SELECTED           1005
#define IDC_UNREGISTER_SELECTED         1006
#define IDC_VERIFY_FILES                1007
#define IDC_COPY_COM_RESULTS            1008

// Controls of the Project tester page.
#define IDC_PROJECT_PATH                1005
#define IDC_PROJECT_TREE                1006
#define IDC_BROWSE_PROJECT              1007
#define IDC_COPY_PROJECT_RESULTS        1008
#define IDC_TEST_PROJECT                1009
#define IDC_ERROR_LIST                  1010

// Controls of the General page.
#define IDC_OPERATING_SYSTEM            1013
#define IDC_IE_VERSION                  1014

#ifndef IDC_STATIC
#define IDC_STATIC                      (-1)
#endif
