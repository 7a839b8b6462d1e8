// Resource ids of Gatehook: dialog templates, bitmaps and control ids.
#pragma once

#define IDD_BOOT_NOTICE 121
#define IDD_LOCKED_NOTICE 136
#define IDD_EMERGENCY 143

#define IDB_BANNER 103
#define IDB_BOOT_PICTURE 119
#define IDB_DEFAULT_USER 141
#define IDB_SEPARATOR 144

#define IDC_SHUTDOWN_BUTTON 1019
#define IDC_PASSWORD 1041
#define IDC_EMERGENCY_STATUS 1042
#define IDC_LOCK_MESSAGE 1035
#define IDC_USER_PICTURE 1036
#define IDC_USER_NAME 1017
#define IDC_LOCK_STATUS 1020

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
