#include "vsim/virtual_sim.h"

#include <algorithm>

namespace velto::test {
namespace {

constexpr uint16_t kMf = 0x3F00, kDfGsm = 0x7F20, kEfIccid = 0x2FE2, kEfDir = 0x2F00,
                   kEfImsi = 0x6F07;
constexpr uint8_t kDirRecordLength = 0x20;

Apdu Sw(uint16_t sw) { return {static_cast<uint8_t>(sw >> 8), static_cast<uint8_t>(sw)}; }
Apdu WithSw(Apdu data, uint16_t sw) {
  data.push_back(static_cast<uint8_t>(sw >> 8));
  data.push_back(static_cast<uint8_t>(sw));
  return data;
}

Apdu Nibbles(const std::vector<int>& nibbles, size_t size) {
  Apdu bytes(size, 0xFF);
  for (size_t i = 0; i < nibbles.size() && i / 2 < size; ++i) {
    uint8_t& b = bytes[i / 2];
    b = (i % 2 == 0) ? static_cast<uint8_t>((b & 0xF0) | nibbles[i])
                     : static_cast<uint8_t>((b & 0x0F) | nibbles[i] << 4);
  }
  return bytes;
}

Apdu DirRecord() {
  Apdu aid = UsimAid();
  Apdu record(4 + aid.size());
  record[0] = 0x61;
  record[1] = static_cast<uint8_t>(aid.size() + 2 + 6);
  record[2] = 0x4F;
  record[3] = static_cast<uint8_t>(aid.size());
  std::copy(aid.begin(), aid.end(), record.begin() + 4);
  for (char b : {'\x50', '\x04', 'U', 'S', 'I', 'M'}) record.push_back(static_cast<uint8_t>(b));
  record.resize(kDirRecordLength, 0xFF);
  return record;
}

}  // namespace

Apdu UsimAid() { return {0xA0, 0x00, 0x00, 0x00, 0x87, 0x10, 0x02, 0xFF, 0x49, 0xFF, 0x05, 0x89}; }

Apdu EncodeImsi(const std::string& digits) {
  std::vector<int> nibbles = {digits.size() % 2 == 1 ? 9 : 1};
  for (char d : digits) nibbles.push_back(d - '0');
  Apdu body = Nibbles(nibbles, (nibbles.size() + 1) / 2);
  Apdu ef = {static_cast<uint8_t>(body.size())};
  ef.insert(ef.end(), body.begin(), body.end());
  ef.resize(9, 0xFF);
  return ef;
}

Apdu EncodeIccid(const std::string& digits) {
  std::vector<int> nibbles;
  for (char d : digits) nibbles.push_back(d - '0');
  return Nibbles(nibbles, 10);
}

VirtualSim::VirtualSim(VirtualSimConfig config) : config_(std::move(config)), max_tries_(3) {}

Apdu VirtualSim::Atr() const {
  std::lock_guard<std::mutex> lock(mutex_);
  // A GSM SIM speaks T=0 only; the UICC offers T=0 and T=1.
  if (config_.kind == VirtualSimConfig::Kind::kGsmSim) return {0x3B, 0x02, 0x14, 0x50};
  if (config_.kind == VirtualSimConfig::Kind::kOther) return {0x3B, 0x02, 0x4F, 0x54};
  return {0x3B, 0x80, 0x80, 0x01, 0x01};
}

void VirtualSim::Replace(VirtualSimConfig config) {
  std::lock_guard<std::mutex> lock(mutex_);
  config_ = std::move(config);
  verified_ = false;
}

void VirtualSim::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  verified_ = false;
  in_application_ = false;
  current_df_ = kMf;
  current_ef_ = 0;
  pending_response_.clear();
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
  if (c.size() < 4) return Sw(0x6700);
  bool gsm = config_.kind == VirtualSimConfig::Kind::kGsmSim;
  if (config_.kind == VirtualSimConfig::Kind::kOther || c[0] != (gsm ? 0xA0 : 0x00)) {
    return Sw(0x6E00);
  }
  return gsm ? Gsm(c) : Usim(c);
}

Apdu VirtualSim::Verify(const Apdu& c, bool gsm) {
  const uint16_t wrong = gsm ? 0x9804 : static_cast<uint16_t>(0x63C0 | (config_.tries - 1));
  const uint16_t blocked = gsm ? 0x9840 : 0x6983;
  if (c.size() <= 5) {  // no data: how many tries are left
    if (gsm) return Sw(0x6700);
    if (config_.tries == 0) return Sw(blocked);
    if (PinSatisfied()) return Sw(0x9000);
    return Sw(static_cast<uint16_t>(0x63C0 | config_.tries));
  }
  ++pin_commands_;
  if (c.size() != 13 || c[4] != 8) return Sw(0x6700);
  if (config_.tries == 0) return Sw(blocked);
  if (gsm && !config_.pin_enabled) return Sw(0x9808);
  std::string typed;
  for (size_t i = 5; i < 13 && c[i] != 0xFF; ++i) typed += static_cast<char>(c[i]);
  if (typed == config_.pin) {
    config_.tries = max_tries_;
    verified_ = true;
    return Sw(0x9000);
  }
  --config_.tries;
  if (config_.tries == 0) return Sw(blocked);
  return Sw(wrong);
}

Apdu VirtualSim::Gsm(const Apdu& c) {
  switch (c[1]) {
    case 0xA4: {
      if (c.size() < 7) return Sw(0x6700);
      uint16_t fid = static_cast<uint16_t>(c[5] << 8 | c[6]);
      bool reachable = fid == kMf || fid == kDfGsm ||
                       (current_df_ == kMf && fid == kEfIccid) ||
                       (current_df_ == kDfGsm && fid == kEfImsi);
      if (!reachable) return Sw(0x9404);
      if (fid == kMf || fid == kDfGsm) {
        current_df_ = fid;
        current_ef_ = 0;
        // DF response parameters: file characteristics at byte 14 (b8: CHV1
        // disabled), CHV1 status at byte 19 (b8 initialised, b4..b1 tries).
        pending_response_.assign(22, 0x00);
        pending_response_[4] = static_cast<uint8_t>(fid >> 8);
        pending_response_[5] = static_cast<uint8_t>(fid);
        pending_response_[6] = fid == kMf ? 0x01 : 0x02;
        pending_response_[12] = 0x09;
        pending_response_[13] = config_.pin_enabled ? 0x00 : 0x80;
        pending_response_[18] = static_cast<uint8_t>(0x80 | config_.tries);
      } else {
        current_ef_ = fid;
        pending_response_.assign(15, 0x00);
        pending_response_[3] = fid == kEfIccid ? 10 : 9;
        pending_response_[6] = 0x04;
      }
      return Sw(static_cast<uint16_t>(0x9F00 | pending_response_.size()));
    }
    case 0xC0: {
      if (c.size() < 5 || pending_response_.empty()) return Sw(0x6F00);
      if (c[4] > pending_response_.size()) return Sw(static_cast<uint16_t>(0x6700));
      return WithSw(Apdu(pending_response_.begin(), pending_response_.begin() + c[4]), 0x9000);
    }
    case 0xB0: {
      if (c.size() < 5) return Sw(0x6700);
      Apdu data;
      if (current_ef_ == kEfIccid) data = EncodeIccid(config_.iccid);
      if (current_ef_ == kEfImsi) {
        if (!PinSatisfied()) return Sw(0x9804);
        data = EncodeImsi(config_.imsi);
      }
      if (data.empty()) return Sw(0x9400);
      data.resize(std::min<size_t>(data.size(), c[4]));
      return WithSw(data, 0x9000);
    }
    case 0x20:
      return Verify(c, true);
    default:
      return Sw(0x6D00);
  }
}

Apdu VirtualSim::Usim(const Apdu& c) {
  const uint8_t p1 = c[2], p2 = c[3];
  switch (c[1]) {
    case 0xA4: {
      if (c.size() < 5 || c.size() < 5u + c[4]) return Sw(0x6700);
      Apdu id(c.begin() + 5, c.begin() + 5 + c[4]);
      Apdu fcp;
      if (p1 == 0x04) {
        Apdu aid = UsimAid();
        if (id.size() < 7 || id.size() > aid.size() || !std::equal(id.begin(), id.end(), aid.begin())) {
          return Sw(0x6A82);
        }
        in_application_ = true;
        current_ef_ = 0;
        // PIN status template: PS_DO, then the key references it covers.
        fcp = {0x62, 0x00, 0x82, 0x02, 0x78, 0x21, 0x84, static_cast<uint8_t>(aid.size())};
        fcp.insert(fcp.end(), aid.begin(), aid.end());
        const uint8_t ps_do = config_.pin_enabled ? 0xC0 : 0x40;
        for (uint8_t b : {uint8_t{0xC6}, uint8_t{0x09}, uint8_t{0x90}, uint8_t{0x01}, ps_do,
                          uint8_t{0x83}, uint8_t{0x01}, uint8_t{0x01}, uint8_t{0x83},
                          uint8_t{0x01}, uint8_t{0x0A}}) {
          fcp.push_back(b);
        }
      } else if ((p1 == 0x08 || p1 == 0x00) && id.size() == 2) {
        uint16_t fid = static_cast<uint16_t>(id[0] << 8 | id[1]);
        if (fid != kEfDir && fid != kEfIccid && fid != kMf) return Sw(0x6A82);
        in_application_ = false;
        current_ef_ = fid == kMf ? 0 : fid;
        uint8_t records = fid == kEfDir ? 1 : 0;
        fcp = {0x62, 0x00, 0x82, 0x05, 0x42, 0x21, 0x00, kDirRecordLength, records,
               0x83, 0x02, static_cast<uint8_t>(fid >> 8), static_cast<uint8_t>(fid)};
      } else {
        return Sw(0x6A86);
      }
      fcp[1] = static_cast<uint8_t>(fcp.size() - 2);
      if (p2 == 0x0C) return Sw(0x9000);
      return WithSw(fcp, 0x9000);
    }
    case 0xB2: {
      if (current_ef_ != kEfDir) return Sw(0x6986);
      if (p1 != 1 || p2 != 0x04) return Sw(0x6A83);
      Apdu record = DirRecord();
      record.resize(std::min<size_t>(record.size(), c.size() > 4 && c[4] != 0 ? c[4] : 256));
      return WithSw(record, 0x9000);
    }
    case 0xB0: {
      uint16_t ef = current_ef_;
      if (p1 & 0x80) {
        uint8_t sfi = p1 & 0x1F;
        ef = !in_application_ && sfi == 0x02 ? kEfIccid : in_application_ && sfi == 0x07 ? kEfImsi : 0;
        if (ef == 0) return Sw(0x6A82);
        current_ef_ = ef;
      }
      Apdu data;
      if (ef == kEfIccid) data = EncodeIccid(config_.iccid);
      if (ef == kEfImsi) {
        if (!PinSatisfied()) return Sw(0x6982);
        data = EncodeImsi(config_.imsi);
      }
      if (data.empty()) return Sw(0x6986);
      if (c.size() > 4 && c[4] != 0) data.resize(std::min<size_t>(data.size(), c[4]));
      return WithSw(data, 0x9000);
    }
    case 0x20:
      if (p2 != 0x01) return Sw(0x6A88);
      return Verify(c, false);
    default:
      return Sw(0x6D00);
  }
}

}  // namespace velto::test
