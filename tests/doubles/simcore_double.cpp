// Test double of simcore: the entries of sim/simcore.h answer from a script
// the test sets through the control entries of sibling_doubles.h, and every
// call is logged. Card events reach the registered callback from threads of
// the double, as the real library's do.
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "doubles/sibling_doubles.h"

struct swc_config {
  char name[128];
  int32_t options;
};

extern "C" {
simcore_double_reset_fn simcore_double_reset;
simcore_double_fail_alloc_fn simcore_double_fail_alloc;
simcore_double_set_cb_status_fn simcore_double_set_cb_status;
simcore_double_push_init_status_fn simcore_double_push_init_status;
simcore_double_hold_init_fn simcore_double_hold_init;
simcore_double_wait_calls_fn simcore_double_wait_calls;
simcore_double_add_present_card_fn simcore_double_add_present_card;
simcore_double_deliver_fn simcore_double_deliver;
simcore_double_push_imsi_fn simcore_double_push_imsi;
simcore_double_calls_fn simcore_double_calls;
simcore_double_context_fn simcore_double_context;
}

namespace {

using EventPtr = std::unique_ptr<VELTO_CARD_EVENT>;

struct ImsiAnswer {
  int32_t status;
  bool has_text;
  std::string text;
};

std::mutex g_mutex;
std::condition_variable g_changed;  // on every call, when the hold ends and when a delivery ends

// All below are guarded by g_mutex.
bool g_fail_alloc = false;
int32_t g_cb_status = 0;
std::deque<int32_t> g_init_statuses;
bool g_hold_init = false;
std::vector<EventPtr> g_present_cards;
std::deque<ImsiAnswer> g_imsi_answers;
std::string g_calls;
swc_event_cb g_callback = nullptr;
void* g_context = nullptr;
bool g_registered = false;
int g_deliveries = 0;  // deliveries between taking the callback and its return
std::set<const swc_config*> g_live;

// Set on the double's delivery threads: a callback that ends the
// registration must not wait for itself.
thread_local bool t_in_callback = false;

const char* Text(const char* text) { return text != nullptr ? text : "null"; }

// Caller holds g_mutex.
const char* HandleText(const swc_config* config) {
  if (config == nullptr) return "null";
  return g_live.count(config) != 0 ? "config" : "unknown";
}

// Caller holds g_mutex.
void Log(const std::string& line) {
  g_calls += line;
  g_calls += '\n';
  g_changed.notify_all();
}

// Caller holds g_mutex.
int Occurrences(const std::string& what) {
  int n = 0;
  for (size_t at = g_calls.find(what); at != std::string::npos; at = g_calls.find(what, at + 1)) ++n;
  return n;
}

// Caller holds `lock` on g_mutex.
void WaitForDeliveries(std::unique_lock<std::mutex>& lock) {
  if (!t_in_callback) g_changed.wait(lock, [] { return g_deliveries == 0; });
}

template <typename T>
void Set(T* field, T value) {
  std::lock_guard<std::mutex> lock(g_mutex);
  *field = value;
  g_changed.notify_all();
}

// Runs the registered callback on each event, in order, on one new thread,
// and waits for it: the last result, or -1 when no callback is registered.
int32_t Deliver(const std::vector<EventPtr>& events) {
  swc_event_cb callback = nullptr;
  void* context = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_registered || g_callback == nullptr) return -1;
    callback = g_callback;
    context = g_context;
    ++g_deliveries;
  }
  int32_t result = -1;
  std::thread([&] {
    t_in_callback = true;
    for (const EventPtr& event : events) result = callback(context, event.get());
  }).join();
  std::lock_guard<std::mutex> lock(g_mutex);
  --g_deliveries;
  g_changed.notify_all();
  return result;
}

EventPtr CopyEvent(const VELTO_CARD_EVENT& event) { return std::make_unique<VELTO_CARD_EVENT>(event); }

}  // namespace

// ---- the library's entries

extern "C" swc_config* swc_config_alloc(const char* name, int32_t options) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Log("swc_config_alloc(" + std::string(Text(name)) + "," + std::to_string(options) + ")");
  if (g_fail_alloc) return nullptr;
  auto* config = static_cast<swc_config*>(std::calloc(1, sizeof(swc_config)));
  if (config == nullptr) return nullptr;
  std::snprintf(config->name, sizeof config->name, "%s", Text(name));
  config->options = options;
  g_live.insert(config);
  return config;
}

extern "C" int32_t swc_scard_set_event_cb(swc_config* config, swc_event_cb callback,
                                          void* context) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Log("swc_scard_set_event_cb");
  if (g_cb_status == 0) {
    g_callback = callback;
    g_context = context;
    g_registered = true;
  }
  return g_cb_status;
}

extern "C" int32_t swc_scard_init(swc_config* config) {
  int32_t status = 0;
  {
    std::unique_lock<std::mutex> lock(g_mutex);
    Log("swc_scard_init");
    if (!g_init_statuses.empty()) {
      status = g_init_statuses.front();
      g_init_statuses.pop_front();
    }
    g_changed.wait(lock, [] { return !g_hold_init; });
  }
  if (status != 0) return status;
  std::vector<EventPtr> cards;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const EventPtr& card : g_present_cards) cards.push_back(CopyEvent(*card));
  }
  if (!cards.empty()) Deliver(cards);
  return 0;
}

extern "C" int32_t swc_scard_get_imsi(swc_config* config, const char* reader, const char* pin,
                                      char* imsi, uint32_t* length) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Log("swc_scard_get_imsi(" + std::string(Text(reader)) + "," + Text(pin) + "," +
      (length != nullptr ? std::to_string(*length) : std::string("null")) + ")");
  if (g_imsi_answers.empty()) return -1;
  ImsiAnswer answer = std::move(g_imsi_answers.front());
  g_imsi_answers.pop_front();
  if (answer.has_text && imsi != nullptr && length != nullptr && *length != 0) {
    size_t n = std::min<size_t>(answer.text.size(), *length - 1);
    std::memcpy(imsi, answer.text.data(), n);
    imsi[n] = '\0';
  }
  return answer.status;
}

extern "C" int32_t swc_scard_deinit(swc_config* config) {
  std::unique_lock<std::mutex> lock(g_mutex);
  Log(std::string("swc_scard_deinit(") + HandleText(config) + ")");
  if (config == nullptr) return 0;
  g_registered = false;
  WaitForDeliveries(lock);
  return 0;
}

extern "C" void swc_config_free(swc_config* config) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Log(std::string("swc_config_free(") + HandleText(config) + ")");
  // A handle the double did not hand out is left alone; the log shows it.
  if (g_live.erase(config) != 0) std::free(config);
}

// ---- control entries

void simcore_double_reset(void) {
  std::unique_lock<std::mutex> lock(g_mutex);
  g_hold_init = false;
  g_changed.notify_all();
  g_registered = false;
  WaitForDeliveries(lock);
  g_fail_alloc = false;
  g_cb_status = 0;
  g_init_statuses.clear();
  g_present_cards.clear();
  g_imsi_answers.clear();
  g_calls.clear();
  g_callback = nullptr;
  g_context = nullptr;
}

void simcore_double_fail_alloc(int fail) { Set(&g_fail_alloc, fail != 0); }
void simcore_double_set_cb_status(int32_t status) { Set(&g_cb_status, status); }
void simcore_double_hold_init(int hold) { Set(&g_hold_init, hold != 0); }

void simcore_double_push_init_status(int32_t status) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_init_statuses.push_back(status);
}

void simcore_double_wait_calls(const char* what, int count) {
  std::unique_lock<std::mutex> lock(g_mutex);
  g_changed.wait(lock, [&] { return Occurrences(what) >= count; });
}

void simcore_double_add_present_card(const VELTO_CARD_EVENT* event) {
  if (event == nullptr) return;
  EventPtr copy = CopyEvent(*event);
  std::lock_guard<std::mutex> lock(g_mutex);
  g_present_cards.push_back(std::move(copy));
}

int32_t simcore_double_deliver(const VELTO_CARD_EVENT* event) {
  if (event == nullptr) return -1;
  std::vector<EventPtr> events;
  events.push_back(CopyEvent(*event));
  return Deliver(events);
}

void simcore_double_push_imsi(int32_t status, const char* imsi) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_imsi_answers.push_back({status, imsi != nullptr, imsi != nullptr ? imsi : ""});
}

int simcore_double_calls(char* buffer, int capacity) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (buffer != nullptr && capacity > 0) {
    size_t n = std::min<size_t>(g_calls.size(), static_cast<size_t>(capacity) - 1);
    std::memcpy(buffer, g_calls.data(), n);
    buffer[n] = '\0';
  }
  return static_cast<int>(g_calls.size());
}

void* simcore_double_context(void) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_context;
}
