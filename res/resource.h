#pragma once
// Resource identifiers of the Support Services Utility.

// Dialog templates of the three pages.
#define IDD_COMTESTER                   103
#define IDD_PROJECTTESTER               104
#define IDD_GENERAL                     105
#define IDD_COMPONENT_DETAILS           106
#define IDD_STOP_PROMPT                 107

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

// Strings of the component details and verdicts.
#define IDS_DETAILS_CAPTION             140
#define IDS_MENU_DETAILS                141
#define IDS_VERDICT_ABSENT              150
#define IDS_VERDICT_UNREADABLE          151
#define IDS_VERDICT_NOT_MODULE          152
#define IDS_VERDICT_NEEDS_ADMIN         153
#define IDS_VERDICT_NOT_ON_SYSTEM       154
#define IDS_VERDICT_NO_SIBLING          155
#define IDS_VERDICT_OTHER_CPU           156
#define IDS_VERDICT_MISSING_DEP         157
#define IDS_VERDICT_NOT_SELF_REG        158
#define IDS_VERDICT_NO_UNREGISTER       159
#define IDS_VERDICT_CRASHED_STARTUP     160
#define IDS_VERDICT_CRASHED_IN          161
#define IDS_VERDICT_ENTRY_FAILED        162
#define IDS_VERDICT_LOAD_FAILED         163
#define IDS_VERDICT_EXIT_CODE           164
#define IDS_VERDICT_START_FAILED        165
#define IDS_VERDICT_NO_PROGID           166
#define IDS_VERDICT_NOT_REGISTERED      167
#define IDS_VERDICT_CLASS_MISSING       168
#define IDS_VERDICT_OTHER_VIEW_ONLY     169
#define IDS_VERDICT_USER_OVERRIDE       170
#define IDS_VERDICT_OTHER_COPY          171
#define IDS_VERDICT_SOUND               172
#define IDS_VERDICT_CLSID_TYPE          173
#define IDS_DIAG_CLSID_TYPE             174
#define IDS_INFOTIP_NOT_LOOKED_FOR      175
#define IDS_VERDICT_STOPPED_LIMIT       176
#define IDS_VERDICT_STOPPED_USER        177
#define IDS_VERDICT_SIBLING_SILENT      178
#define IDS_DIAG_VIEW_READ              179
#define IDS_DIAG_TITLE                  180
#define IDS_DIAG_VERDICT                181
#define IDS_DIAG_FILE                   182
#define IDS_DIAG_PATH                   183
#define IDS_DIAG_PRESENT                184
#define IDS_DIAG_VERSION                185
#define IDS_DIAG_MACHINE                186
#define IDS_DIAG_EXPORT                 187
#define IDS_DIAG_OLESELFREGISTER        188
#define IDS_DIAG_TABLE_DAMAGED          189
#define IDS_DIAG_IMPORTS                190
#define IDS_DIAG_IMPORT_FOUND           191
#define IDS_DIAG_IMPORT_SYSTEM          192
#define IDS_DIAG_IMPORT_MISSING         193
#define IDS_DIAG_REGISTRATION           194
#define IDS_DIAG_PROGID                 195
#define IDS_DIAG_CLSID                  196
#define IDS_DIAG_CLSID_OVERRIDE         197
#define IDS_DIAG_VIEW_SERVER            198
#define IDS_DIAG_VIEW_NONE              199
#define IDS_DIAG_VIEW_NO_CLASS          200
#define IDS_DIAG_THIS_FILE              201
#define IDS_DIAG_OTHER_COPY             202
#define IDS_DIAG_LAST_ACTION            203
#define IDS_DIAG_NO_ACTION              204
#define IDS_DIAG_ACTION                 205
#define IDS_DIAG_FAULT                  206
#define IDS_DIAG_EXIT_CODE              207
#define IDS_DIAG_NOT_READ               208
#define IDS_DIAG_NO_VIEW                209
#define IDS_WORD_YES                    210
#define IDS_WORD_NO                     211
#define IDS_WORD_NONE                   212
#define IDS_WORD_EXPORTED               213
#define IDS_WORD_NOT_EXPORTED           214
#define IDS_WORD_REGISTER               215
#define IDS_WORD_UNREGISTER             216
#define IDS_VIEW_64                     217
#define IDS_VIEW_32                     218
#define IDS_MACHINE_X86                 220
#define IDS_MACHINE_X64                 221
#define IDS_MACHINE_ARM64               222
#define IDS_MACHINE_OTHER               223
#define IDS_MACHINE_NONE                224
#define IDS_STAGE_NONE                  230
#define IDS_STAGE_MAPPED                231
#define IDS_STAGE_ENTRY_FOUND           232
#define IDS_STAGE_LOADED                233
#define IDS_STAGE_ENTRY_RETURNED        234
#define IDS_STAGE_STARTED               235
#define IDS_STAGE_ENDED                 236
#define IDS_FAULT_ACCESS_VIOLATION      240
#define IDS_FAULT_STACK_OVERFLOW        241
#define IDS_FAULT_ILLEGAL_INSTRUCTION   242
#define IDS_FAULT_DIVIDE_BY_ZERO        243
#define IDS_FAULT_IN_PAGE               244
#define IDS_FAULT_CPP                   245
#define IDS_FAULT_OTHER                 246
#define IDS_UNKNOWN_ERROR               247
#define IDS_UNKNOWN_MODULE              248
#define IDS_DIAG_RUN_BY                 249
#define IDS_WORD_SERVERS_VIEW           250
#define IDS_WORD_PROGRAMS_VIEW          251
#define IDS_INFOTIP_NOT_REACHED         252
#define IDS_STOP_WAITING                253
#define IDS_STOP_WORKING                254
#define IDS_PROJECT_STOPPED             255
// Strings of the unattended report.
#define IDS_REPORT_USAGE                300
#define IDS_REPORT_UTILITY_VERSION      301
#define IDS_REPORT_UTILITY_BITS         302
#define IDS_REPORT_OS_BITS              303
#define IDS_REPORT_ELEVATED             304
#define IDS_REPORT_USER_LOCALE          305
#define IDS_REPORT_CODE_PAGE            306
#define IDS_REPORT_SYSTEM_FOLDER        307
#define IDS_REPORT_COMMON_FILES_FOLDER  308
#define IDS_REPORT_LOCAL_TIME           309
#define IDS_REPORT_COMPONENTS           310
#define IDS_REPORT_PROBLEMS             311
#define IDS_REPORT_PROBLEM              312
#define IDS_REPORT_NONE                 313
#define IDS_REPORT_PROJECT              314
#define IDS_REPORT_CAPTION              315
#define IDS_REPORT_FEATURES             316
#define IDS_REPORT_ERRORS               317
#define IDS_REPORT_ENUMERATION_FAILED   320
#define IDS_REPORT_BAD_SWITCH           321
#define IDS_REPORT_CANNOT_WRITE         322
#define IDS_REPORT_PATH_TOO_LONG        323
#define IDS_REPORT_TARGET_IS_FOLDER     324
#define IDS_REPORT_NO_FOLDER            325
#define IDS_REPORT_NO_CONSOLE           326
#define IDS_REPORT_OS_PRODUCT           327
#define IDS_REPORT_OS_DISPLAY_VERSION   328
#define IDS_REPORT_OS_BUILD             329
#define IDS_REPAIR_NO_RIGHTS            330
#define IDS_REPORT_INTERNAL_ERROR       331
#define IDS_REPORT_COMPONENTS_BEFORE    332
// Strings of undo files, for both faces.
#define IDS_UNDO_FILE_WRITTEN           340
#define IDS_UNDO_UNCHANGED              341
#define IDS_UNDO_NOT_KEPT               342
#define IDS_UNDO_COMPLETED              343
#define IDS_UNDO_CANNOT_READ            344
#define IDS_UNDO_NOT_OURS               345
#define IDS_UNDO_DAMAGED                346
#define IDS_UNDO_NO_RIGHTS              347
#define IDS_UNDO_FAILED                 348
#define IDS_UNDO_APPLIED                349
#define IDS_MENU_UNDO_LAST              350
#define IDS_UNDO_CONFIRM                351
#define IDS_UNDO_NONE                   352
#define IDS_UNDO_NOT_WRITTEN            353
#define IDS_UNDO_STATUS_WRITTEN         354
#define IDS_UNDO_STATUS_APPLIED         356
#define IDS_REPORT_UNDO_FILE            357
#define IDS_REPORT_UNDO_RESTORES        358
#define IDS_REPORT_UNDO_COUNTS          359
// Strings of the safety checks: trusted folders, keys, the system account (360-369).
#define IDS_TRUST_MISSING               360
#define IDS_TRUST_UNREADABLE            361
#define IDS_TRUST_OWNER                 362
#define IDS_TRUST_OTHERS_WRITE          363
#define IDS_TRUST_REPARSE               364
// Strings of the server helper processes (370-389).
#define IDS_VERDICT_HOST_ENDED          370
#define IDS_VERDICT_HOST_NOT_STARTED    371
#define IDS_VERDICT_UNTRUSTED_SERVER    372
#define IDS_DIAG_HOST_ENDED             373
#define IDS_DIAG_UNTRUSTED_SERVER       374
// Strings of trusted undo files and their confirmation (390-409).
#define IDS_UNDO_SET_ASIDE              390
#define IDS_UNDO_NO_KEY                 391
#define IDS_UNDO_UNTRUSTED              392
#define IDS_UNDO_DELETES_OLDER          393
#define IDS_UNDO_CONFIRM_MACHINE_DELETES 395
#define IDS_UNDO_CONFIRM_MORE           396
#define IDS_UNDO_OTHER_USER             400
#define IDS_UNDO_APPLIED_FOR_USER       401
#define IDS_UNDO_TOO_OLD                402
#define IDS_UNDO_ASK_OLD                403
#define IDS_REPORT_UNTRUSTED_PROGRAM    397
#define IDS_REPORT_NO_UNDO_NOTHING_RAN  398
#define IDS_REPORT_NO_UNDO_UNCHANGED    399
// Strings of creating the classes (410-439).
#define IDS_ACTIVATION_FAILED           410
#define IDS_ACTIVATION_STOPPED_LIMIT    411
#define IDS_ACTIVATION_STOPPED_USER     412
#define IDS_ACTIVATION_CRASHED          413
#define IDS_ACTIVATION_HOST_ENDED       414
#define IDS_ACTIVATION_NOT_STARTED      415
#define IDS_ACTIVATION_STAGE_NONE       416
#define IDS_ACTIVATION_STAGE_PROGID     417
#define IDS_ACTIVATION_STAGE_LOAD       418
#define IDS_ACTIVATION_STAGE_CLASS      419
#define IDS_ACTIVATION_STAGE_CREATE     420
#define IDS_ACTIVATION_STAGE_DISPATCH   421
#define IDS_ACTIVATION_STAGE_CREATED    422
#define IDS_ACTIVATION_STAGE_START      423
#define IDS_ACTIVATION_DIAG_TITLE       424
#define IDS_ACTIVATION_DIAG_NOT_TRIED   425
#define IDS_ACTIVATION_DIAG_STAGE       426
#define IDS_ACTIVATION_DIAG_ENDED       427
#define IDS_ACTIVATION_INFOTIP          428
#define IDS_MENU_CREATE_SELECTED        429
#define IDS_MENU_CREATE_ALL             430

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

// Controls of the details dialog, and the list's context menu command.
#define IDC_DETAILS_TEXT                1020
#define IDC_DETAILS_COPY                1021
#define IDC_STOP_TEXT                   1022
#define IDC_STOP                        1023
#define ID_COMPONENT_DETAILS            32800
#define ID_UNDO_LAST_CHANGE             32801
#define IDC_UNDO_STATUS                 1024
#define IDC_UNDO_FILE                   1025
// Context menu commands of creating the classes (32810-32819).
#define ID_CREATE_SELECTED_CLASSES      32810
#define ID_CREATE_ALL_CLASSES           32811

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
