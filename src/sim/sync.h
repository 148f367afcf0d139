// Threads, manual-reset events and the smart-card service's started event:
// what the card watch needs from the platform. On Windows these are the
// platform's own objects (_beginthreadex, CreateEventA, WaitForMultipleObjects,
// SCardAccessStartedEvent); on Linux the same behaviour on the standard
// library, with a stand-in for the service's started event built on
// pcsc-lite.
#pragma once

#include <cstdint>

#include "base/seam.h"

namespace velto::platform {

struct SyncEvent;     // a HANDLE on Windows
struct ThreadHandle;  // a HANDLE on Windows

inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// A manual-reset event, not signalled; null on failure. Once set it stays
// set, so every later wait returns at once.
SyncEvent* CreateManualResetEvent();
void SetSyncEvent(SyncEvent* event);
// True when the event is (or becomes) signalled within `milliseconds`.
bool WaitSyncEvent(SyncEvent* event, uint32_t milliseconds);
// Waits without time-out until one of the two is signalled. 0 or 1 (the
// first when both are), -1 on failure.
int WaitAnySyncEvent(SyncEvent* first, SyncEvent* second);
void CloseSyncEvent(SyncEvent* event);

using ThreadProc = unsigned (*)(void* argument);
// Starts `proc(argument)` at once; null on failure. *thread_id receives the
// thread's id.
ThreadHandle* StartThread(ThreadProc proc, void* argument, uint32_t* thread_id);
// Gives the handle back; the thread itself goes on if it has not ended.
void CloseThreadHandle(ThreadHandle* thread);
// Waits until the thread has ended. Only for a thread known to be past its
// last step, so that it has left the module's code before the host may
// unload the module.
void WaitThreadEnd(ThreadHandle* thread);

struct SmartCardServiceApi {
  // An event that is signalled once the smart-card service runs, or null when
  // the platform gives none. Each call is paired with release_started_event.
  SyncEvent* (*access_started_event)();
  void (*release_started_event)();
};

extern Seam<SmartCardServiceApi> g_smartcard_service;

}  // namespace velto::platform
