// The export table. The bodies that have a subsystem of their own call into
// it; the small ones live here.
#include "frame/exports.h"

#include <cstdlib>

#include "frame/heap_block.h"
#include "base/memory.h"
#include "trace/trace.h"

VELTO_DECLARE_TRACE_SETTINGS()

// The configuration import and export live with the configuration XML
// (src/xmlconfig); the dialog and credential entry points with the user
// interface (src/ui).

// Every block the module hands out comes from malloc. Some hold secrets (the
// user record's PIN, a password the authentication side stores plain), and
// the host cannot tell which: every block is wiped whole before it goes.
VOID WINAPI EapPeerFreeMemory(void* pUIContextData) {
  if (pUIContextData == nullptr) return;
  velto::WipeAndFree(pUIContextData, velto::platform::HeapBlockSize(pUIContextData));
}

VOID WINAPI EapPeerFreeErrorMemory(EAP_ERROR* pEapError) { EapPeerFreeMemory(pEapError); }

// Registering the methods with the host is the installer's job, not ours.
LONG WINAPI DllRegisterServer(void) { return 0; }

LONG WINAPI DllUnregisterServer(void) { return DllRegisterServer(); }

// The methods keep no credentials in XML and have no interactive UI: success,
// and no output argument is written.
DWORD WINAPI EapPeerCredentialsXml2Blob(DWORD, EAP_METHOD_TYPE, VeltoXmlDocument*, const BYTE*,
                                        DWORD, BYTE**, DWORD*, EAP_ERROR**) {
  return static_cast<DWORD>(DllRegisterServer());
}

DWORD WINAPI EapPeerInvokeInteractiveUI(const EAP_METHOD_TYPE*, HWND, DWORD, const BYTE*, DWORD*,
                                        BYTE**, EAP_ERROR**) {
  return static_cast<DWORD>(DllRegisterServer());
}
