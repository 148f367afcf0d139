// Test double of authdialogs: a dialog's outcome is whatever the test's hook
// decides (no hook: cancelled), and the lists the module hands over are
// copied inside the calls, as the real library copies them, so the test reads
// what the dialog would show.
#include <cstring>
#include <mutex>

#include "doubles/sibling_doubles.h"

extern "C" {
authdialogs_double_set_hook_fn authdialogs_double_set_hook;
authdialogs_double_reset_fn authdialogs_double_reset;
authdialogs_double_set_list_calls_fn authdialogs_double_set_list_calls;
authdialogs_double_last_lists_fn authdialogs_double_last_lists;
authdialogs_double_last_window_fn authdialogs_double_last_window;
}

namespace {

std::mutex g_mutex;

// All below are guarded by g_mutex.
authdialogs_double_hook g_hook = nullptr;
void* g_hook_context = nullptr;
int g_set_list_calls = 0;
VELTO_SC_LIST_V120 g_sc_list;
VELTO_SIM_LIST g_sim_list;
_C8021X_SETTINGS_WINDOW_MODE g_window_mode = 0;
HWND g_owner = nullptr;

// Copies the list, or zeroes the copy for a null one.
template <typename List>
void CopyList(List* copy, const List* list) {
  if (list != nullptr) {
    std::memcpy(copy, list, sizeof *copy);
  } else {
    std::memset(copy, 0, sizeof *copy);
  }
}

// The hook is taken under the lock and run outside it.
int Decide(int dialog, _VELTO_WLAN_PROFILE_V120* profile, int fail_code,
           _C8021X_SETTINGS_WINDOW_MODE window_mode, HWND owner, int* password_changed) {
  authdialogs_double_hook hook;
  void* context;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_window_mode = window_mode;
    g_owner = owner;
    hook = g_hook;
    context = g_hook_context;
  }
  return hook != nullptr ? hook(context, dialog, profile, fail_code, password_changed) : 0;
}

}  // namespace

// ---- the library's entries

extern "C" int Create1XDlg(C8021X_DLGS dialog, _VELTO_WLAN_PROFILE_V120* profile,
                           VELTO_DOT1X_AUTH_FAIL_CODE fail_code,
                           _C8021X_SETTINGS_WINDOW_MODE window_mode, HWND owner,
                           int* password_changed) {
  return Decide(dialog, profile, fail_code, window_mode, owner, password_changed);
}

extern "C" int CreateScDlg(_VELTO_WLAN_PROFILE_V120* profile, VELTO_DOT1X_AUTH_FAIL_CODE fail_code,
                           _C8021X_SETTINGS_WINDOW_MODE window_mode, HWND owner,
                           VELTO_SC_LIST_V120* sc_list, VELTO_SIM_LIST* sim_list) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    CopyList(&g_sc_list, sc_list);
    CopyList(&g_sim_list, sim_list);
  }
  return Decide(-1, profile, fail_code, window_mode, owner, nullptr);
}

extern "C" int SetScListSc(VELTO_SC_LIST_V120* sc_list) {
  std::lock_guard<std::mutex> lock(g_mutex);
  ++g_set_list_calls;
  if (sc_list == nullptr) return 0;
  CopyList(&g_sc_list, sc_list);
  return 1;
}

extern "C" int SetScListSim(VELTO_SIM_LIST* sim_list) {
  std::lock_guard<std::mutex> lock(g_mutex);
  ++g_set_list_calls;
  if (sim_list == nullptr) return 0;
  CopyList(&g_sim_list, sim_list);
  return 1;
}

// ---- control entries

void authdialogs_double_set_hook(authdialogs_double_hook hook, void* context) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_hook = hook;
  g_hook_context = context;
}

void authdialogs_double_reset(void) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_hook = nullptr;
  g_hook_context = nullptr;
  g_set_list_calls = 0;
  std::memset(&g_sc_list, 0, sizeof g_sc_list);
  std::memset(&g_sim_list, 0, sizeof g_sim_list);
  g_window_mode = 0;
  g_owner = nullptr;
}

int authdialogs_double_set_list_calls(void) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_set_list_calls;
}

void authdialogs_double_last_lists(VELTO_SC_LIST_V120* sc, VELTO_SIM_LIST* sim) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (sc != nullptr) std::memcpy(sc, &g_sc_list, sizeof *sc);
  if (sim != nullptr) std::memcpy(sim, &g_sim_list, sizeof *sim);
}

void authdialogs_double_last_window(_C8021X_SETTINGS_WINDOW_MODE* window_mode, HWND* owner) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (window_mode != nullptr) *window_mode = g_window_mode;
  if (owner != nullptr) *owner = g_owner;
}
