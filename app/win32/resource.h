// Identifiers of the dialog's resources and controls, shared by the resource
// script and the code.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_KESTREL2_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_PICTURE 133

#define IDC_BROWSE 1000
#define IDC_PATH 1001
#define IDC_START 1002
#define IDC_STATUS 1005
#define IDC_LINK 1007
#define IDC_PROGRESS 1010
#define IDC_ABOUT_VERSION 1011
#define IDC_BANNER 1012

#define IDM_ABOUTBOX 0x0010
#define IDM_SAVELOG 0x0020

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
