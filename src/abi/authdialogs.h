// The binary convention of authdialogs, the dialog library. The module and
// every implementation of the library (the product, the test double) include
// this header.
//
// Entries have C linkage and these exact names. The two SetScList overloads
// of the module's code cannot share one C name, so the library exports them
// as SetScListSc and SetScListSim; the inline overloads below give the module
// its two SetScList calls.
#pragma once

#include "abi/eap_abi.h"
#include "abi/card_records.h"
#include "abi/dialog_profile.h"

typedef int C8021X_DLGS;                  // 12 configuration, 3 credential
typedef int VELTO_DOT1X_AUTH_FAIL_CODE;   // 0, or 150 / 159 for the smart-card dialog
typedef int _C8021X_SETTINGS_WINDOW_MODE;

extern "C" {

// Shows a dialog on the profile. Nonzero: confirmed, and the profile holds
// the user's choices; 0: cancelled. `password_changed`, when given, comes in
// as 1 and goes out nonzero when the dialog's password replaces the stored
// one.
typedef int(Create1XDlgFn)(C8021X_DLGS dialog, _VELTO_WLAN_PROFILE_V120* profile,
                           VELTO_DOT1X_AUTH_FAIL_CODE fail_code,
                           _C8021X_SETTINGS_WINDOW_MODE window_mode, HWND owner,
                           int* password_changed);

// Shows the smart-card dialog with the readers and cards of the two lists.
// The library copies the lists before it returns control to any other code;
// it never keeps the pointers.
typedef int(CreateScDlgFn)(_VELTO_WLAN_PROFILE_V120* profile, VELTO_DOT1X_AUTH_FAIL_CODE fail_code,
                           _C8021X_SETTINGS_WINDOW_MODE window_mode, HWND owner,
                           VELTO_SC_LIST_V120* sc_list, VELTO_SIM_LIST* sim_list);

// New list contents for an open smart-card dialog. Called on the card event
// callback's thread; the library copies the list inside the call.
typedef int(SetScListScFn)(VELTO_SC_LIST_V120* sc_list);
typedef int(SetScListSimFn)(VELTO_SIM_LIST* sim_list);

}  // extern "C"

inline constexpr char kAuthDialogsCreate1XDlg[] = "Create1XDlg";
inline constexpr char kAuthDialogsCreateScDlg[] = "CreateScDlg";
inline constexpr char kAuthDialogsSetScListSc[] = "SetScListSc";
inline constexpr char kAuthDialogsSetScListSim[] = "SetScListSim";

// The entries themselves, for implementations and for the Windows module,
// which calls them through delay-load imports.
extern "C" {
Create1XDlgFn Create1XDlg;
CreateScDlgFn CreateScDlg;
SetScListScFn SetScListSc;
SetScListSimFn SetScListSim;
}
