// A virtual SIM: a GSM SIM (class A0), a UICC with a USIM (class 00) or
// another card refusing both. It answers exactly the commands the card logic
// sends (any other is refused) and counts them. Thread-safe.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace velto::test {

using Apdu = std::vector<uint8_t>;

struct VirtualSimConfig {
  enum class Kind { kGsmSim, kUsim, kOther };
  Kind kind = Kind::kUsim;
  std::string imsi = "001010123456789";
  std::string pin = "1234";
  bool pin_enabled = true;
  int tries = 3;  // PIN tries left
};

class VirtualSim {
 public:
  explicit VirtualSim(VirtualSimConfig config) : config_(std::move(config)) {}
  Apdu Atr() const;
  void Reset();                           // power-on: PIN not verified, the MF current
  void Replace(VirtualSimConfig config);  // another card in its place, unseen by the reader
  Apdu Process(const Apdu& command);      // response data and SW1 SW2
  void HoldAnswers(bool hold);            // while held, commands are counted, not answered
  void WaitForCommands(int count) const;
  int commands() const { return std::lock_guard<std::mutex>(mutex_), commands_; }
  int pin_commands() const { return std::lock_guard<std::mutex>(mutex_), pin_commands_; }  // VERIFYs with a PIN
  int tries_left() const { return std::lock_guard<std::mutex>(mutex_), config_.tries; }
  void ClearCounts() { std::lock_guard<std::mutex> lock(mutex_); commands_ = pin_commands_ = 0; }

 private:
  Apdu Answer(const Apdu& c);
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  VirtualSimConfig config_;
  bool hold_ = false, verified_ = false;
  char current_ = 'M';  // M the MF, G DF GSM, A the USIM application, D EF_DIR, I ICCID, S IMSI
  int commands_ = 0, pin_commands_ = 0;
};

// File contents as a card stores them.
Apdu EncodeIccid(const std::string& digits);
Apdu UsimAid();

}  // namespace velto::test
