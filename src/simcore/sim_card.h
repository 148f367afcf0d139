// What simcore knows about SIM cards, apart from how APDUs reach them: the
// recognition of a GSM SIM or a UICC with a USIM application, the IMSI read
// with its PIN policy, and the decoding of what the card returns. The
// transport is a CardChannel: PC/SC in the library, a card model in tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velto::sim {

using Bytes = std::vector<uint8_t>;

// Statuses of swc_scard_get_imsi (and of the steps below).
inline constexpr int32_t kOk = 0;
inline constexpr int32_t kInvalidArgument = -1;   // null handle, reader, buffer or length
inline constexpr int32_t kNoService = -2;         // no PC/SC context: the service is not running
inline constexpr int32_t kNoCard = -3;            // unknown reader, no card, or no access to it
inline constexpr int32_t kNotSim = -4;            // the card is neither a GSM SIM nor a USIM
inline constexpr int32_t kCardError = -5;         // transmission failed or an unexpected answer
inline constexpr int32_t kBufferTooSmall = -6;    // the IMSI and its NUL do not fit
inline constexpr int32_t kPinWrong = -7;          // PIN wrong, missing, or not 4 to 8 digits
inline constexpr int32_t kPinLastTry = -8;        // one try left: the PIN was not sent
inline constexpr int32_t kPinBlocked = -9;        // no try left
inline constexpr int32_t kPinTriesUnknown = -10;  // the card did not tell its tries: not sent

// Sends one command APDU and receives the response data followed by SW1 SW2.
class CardChannel {
 public:
  virtual ~CardChannel() = default;
  virtual bool Transmit(const Bytes& command, Bytes* response) = 0;
};

enum class CardKind { kOther, kGsmSim, kUsim };

struct CardInfo {
  CardKind kind = CardKind::kOther;
  std::string iccid;  // digits
  bool pin_enabled = false;
  Bytes usim_aid;     // kUsim only
};

// Recognises the card: a UICC whose EF_DIR names a USIM application first,
// else a GSM SIM. Anything else is kOther.
CardInfo IdentifyCard(CardChannel& channel);

// Reads EF_IMSI into `imsi` (digits). `pin` null or empty sends no PIN.
int32_t ReadImsi(CardChannel& channel, const CardInfo& card, const char* pin, std::string* imsi,
                 bool* pin_sent);

// EF_IMSI contents (length byte, then BCD digits low nibble first, the first
// nibble being the parity/type nibble) as digit text; empty when malformed.
std::string DecodeImsi(const Bytes& ef_imsi);
// EF_ICCID contents (BCD, low nibble first, F filler) as digit text.
std::string DecodeIccid(const Bytes& ef_iccid);
// The first USIM application identifier in one EF_DIR record, or empty.
Bytes UsimAidFromDirRecord(const Bytes& record);

}  // namespace velto::sim
