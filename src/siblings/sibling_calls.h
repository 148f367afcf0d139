// Calls into the two sibling libraries, authdialogs and simcore. Each library
// is bound by its file name the first time one of its entries is called, and
// each entry is looked up by name then, in the library directory the start-up
// chose ("TamrixBinDir").
//
// Windows: delay-load imports. A missing library or entry raises the
// platform's delay-load exception (0xC06D007E / 0xC06D007F), which the module
// does not catch.
// Linux: dlopen of <directory>/authdialogs.so (or simcore.so) and dlsym. A
// missing library or entry makes the call fail cleanly as the library's own
// failure would: a dialog reads as cancelled (0), SetScList is ignored (0),
// swc_config_alloc gives null and the other swc_ entries -1.
#pragma once

#include <cstdint>

#include "abi/simcore.h"
#include "abi/authdialogs.h"

namespace velto::siblings {

int Create1XDlg(C8021X_DLGS dialog, _VELTO_WLAN_PROFILE_V120* profile,
                VELTO_DOT1X_AUTH_FAIL_CODE fail_code, _C8021X_SETTINGS_WINDOW_MODE window_mode,
                HWND owner, int* password_changed);
int CreateScDlg(_VELTO_WLAN_PROFILE_V120* profile, VELTO_DOT1X_AUTH_FAIL_CODE fail_code,
                _C8021X_SETTINGS_WINDOW_MODE window_mode, HWND owner, VELTO_SC_LIST_V120* sc_list,
                VELTO_SIM_LIST* sim_list);
int SetScList(VELTO_SC_LIST_V120* sc_list);
int SetScList(VELTO_SIM_LIST* sim_list);

swc_config* swc_config_alloc(const char* name, int32_t options);
int32_t swc_scard_set_event_cb(swc_config* config, swc_event_cb callback, void* context);
int32_t swc_scard_init(swc_config* config);
int32_t swc_scard_get_imsi(swc_config* config, const char* reader, const char* pin, char* imsi,
                           uint32_t* length);
int32_t swc_scard_deinit(swc_config* config);
void swc_config_free(swc_config* config);

}  // namespace velto::siblings
