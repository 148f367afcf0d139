#include <windows.h>
#include <process.h>
#include <winscard.h>

#include "sim/sync.h"

namespace velto::platform {
namespace {

HANDLE AsHandle(SyncEvent* event) { return reinterpret_cast<HANDLE>(event); }

SyncEvent* AccessStartedEvent() { return reinterpret_cast<SyncEvent*>(SCardAccessStartedEvent()); }
void ReleaseStartedEvent() { SCardReleaseStartedEvent(); }

const SmartCardServiceApi kWindowsSmartCardService = {AccessStartedEvent, ReleaseStartedEvent};

}  // namespace

Seam<SmartCardServiceApi> g_smartcard_service(&kWindowsSmartCardService);

SyncEvent* CreateManualResetEvent() {
  return reinterpret_cast<SyncEvent*>(CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

void SetSyncEvent(SyncEvent* event) { SetEvent(AsHandle(event)); }

bool WaitSyncEvent(SyncEvent* event, uint32_t milliseconds) {
  return WaitForSingleObject(AsHandle(event), milliseconds) == WAIT_OBJECT_0;
}

int WaitAnySyncEvent(SyncEvent* first, SyncEvent* second) {
  HANDLE handles[2] = {AsHandle(first), AsHandle(second)};
  DWORD result = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  if (result == WAIT_OBJECT_0) return 0;
  if (result == WAIT_OBJECT_0 + 1) return 1;
  return -1;
}

void CloseSyncEvent(SyncEvent* event) { CloseHandle(AsHandle(event)); }

ThreadHandle* StartThread(ThreadProc proc, void* argument, uint32_t* thread_id) {
  unsigned id = 0;
  uintptr_t handle = _beginthreadex(nullptr, 0, reinterpret_cast<_beginthreadex_proc_type>(proc),
                                    argument, 0, &id);
  *thread_id = id;
  return reinterpret_cast<ThreadHandle*>(handle);
}

void CloseThreadHandle(ThreadHandle* thread) { CloseHandle(reinterpret_cast<HANDLE>(thread)); }

void WaitThreadEnd(ThreadHandle* thread) {
  WaitForSingleObject(reinterpret_cast<HANDLE>(thread), INFINITE);
}

}  // namespace velto::platform
