// The card watch ("SCHandler"). The export's thread opens and closes it; the
// waiting thread and the SIM library's threads run the rest.
#include "sim/sc_handler.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "siblings/sibling_calls.h"
#include "sim/card_lists.h"
#include "trace/trace.h"

VELTO_DECLARE_TRACE_SETTINGS()

namespace velto {

struct CFernoThread::Shared {
  std::mutex mutex;
  swc_config* config = nullptr;  // the handle the thread starts the watching with
  bool stopping = false;         // the owner asked the thread to end
  bool in_init = false;          // the thread is inside swc_scard_init
  bool release_config = false;   // the owner gave up: the thread releases the handle
  platform::SyncEvent* started = nullptr;
  platform::SyncEvent* finished = nullptr;
  platform::SyncEvent* stop = nullptr;

  ~Shared() {
    for (platform::SyncEvent* event : {started, finished, stop}) {
      if (event != nullptr) platform::CloseSyncEvent(event);
    }
  }
};

namespace {

constexpr char kConfigName[] = "SupplicantPlugin_00-00-00-00-00-00";

const WaitingThreadApi kWaitingThread = {platform::StartThread, 1000, 2000};

// Written only by the thread that holds the card watch.
swc_config* g_config = nullptr;
CFernoThread* g_thread = nullptr;
bool g_init_hold = false;  // ScSimCardInit's hold, let go by ScSimCardDeinit

// Who holds the card watch, and how many times.
std::mutex g_watch_mutex;
std::condition_variable g_watch_free;
std::thread::id g_watch_owner;
int g_watch_holds = 0;

void HoldCardWatch() {
  std::unique_lock<std::mutex> lock(g_watch_mutex);
  std::thread::id self = std::this_thread::get_id();
  if (g_watch_holds > 0 && g_watch_owner != self) {
    Trace("Card watch busy, waiting for the other call to close it");
    g_watch_free.wait(lock, [] { return g_watch_holds == 0; });
  }
  g_watch_owner = self;
  ++g_watch_holds;
}

void LetGoCardWatch() {
  {
    std::lock_guard<std::mutex> lock(g_watch_mutex);
    if (g_watch_holds == 0 || --g_watch_holds > 0) return;
    g_watch_owner = std::thread::id();
  }
  g_watch_free.notify_all();
}

const char* EventKindName(int32_t kind) {
  switch (kind) {
    case kCardInserted: return "inserted";
    case kCardRemoved: return "removed";
    case kCardUpdated: return "updated";
    default: return "";
  }
}

// Stops and deletes the current thread object. True when the thread kept
// the handle to release it itself.
bool EndWaitingThread() {
  if (g_thread == nullptr) return false;
  bool handed_over = g_thread->Stop();
  delete g_thread;
  g_thread = nullptr;
  return handed_over;
}

}  // namespace

Seam<WaitingThreadApi> g_waiting_thread(&kWaitingThread);

CardWatchGuard::CardWatchGuard() { HoldCardWatch(); }
CardWatchGuard::~CardWatchGuard() { LetGoCardWatch(); }

CFernoThread::CFernoThread() : shared(std::make_shared<Shared>()) {
  shared->started = started = platform::CreateManualResetEvent();
  shared->finished = finished = platform::CreateManualResetEvent();
  shared->stop = stop = platform::CreateManualResetEvent();
}

bool CFernoThread::Stop() {
  {
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->stopping = true;
  }
  if (stop != nullptr) platform::SetSyncEvent(stop);
  if (finished != nullptr && platform::WaitSyncEvent(finished, g_waiting_thread->stop_wait_ms)) {
    return false;
  }
  std::lock_guard<std::mutex> lock(shared->mutex);
  if (!shared->in_init) return false;
  shared->release_config = true;
  return true;
}

CFernoThread::~CFernoThread() {
  if (stop != nullptr) platform::SetSyncEvent(stop);
  bool ended =
      finished != nullptr && platform::WaitSyncEvent(finished, g_waiting_thread->stop_wait_ms);
  // The events close with the last owner of the shared block.
  started = nullptr;
  finished = nullptr;
  if (thread_handle != nullptr) {
    // Past its last step the thread still runs the module's code for a
    // moment: a host that unloads the module right after the card watch
    // closed would pull that code from under it.
    if (ended) platform::WaitThreadEnd(thread_handle);
    platform::CloseThreadHandle(thread_handle);
    thread_handle = nullptr;
  }
  stop = nullptr;
}

unsigned SCInitThread(void* argument) {
  CScopedFernoFuncTrace trace("SCInitThread", __LINE__);
  std::unique_ptr<std::shared_ptr<CFernoThread::Shared>> hold(
      static_cast<std::shared_ptr<CFernoThread::Shared>*>(argument));
  CFernoThread::Shared& shared = **hold;
  platform::SetSyncEvent(shared.started);

  const platform::SmartCardServiceApi& service = *platform::g_smartcard_service;
  if (platform::SyncEvent* running = service.access_started_event()) {
    if (platform::WaitAnySyncEvent(shared.stop, running) == 1) {
      swc_config* config = nullptr;
      {
        std::lock_guard<std::mutex> lock(shared.mutex);
        if (!shared.stopping) {
          shared.in_init = true;
          config = shared.config;
        }
      }
      if (config != nullptr) {
        siblings::swc_scard_init(config);
        bool release = false;
        {
          std::lock_guard<std::mutex> lock(shared.mutex);
          shared.in_init = false;
          release = shared.release_config;
        }
        if (release) {
          siblings::swc_scard_deinit(config);
          siblings::swc_config_free(config);
        }
      }
    }
    service.release_started_event();
  }
  platform::SetSyncEvent(shared.finished);
  return 0;
}

void StartSCInitThread() {
  if (EndWaitingThread()) g_config = nullptr;

  auto* thread = new CFernoThread;
  if (thread->started == nullptr || thread->finished == nullptr || thread->stop == nullptr) {
    delete thread;
    return;
  }
  thread->shared->config = g_config;
  g_thread = thread;

  auto* share = new std::shared_ptr<CFernoThread::Shared>(thread->shared);
  thread->thread_handle =
      g_waiting_thread->start_thread(SCInitThread, share, &thread->thread_id);
  if (thread->thread_handle == nullptr) {
    // Nothing will set the events: a kept object would only make every later
    // stop wait out its time-outs. The watch stays open, not watching.
    delete share;
    platform::SetSyncEvent(thread->finished);
    delete thread;
    g_thread = nullptr;
    return;
  }
  platform::WaitSyncEvent(thread->started, g_waiting_thread->start_wait_ms);
}

void ScSimCardInit() {
  CScopedFernoFuncTrace trace("ScSimCardInit", __LINE__);
  HoldCardWatch();
  if (g_init_hold) LetGoCardWatch();  // opened again without a close: one hold
  g_init_hold = true;
  char name[261] = {};
  std::memcpy(name, kConfigName, sizeof kConfigName);
  g_config = siblings::swc_config_alloc(name, 1);
  if (g_config == nullptr) return;
  if (siblings::swc_scard_set_event_cb(g_config, SCSIMCardCB, &g_sim_list) != 0) return;
  if (siblings::swc_scard_init(g_config) == 0) return;
  StartSCInitThread();
}

void ScSimCardDeinit() {
  HoldCardWatch();
  // A thread that kept the handle releases it itself; it is not ours then.
  if (EndWaitingThread()) g_config = nullptr;
  siblings::swc_scard_deinit(g_config);
  siblings::swc_config_free(g_config);
  g_config = nullptr;
  if (g_init_hold) {
    g_init_hold = false;
    LetGoCardWatch();
  }
  LetGoCardWatch();
}

int32_t SCSIMCardCB(void* context, VELTO_CARD_EVENT* event) {
  CScopedFernoFuncTrace trace("SCSIMCardCB", __LINE__);
  if (event == nullptr) {
    Trace("SCardCB- invalid event data ctx [%p] ev [%p]", context, static_cast<void*>(event));
    return 0;
  }
  char reader[sizeof event->reader_name + 1] = {};
  std::memcpy(reader, event->reader_name, sizeof event->reader_name);
  Trace("SCardCB- reader [%s] event [%s]", reader, EventKindName(event->kind));

  // The lists change and reach the dialog library under one lock; the dialog
  // library copies them inside SetScList.
  LockCardLists();
  UpdateCardLists(event);
  siblings::SetScList(&g_sc_list);
  siblings::SetScList(&g_sim_list);
  UnlockCardLists();
  return 0;
}

swc_config* CurrentSimConfig() { return g_config; }

}  // namespace velto
