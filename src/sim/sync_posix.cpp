// Linux twin of the card watch's platform objects. Events are flags under one
// process-wide lock and condition variable: there are only a handful, and a
// single condition makes waiting on two of them at once simple and exact.
//
// The smart-card service's started event: signalled once pcsc-lite answers
// (SCardEstablishContext succeeds); see started_event_posix.h.
#include <PCSC/winscard.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "sim/started_event_posix.h"
#include "sim/sync.h"

namespace velto::platform {

struct ThreadHandle {
  std::thread thread;
};

namespace {

// The condition is never destroyed (built in static storage): a waiting
// thread that outlived its stop may still set its finished event while the
// process exits. std::mutex has nothing to destroy.
std::mutex g_mutex;
alignas(std::condition_variable) unsigned char g_changed_storage[sizeof(std::condition_variable)];
std::condition_variable& g_changed = *new (g_changed_storage) std::condition_variable;

bool PcscAnswers() {
  SCARDCONTEXT context = 0;
  if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS) {
    return false;
  }
  SCardReleaseContext(context);
  return true;
}

PcscStartedEvent g_pcsc_started(PcscAnswers);

SyncEvent* AccessStartedEvent() { return g_pcsc_started.Access(); }
void ReleaseStartedEvent() { g_pcsc_started.Release(); }

const SmartCardServiceApi kPosixSmartCardService = {AccessStartedEvent, ReleaseStartedEvent};

}  // namespace

Seam<SmartCardServiceApi> g_smartcard_service(&kPosixSmartCardService);

SyncEvent* PcscStartedEvent::Access() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (holders_++ == 0) {
    current_ = std::make_shared<Poller>();
    thread_ = std::thread([this, poller = current_] { Poll(poller); });
  }
  return &event_;
}

void PcscStartedEvent::Release() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (holders_ == 0 || --holders_ != 0) return;
    current_->stopping = true;
    current_.reset();
    thread = std::move(thread_);
  }
  wake_.notify_all();
  if (thread.joinable()) thread.join();
}

void PcscStartedEvent::Poll(const std::shared_ptr<Poller>& poller) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!poller->stopping) {
    lock.unlock();
    bool up = probe_();
    lock.lock();
    if (up) {
      SetSyncEvent(&event_);  // stays set: the service was seen running
      return;
    }
    wake_.wait_for(lock, std::chrono::milliseconds(400), [&] { return poller->stopping; });
  }
}

SyncEvent* CreateManualResetEvent() { return new (std::nothrow) SyncEvent; }

void SetSyncEvent(SyncEvent* event) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    event->signalled = true;
  }
  g_changed.notify_all();
}

bool WaitSyncEvent(SyncEvent* event, uint32_t milliseconds) {
  std::unique_lock<std::mutex> lock(g_mutex);
  auto signalled = [event] { return event->signalled; };
  if (milliseconds == kWaitForever) {
    g_changed.wait(lock, signalled);
    return true;
  }
  return g_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), signalled);
}

int WaitAnySyncEvent(SyncEvent* first, SyncEvent* second) {
  if (first == nullptr || second == nullptr) return -1;
  std::unique_lock<std::mutex> lock(g_mutex);
  g_changed.wait(lock, [&] { return first->signalled || second->signalled; });
  return first->signalled ? 0 : 1;
}

void CloseSyncEvent(SyncEvent* event) { delete event; }

ThreadHandle* StartThread(ThreadProc proc, void* argument, uint32_t* thread_id) {
  static std::atomic<uint32_t> next_id{1};
  auto* handle = new (std::nothrow) ThreadHandle;
  if (handle == nullptr) return nullptr;
  try {
    handle->thread = std::thread([proc, argument] { proc(argument); });
  } catch (...) {
    delete handle;
    return nullptr;
  }
  *thread_id = next_id++;
  return handle;
}

void WaitThreadEnd(ThreadHandle* thread) {
  if (thread->thread.joinable()) thread->thread.join();
}

void CloseThreadHandle(ThreadHandle* thread) {
  if (thread->thread.joinable()) thread->thread.detach();
  delete thread;
}

}  // namespace velto::platform
