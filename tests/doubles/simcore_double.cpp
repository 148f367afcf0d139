// Test double of simcore: its entries answer from a script set through the control entries of
// sibling_doubles.h, and every call is logged. Card events reach the registered callback from
// threads of the double, as the real library's do.
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "doubles/sibling_doubles.h"

struct swc_config {};

namespace {

// All guarded by g_mutex; g_changed on every call, hold end and delivery end.
std::mutex g_mutex;
std::condition_variable g_changed;
bool g_fail_alloc = false, g_hold_init = false, g_registered = false;
int32_t g_cb_status = 0;
std::deque<int32_t> g_init_statuses;
using Events = std::vector<std::unique_ptr<VELTO_CARD_EVENT>>;
Events g_present_cards;
std::deque<std::pair<int32_t, std::string>> g_imsi_answers;  // "\x01": no text
std::string g_calls;
swc_event_cb g_callback = nullptr;
void* g_context = nullptr;
int g_deliveries = 0;  // between taking the callback and its return

// On the delivery threads: a callback that ends the registration must not wait for itself.
thread_local bool t_in_callback = false;

const char* Text(const char* text) { return text != nullptr ? text : "null"; }
const char* HandleText(const swc_config* config) { return config == nullptr ? "null" : "config"; }
void Log(const std::string& line) { g_calls += line + '\n', g_changed.notify_all(); }
void WaitForDeliveries(std::unique_lock<std::mutex>& lock) {
  if (!t_in_callback) g_changed.wait(lock, [] { return g_deliveries == 0; });
}
template <typename T>
void Set(T* field, T value) { std::lock_guard<std::mutex> lock(g_mutex); *field = value, g_changed.notify_all(); }

// Runs the callback on each event, in order, on one new thread, and waits for
// it: the last result, or -1 when no callback is registered.
int32_t Deliver(Events events) {
  std::unique_lock<std::mutex> lock(g_mutex);
  if (!g_registered || g_callback == nullptr) return -1;
  swc_event_cb callback = g_callback;
  void* context = g_context;
  ++g_deliveries;
  lock.unlock();
  int32_t result = -1;
  std::thread([&] {
    t_in_callback = true;
    for (auto& event : events) result = callback(context, event.get());
  }).join();
  lock.lock();
  --g_deliveries, g_changed.notify_all();
  return result;
}

}  // namespace

extern "C" {
swc_config* swc_config_alloc(const char* name, int32_t options) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Log("swc_config_alloc(" + std::string(Text(name)) + "," + std::to_string(options) + ")");
  return g_fail_alloc ? nullptr : new swc_config;
}

int32_t swc_scard_set_event_cb(swc_config*, swc_event_cb callback, void* context) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Log("swc_scard_set_event_cb");
  if (g_cb_status == 0) g_callback = callback, g_context = context, g_registered = true;
  return g_cb_status;
}

int32_t swc_scard_init(swc_config*) {
  Events cards;
  {
    std::unique_lock<std::mutex> lock(g_mutex);
    Log("swc_scard_init");
    int32_t status = g_init_statuses.empty() ? 0 : g_init_statuses.front();
    if (!g_init_statuses.empty()) g_init_statuses.pop_front();
    g_changed.wait(lock, [] { return !g_hold_init; });
    if (status != 0) return status;
    for (auto& card : g_present_cards) cards.push_back(std::make_unique<VELTO_CARD_EVENT>(*card));
  }
  if (!cards.empty()) Deliver(std::move(cards));
  return 0;
}

int32_t swc_scard_get_imsi(swc_config*, const char* reader, const char* pin, char* imsi, uint32_t* length) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Log("swc_scard_get_imsi(" + std::string(Text(reader)) + "," + Text(pin) + "," +
      (length != nullptr ? std::to_string(*length) : std::string("null")) + ")");
  if (g_imsi_answers.empty()) return -1;
  auto [status, text] = std::move(g_imsi_answers.front());
  g_imsi_answers.pop_front();
  if (text != "\x01" && imsi != nullptr && length != nullptr && *length != 0) {
    imsi[text.copy(imsi, *length - 1)] = '\0';
  }
  return status;
}

int32_t swc_scard_deinit(swc_config* config) {
  std::unique_lock<std::mutex> lock(g_mutex);
  Log(std::string("swc_scard_deinit(") + HandleText(config) + ")");
  if (config != nullptr) g_registered = false, WaitForDeliveries(lock);
  return 0;
}

void swc_config_free(swc_config* config) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Log(std::string("swc_config_free(") + HandleText(config) + ")");
  delete config;
}

void simcore_double_reset(void) {
  std::unique_lock<std::mutex> lock(g_mutex);
  g_hold_init = g_registered = false;
  g_changed.notify_all(), WaitForDeliveries(lock);
  g_fail_alloc = false, g_cb_status = 0, g_callback = nullptr, g_context = nullptr;
  g_init_statuses.clear(), g_present_cards.clear(), g_imsi_answers.clear(), g_calls.clear();
}

void simcore_double_fail_alloc(int fail) { Set(&g_fail_alloc, fail != 0); }
void simcore_double_set_cb_status(int32_t status) { Set(&g_cb_status, status); }
void simcore_double_hold_init(int hold) { Set(&g_hold_init, hold != 0); }
void simcore_double_push_init_status(int32_t status) { std::lock_guard<std::mutex> lock(g_mutex); g_init_statuses.push_back(status); }
void simcore_double_wait_calls(const char* what, int count) {
  std::unique_lock<std::mutex> lock(g_mutex);
  g_changed.wait(lock, [&] {
    int n = 0;
    for (size_t at = g_calls.find(what); at != std::string::npos; at = g_calls.find(what, at + 1)) ++n;
    return n >= count;
  });
}

void simcore_double_add_present_card(const VELTO_CARD_EVENT* event) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (event != nullptr) g_present_cards.push_back(std::make_unique<VELTO_CARD_EVENT>(*event));
}
int32_t simcore_double_deliver(const VELTO_CARD_EVENT* event) {
  Events events;
  if (event != nullptr) events.push_back(std::make_unique<VELTO_CARD_EVENT>(*event));
  return event != nullptr ? Deliver(std::move(events)) : -1;
}
void simcore_double_push_imsi(int32_t status, const char* imsi) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_imsi_answers.emplace_back(status, imsi != nullptr ? imsi : "\x01");
}
int simcore_double_calls(char* buffer, int capacity) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (buffer != nullptr && capacity > 0) buffer[g_calls.copy(buffer, static_cast<size_t>(capacity) - 1)] = '\0';
  return static_cast<int>(g_calls.size());
}

void* simcore_double_context(void) { return std::lock_guard<std::mutex>(g_mutex), g_context; }

}  // extern "C"
