// authdialogs on Windows: the library's entries over the configuration,
// credential and smart-card dialogs of the resource script.
#include <windows.h>

#include "abi/authdialogs.h"
#include "authdialogs/controls_win.h"

namespace {

namespace win = velto::dialogs::win;

constexpr int kConfigurationDialog = 12;
constexpr int kCredentialDialog = 3;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    win::g_instance = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" int Create1XDlg(C8021X_DLGS dialog, _VELTO_WLAN_PROFILE_V120* profile,
                           VELTO_DOT1X_AUTH_FAIL_CODE, _C8021X_SETTINGS_WINDOW_MODE, HWND owner,
                           int* password_changed) {
  if (profile == nullptr) return 0;
  if (dialog == kConfigurationDialog) return win::ShowConfigDialog(owner, profile, password_changed);
  if (dialog == kCredentialDialog) return win::ShowCredentialDialog(owner, profile);
  return 0;
}

extern "C" int CreateScDlg(_VELTO_WLAN_PROFILE_V120* profile, VELTO_DOT1X_AUTH_FAIL_CODE fail_code,
                           _C8021X_SETTINGS_WINDOW_MODE, HWND owner, VELTO_SC_LIST_V120* sc_list,
                           VELTO_SIM_LIST* sim_list) {
  if (profile == nullptr) return 0;
  win::StoreScList(sc_list);
  win::StoreSimList(sim_list);
  return win::ShowSmartCardDialog(owner, profile, fail_code);
}

extern "C" int SetScListSc(VELTO_SC_LIST_V120* sc_list) {
  if (sc_list == nullptr) return 0;
  win::StoreScList(sc_list);
  return 1;
}

extern "C" int SetScListSim(VELTO_SIM_LIST* sim_list) {
  if (sim_list == nullptr) return 0;
  win::StoreSimList(sim_list);
  return 1;
}
