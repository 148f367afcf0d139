// The platform's smart-card interface (PC/SC) as simcore uses it: winscard on
// Windows, pcsc-lite on Linux. Both have the same API but differ in types
// (DWORD and LONG widths, ANSI/wide names); this header gives the rest of
// simcore one shape with fixed-width types. Status values are the PC/SC codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velto::pcsc {

using Status = uint32_t;
using ContextId = uint64_t;
using CardId = uint64_t;

inline constexpr Status kSuccess = 0;
inline constexpr Status kCancelled = 0x80100002;
inline constexpr Status kInvalidHandle = 0x80100003;
inline constexpr Status kUnknownReader = 0x80100009;
inline constexpr Status kTimeout = 0x8010000A;
inline constexpr Status kSharingViolation = 0x8010000B;
inline constexpr Status kNoSmartcard = 0x8010000C;
inline constexpr Status kReaderUnavailable = 0x80100017;
inline constexpr Status kNoService = 0x8010001D;
inline constexpr Status kServiceStopped = 0x8010001E;
inline constexpr Status kNoReadersAvailable = 0x8010002E;
inline constexpr Status kRemovedCard = 0x80100069;

// Reader state bits (identical on both platforms); the high 16 bits of an
// event state count the card insertions and removals seen by the reader.
inline constexpr uint32_t kStateUnaware = 0x0000;
inline constexpr uint32_t kStateChanged = 0x0002;
inline constexpr uint32_t kStateUnknown = 0x0004;
inline constexpr uint32_t kStateUnavailable = 0x0008;
inline constexpr uint32_t kStateEmpty = 0x0010;
inline constexpr uint32_t kStatePresent = 0x0020;
inline constexpr uint32_t kStateMute = 0x0200;

inline constexpr uint32_t kInfinite = 0xFFFFFFFF;

// The pseudo-reader whose state changes when a reader is plugged in or removed.
inline constexpr char kPnpNotification[] = "\\\\?PnP?\\Notification";

struct ReaderState {
  std::string reader;
  uint32_t current_state = kStateUnaware;
  uint32_t event_state = 0;
  std::vector<uint8_t> atr;
};

Status EstablishContext(ContextId* context);
Status ReleaseContext(ContextId context);
// The one call that may be made on a context another thread is waiting in.
Status Cancel(ContextId context);
// No reader at all is success with an empty list.
Status ListReaders(ContextId context, std::vector<std::string>* readers);
// Fills event_state and atr of each entry.
Status GetStatusChange(ContextId context, uint32_t timeout_ms, std::vector<ReaderState>* states);
// Shared access, T=0 or T=1.
Status Connect(ContextId context, const std::string& reader, CardId* card);
Status Disconnect(CardId card, bool reset);
Status BeginTransaction(CardId card);
Status EndTransaction(CardId card);
// `response` receives the data and the two status bytes.
Status Transmit(CardId card, const std::vector<uint8_t>& command, std::vector<uint8_t>* response);

}  // namespace velto::pcsc
