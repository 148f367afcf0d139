// Test double of authdialogs: the test's hook decides each dialog (no hook: cancelled); the lists
// handed over are copied inside the calls, as the real library copies them.
#include <cstring>
#include <mutex>
#include <utility>
#include "doubles/sibling_doubles.h"

extern "C" {
authdialogs_double_set_hook_fn authdialogs_double_set_hook;
authdialogs_double_reset_fn authdialogs_double_reset;
authdialogs_double_set_list_calls_fn authdialogs_double_set_list_calls;
authdialogs_double_last_lists_fn authdialogs_double_last_lists;
authdialogs_double_last_window_fn authdialogs_double_last_window;
}

namespace {

// All of it guarded by g_mutex; reset zeroes it.
std::mutex g_mutex;
struct State {
  authdialogs_double_hook hook;
  void* hook_context;
  int set_list_calls;
  VELTO_SC_LIST_V120 sc_list;
  VELTO_SIM_LIST sim_list;
  _C8021X_SETTINGS_WINDOW_MODE window_mode;
  HWND owner;
} g;

// The hook is taken under the lock and run outside it.
int Decide(int dialog, _VELTO_WLAN_PROFILE_V120* profile, int fail_code,
           _C8021X_SETTINGS_WINDOW_MODE window_mode, HWND owner, int* password_changed) {
  std::unique_lock<std::mutex> lock(g_mutex);
  g.window_mode = window_mode;
  g.owner = owner;
  auto [hook, context] = std::pair(g.hook, g.hook_context);
  lock.unlock();
  return hook != nullptr ? hook(context, dialog, profile, fail_code, password_changed) : 0;
}

template <typename List>
int SetList(List* copy, const List* list) {
  std::lock_guard<std::mutex> lock(g_mutex);
  ++g.set_list_calls;
  if (list != nullptr) *copy = *list;
  return list != nullptr ? 1 : 0;
}

}  // namespace

extern "C" int Create1XDlg(C8021X_DLGS dialog, _VELTO_WLAN_PROFILE_V120* profile, VELTO_DOT1X_AUTH_FAIL_CODE fail_code,
                           _C8021X_SETTINGS_WINDOW_MODE window_mode, HWND owner, int* password_changed) {
  return Decide(dialog, profile, fail_code, window_mode, owner, password_changed);
}

extern "C" int CreateScDlg(_VELTO_WLAN_PROFILE_V120* profile, VELTO_DOT1X_AUTH_FAIL_CODE fail_code,
                           _C8021X_SETTINGS_WINDOW_MODE window_mode, HWND owner, VELTO_SC_LIST_V120* sc_list,
                           VELTO_SIM_LIST* sim_list) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g.sc_list = sc_list != nullptr ? *sc_list : VELTO_SC_LIST_V120{};  // a null list: zeroed
    g.sim_list = sim_list != nullptr ? *sim_list : VELTO_SIM_LIST{};
  }
  return Decide(-1, profile, fail_code, window_mode, owner, nullptr);
}

extern "C" int SetScListSc(VELTO_SC_LIST_V120* sc_list) { return SetList(&g.sc_list, sc_list); }
extern "C" int SetScListSim(VELTO_SIM_LIST* sim_list) { return SetList(&g.sim_list, sim_list); }

void authdialogs_double_set_hook(authdialogs_double_hook hook, void* context) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g.hook = hook;
  g.hook_context = context;
}
void authdialogs_double_reset(void) { std::lock_guard<std::mutex> lock(g_mutex); std::memset(&g, 0, sizeof g); }
int authdialogs_double_set_list_calls(void) { std::lock_guard<std::mutex> lock(g_mutex); return g.set_list_calls; }
void authdialogs_double_last_lists(VELTO_SC_LIST_V120* sc, VELTO_SIM_LIST* sim) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (sc != nullptr) *sc = g.sc_list;
  if (sim != nullptr) *sim = g.sim_list;
}
void authdialogs_double_last_window(_C8021X_SETTINGS_WINDOW_MODE* window_mode, HWND* owner) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (window_mode != nullptr) *window_mode = g.window_mode;
  if (owner != nullptr) *owner = g.owner;
}
