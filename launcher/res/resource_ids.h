// Resource identifiers of the launcher, shared by the .rc script and the code.
#pragma once

#define IDS_APP_TITLE 103
#define IDC_TAVUF9RECOVERY 109
#define IDM_ABOUT 104
#define IDB_PANEL 129
#define IDB_BUTTON_NORMAL 130
#define IDB_BUTTON_HOVER 131
#define IDI_TAVU 132
