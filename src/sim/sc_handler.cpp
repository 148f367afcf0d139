// The card watch ("SCHandler"). The export's thread opens and closes it; the
// waiting thread and the SIM library's threads run the rest.
#include "sim/sc_handler.h"

#include <cstring>
#include <mutex>

#include "frame/sibling_calls.h"
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
constexpr uint32_t kStartWaitMs = 1000;
constexpr uint32_t kStopWaitMs = 2000;

// Written only by the export's thread.
swc_config* g_config = nullptr;
CFernoThread* g_thread = nullptr;

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
  if (finished != nullptr && platform::WaitSyncEvent(finished, kStopWaitMs)) return false;
  std::lock_guard<std::mutex> lock(shared->mutex);
  if (!shared->in_init) return false;
  shared->release_config = true;
  return true;
}

CFernoThread::~CFernoThread() {
  if (stop != nullptr) platform::SetSyncEvent(stop);
  bool ended = finished != nullptr && platform::WaitSyncEvent(finished, kStopWaitMs);
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
  for (platform::SyncEvent* event : {thread->started, thread->finished, thread->stop}) {
    platform::ResetSyncEvent(event);
  }
  thread->shared->config = g_config;
  g_thread = thread;

  auto* share = new std::shared_ptr<CFernoThread::Shared>(thread->shared);
  thread->thread_handle = platform::StartThread(SCInitThread, share, &thread->thread_id);
  if (thread->thread_handle == nullptr) delete share;
  platform::WaitSyncEvent(thread->started, kStartWaitMs);
}

void ScSimCardInit() {
  CScopedFernoFuncTrace trace("ScSimCardInit", __LINE__);
  char name[261] = {};
  std::memcpy(name, kConfigName, sizeof kConfigName);
  g_config = siblings::swc_config_alloc(name, 1);
  if (g_config == nullptr) return;
  if (siblings::swc_scard_set_event_cb(g_config, SCSIMCardCB, &g_sim_list) != 0) return;
  if (siblings::swc_scard_init(g_config) == 0) return;
  StartSCInitThread();
}

void ScSimCardDeinit() {
  // A thread that kept the handle releases it itself; it is not ours then.
  if (EndWaitingThread()) g_config = nullptr;
  siblings::swc_scard_deinit(g_config);
  siblings::swc_config_free(g_config);
  g_config = nullptr;
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

bool HasWaitingThread() { return g_thread != nullptr; }

}  // namespace velto
