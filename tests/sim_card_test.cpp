// simcore's card logic against the virtual SIM as its transport: recognition,
// the IMSI read with its PIN policy and command counts, the files' decoding.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "simcore/sim_card.h"
#include "vsim/virtual_sim.h"

namespace velto {
namespace {

using test::VirtualSim;
using Kind = test::VirtualSimConfig::Kind;

// The virtual SIM over a link: t0 answers data as 61xx for a GET RESPONSE, cut
// drops all but a byte, fails refuses the exchange.
struct SimChannel : sim::CardChannel {
  SimChannel(VirtualSim* sim, std::string link) : link(std::move(link)), sim_(sim) {}
  bool Transmit(const sim::Bytes& command, sim::Bytes* response) override {
    if (link == "t0" && command.size() >= 5 && command[1] == 0xC0 && !held_.empty()) return *response = std::exchange(held_, {}), true;
    *response = sim_->Process(command);
    if (link == "t0" && response->size() > 2 && command[0] == 0x00) held_ = *response, *response = {0x61, static_cast<uint8_t>(held_.size() - 2)};
    if (link == "cut") response->resize(1);
    return link != "fails";
  }
  std::string link;
  VirtualSim* sim_;
  sim::Bytes held_;
};

sim::Bytes FromHex(const std::string& hex) {
  sim::Bytes bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

// tests/vectors/sim_card/cases.txt says how to read its cases.
TEST(SimCard, RecognitionImsiReadAndPinPolicy) {
  const std::map<std::string, Kind> kinds = {{"usim", Kind::kUsim}, {"gsm", Kind::kGsmSim}, {"other", Kind::kOther}};
  const std::map<std::string, int32_t> statuses = {
      {"ok", 0}, {"wrong", sim::kPinWrong}, {"last", sim::kPinLastTry}, {"blocked", sim::kPinBlocked},
      {"notsim", sim::kNotSim}, {"error", sim::kCardError}};
  std::ifstream in(std::string(VELTO_VECTORS_DIR) + "/sim_card/cases.txt");
  int cases = 0;
  for (std::string line; std::getline(in, line);) {
    std::istringstream row(line.substr(0, line.find('#')));
    std::string what, kind, pin, link, arrow, status, digits;
    int pin_enabled = 0, tries = 0, commands = 0, pins_sent = 0, tries_after = 0;
    if (!(row >> what) || what[0] == '#') continue;
    SCOPED_TRACE(line);
    ++cases;
    if (what == "imsi" || what == "aid") {  // a file's bytes, what they decode to
      row >> kind >> digits;
      if (what == "imsi") { EXPECT_EQ(sim::DecodeImsi(FromHex(kind)), digits == "-" ? "" : digits); }
      if (what == "aid") { EXPECT_EQ(sim::UsimAidFromDirRecord(FromHex(kind)), FromHex(digits)); }
      continue;
    }
    row >> kind >> pin_enabled >> tries >> pin >> link >> arrow >> status >> commands >> pins_sent >> tries_after;
    VirtualSim card({.kind = kinds.at(kind), .pin_enabled = pin_enabled != 0, .tries = tries});
    SimChannel channel(&card, link == "t0" ? "t0" : "t1");
    sim::CardInfo info = sim::IdentifyCard(channel);
    EXPECT_EQ(info.kind, kind == "other" ? sim::CardKind::kOther : kind == "usim" ? sim::CardKind::kUsim : sim::CardKind::kGsmSim);
    EXPECT_EQ(std::pair(info.iccid, info.pin_enabled), (std::pair<std::string, bool>(kind != "other" ? "8900100000000000017" : "", pin_enabled)));
    EXPECT_EQ(info.usim_aid, kind == "usim" ? test::UsimAid() : sim::Bytes{});
    card.ClearCounts(), channel.link = link;
    std::string imsi;
    bool pin_sent = false;
    const char* pin_text = pin == "none" ? nullptr : pin == "empty" ? "" : pin.c_str();
    EXPECT_EQ(sim::ReadImsi(channel, info, pin_text, &imsi, &pin_sent), statuses.at(status));
    EXPECT_EQ(imsi, status == "ok" ? "001010123456789" : "");
    EXPECT_EQ(std::tuple(card.commands(), card.pin_commands(), pin_sent, card.tries_left()),
              std::tuple(commands, pins_sent, pins_sent != 0, tries_after)) << "commands, PINs sent, tries left";
  }
  EXPECT_EQ(cases, 34);
}

}  // namespace
}  // namespace velto
