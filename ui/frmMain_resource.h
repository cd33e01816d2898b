#pragma once

// Resource and control identifiers of the main window, shared by the resource script, the
// window and the tests that drive it from outside. Plain defines: the resource compiler
// reads this file too.

#define IDI_SECTORSIEVE 1
#define IDR_MAINMENU 100

#define IDM_QUIT 1001
#define IDM_ABOUT 1002
#define IDM_CONTENTS 1003

#define IDC_LABEL3 2001
#define IDC_LABEL4 2002
#define IDC_CMDBROWSESOURCE 2003
#define IDC_CMDBROWSEDESTINATION 2004
#define IDC_CMDEXTRACT 2005
#define IDC_LBLSOURCE 2006
#define IDC_LBLDESTINATION 2007

#define SECTORSIEVE_WINDOW_CLASS L"SectorSieve.frmMain"

// The contents window.
#define IDC_CONTENTS_FINDLABEL 3001
#define IDC_CONTENTS_FILTER 3002
#define IDC_CONTENTS_COUNT 3003
#define IDC_CONTENTS_LIST 3004
#define IDC_CONTENTS_EXTRACT 3005
#define IDC_CONTENTS_STATUS 3006
#define IDC_CONTENTS_RENAME 3007
// The contents window's Edit menu.
#define IDM_CONTENTS_ADD 1101
#define IDM_CONTENTS_REMOVE 1102
#define IDM_CONTENTS_RENAME 1103
#define IDM_CONTENTS_COMPACT 1104

#define SECTORSIEVE_CONTENTS_CLASS L"SectorSieve.frmContents"
