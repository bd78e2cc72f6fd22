/* Resource, control and command identifiers of Kelvaro.
 * Included by Kelvaro.rc (windres) and by the program's C++ sources, so only
 * preprocessor definitions and plain ASCII belong here.  Every id is guarded
 * so that a framework header included earlier may supply the same value. */
#ifndef KELVARO_RESOURCE_H
#define KELVARO_RESOURCE_H

/* Links shown in the version box and opened from it. */
#define KELVARO_HOMEPAGE_URL "http://www.example.com/kelvaro/"
#define KELVARO_MAIL_ADDRESS "kelvaro@example.com"

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

/* Dialog templates */
#ifndef IDD_ABOUTBOX
#define IDD_ABOUTBOX 100
#endif
#ifndef IDD_KELVARO_DIALOG
#define IDD_KELVARO_DIALOG 102
#endif
#ifndef IDD_NAME
#define IDD_NAME 137
#endif
#ifndef IDD_MISSED_CALLS
#define IDD_MISSED_CALLS 138
#endif
#ifndef IDD_MESSAGES
#define IDD_MESSAGES 139
#endif
#ifndef IDD_VERIFIED
#define IDD_VERIFIED 141
#endif

/* Icon and menu */
#ifndef IDR_MAINFRAME
#define IDR_MAINFRAME 128
#endif
#ifndef IDR_MENU_TRAY
#define IDR_MENU_TRAY 129
#endif
/* The ring played while a call rings (resource type WAVE). */
#ifndef IDR_RING
#define IDR_RING 130
#endif

/* Strings */
#ifndef IDS_ABOUTBOX
#define IDS_ABOUTBOX 101
#endif
#ifndef IDS_SOCKETS_INIT_FAILED
#define IDS_SOCKETS_INIT_FAILED 103
#endif
#ifndef AFX_IDS_APP_TITLE
#define AFX_IDS_APP_TITLE 57344
#endif

/* Controls of the main window */
#ifndef IDC_EDIT_ADDRESS
#define IDC_EDIT_ADDRESS 1000
#endif
#ifndef IDC_EDIT_PORT
#define IDC_EDIT_PORT 1001
#endif
#ifndef IDC_BTN_CALL
#define IDC_BTN_CALL 1002
#endif
#ifndef IDC_BTN_HANGUP
#define IDC_BTN_HANGUP 1003
#endif
#ifndef IDC_BTN_VERSION
#define IDC_BTN_VERSION 1004
#endif
#ifndef IDC_BTN_ANSWER
#define IDC_BTN_ANSWER 1005
#endif
#ifndef IDC_EDIT_SEND
#define IDC_EDIT_SEND 1007
#endif
#ifndef IDC_LIST_SEND
#define IDC_LIST_SEND 1008
#endif
#ifndef IDC_LIST_RECEIVE
#define IDC_LIST_RECEIVE 1009
#endif
/* Hidden static in every dialog whose text the caption strip shows. */
#ifndef IDC_CAPTION
#define IDC_CAPTION 1010
#endif
#ifndef IDC_STATIC_PARTNER
#define IDC_STATIC_PARTNER 1011
#endif
/* Own-name edit of the main window; also the edit of the name dialog. */
#ifndef IDC_EDIT_MYNAME
#define IDC_EDIT_MYNAME 1012
#endif
#ifndef IDC_STATIC_STATUS
#define IDC_STATIC_STATUS 1013
#endif
#ifndef IDC_COMBO_PHONEBOOK
#define IDC_COMBO_PHONEBOOK 1015
#endif
#ifndef IDC_BTN_REGISTER
#define IDC_BTN_REGISTER 1016
#endif
#ifndef IDC_BTN_DELETE
#define IDC_BTN_DELETE 1017
#endif
#ifndef IDC_BTN_HIDE
#define IDC_BTN_HIDE 1018
#endif
#ifndef IDC_CHK_MINSTART
#define IDC_CHK_MINSTART 1019
#endif
/* Whether the call is encrypted, with the code both sides compare; hidden while idle. */
#ifndef IDC_STATIC_SECURE
#define IDC_STATIC_SECURE 1023
#endif
/* Verifies the partner of an encrypted call; shown only while its identity is not verified. */
#ifndef IDC_BTN_VERIFY
#define IDC_BTN_VERIFY 1024
#endif
/* The verified contacts' box: the list and the button that takes a verification back. */
#ifndef IDC_LIST_VERIFIED
#define IDC_LIST_VERIFIED 1045
#endif
#ifndef IDC_BTN_UNVERIFY
#define IDC_BTN_UNVERIFY 1046
#endif

/* Controls of the version box (1016 and 1017 are reused there). */
#ifndef IDC_BTN_HISTORY
#define IDC_BTN_HISTORY 1016
#endif
#ifndef IDC_BTN_README
#define IDC_BTN_README 1017
#endif
#ifndef IDC_STATIC_HOMEPAGE
#define IDC_STATIC_HOMEPAGE 1032
#endif
#ifndef IDC_STATIC_MAIL
#define IDC_STATIC_MAIL 1033
#endif

/* Controls of the missed-calls dialog */
#ifndef IDC_LIST_MISSED
#define IDC_LIST_MISSED 1020
#endif
#ifndef IDC_BTN_CALLBACK
#define IDC_BTN_CALLBACK 1021
#endif
#ifndef IDC_BTN_CLEAR
#define IDC_BTN_CLEAR 1022
#endif

/* Controls of the answering machine's messages dialog */
#ifndef IDC_LIST_MESSAGES
#define IDC_LIST_MESSAGES 1025
#endif
#ifndef IDC_LIST_MESSAGE_LINES
#define IDC_LIST_MESSAGE_LINES 1026
#endif
#ifndef IDC_BTN_MSG_CALLBACK
#define IDC_BTN_MSG_CALLBACK 1027
#endif
#ifndef IDC_BTN_MSG_DELETE
#define IDC_BTN_MSG_DELETE 1028
#endif
#ifndef IDC_STATIC_MESSAGES_NOTE
#define IDC_STATIC_MESSAGES_NOTE 1029
#endif

/* Menu commands */
#ifndef ID_RESTORE
#define ID_RESTORE 32771
#endif
#ifndef ID_README
#define ID_README 32788
#endif
#ifndef ID_HISTORY
#define ID_HISTORY 32789
#endif
#ifndef ID_MISSED_CALLS
#define ID_MISSED_CALLS 32790
#endif
#ifndef ID_OPEN_LOG
#define ID_OPEN_LOG 32791
#endif
#ifndef ID_DO_NOT_DISTURB
#define ID_DO_NOT_DISTURB 32792
#endif
#ifndef ID_LOG_ON
#define ID_LOG_ON 32793
#endif
#ifndef ID_SOUND_ON
#define ID_SOUND_ON 32794
#endif
#ifndef ID_REQUIRE_SECURE
#define ID_REQUIRE_SECURE 32795
#endif
#ifndef ID_NEARBY_ANNOUNCE
#define ID_NEARBY_ANNOUNCE 32796
#endif
#ifndef ID_AWAY
#define ID_AWAY 32797
#endif
#ifndef ID_MESSAGES
#define ID_MESSAGES 32798
#endif
#ifndef ID_START_WITH_WINDOWS
#define ID_START_WITH_WINDOWS 32799
#endif
#ifndef ID_VERIFIED_CONTACTS
#define ID_VERIFIED_CONTACTS 32800
#endif
/* Exit is command 57602 (0xE102) in this program's menu and message map. */
#ifndef ID_APP_EXIT
#define ID_APP_EXIT 57602
#endif
#ifndef ID_APP_ABOUT
#define ID_APP_ABOUT 57664
#endif
#ifndef ID_HELP
#define ID_HELP 57670
#endif

/* System-menu item; its low four bits stay clear, as WM_SYSCOMMAND requires. */
#ifndef IDM_ABOUTBOX
#define IDM_ABOUTBOX 0x0010
#endif

#endif /* KELVARO_RESOURCE_H */
