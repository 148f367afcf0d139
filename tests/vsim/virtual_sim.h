// A virtual SIM: a GSM SIM (class A0), a UICC with a USIM (class 00) or
// another card refusing both. It answers the commands the card logic sends,
// strictly (a wrong file, class or parameter is refused), and counts them.
// The reader's thread and the test both use it.
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
  // While held, a command is counted and answered only once the hold ends.
  void HoldAnswers(bool hold);
  void WaitForCommands(int count) const;
  int commands() const;
  int pin_commands() const;  // VERIFY commands carrying a PIN
  int tries_left() const;
  void ClearCounts();

 private:
  Apdu Gsm(const Apdu& c);
  Apdu Usim(const Apdu& c);
  Apdu Verify(const Apdu& c, bool gsm);
  Apdu Read(uint16_t ef, uint8_t length, uint16_t pin_needed);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  VirtualSimConfig config_;
  bool hold_ = false, verified_ = false;
  uint16_t df_ = 0x3F00, ef_ = 0;  // df_ 0x7FFF: the USIM application
  int commands_ = 0, pin_commands_ = 0;
};

// File contents as a card stores them.
Apdu EncodeImsi(const std::string& digits);
Apdu EncodeIccid(const std::string& digits);
Apdu UsimAid();

}  // namespace velto::test
