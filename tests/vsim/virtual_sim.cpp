#include "vsim/virtual_sim.h"

#include <algorithm>

namespace velto::test {
namespace {

using Kind = VirtualSimConfig::Kind;

Apdu Sw(int sw, Apdu data = {}) { return data.insert(data.end(), {static_cast<uint8_t>(sw >> 8), static_cast<uint8_t>(sw)}), data; }

Apdu Nibbles(const std::string& digits, size_t size) {
  Apdu bytes(size, 0xFF);
  for (size_t i = 0; i < digits.size() && i / 2 < size; ++i) {
    int shift = i % 2 == 0 ? 0 : 4;
    bytes[i / 2] = static_cast<uint8_t>((bytes[i / 2] & ~(0x0F << shift)) | (digits[i] - '0') << shift);
  }
  return bytes;
}

std::string Hex(const Apdu& bytes) {
  std::string hex;
  for (uint8_t b : bytes) hex += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 0x0F]};
  return hex;
}

}  // namespace

Apdu UsimAid() { return {0xA0, 0x00, 0x00, 0x00, 0x87, 0x10, 0x02, 0xFF, 0x49, 0xFF, 0x05, 0x89}; }
Apdu EncodeIccid(const std::string& digits) { return Nibbles(digits, 10); }

Apdu VirtualSim::Atr() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (config_.kind == Kind::kGsmSim) return {0x3B, 0x02, 0x14, 0x50};
  if (config_.kind == Kind::kOther) return {0x3B, 0x02, 0x4F, 0x54};
  return {0x3B, 0x80, 0x80, 0x01, 0x01};
}

void VirtualSim::Reset() { std::lock_guard<std::mutex> lock(mutex_); verified_ = false, current_ = 'M'; }
void VirtualSim::Replace(VirtualSimConfig config) { std::lock_guard<std::mutex> lock(mutex_); config_ = std::move(config), verified_ = false; }
void VirtualSim::HoldAnswers(bool hold) { std::lock_guard<std::mutex> lock(mutex_); hold_ = hold, changed_.notify_all(); }
void VirtualSim::WaitForCommands(int count) const {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return commands_ >= count; });
}

Apdu VirtualSim::Process(const Apdu& c) {
  std::unique_lock<std::mutex> lock(mutex_);
  ++commands_, changed_.notify_all();
  changed_.wait(lock, [this] { return !hold_; });
  return Answer(c);
}

Apdu VirtualSim::Answer(const Apdu& c) {
  const bool gsm = config_.kind == Kind::kGsmSim, pin_ok = !config_.pin_enabled || verified_;
  const std::string h = Hex(c), imsi_digits = (config_.imsi.size() % 2 == 1 ? "9" : "1") + config_.imsi;
  Apdu imsi = Nibbles(imsi_digits, (imsi_digits.size() + 1) / 2);
  imsi.insert(imsi.begin(), static_cast<uint8_t>(imsi.size()));
  imsi.resize(9, 0xFF);
  if (config_.kind == Kind::kOther || c.size() < 4 || c[0] != (gsm ? 0xA0 : 0x00)) return Sw(0x6E00);
  if (h.substr(2, 6) == "200001") {  // VERIFY CHV1 / PIN1; without data (USIM) the tries left
    const int blocked = gsm ? 0x9840 : 0x6983;
    if (c.size() == 4 && !gsm) return Sw(config_.tries == 0 ? blocked : pin_ok ? 0x9000 : 0x63C0 | config_.tries);
    ++pin_commands_;
    if (c.size() != 13 || c[4] != 8) return Sw(0x6700);
    if (config_.tries == 0) return Sw(blocked);
    if (gsm && !config_.pin_enabled) return Sw(0x9808);
    if (std::string(c.begin() + 5, std::find(c.begin() + 5, c.end(), 0xFF)) == config_.pin) {
      return config_.tries = 3, verified_ = true, Sw(0x9000);
    }
    if (--config_.tries == 0) return Sw(blocked);
    return Sw(gsm ? 0x9804 : 0x63C0 | config_.tries);
  }
  if (gsm) {  // selects answer 9Fxx, GET RESPONSE the DF's parameters
    if (h == "A0A40000023F00" || h == "A0A40000027F20") return current_ = h[10] == '3' ? 'M' : 'G', Sw(0x9F16);
    if (h == "A0A40000022FE2" && current_ == 'M') return current_ = 'I', Sw(0x9F0F);
    if (h == "A0A40000026F07" && current_ == 'G') return current_ = 'S', Sw(0x9F0F);
    if (h.substr(0, 8) == "A0C00000" && c.size() == 5 && c[4] <= 0x16 && (current_ == 'M' || current_ == 'G')) {
      Apdu parameters(0x16, 0x00);  // byte 14 b8: CHV1 disabled; byte 19: CHV1 initialised, its tries
      parameters[13] = config_.pin_enabled ? 0x00 : 0x80;
      parameters[18] = static_cast<uint8_t>(0x80 | config_.tries);
      parameters.resize(c[4]);
      return Sw(0x9000, parameters);
    }
    if (h == "A0B000000A" && current_ == 'I') return Sw(0x9000, EncodeIccid("8900100000000000017"));
    if (h == "A0B0000009" && current_ == 'S') return pin_ok ? Sw(0x9000, imsi) : Sw(0x9804);
    return Sw(0x6D00);
  }
  const std::string aid = Hex(UsimAid());
  if (h == "00A40804022F0000") return current_ = 'D', Sw(0x9000, {0x62, 0x0B, 0x82, 0x05, 0x42, 0x21, 0x00, 0x20, 0x01, 0x83, 0x02, 0x2F, 0x00});
  if (h == "00B2010420" && current_ == 'D') {
    Apdu record = {0x61, 0x14, 0x4F, 0x0C}, aid_bytes = UsimAid();
    record.insert(record.end(), aid_bytes.begin(), aid_bytes.end());
    record.insert(record.end(), {0x50, 0x04, 'U', 'S', 'I', 'M'});
    record.resize(0x20, 0xFF);
    return Sw(0x9000, record);
  }
  if (h == "00A4040C0C" + aid) return current_ = 'A', Sw(0x9000);
  if (h == "00A404040C" + aid + "00") {  // FCP with the PIN status template: PS_DO, then its key references
    current_ = 'A';
    Apdu fcp = {0x62, 0x1D, 0x82, 0x02, 0x78, 0x21, 0x84, 0x0C};
    for (uint8_t b : UsimAid()) fcp.push_back(b);
    fcp.insert(fcp.end(), {0xC6, 0x09, 0x90, 0x01, static_cast<uint8_t>(config_.pin_enabled ? 0xC0 : 0x40), 0x83,
                           0x01, 0x01, 0x83, 0x01, 0x0A});
    return Sw(0x9000, fcp);
  }
  if (h == "00B082000A" && current_ != 'A') return Sw(0x9000, EncodeIccid("8900100000000000017"));
  if (h == "00B0870009" && current_ == 'A') return pin_ok ? Sw(0x9000, imsi) : Sw(0x6982);
  return Sw(0x6A82);
}

}  // namespace velto::test
