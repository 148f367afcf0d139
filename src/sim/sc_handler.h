// The card watch: one at a time. It opens a handle with the SIM library,
// registers the card event callback and starts watching; when the smart-card
// service is not running yet, a waiting thread starts the watching as soon as
// the service comes up. Every card event updates the lists and pushes them to
// the dialog library.
#pragma once

#include <cstdint>
#include <memory>

#include "base/seam.h"
#include "abi/card_records.h"
#include "abi/simcore.h"
#include "sim/sync.h"

namespace velto {

// The waiting thread's object. Its events and the state the thread reads live
// in a block that the object and the thread share: whichever lets go last
// closes them, so a thread that outlives a stop that gave up never touches
// released state.
class CFernoThread {
 public:
  struct Shared;

  CFernoThread();
  // Sets the stop event, waits up to 2000 ms for the finished event, then
  // lets go of the events and the thread handle.
  virtual ~CFernoThread();
  CFernoThread(const CFernoThread&) = delete;
  CFernoThread& operator=(const CFernoThread&) = delete;

  // Asks the thread to end and waits up to 2000 ms. True when the thread is
  // still inside swc_scard_init after that: it then releases the SIM
  // library handle itself when that call returns, and the caller must not.
  bool Stop();

  platform::ThreadHandle* thread_handle = nullptr;
  platform::SyncEvent* started = nullptr;
  platform::SyncEvent* finished = nullptr;
  platform::SyncEvent* stop = nullptr;
  uint32_t thread_id = 0;
  std::shared_ptr<Shared> shared;
};

// How the waiting thread is started and how long the start and each wait of
// a stop are waited for (1000 ms, 2000 ms). Tests put in a start that fails,
// waits without time-out (kWaitForever), or 0 to take the give-up path at once.
struct WaitingThreadApi {
  platform::ThreadHandle* (*start_thread)(platform::ThreadProc proc, void* argument,
                                          uint32_t* thread_id);
  uint32_t start_wait_ms;
  uint32_t stop_wait_ms;
};
extern Seam<WaitingThreadApi> g_waiting_thread;

// One card watch at a time. ScSimCardInit holds the watch until
// ScSimCardDeinit, and an export holds it with this guard from before it
// clears the lists until it has read them. Another thread's hold waits for
// the watch to be let go; holds of one thread nest.
class CardWatchGuard {
 public:
  CardWatchGuard();
  ~CardWatchGuard();
  CardWatchGuard(const CardWatchGuard&) = delete;
  CardWatchGuard& operator=(const CardWatchGuard&) = delete;
};

// Opens the card watch, once any other thread's watch is closed. Never
// reports a failure: the lists simply stay empty.
void ScSimCardInit();

// Closes the card watch from any state: ends the waiting thread, then calls
// swc_scard_deinit and swc_config_free with the handle (null included).
void ScSimCardDeinit();

// Replaces the waiting thread with a new one and waits up to 1000 ms for it
// to start. A thread that cannot be started leaves no object behind.
void StartSCInitThread();

// The waiting thread. `argument` carries its share of the thread's state.
unsigned SCInitThread(void* argument);

// The card event callback: updates the lists and pushes them to the dialog
// library, under the card list lock. Returns 0.
int32_t SCSIMCardCB(void* context, VELTO_CARD_EVENT* event);

// The open card watch's SIM library handle, or null.
swc_config* CurrentSimConfig();

}  // namespace velto
