// Control entries of the test doubles of authdialogs and simcore. The doubles
// are real shared libraries with the real file names; the module binds them
// lazily as it binds the product. Tests look these control entries up by name
// in the same loaded library (see sibling_doubles_client.h) to script answers
// and read what the module passed.
#pragma once

#include <cstdint>

#include "abi/simcore.h"
#include "abi/authdialogs.h"

extern "C" {

// ---- simcore double
//
// swc_config_alloc hands out a real malloc'd handle, swc_config_free frees it.
// swc_scard_deinit of a handle ends the callback's registration and waits
// for callbacks in flight, so none runs after it returns.

// Forgets every script, the call log and the registered callback; waits for
// callbacks in flight. Handles stay valid.
typedef void(simcore_double_reset_fn)(void);
// swc_config_alloc returns null while set.
typedef void(simcore_double_fail_alloc_fn)(int fail);
// swc_scard_set_event_cb returns this (0 at first); the callback is
// registered only when it is 0.
typedef void(simcore_double_set_cb_status_fn)(int32_t status);
// Statuses of successive swc_scard_init calls; 0 once the queue is empty.
typedef void(simcore_double_push_init_status_fn)(int32_t status);
// While held, swc_scard_init waits after logging its call until the hold
// ends (to keep a caller inside it); the present cards are reported after.
typedef void(simcore_double_hold_init_fn)(int hold);
// Waits, without time-out, until the call log holds `count` lines containing
// `what`.
typedef void(simcore_double_wait_calls_fn)(const char* what, int count);
// A card present at start: reported as an event from another thread, and
// waited for, during every swc_scard_init that returns 0 while a callback is
// registered. Cards are reported in the order added, one thread for all.
typedef void(simcore_double_add_present_card_fn)(const VELTO_CARD_EVENT* event);
// Delivers a copy of the event to the registered callback from a new thread
// and waits for it. Returns the callback's result, or -1 when none is
// registered (none was, or swc_scard_deinit ended the registration).
typedef int32_t(simcore_double_deliver_fn)(const VELTO_CARD_EVENT* event);
// Answers of successive swc_scard_get_imsi calls (status, IMSI text or null);
// once the queue is empty the answer is -1. The text is written whatever the
// status, bounded by *length (terminator included); *length is left as it
// came.
typedef void(simcore_double_push_imsi_fn)(int32_t status, const char* imsi);
// The call log, one line per call, each ending in '\n', e.g.
// "swc_config_alloc(SupplicantPlugin_00-00-00-00-00-00,1)", "swc_scard_set_event_cb",
// "swc_scard_init", "swc_scard_get_imsi(READER,PIN|null,64)" (the last is
// *length on entry), "swc_scard_deinit(null|config)", "swc_config_free(null|config)".
// "unknown" stands for a handle this double did not hand out or has freed.
// Copies at most capacity - 1 bytes and a NUL; returns the full length.
typedef int(simcore_double_calls_fn)(char* buffer, int capacity);
// The context registered with swc_scard_set_event_cb (kept after deinit).
typedef void*(simcore_double_context_fn)(void);

// ---- authdialogs double

// Decides each dialog: `dialog` is the Create1XDlg dialog number, or -1 for
// CreateScDlg (then fail_code is its code). The hook may write the profile
// and *password_changed (null for CreateScDlg and when the module passed
// null); its result is the dialog's result. Without a hook every dialog is
// cancelled (0).
typedef int (*authdialogs_double_hook)(void* context, int dialog, _VELTO_WLAN_PROFILE_V120* profile,
                                       int fail_code, int* password_changed);
// The hook runs without any lock of the double held: it may deliver card
// events, which reach SetScListSc / SetScListSim.
typedef void(authdialogs_double_set_hook_fn)(authdialogs_double_hook hook, void* context);
typedef void(authdialogs_double_reset_fn)(void);
// Number of SetScListSc / SetScListSim calls so far, and copies of the
// dialog's lists: those CreateScDlg was given (zeroed for a null one), each
// replaced by the next non-null list SetScListSc / SetScListSim receives.
// The copies are taken inside the calls. Either pointer may be null.
typedef int(authdialogs_double_set_list_calls_fn)(void);
typedef void(authdialogs_double_last_lists_fn)(VELTO_SC_LIST_V120* sc, VELTO_SIM_LIST* sim);
// The window mode and owner of the last Create1XDlg or CreateScDlg call.
typedef void(authdialogs_double_last_window_fn)(_C8021X_SETTINGS_WINDOW_MODE* window_mode,
                                                HWND* owner);

}  // extern "C"
