#include "vsim/virtual_sim.h"

#include <algorithm>

namespace velto::test {
namespace {

using Kind = VirtualSimConfig::Kind;
constexpr uint16_t kMf = 0x3F00, kDfGsm = 0x7F20, kAdf = 0x7FFF, kEfIccid = 0x2FE2,
                   kEfDir = 0x2F00, kEfImsi = 0x6F07;
constexpr char kIccid[] = "8900100000000000017";

Apdu Sw(int sw, Apdu data = {}) {
  data.push_back(static_cast<uint8_t>(sw >> 8));
  data.push_back(static_cast<uint8_t>(sw));
  return data;
}

Apdu Nibbles(const std::string& digits, size_t size) {
  Apdu bytes(size, 0xFF);
  for (size_t i = 0; i < digits.size() && i / 2 < size; ++i) {
    int shift = i % 2 == 0 ? 0 : 4;
    bytes[i / 2] = static_cast<uint8_t>((bytes[i / 2] & ~(0x0F << shift)) | (digits[i] - '0') << shift);
  }
  return bytes;
}

}  // namespace

Apdu UsimAid() { return {0xA0, 0x00, 0x00, 0x00, 0x87, 0x10, 0x02, 0xFF, 0x49, 0xFF, 0x05, 0x89}; }
Apdu EncodeIccid(const std::string& digits) { return Nibbles(digits, 10); }
Apdu EncodeImsi(const std::string& digits) {
  Apdu body = Nibbles((digits.size() % 2 == 1 ? "9" : "1") + digits, (digits.size() + 2) / 2);
  body.insert(body.begin(), static_cast<uint8_t>(body.size()));
  body.resize(9, 0xFF);
  return body;
}

Apdu VirtualSim::Atr() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (config_.kind == Kind::kGsmSim) return {0x3B, 0x02, 0x14, 0x50};
  if (config_.kind == Kind::kOther) return {0x3B, 0x02, 0x4F, 0x54};
  return {0x3B, 0x80, 0x80, 0x01, 0x01};
}

void VirtualSim::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  verified_ = false;
  df_ = kMf;
  ef_ = 0;
}

void VirtualSim::Replace(VirtualSimConfig config) {
  std::lock_guard<std::mutex> lock(mutex_);
  config_ = std::move(config);
  verified_ = false;
}

int VirtualSim::commands() const { std::lock_guard<std::mutex> lock(mutex_); return commands_; }
int VirtualSim::pin_commands() const { std::lock_guard<std::mutex> lock(mutex_); return pin_commands_; }
int VirtualSim::tries_left() const { std::lock_guard<std::mutex> lock(mutex_); return config_.tries; }
void VirtualSim::ClearCounts() {
  std::lock_guard<std::mutex> lock(mutex_);
  commands_ = pin_commands_ = 0;
}

void VirtualSim::HoldAnswers(bool hold) {
  std::lock_guard<std::mutex> lock(mutex_);
  hold_ = hold;
  changed_.notify_all();
}

void VirtualSim::WaitForCommands(int count) const {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return commands_ >= count; });
}

Apdu VirtualSim::Process(const Apdu& c) {
  std::unique_lock<std::mutex> lock(mutex_);
  ++commands_;
  changed_.notify_all();
  changed_.wait(lock, [this] { return !hold_; });
  bool gsm = config_.kind == Kind::kGsmSim;
  if (c.size() < 4 || config_.kind == Kind::kOther || c[0] != (gsm ? 0xA0 : 0x00)) return Sw(0x6E00);
  if (c[1] == 0x20) return Verify(c, gsm);
  return gsm ? Gsm(c) : Usim(c);
}

Apdu VirtualSim::Read(uint16_t ef, uint8_t length, uint16_t pin_needed) {
  Apdu data = ef == kEfIccid ? EncodeIccid(kIccid) : EncodeImsi(config_.imsi);
  if (ef == kEfImsi && config_.pin_enabled && !verified_) return Sw(pin_needed);
  data.resize(std::min<size_t>(data.size(), length));
  return Sw(0x9000, data);
}

Apdu VirtualSim::Verify(const Apdu& c, bool gsm) {
  const int blocked = gsm ? 0x9840 : 0x6983;
  if (c[2] != 0x00 || c[3] != 0x01) return Sw(0x6A88);
  if (c.size() == 4) {  // no data: the tries left (USIM)
    if (gsm) return Sw(0x6700);
    if (config_.tries == 0) return Sw(blocked);
    return Sw(!config_.pin_enabled || verified_ ? 0x9000 : 0x63C0 | config_.tries);
  }
  ++pin_commands_;
  if (c.size() != 13 || c[4] != 8) return Sw(0x6700);
  if (config_.tries == 0) return Sw(blocked);
  if (gsm && !config_.pin_enabled) return Sw(0x9808);
  if (std::string(c.begin() + 5, std::find(c.begin() + 5, c.end(), 0xFF)) == config_.pin) {
    config_.tries = 3;
    verified_ = true;
    return Sw(0x9000);
  }
  if (--config_.tries == 0) return Sw(blocked);
  return Sw(gsm ? 0x9804 : 0x63C0 | config_.tries);
}

// Select answers 9Fxx; GET RESPONSE gives a DF's parameters: byte 14 b8 set
// when CHV1 is disabled, byte 19 the CHV1 status (b8 initialised, b4..b1 tries).
Apdu VirtualSim::Gsm(const Apdu& c) {
  if (c[1] == 0xA4 && c.size() == 7 && c[2] == 0 && c[3] == 0 && c[4] == 2) {
    uint16_t fid = static_cast<uint16_t>(c[5] << 8 | c[6]);
    bool df = fid == kMf || fid == kDfGsm;
    if (!df && fid != (df_ == kMf ? kEfIccid : kEfImsi)) return Sw(0x9404);
    if (df) df_ = fid;
    ef_ = df ? 0 : fid;
    return Sw(df ? 0x9F16 : 0x9F0F);
  }
  if (c[1] == 0xC0 && c.size() == 5 && ef_ == 0 && c[4] <= 0x16) {
    Apdu response(0x16, 0x00);
    response[13] = config_.pin_enabled ? 0x00 : 0x80;
    response[18] = static_cast<uint8_t>(0x80 | config_.tries);
    response.resize(c[4]);
    return Sw(0x9000, response);
  }
  if (c[1] == 0xB0 && c.size() == 5 && ef_ != 0) return Read(ef_, c[4], 0x9804);
  return Sw(0x6D00);
}

// EF_DIR (by path from the MF), its one record, the ICCID and, inside the
// application, the IMSI (both by short file identifier).
Apdu VirtualSim::Usim(const Apdu& c) {
  const uint8_t p1 = c[2], p2 = c[3];
  if (c[1] == 0xA4 && c.size() >= 5 && c.size() >= 5u + c[4]) {
    Apdu id(c.begin() + 5, c.begin() + 5 + c[4]);
    Apdu fcp;
    if (p1 == 0x04 && id == UsimAid()) {
      df_ = kAdf;
      ef_ = 0;
      // PIN status template: PS_DO, then the key references it covers.
      fcp = {0x62, 0x00, 0x82, 0x02, 0x78, 0x21, 0x84, static_cast<uint8_t>(id.size())};
      fcp.insert(fcp.end(), id.begin(), id.end());
      fcp.insert(fcp.end(), {0xC6, 0x09, 0x90, 0x01, static_cast<uint8_t>(config_.pin_enabled ? 0xC0 : 0x40),
                             0x83, 0x01, 0x01, 0x83, 0x01, 0x0A});
    } else if (p1 == 0x08 && id == Apdu{0x2F, 0x00}) {
      df_ = kMf;
      ef_ = kEfDir;
      fcp = {0x62, 0x00, 0x82, 0x05, 0x42, 0x21, 0x00, 0x20, 0x01, 0x83, 0x02, 0x2F, 0x00};
    } else {
      return Sw(0x6A82);
    }
    fcp[1] = static_cast<uint8_t>(fcp.size() - 2);
    return p2 == 0x0C ? Sw(0x9000) : p2 == 0x04 ? Sw(0x9000, fcp) : Sw(0x6A86);
  }
  if (c[1] == 0xB2 && c.size() == 5) {
    if (ef_ != kEfDir || p1 != 1 || p2 != 0x04) return Sw(0x6A83);
    Apdu record = {0x61, static_cast<uint8_t>(UsimAid().size() + 8), 0x4F,
                   static_cast<uint8_t>(UsimAid().size())};
    for (uint8_t b : UsimAid()) record.push_back(b);
    record.insert(record.end(), {0x50, 0x04, 'U', 'S', 'I', 'M'});
    record.resize(std::min<size_t>(c[4], 0x20), 0xFF);
    return Sw(0x9000, record);
  }
  if (c[1] == 0xB0 && c.size() == 5 && p2 == 0) {
    ef_ = df_ == kMf && p1 == 0x82 ? kEfIccid : df_ == kAdf && p1 == 0x87 ? kEfImsi : 0;
    return ef_ == 0 ? Sw(0x6A82) : Read(ef_, c[4], 0x6982);
  }
  return Sw(0x6D00);
}

}  // namespace velto::test
