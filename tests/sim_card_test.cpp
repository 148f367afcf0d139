// The card logic of simcore against the virtual SIM as its transport: the
// recognition of the card, the IMSI read with its PIN policy, the command
// counts, and the decoding of the files.
#include <gtest/gtest.h>

#include <string>

#include "simcore/sim_card.h"
#include "vsim/virtual_sim.h"

namespace velto {
namespace {

using test::VirtualSim;
using test::VirtualSimConfig;
using Kind = VirtualSimConfig::Kind;

class SimChannel : public sim::CardChannel {
 public:
  explicit SimChannel(VirtualSim* sim, bool t0 = false) : sim_(sim), t0_(t0) {}
  bool Transmit(const sim::Bytes& command, sim::Bytes* response) override {
    // As a T=0 card: data is announced with 61xx and fetched by GET RESPONSE.
    if (t0_ && command.size() >= 5 && command[1] == 0xC0 && !held_.empty()) {
      *response = held_;
      held_.clear();
      return true;
    }
    *response = sim_->Process(command);
    if (t0_ && response->size() > 2 && command[0] == 0x00) {
      held_ = *response;
      *response = {0x61, static_cast<uint8_t>(held_.size() - 2)};
    }
    return true;
  }

 private:
  VirtualSim* sim_;
  bool t0_;
  sim::Bytes held_;
};

VirtualSimConfig Card(Kind kind, bool pin_enabled, int tries = 3) {
  VirtualSimConfig config;
  config.kind = kind;
  config.pin_enabled = pin_enabled;
  config.tries = tries;
  return config;
}

TEST(SimCard, RecognisesGsmSimsAndUsims) {
  const struct {
    Kind kind;
    bool pin_enabled, t0;
    sim::CardKind expected;
  } cases[] = {
      {Kind::kGsmSim, true, false, sim::CardKind::kGsmSim},
      {Kind::kGsmSim, false, false, sim::CardKind::kGsmSim},
      {Kind::kUsim, true, false, sim::CardKind::kUsim},
      {Kind::kUsim, false, false, sim::CardKind::kUsim},
      {Kind::kUsim, true, true, sim::CardKind::kUsim},  // answers fetched with GET RESPONSE
  };
  for (const auto& c : cases) {
    VirtualSim card(Card(c.kind, c.pin_enabled));
    SimChannel channel(&card, c.t0);
    sim::CardInfo info = sim::IdentifyCard(channel);
    EXPECT_EQ(info.kind, c.expected);
    EXPECT_EQ(info.iccid, "8900100000000000017");
    EXPECT_EQ(info.pin_enabled, c.pin_enabled);
    EXPECT_EQ(info.usim_aid, c.kind == Kind::kUsim ? test::UsimAid() : sim::Bytes{});
  }
}

TEST(SimCard, OtherCardsAreNoSim) {
  class Refusing : public sim::CardChannel {
    bool Transmit(const sim::Bytes&, sim::Bytes* response) override {
      *response = {0x6E, 0x00};
      return true;
    }
  } other;
  EXPECT_EQ(sim::IdentifyCard(other).kind, sim::CardKind::kOther);
  std::string imsi;
  bool pin_sent = true;
  EXPECT_EQ(sim::ReadImsi(other, {}, nullptr, &imsi, &pin_sent), sim::kNotSim);
  EXPECT_FALSE(pin_sent);
}

// The IMSI read and the PIN policy: the tries are learnt before a PIN is
// sent, the last one is never spent, and only the commands needed are sent.
TEST(SimCard, ImsiReadAndPinPolicy) {
  const struct {
    const char* name;
    Kind kind;
    bool pin_enabled;
    int tries;
    const char* pin;
    int32_t status;
    int commands, pins_sent, tries_after;
  } cases[] = {
      {"USIM, no PIN", Kind::kUsim, false, 3, nullptr, 0, 2, 0, 3},
      {"GSM SIM, no PIN", Kind::kGsmSim, false, 3, nullptr, 0, 3, 0, 3},
      {"USIM, PIN", Kind::kUsim, true, 3, "1234", 0, 4, 1, 3},
      {"GSM SIM, PIN", Kind::kGsmSim, true, 3, "1234", 0, 5, 1, 3},
      {"USIM, PIN disabled, one given", Kind::kUsim, false, 3, "9999", 0, 2, 0, 3},
      {"GSM SIM, PIN disabled, one given", Kind::kGsmSim, false, 3, "9999", 0, 3, 0, 3},
      {"USIM, PIN missing", Kind::kUsim, true, 3, "", sim::kPinWrong, 2, 0, 3},
      {"GSM SIM, PIN missing", Kind::kGsmSim, true, 3, nullptr, sim::kPinWrong, 3, 0, 3},
      {"USIM, wrong PIN", Kind::kUsim, true, 3, "0000", sim::kPinWrong, 3, 1, 2},
      {"GSM SIM, wrong PIN", Kind::kGsmSim, true, 2, "0000", sim::kPinWrong, 3, 1, 1},
      {"USIM, last try", Kind::kUsim, true, 1, "1234", sim::kPinLastTry, 2, 0, 1},
      {"GSM SIM, last try", Kind::kGsmSim, true, 1, "1234", sim::kPinLastTry, 2, 0, 1},
      {"USIM, blocked", Kind::kUsim, true, 0, "1234", sim::kPinBlocked, 2, 0, 0},
      {"GSM SIM, blocked", Kind::kGsmSim, true, 0, "1234", sim::kPinBlocked, 2, 0, 0},
      {"not digits", Kind::kUsim, true, 3, "12a4", sim::kPinWrong, 0, 0, 3},
      {"too short", Kind::kGsmSim, true, 3, "123", sim::kPinWrong, 0, 0, 3},
      {"too long", Kind::kUsim, true, 3, "123456789", sim::kPinWrong, 0, 0, 3},
  };
  for (const auto& c : cases) {
    VirtualSim card(Card(c.kind, c.pin_enabled, c.tries));
    SimChannel channel(&card);
    sim::CardInfo info = sim::IdentifyCard(channel);
    card.ClearCounts();
    std::string imsi;
    bool pin_sent = false;
    EXPECT_EQ(sim::ReadImsi(channel, info, c.pin, &imsi, &pin_sent), c.status) << c.name;
    EXPECT_EQ(imsi, c.status == 0 ? "001010123456789" : "") << c.name;
    EXPECT_EQ(card.commands(), c.commands) << c.name;
    EXPECT_EQ(card.pin_commands(), c.pins_sent) << c.name;
    EXPECT_EQ(pin_sent, c.pins_sent != 0) << c.name;
    EXPECT_EQ(card.tries_left(), c.tries_after) << c.name;
  }
}

TEST(SimCard, DecodesImsi) {
  const struct {
    sim::Bytes ef;
    const char* digits;
  } cases[] = {
      {test::EncodeImsi("001010123456789"), "001010123456789"},
      {test::EncodeImsi("31041012345678"), "31041012345678"},  // even: F filler
      {{0x08, 0x29, 0x26, 0x20, 0x00, 0x10, 0x32, 0x54, 0x76}, "262020001234567"},
      {{0x00, 0x29}, ""},                                          // no digits
      {{0x09, 0x29, 0x26, 0x20, 0x00, 0x10, 0x32, 0x54, 0x76, 0x98}, ""},  // longer than 8
      {{0x08, 0x29, 0x26, 0x20}, ""},                              // shorter than it says
      {{0x08, 0x29, 0xF6, 0x20, 0x00, 0x10, 0x32, 0x54, 0x76}, ""},  // filler inside
      {{0x08, 0x29, 0x26, 0x2A, 0x00, 0x10, 0x32, 0x54, 0x76}, ""},  // not a digit
      {{0x03, 0x29, 0x26, 0x20}, ""},                              // too few digits
  };
  for (const auto& c : cases) EXPECT_EQ(sim::DecodeImsi(c.ef), c.digits);
  EXPECT_EQ(sim::DecodeIccid(test::EncodeIccid("8900100000000000017")), "8900100000000000017");
}

TEST(SimCard, FindsTheUsimInEfDir) {
  sim::Bytes aid = test::UsimAid();
  sim::Bytes record = {0x61, static_cast<uint8_t>(aid.size() + 2), 0x4F, static_cast<uint8_t>(aid.size())};
  record.insert(record.end(), aid.begin(), aid.end());
  EXPECT_EQ(sim::UsimAidFromDirRecord(record), aid);
  sim::Bytes isim = record;
  isim[4 + 6] = 0x04;  // an ISIM application
  EXPECT_EQ(sim::UsimAidFromDirRecord(isim), sim::Bytes{});
  sim::Bytes cut(record.begin(), record.end() - 3);
  EXPECT_EQ(sim::UsimAidFromDirRecord(cut), sim::Bytes{});
  EXPECT_EQ(sim::UsimAidFromDirRecord(sim::Bytes(32, 0xFF)), sim::Bytes{});
}

}  // namespace
}  // namespace velto
