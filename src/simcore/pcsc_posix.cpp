// PC/SC on Linux: pcsc-lite, whose names carry no A/W suffix and whose DWORD
// and LONG are as wide as a long.
#include <PCSC/winscard.h>

#include "simcore/pcsc.h"

namespace velto::pcsc::native {
using ReaderState = SCARD_READERSTATE;
inline const SCARD_IO_REQUEST* PciT0() { return SCARD_PCI_T0; }
inline const SCARD_IO_REQUEST* PciT1() { return SCARD_PCI_T1; }
inline LONG ListReaders(SCARDCONTEXT c, char* names, DWORD* size) {
  return SCardListReaders(c, nullptr, names, size);
}
inline LONG GetStatusChange(SCARDCONTEXT c, DWORD timeout, ReaderState* states, DWORD count) {
  return SCardGetStatusChange(c, timeout, states, count);
}
inline LONG Connect(SCARDCONTEXT c, const char* reader, DWORD share, DWORD protocols,
                    SCARDHANDLE* card, DWORD* protocol) {
  return SCardConnect(c, reader, share, protocols, card, protocol);
}
}  // namespace velto::pcsc::native

#include "simcore/pcsc_calls.inl"
