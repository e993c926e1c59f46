// Resource identifiers of plcflash.exe.
#pragma once

#define IDD_MASTER 131
#define IDC_PAGE_PLACEHOLDER 1010
#define IDC_STARTUP_NOTE 1011
#define ID_WIZBACK 12323
#define ID_WIZNEXT 12324
#define ID_WIZFINISH 12325
#define ID_HELP 57670
