// authdialogs on Linux: the dialogs as prompts on the controlling terminal.
#include "ui/authdialogs.h"

extern "C" int Create1XDlg(C8021X_DLGS, _VELTO_WLAN_PROFILE_V120*, VELTO_DOT1X_AUTH_FAIL_CODE,
                           _C8021X_SETTINGS_WINDOW_MODE, HWND, int*) {
  return 0;
}
extern "C" int CreateScDlg(_VELTO_WLAN_PROFILE_V120*, VELTO_DOT1X_AUTH_FAIL_CODE,
                           _C8021X_SETTINGS_WINDOW_MODE, HWND, VELTO_SC_LIST_V120*, VELTO_SIM_LIST*) {
  return 0;
}
extern "C" int SetScListSc(VELTO_SC_LIST_V120*) { return 0; }
extern "C" int SetScListSim(VELTO_SIM_LIST*) { return 0; }
