#pragma once

// Resource ids of the Windows front end, for the resource scripts and the code alike. The
// control ids inside the dialog templates are the window models' own (ui/main_ids.h,
// utility/utility_ids.h); the ones here are the front end's additions.

#define IDI_ZUVOBOX 1

#define IDD_MAIN 100
#define IDD_MAIN_ABOUT 101
#define IDD_UTILITY 102
#define IDD_UTILITY_ABOUT 103

// The About boxes: the program's and the firmware's version lines.
#define IDC_ABOUT_VERSION 1075
#define IDC_ABOUT_FIRMWARE 1076
#define IDC_ABOUT_ICON 1077

// The utility's firmware update progress: the bar and its caption.
#define IDC_UPDATE_PROGRESS 2095
#define IDC_UPDATE_CAPTION 2096
