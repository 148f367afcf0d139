// A virtual SIM card: answers command APDUs as a GSM SIM (class A0, GSM
// 11.11), as a UICC with a USIM application (class 00, ETSI TS 102 221,
// 3GPP TS 31.102) or as another card refusing both, and counts what it
// receives. It is the card behind the
// virtual reader in the PC/SC tests and the fake transport of the card logic's
// unit tests. Thread-safe: the reader's thread and the test both use it.
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
  std::string iccid = "8900100000000000017";
  std::string pin = "1234";
  bool pin_enabled = true;
  int tries = 3;  // PIN tries left
};

class VirtualSim {
 public:
  explicit VirtualSim(VirtualSimConfig config);

  Apdu Atr() const;
  // Power-on or reset: the PIN counts as not verified and the MF is current.
  void Reset();
  // Another card in its place, unseen by the reader.
  void Replace(VirtualSimConfig config);
  // One command APDU; the response data and SW1 SW2.
  Apdu Process(const Apdu& command);

  // While held, a command is counted and then answered only once the hold
  // ends: a card that does not answer (tests of what waits on it).
  void HoldAnswers(bool hold);
  // Waits, without time-out, until `count` commands were received.
  void WaitForCommands(int count) const;

  int commands() const;       // APDUs received
  int pin_commands() const;   // VERIFY commands carrying a PIN
  int tries_left() const;
  void ClearCounts();

 private:
  Apdu Gsm(const Apdu& c);
  Apdu Usim(const Apdu& c);
  Apdu Verify(const Apdu& c, bool gsm);
  bool PinSatisfied() const { return !config_.pin_enabled || verified_; }

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool hold_ = false;
  VirtualSimConfig config_;
  int max_tries_ = 3;
  bool verified_ = false;
  bool in_application_ = false;  // USIM: the ADF is the current DF
  uint16_t current_df_ = 0x3F00;
  uint16_t current_ef_ = 0;
  Apdu pending_response_;  // GSM: what GET RESPONSE returns
  int commands_ = 0;
  int pin_commands_ = 0;
};

// File contents as a card stores them.
Apdu EncodeImsi(const std::string& digits);
Apdu EncodeIccid(const std::string& digits);
// The USIM application identifier the virtual card carries.
Apdu UsimAid();

}  // namespace velto::test
