// SIM and USIM commands (GSM 11.11, ETSI TS 102 221, 3GPP TS 31.102). The
// IMSI read sends no command it can do without: the files are selected by
// identifier from where the card stands after its own selection, and the
// USIM's EF_IMSI is read through its short file identifier.
#include "simcore/sim_card.h"

#include <algorithm>
#include <cstring>

namespace velto::sim {
namespace {

constexpr uint8_t kUsimAidPrefix[] = {0xA0, 0x00, 0x00, 0x00, 0x87, 0x10, 0x02};
constexpr uint8_t kUsimPin1 = 0x01;  // key reference of the application PIN
constexpr int kMaxDirRecords = 16;

struct Answer {
  bool sent = false;  // false: the transport failed
  Bytes data;
  uint16_t sw = 0;
  uint8_t sw1() const { return static_cast<uint8_t>(sw >> 8); }
};

// Overwrites bytes that held PIN digits; the compiler may not drop the
// stores although the buffer is released right after.
void Wipe(Bytes* bytes) {
  volatile uint8_t* p = bytes->data();
  for (size_t i = 0; i < bytes->size(); ++i) p[i] = 0;
}

// One command; a T=0 card's "more data" (61xx) and "wrong length" (6Cxx)
// answers are followed up here, each follow-up being a command of its own.
Answer Exchange(CardChannel& channel, const Bytes& command, int follow_ups = 2) {
  Answer answer;
  Bytes response;
  if (!channel.Transmit(command, &response) || response.size() < 2) return answer;
  answer.sent = true;
  answer.sw = static_cast<uint16_t>(response[response.size() - 2] << 8 | response.back());
  response.resize(response.size() - 2);
  answer.data = std::move(response);
  if (follow_ups > 0 && answer.sw1() == 0x61) {
    return Exchange(channel, {command[0], 0xC0, 0x00, 0x00, static_cast<uint8_t>(answer.sw)},
                    follow_ups - 1);
  }
  if (follow_ups > 0 && answer.sw1() == 0x6C && command.size() >= 5) {
    Bytes again = command;
    again.back() = static_cast<uint8_t>(answer.sw);
    return Exchange(channel, again, follow_ups - 1);
  }
  return answer;
}

// The value of the first TLV with `tag` among [p, end) (one-byte tags,
// lengths in one byte or 81 xx), or an empty range.
struct Range {
  const uint8_t* begin = nullptr;
  const uint8_t* end = nullptr;
  size_t size() const { return static_cast<size_t>(end - begin); }
};
Range FindTlv(const uint8_t* p, const uint8_t* end, uint8_t tag) {
  while (end - p >= 2) {
    uint8_t t = p[0];
    size_t length = p[1];
    const uint8_t* value = p + 2;
    if (length == 0x81) {
      if (end - p < 3) break;
      length = p[2];
      value = p + 3;
    }
    if (static_cast<size_t>(end - value) < length) break;
    if (t == tag) return {value, value + length};
    p = value + length;
  }
  return {};
}
Range FindTlv(const Bytes& bytes, uint8_t tag) {
  return FindTlv(bytes.data(), bytes.data() + bytes.size(), tag);
}

// PIN 1 of an application FCP's PIN status template: each key reference has
// one bit of the PS_DO, the first the highest. Enabled when it cannot be told:
// the host then asks for a PIN rather than failing without one.
bool PinEnabledFromFcp(const Bytes& fcp) {
  Range body = FindTlv(fcp, 0x62);
  Range status = FindTlv(body.begin, body.end, 0xC6);
  if (status.size() == 0) return true;
  Range ps_do = FindTlv(status.begin, status.end, 0x90);
  if (ps_do.size() == 0) return true;
  size_t index = 0;
  for (const uint8_t* p = status.begin; status.end - p >= 3;) {
    uint8_t tag = p[0], length = p[1];
    if (tag == 0x83 && length == 1) {
      if (p[2] == kUsimPin1) {
        if (index / 8 >= ps_do.size()) return true;
        return (ps_do.begin[index / 8] & (0x80 >> (index % 8))) != 0;
      }
      ++index;
    }
    p += 2 + length;
  }
  return true;
}

bool ValidPin(const char* pin, size_t* length) {
  *length = std::strlen(pin);
  if (*length < 4 || *length > 8) return false;
  return std::all_of(pin, pin + *length, [](char c) { return c >= '0' && c <= '9'; });
}

// Made at its full size, so that no smaller copy of the digits is let go.
Bytes VerifyCommand(uint8_t cla, const char* pin, size_t length) {
  Bytes command(13, 0xFF);
  command[0] = cla;
  command[1] = 0x20;
  command[2] = 0x00;
  command[3] = 0x01;
  command[4] = 0x08;
  std::memcpy(command.data() + 5, pin, length);
  return command;
}

Bytes Select(uint8_t cla, uint8_t p1, uint8_t p2, const Bytes& id, bool expect_data) {
  Bytes command(5 + id.size() + (expect_data ? 1 : 0), 0x00);
  command[0] = cla;
  command[1] = 0xA4;
  command[2] = p1;
  command[3] = p2;
  command[4] = static_cast<uint8_t>(id.size());
  std::copy(id.begin(), id.end(), command.begin() + 5);
  return command;
}

// Tries left before a PIN is sent: 0..15, kPinNotNeeded when the card needs
// none (disabled or verified), or a negative status.
constexpr int kPinNotNeeded = 16;

int UsimPinTries(CardChannel& channel) {
  Answer query = Exchange(channel, {0x00, 0x20, 0x00, kUsimPin1});
  if (!query.sent) return kCardError;
  if (query.sw == 0x9000) return kPinNotNeeded;
  if (query.sw == 0x6983) return 0;
  if ((query.sw & 0xFFF0) == 0x63C0) return query.sw & 0x0F;
  return kPinTriesUnknown;
}

// From the answer to SELECT DF GSM: file characteristics (byte 14, b8 set:
// CHV1 disabled) and CHV1 status (byte 19, b4..b1: tries left).
int GsmPinTries(const Answer& df_gsm) {
  if (df_gsm.data.size() < 19) return kPinTriesUnknown;
  if ((df_gsm.data[13] & 0x80) != 0) return kPinNotNeeded;
  return df_gsm.data[18] & 0x0F;
}

// Sends the PIN only when the card needs it and at least two tries are left.
int32_t VerifyPin(CardChannel& channel, uint8_t cla, int tries, const char* pin, size_t length,
                  bool* pin_sent) {
  if (tries < 0) return tries;
  if (tries == kPinNotNeeded) return kOk;
  if (tries == 0) return kPinBlocked;
  if (tries == 1) return kPinLastTry;
  Bytes command = VerifyCommand(cla, pin, length);
  // By reference: the one copy of the digits is wiped here. No follow-up
  // copy is made: a VERIFY answers with status bytes only.
  Answer verify = Exchange(channel, command, 0);
  Wipe(&command);
  if (!verify.sent) return kCardError;
  *pin_sent = true;
  if (verify.sw == 0x9000) return kOk;
  if (verify.sw == 0x9804 || (verify.sw & 0xFFF0) == 0x63C0) return kPinWrong;
  if (verify.sw == 0x9840 || verify.sw == 0x6983) return kPinBlocked;
  return kCardError;
}

int32_t ImsiFrom(const Answer& read, std::string* imsi) {
  if (!read.sent) return kCardError;
  if (read.sw == 0x9804 || read.sw == 0x6982) return kPinWrong;  // PIN not verified
  if (read.sw != 0x9000) return kCardError;
  *imsi = DecodeImsi(read.data);
  return imsi->empty() ? kCardError : kOk;
}

bool IdentifyUsim(CardChannel& channel, CardInfo* info) {
  // EF_DIR by path from the MF, with its FCP for the record size and count.
  Answer dir = Exchange(channel, Select(0x00, 0x08, 0x04, {0x2F, 0x00}, true));
  if (dir.sw != 0x9000) return false;
  Range body = FindTlv(dir.data, 0x62);
  Range descriptor = FindTlv(body.begin, body.end, 0x82);
  if (descriptor.size() < 5) return false;
  uint8_t record_length = descriptor.begin[3];
  int records = std::min<int>(descriptor.begin[4], kMaxDirRecords);
  Bytes aid;
  for (int record = 1; record <= records && aid.empty(); ++record) {
    Answer read = Exchange(channel, {0x00, 0xB2, static_cast<uint8_t>(record), 0x04, record_length});
    if (read.sw != 0x9000) break;
    aid = UsimAidFromDirRecord(read.data);
  }
  if (aid.empty()) return false;
  // EF_ICCID through its short file identifier (2): the MF is still current.
  Answer iccid = Exchange(channel, {0x00, 0xB0, 0x82, 0x00, 0x0A});
  Answer adf = Exchange(channel, Select(0x00, 0x04, 0x04, aid, true));
  if (adf.sw != 0x9000) return false;
  info->kind = CardKind::kUsim;
  info->iccid = iccid.sw == 0x9000 ? DecodeIccid(iccid.data) : std::string();
  info->pin_enabled = PinEnabledFromFcp(adf.data);
  info->usim_aid = std::move(aid);
  return true;
}

bool IdentifyGsmSim(CardChannel& channel, CardInfo* info) {
  if (Exchange(channel, Select(0xA0, 0x00, 0x00, {0x3F, 0x00}, false)).sw1() != 0x9F) return false;
  std::string iccid;
  if (Exchange(channel, Select(0xA0, 0x00, 0x00, {0x2F, 0xE2}, false)).sw1() == 0x9F) {
    Answer read = Exchange(channel, {0xA0, 0xB0, 0x00, 0x00, 0x0A});
    if (read.sw == 0x9000) iccid = DecodeIccid(read.data);
  }
  Answer df_gsm = Exchange(channel, Select(0xA0, 0x00, 0x00, {0x7F, 0x20}, false));
  if (df_gsm.sw1() != 0x9F) return false;
  Answer response = Exchange(channel, {0xA0, 0xC0, 0x00, 0x00, static_cast<uint8_t>(df_gsm.sw)});
  info->kind = CardKind::kGsmSim;
  info->iccid = iccid;
  info->pin_enabled = GsmPinTries(response) != kPinNotNeeded;
  return true;
}

}  // namespace

CardInfo IdentifyCard(CardChannel& channel) {
  CardInfo info;
  if (IdentifyUsim(channel, &info)) return info;
  info = {};
  if (IdentifyGsmSim(channel, &info)) return info;
  return {};
}

int32_t ReadImsi(CardChannel& channel, const CardInfo& card, const char* pin, std::string* imsi,
                 bool* pin_sent) {
  *pin_sent = false;
  size_t pin_length = 0;
  bool with_pin = pin != nullptr && pin[0] != '\0';
  if (with_pin && !ValidPin(pin, &pin_length)) return kPinWrong;  // nothing sent, no try spent

  if (card.kind == CardKind::kUsim) {
    Answer select = Exchange(channel, Select(0x00, 0x04, 0x0C, card.usim_aid, false));
    if (select.sw != 0x9000) return kCardError;
    // What the recognition learnt is trusted: a PIN given for a card that
    // needs none is not sent, nor are its tries asked.
    if (with_pin && card.pin_enabled) {
      int32_t status = VerifyPin(channel, 0x00, UsimPinTries(channel), pin, pin_length, pin_sent);
      if (status != kOk) return status;
    }
    // EF_IMSI through its short file identifier (7) in the application.
    return ImsiFrom(Exchange(channel, {0x00, 0xB0, 0x87, 0x00, 0x09}), imsi);
  }
  if (card.kind == CardKind::kGsmSim) {
    Answer df_gsm = Exchange(channel, Select(0xA0, 0x00, 0x00, {0x7F, 0x20}, false));
    if (df_gsm.sw1() != 0x9F) return kCardError;
    if (with_pin && card.pin_enabled) {
      // The tries are in the DF's response parameters, fetched only for a PIN.
      Answer response =
          Exchange(channel, {0xA0, 0xC0, 0x00, 0x00, static_cast<uint8_t>(df_gsm.sw)});
      int tries = response.sent ? GsmPinTries(response) : kCardError;
      int32_t status = VerifyPin(channel, 0xA0, tries, pin, pin_length, pin_sent);
      if (status != kOk) return status;
    }
    if (Exchange(channel, Select(0xA0, 0x00, 0x00, {0x6F, 0x07}, false)).sw1() != 0x9F) {
      return kCardError;
    }
    return ImsiFrom(Exchange(channel, {0xA0, 0xB0, 0x00, 0x00, 0x09}), imsi);
  }
  return kNotSim;
}

std::string DecodeImsi(const Bytes& ef_imsi) {
  if (ef_imsi.size() < 2) return {};
  size_t length = ef_imsi[0];
  if (length < 1 || length > 8 || length + 1 > ef_imsi.size()) return {};
  std::string digits;
  for (size_t i = 1; i <= length; ++i) {
    const int nibbles[2] = {ef_imsi[i] & 0x0F, ef_imsi[i] >> 4};
    // The first nibble is the parity/type nibble, not a digit.
    for (int k = i == 1 ? 1 : 0; k < 2; ++k) {
      if (nibbles[k] == 0x0F) {
        if (i != length || k != 1) return {};  // filler only as the last nibble
        continue;
      }
      if (nibbles[k] > 9) return {};
      digits += static_cast<char>('0' + nibbles[k]);
    }
  }
  if (digits.size() < 6 || digits.size() > 15) return {};
  return digits;
}

std::string DecodeIccid(const Bytes& ef_iccid) {
  std::string digits;
  for (uint8_t byte : ef_iccid) {
    for (int nibble : {byte & 0x0F, byte >> 4}) {
      if (nibble > 9) return digits;
      digits += static_cast<char>('0' + nibble);
    }
  }
  return digits;
}

Bytes UsimAidFromDirRecord(const Bytes& record) {
  Range application = FindTlv(record, 0x61);
  Range aid = FindTlv(application.begin, application.end, 0x4F);
  if (aid.size() < sizeof kUsimAidPrefix || aid.size() > 16 ||
      !std::equal(kUsimAidPrefix, kUsimAidPrefix + sizeof kUsimAidPrefix, aid.begin)) {
    return {};
  }
  return Bytes(aid.begin, aid.end);
}

}  // namespace velto::sim
