// The card logic of simcore against the virtual SIM as its transport: the
// recognition of the card, the IMSI read with its PIN policy and command
// counts, and the decoding of the files.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "simcore/sim_card.h"
#include "vsim/virtual_sim.h"

namespace velto {
namespace {

using test::VirtualSim;
using Kind = test::VirtualSimConfig::Kind;

// How the card's answers come back: T=1; T=0 (data announced with 61xx and
// fetched by GET RESPONSE); a transmission that fails after the card
// answered; an answer cut to one byte.
enum class Link { kT1, kT0, kFails, kCut };

class SimChannel : public sim::CardChannel {
 public:
  SimChannel(VirtualSim* sim, Link link) : link(link), sim_(sim) {}
  bool Transmit(const sim::Bytes& command, sim::Bytes* response) override {
    if (link == Link::kT0 && command.size() >= 5 && command[1] == 0xC0 && !held_.empty()) {
      *response = std::exchange(held_, {});
      return true;
    }
    *response = sim_->Process(command);
    if (link == Link::kT0 && response->size() > 2 && command[0] == 0x00) {
      held_ = *response;
      *response = {0x61, static_cast<uint8_t>(held_.size() - 2)};
    }
    if (link == Link::kCut) response->resize(1);
    return link != Link::kFails;
  }
  Link link;

 private:
  VirtualSim* sim_;
  sim::Bytes held_;
};

// Recognised over T=1 (or T=0), then read over `link`: the tries are learnt
// before a PIN is sent, the last one is never spent, and only the commands
// needed are sent.
TEST(SimCard, RecognitionImsiReadAndPinPolicy) {
  const struct {
    const char* name;
    Kind kind;
    bool pin_enabled;
    int tries;
    const char* pin;
    Link link;
    int32_t status;
    int commands, pins_sent, tries_after;
  } cases[] = {
      {"USIM, no PIN", Kind::kUsim, false, 3, nullptr, Link::kT1, 0, 2, 0, 3},
      {"GSM SIM, no PIN", Kind::kGsmSim, false, 3, nullptr, Link::kT1, 0, 3, 0, 3},
      {"USIM, PIN", Kind::kUsim, true, 3, "1234", Link::kT1, 0, 4, 1, 3},
      {"USIM over T=0, PIN", Kind::kUsim, true, 3, "1234", Link::kT0, 0, 4, 1, 3},
      {"GSM SIM, PIN", Kind::kGsmSim, true, 3, "1234", Link::kT1, 0, 5, 1, 3},
      {"USIM, PIN disabled, one given", Kind::kUsim, false, 3, "9999", Link::kT1, 0, 2, 0, 3},
      {"GSM SIM, PIN disabled, one given", Kind::kGsmSim, false, 3, "9999", Link::kT1, 0, 3, 0, 3},
      {"USIM, PIN missing", Kind::kUsim, true, 3, "", Link::kT1, sim::kPinWrong, 2, 0, 3},
      {"GSM SIM, PIN missing", Kind::kGsmSim, true, 3, nullptr, Link::kT1, sim::kPinWrong, 3, 0, 3},
      {"USIM, wrong PIN", Kind::kUsim, true, 3, "0000", Link::kT1, sim::kPinWrong, 3, 1, 2},
      {"GSM SIM, wrong PIN", Kind::kGsmSim, true, 2, "0000", Link::kT1, sim::kPinWrong, 3, 1, 1},
      {"USIM, last try", Kind::kUsim, true, 1, "1234", Link::kT1, sim::kPinLastTry, 2, 0, 1},
      {"GSM SIM, last try", Kind::kGsmSim, true, 1, "1234", Link::kT1, sim::kPinLastTry, 2, 0, 1},
      {"USIM, blocked", Kind::kUsim, true, 0, "1234", Link::kT1, sim::kPinBlocked, 2, 0, 0},
      {"GSM SIM, blocked", Kind::kGsmSim, true, 0, "1234", Link::kT1, sim::kPinBlocked, 2, 0, 0},
      {"not digits", Kind::kUsim, true, 3, "12a4", Link::kT1, sim::kPinWrong, 0, 0, 3},
      {"too short", Kind::kGsmSim, true, 3, "123", Link::kT1, sim::kPinWrong, 0, 0, 3},
      {"too long", Kind::kUsim, true, 3, "123456789", Link::kT1, sim::kPinWrong, 0, 0, 3},
      {"another card", Kind::kOther, false, 3, "1234", Link::kT1, sim::kNotSim, 0, 0, 3},
      {"transmission fails", Kind::kUsim, false, 3, nullptr, Link::kFails, sim::kCardError, 1, 0, 3},
      {"answer cut", Kind::kGsmSim, false, 3, nullptr, Link::kCut, sim::kCardError, 1, 0, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VirtualSim card({.kind = c.kind, .pin_enabled = c.pin_enabled, .tries = c.tries});
    SimChannel channel(&card, c.link == Link::kT0 ? Link::kT0 : Link::kT1);
    sim::CardInfo info = sim::IdentifyCard(channel);
    bool sim = c.kind != Kind::kOther;
    EXPECT_EQ(info.kind, !sim ? sim::CardKind::kOther
                         : c.kind == Kind::kUsim ? sim::CardKind::kUsim : sim::CardKind::kGsmSim);
    EXPECT_EQ(info.iccid, sim ? "8900100000000000017" : "");
    EXPECT_EQ(info.pin_enabled, c.pin_enabled);
    EXPECT_EQ(info.usim_aid, c.kind == Kind::kUsim ? test::UsimAid() : sim::Bytes{});
    card.ClearCounts();
    channel.link = c.link;
    std::string imsi;
    bool pin_sent = false;
    EXPECT_EQ(sim::ReadImsi(channel, info, c.pin, &imsi, &pin_sent), c.status);
    EXPECT_EQ(imsi, c.status == 0 ? "001010123456789" : "");
    EXPECT_EQ(card.commands(), c.commands);
    EXPECT_EQ(card.pin_commands(), c.pins_sent);
    EXPECT_EQ(pin_sent, c.pins_sent != 0);
    EXPECT_EQ(card.tries_left(), c.tries_after);
  }
}

TEST(SimCard, DecodesFiles) {
  const struct {
    sim::Bytes ef;
    const char* digits;
  } cases[] = {
      {test::EncodeImsi("001010123456789"), "001010123456789"},
      {test::EncodeImsi("31041012345678"), "31041012345678"},  // even: F filler
      {{0x08, 0x29, 0x26, 0x20, 0x00, 0x10, 0x32, 0x54, 0x76}, "262020001234567"},
      {{0x00, 0x29}, ""},                                                  // no digits
      {{0x09, 0x29, 0x26, 0x20, 0x00, 0x10, 0x32, 0x54, 0x76, 0x98}, ""},  // longer than 8
      {{0x08, 0x29, 0x26, 0x20}, ""},                                      // shorter than it says
      {{0x08, 0x29, 0xF6, 0x20, 0x00, 0x10, 0x32, 0x54, 0x76}, ""},        // filler inside
      {{0x08, 0x29, 0x26, 0x2A, 0x00, 0x10, 0x32, 0x54, 0x76}, ""},        // not a digit
      {{0x03, 0x29, 0x26, 0x20}, ""},                                      // too few digits
  };
  for (const auto& c : cases) EXPECT_EQ(sim::DecodeImsi(c.ef), c.digits);
  EXPECT_EQ(sim::DecodeIccid(test::EncodeIccid("8900100000000000017")), "8900100000000000017");

  // EF_DIR: the USIM's application identifier, not an ISIM's, nor one cut short.
  sim::Bytes aid = test::UsimAid();
  sim::Bytes record = {0x61, static_cast<uint8_t>(aid.size() + 2), 0x4F,
                       static_cast<uint8_t>(aid.size())};
  record.insert(record.end(), aid.begin(), aid.end());
  EXPECT_EQ(sim::UsimAidFromDirRecord(record), aid);
  sim::Bytes isim = record;
  isim[4 + 6] = 0x04;
  EXPECT_EQ(sim::UsimAidFromDirRecord(isim), sim::Bytes{});
  EXPECT_EQ(sim::UsimAidFromDirRecord(sim::Bytes(record.begin(), record.end() - 3)), sim::Bytes{});
  EXPECT_EQ(sim::UsimAidFromDirRecord(sim::Bytes(32, 0xFF)), sim::Bytes{});
}

}  // namespace
}  // namespace velto
