// The PC/SC calls of pcsc.h, shared by both platforms. Included by
// pcsc_win.cpp and pcsc_posix.cpp after they have defined velto::pcsc::native
// (the reader state type, the protocol headers and the calls whose names
// differ).
#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace velto::pcsc {
namespace {

static_assert(SCARD_STATE_CHANGED == kStateChanged && SCARD_STATE_UNKNOWN == kStateUnknown &&
              SCARD_STATE_UNAVAILABLE == kStateUnavailable && SCARD_STATE_EMPTY == kStateEmpty &&
              SCARD_STATE_PRESENT == kStatePresent && SCARD_STATE_MUTE == kStateMute);

Status ToStatus(LONG rv) { return static_cast<Status>(rv); }

// A card handle's protocol, needed for every transmission.
std::mutex g_protocols_mutex;
std::unordered_map<CardId, DWORD> g_protocols;

}  // namespace

Status EstablishContext(ContextId* context) {
  SCARDCONTEXT c = 0;
  LONG rv = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &c);
  *context = rv == SCARD_S_SUCCESS ? static_cast<ContextId>(c) : 0;
  return ToStatus(rv);
}

Status ReleaseContext(ContextId context) {
  return ToStatus(SCardReleaseContext(static_cast<SCARDCONTEXT>(context)));
}

Status Cancel(ContextId context) { return ToStatus(SCardCancel(static_cast<SCARDCONTEXT>(context))); }

Status ListReaders(ContextId context, std::vector<std::string>* readers) {
  readers->clear();
  // The list may grow between the two calls: ask again while it does.
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD size = 0;
    LONG rv = native::ListReaders(static_cast<SCARDCONTEXT>(context), nullptr, &size);
    if (static_cast<Status>(rv) == kNoReadersAvailable) return kSuccess;
    if (rv != SCARD_S_SUCCESS) return ToStatus(rv);
    std::vector<char> names(size + 1, '\0');
    rv = native::ListReaders(static_cast<SCARDCONTEXT>(context), names.data(), &size);
    if (static_cast<Status>(rv) == kNoReadersAvailable) return kSuccess;
    if (rv == static_cast<LONG>(SCARD_E_INSUFFICIENT_BUFFER)) continue;
    if (rv != SCARD_S_SUCCESS) return ToStatus(rv);
    names.back() = '\0';
    for (const char* name = names.data(); *name != '\0'; name += std::strlen(name) + 1) {
      readers->emplace_back(name);
    }
    return kSuccess;
  }
  return ToStatus(SCARD_E_INSUFFICIENT_BUFFER);
}

Status GetStatusChange(ContextId context, uint32_t timeout_ms, std::vector<ReaderState>* states) {
  std::vector<native::ReaderState> native_states(states->size());
  for (size_t i = 0; i < states->size(); ++i) {
    std::memset(&native_states[i], 0, sizeof native_states[i]);
    native_states[i].szReader = (*states)[i].reader.c_str();
    native_states[i].dwCurrentState = (*states)[i].current_state;
  }
  LONG rv = native::GetStatusChange(static_cast<SCARDCONTEXT>(context), timeout_ms,
                                    native_states.data(), static_cast<DWORD>(native_states.size()));
  if (rv != SCARD_S_SUCCESS) return ToStatus(rv);
  for (size_t i = 0; i < states->size(); ++i) {
    ReaderState& state = (*states)[i];
    state.event_state = static_cast<uint32_t>(native_states[i].dwEventState);
    size_t atr_length = std::min<size_t>(native_states[i].cbAtr, sizeof native_states[i].rgbAtr);
    state.atr.assign(native_states[i].rgbAtr, native_states[i].rgbAtr + atr_length);
  }
  return kSuccess;
}

Status Connect(ContextId context, const std::string& reader, CardId* card) {
  SCARDHANDLE handle = 0;
  DWORD protocol = 0;
  LONG rv = native::Connect(static_cast<SCARDCONTEXT>(context), reader.c_str(), SCARD_SHARE_SHARED,
                            SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &handle, &protocol);
  if (rv != SCARD_S_SUCCESS) return ToStatus(rv);
  *card = static_cast<CardId>(handle);
  std::lock_guard<std::mutex> lock(g_protocols_mutex);
  g_protocols[*card] = protocol;
  return kSuccess;
}

Status Disconnect(CardId card, bool reset) {
  {
    std::lock_guard<std::mutex> lock(g_protocols_mutex);
    g_protocols.erase(card);
  }
  return ToStatus(
      SCardDisconnect(static_cast<SCARDHANDLE>(card), reset ? SCARD_RESET_CARD : SCARD_LEAVE_CARD));
}

Status BeginTransaction(CardId card) {
  return ToStatus(SCardBeginTransaction(static_cast<SCARDHANDLE>(card)));
}

Status EndTransaction(CardId card) {
  return ToStatus(SCardEndTransaction(static_cast<SCARDHANDLE>(card), SCARD_LEAVE_CARD));
}

Status Transmit(CardId card, const std::vector<uint8_t>& command, std::vector<uint8_t>* response) {
  DWORD protocol = SCARD_PROTOCOL_T1;
  {
    std::lock_guard<std::mutex> lock(g_protocols_mutex);
    auto found = g_protocols.find(card);
    if (found != g_protocols.end()) protocol = found->second;
  }
  uint8_t buffer[258 + 2];
  DWORD length = sizeof buffer;
  LONG rv = SCardTransmit(static_cast<SCARDHANDLE>(card),
                          protocol == SCARD_PROTOCOL_T0 ? native::PciT0() : native::PciT1(),
                          command.data(), static_cast<DWORD>(command.size()), nullptr, buffer,
                          &length);
  if (rv != SCARD_S_SUCCESS) return ToStatus(rv);
  response->assign(buffer, buffer + std::min<size_t>(length, sizeof buffer));
  return kSuccess;
}

}  // namespace velto::pcsc
