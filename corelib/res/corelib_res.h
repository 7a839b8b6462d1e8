// Resource ids of Corelib's own lock dialogs: templates, bitmaps and control ids.
#pragma once

#define IDD_LIB_BOOT_NOTICE 121
#define IDD_LIB_LOCKED_NOTICE 136

#define IDB_LIB_BANNER 103
#define IDB_LIB_BOOT_PICTURE 119
#define IDB_LIB_DEFAULT_USER 143
#define IDB_LIB_SEPARATOR 144

#define IDC_LIB_USER_NAME 1017
#define IDC_LIB_SHUTDOWN_BUTTON 1019
#define IDC_LIB_LOCK_STATUS 1020
#define IDC_LIB_LOCK_MESSAGE 1035
#define IDC_LIB_USER_PICTURE 1036

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
