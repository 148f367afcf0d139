// The Windows binding of the sibling libraries: the entries are delay-load
// imports (libauthdialogs_delay.a, libsimcore_delay.a, made from the .def files
// beside the headers), so each library is loaded on the first call of one of
// its entries, from the directory SetDllDirectoryA made part of the search.
// A missing library or entry raises the delay-load exception; nothing here
// catches it.
#include "siblings/sibling_calls.h"

namespace velto::siblings {

int Create1XDlg(C8021X_DLGS dialog, _VELTO_WLAN_PROFILE_V120* profile,
                VELTO_DOT1X_AUTH_FAIL_CODE fail_code, _C8021X_SETTINGS_WINDOW_MODE window_mode,
                HWND owner, int* password_changed) {
  return ::Create1XDlg(dialog, profile, fail_code, window_mode, owner, password_changed);
}

int CreateScDlg(_VELTO_WLAN_PROFILE_V120* profile, VELTO_DOT1X_AUTH_FAIL_CODE fail_code,
                _C8021X_SETTINGS_WINDOW_MODE window_mode, HWND owner, VELTO_SC_LIST_V120* sc_list,
                VELTO_SIM_LIST* sim_list) {
  return ::CreateScDlg(profile, fail_code, window_mode, owner, sc_list, sim_list);
}

int SetScList(VELTO_SC_LIST_V120* sc_list) { return ::SetScListSc(sc_list); }

int SetScList(VELTO_SIM_LIST* sim_list) { return ::SetScListSim(sim_list); }

swc_config* swc_config_alloc(const char* name, int32_t options) {
  return ::swc_config_alloc(name, options);
}

int32_t swc_scard_set_event_cb(swc_config* config, swc_event_cb callback, void* context) {
  return ::swc_scard_set_event_cb(config, callback, context);
}

int32_t swc_scard_init(swc_config* config) { return ::swc_scard_init(config); }

int32_t swc_scard_get_imsi(swc_config* config, const char* reader, const char* pin, char* imsi,
                           uint32_t* length) {
  return ::swc_scard_get_imsi(config, reader, pin, imsi, length);
}

int32_t swc_scard_deinit(swc_config* config) { return ::swc_scard_deinit(config); }

void swc_config_free(swc_config* config) { ::swc_config_free(config); }

}  // namespace velto::siblings
