// Control entries of the doubles of authdialogs and simcore (libraries of the real names).
#pragma once

#include <cstdint>

#include "abi/simcore.h"
#include "abi/authdialogs.h"

extern "C" {

// ---- simcore double. swc_config_alloc hands out a malloc'd handle;
// swc_scard_deinit of it (and reset) ends the callback's registration and
// waits for callbacks in flight. reset also forgets the scripts and the log.
typedef void(simcore_double_reset_fn)(void);
typedef void(simcore_double_fail_alloc_fn)(int fail);  // swc_config_alloc null while set
// swc_scard_set_event_cb's result (0 at first); only 0 registers the callback.
typedef void(simcore_double_set_cb_status_fn)(int32_t status);
typedef void(simcore_double_push_init_status_fn)(int32_t status);  // next swc_scard_init results
typedef void(simcore_double_hold_init_fn)(int hold);  // swc_scard_init waits while held
typedef void(simcore_double_wait_calls_fn)(const char* what, int count);  // `count` log lines
// A card present at start: delivered in order, from another thread, and waited
// for during each swc_scard_init that returns 0 with a callback registered.
typedef void(simcore_double_add_present_card_fn)(const VELTO_CARD_EVENT* event);
// Delivers a copy to the callback from a new thread: its result, or -1 if none.
typedef int32_t(simcore_double_deliver_fn)(const VELTO_CARD_EVENT* event);
// Answers of successive swc_scard_get_imsi calls (-1 once none is left); the
// text is written whatever the status, bounded by *length, left as it came.
typedef void(simcore_double_push_imsi_fn)(int32_t status, const char* imsi);
// The call log, a line per call ("swc_scard_deinit(null|config|unknown)\n"):
// at most capacity - 1 bytes and a NUL copied; returns the full length.
typedef int(simcore_double_calls_fn)(char* buffer, int capacity);
typedef void*(simcore_double_context_fn)(void);  // swc_scard_set_event_cb's context

// ---- authdialogs double. The hook decides each dialog (without one: 0,
// cancelled); `dialog` is -1 for CreateScDlg. It runs with no lock held and
// may write the profile and *password_changed (null for CreateScDlg).
typedef int (*authdialogs_double_hook)(void* context, int dialog, _VELTO_WLAN_PROFILE_V120* profile,
                                       int fail_code, int* password_changed);
typedef void(authdialogs_double_set_hook_fn)(authdialogs_double_hook hook, void* context);
typedef void(authdialogs_double_reset_fn)(void);
// SetScList calls so far, and copies of the lists CreateScDlg was given (zeroed
// if null), each replaced by the next non-null list SetScList receives.
typedef int(authdialogs_double_set_list_calls_fn)(void);
typedef void(authdialogs_double_last_lists_fn)(VELTO_SC_LIST_V120* sc, VELTO_SIM_LIST* sim);
typedef void(authdialogs_double_last_window_fn)(_C8021X_SETTINGS_WINDOW_MODE* window_mode,
                                                HWND* owner);  // of the last dialog

}  // extern "C"
