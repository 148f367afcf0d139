// PC/SC on Windows: winscard, called through its ANSI entries (the build
// defines UNICODE, which would otherwise pick the wide ones).
#include <windows.h>
#include <winscard.h>

#include "simcore/pcsc.h"

namespace velto::pcsc::native {
using ReaderState = SCARD_READERSTATEA;
inline const SCARD_IO_REQUEST* PciT0() { return SCARD_PCI_T0; }
inline const SCARD_IO_REQUEST* PciT1() { return SCARD_PCI_T1; }
inline LONG ListReaders(SCARDCONTEXT c, char* names, DWORD* size) {
  return SCardListReadersA(c, nullptr, names, size);
}
inline LONG GetStatusChange(SCARDCONTEXT c, DWORD timeout, ReaderState* states, DWORD count) {
  return SCardGetStatusChangeA(c, timeout, states, count);
}
inline LONG Connect(SCARDCONTEXT c, const char* reader, DWORD share, DWORD protocols,
                    SCARDHANDLE* card, DWORD* protocol) {
  return SCardConnectA(c, reader, share, protocols, card, protocol);
}
}  // namespace velto::pcsc::native

#include "simcore/pcsc_calls.inl"
