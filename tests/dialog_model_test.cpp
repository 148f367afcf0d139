// The dialog library's forms: what they store and what they refuse (tests/vectors/forms.cases).
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "authdialogs/dialog_model.h"
#include "base/text.h"
#include "support/vectors.h"
#include "ui/dialog_profile.h"

namespace velto::dialogs {
namespace {

using Profile = _VELTO_WLAN_PROFILE_V120;

std::string Refused(const std::vector<FieldError>& errors) {
  static const char* const kNames[] = {"source",     "inner",   "user",     "domain", "password", "roaming",
                                       "thumbprint", "subject", "template", "reader", "pin"};
  std::string names;
  for (const FieldError& e : errors) {
    EXPECT_FALSE(e.message.empty());
    names += (names.empty() ? "" : " ") + std::string(kNames[static_cast<int>(e.field)]);
  }
  return names;
}

Profile MakeProfile(uint32_t method_kind) {
  Profile p;
  InitDialogProfile(&p);
  p.method_kind = method_kind;
  return p;
}

struct Lists {
  VELTO_SC_LIST_V120 sc{};
  VELTO_SIM_LIST sim{};
  Lists& Sim(const char* reader, bool pin) {
    VELTO_SIM_LIST_ENTRY& e = sim.entries[sim.count++];
    CopyTextField(e.reader_name, reader);
    e.pin_enabled = pin ? 1 : 0;
    return *this;
  }
  Lists& Card(const char* reader) {
    VELTO_SC_LIST_ENTRY& e = sc.entries[sc.count++];
    CopyTextField(e.reader_name, reader);
    e.item_count = 3;
    CopyTextField(e.identifiers[0], "card://0affabc");
    CopyTextField(e.identifiers[2], "card://01x");
    return *this;
  }
};

TEST(ConfigForm, ChecksEachFieldAtItsLimit) {
  auto text = [](const test::Case& c, const char* key) {  // "x*N": N times x
    std::string v = c.at(key);
    size_t star = v.find('*');
    return star == 1 ? std::string(std::stoul(v.substr(2)), v[0]) : v;
  };
  Lists lists;
  lists.Sim("plain", false).Sim("locked", true).Card("card");
  for (const test::Case& c : test::ReadCases("forms.cases")) {
    SCOPED_TRACE("forms.cases:" + c.at("line"));
    if (c.count("kind")) {
      ConfigForm form = LoadConfigForm(MakeProfile(std::stoul(c.at("kind"))));
      form.inner_method = std::stoul(c.at("inner"));
      form.user_name = text(c, "user");
      form.domain = text(c, "domain");
      form.password = text(c, "password");
      form.roaming_identity = text(c, "roaming");
      form.subject = text(c, "subject");
      if (c.at("validation") == "hash") form.validation = ServerValidation::kThumbprint;
      EXPECT_EQ(Refused(CheckConfigForm(form)), c.at("refused"));
    } else if (c.count("credential_user")) {
      CredentialForm form{text(c, "credential_user"), text(c, "domain"), SecretString(text(c, "password"))};
      EXPECT_EQ(Refused(CheckCredentialForm(form)), c.at("refused"));
    } else if (c.count("selected")) {
      Profile p = MakeProfile(kProfileMethodAka);
      SmartCardForm form = LoadSmartCardForm(p, 150, &lists.sc, &lists.sim);
      form.selected = std::stoi(c.at("selected"));
      form.pin = c.at("pin");
      form.identity_template = "0{imsi}";
      EXPECT_EQ(Refused(CheckSmartCardForm(form)), c.at("refused"));
      if (!c.at("refused").empty()) continue;
      std::memset(p.pin_text, 'x', sizeof p.pin_text);
      StoreSmartCardForm(form, &p);
      EXPECT_EQ(p.pin_text, c.at("stored_pin"));
      EXPECT_EQ(p.reader_name, form.readers[form.selected].reader_name);
      EXPECT_STREQ(p.user_name, "0{imsi}");
      Wipe(&form);
      EXPECT_TRUE(form.pin.empty());
    } else {
      uint8_t hash[20] = {};
      EXPECT_EQ(ParseThumbprint(c.at("thumbprint"), hash), c.at("ok") == "1");
      if (c.at("ok") == "1") { EXPECT_EQ(FormatThumbprint(hash, 20), "01 23 45 67 89 ab cd ef 01 23 45 67 89 ab cd ef 01 23 45 67"); }
    }
  }
  EXPECT_EQ(FormatThumbprint(nullptr, 3), "");
}

// A stale hash of another length is shown as it is and refused; whatever
// validation is stored next leaves no stale byte behind.
TEST(ConfigForm, ServerValidationStores) {
  Profile p = MakeProfile(kProfileMethodTtls);
  p.inner_method = 4;
  std::memset(p.cert_hash, 0x55, sizeof p.cert_hash);
  p.cert_hash_len = 2;
  ConfigForm form = LoadConfigForm(p);
  EXPECT_EQ(form.thumbprint + "/" + Refused(CheckConfigForm(form)), "55 55/thumbprint");
  form.thumbprint = "\xE2\x80\x8E" "DE:AD:BE:EF 01020304-0506 0708090a0b0c0d0e0f ff";
  uint8_t expected[60] = {0xde, 0xad, 0xbe, 0xef, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0xff};
  for (ServerValidation validation : {ServerValidation::kThumbprint, ServerValidation::kNone}) {
    form.validation = validation;
    StoreConfigForm(form, &p, nullptr);
    const bool none = validation == ServerValidation::kNone;
    EXPECT_TRUE(p.cert_hash_len == (none ? 0u : 20u) && (p.option_bits & kProfileNoCertHash) == (none ? kProfileNoCertHash : 0u));
    EXPECT_EQ(std::memcmp(p.cert_hash, expected, sizeof expected), 0);
    std::memset(expected, 0, sizeof expected);
  }
}

TEST(ConfigForm, SimAndAkaStoreOnlyTemplateAndOuterIdentity) {
  for (uint32_t kind : {kProfileMethodSim, kProfileMethodAka, kProfileMethodTtls}) {
    Profile p = MakeProfile(kind);
    ConfigForm form = LoadConfigForm(p);
    form.user_name = "1{imsi}@realm";
    form.roaming_identity = "anonymous@realm";
    form.password = "new secret";
    form.password_edited = true;
    if (kind != kProfileMethodTtls) {
      form.domain = "CORP";
      form.source = CredentialSource::kSingleSignOn;
      form.inner_method = 2;
      form.validation = ServerValidation::kThumbprint;
    }
    Profile expected = p;
    CopyTextField(expected.user_name, "1{imsi}@realm");
    CopyTextField(expected.roaming_identity, "anonymous@realm");
    CopyTextField(expected.password_text, kind == kProfileMethodTtls ? "new secret" : "");  // TTLS alone takes it
    int changed = -1;
    StoreConfigForm(form, &p, &changed);
    EXPECT_TRUE(changed == (kind == kProfileMethodTtls) && std::memcmp(&p, &expected, sizeof p) == 0) << kind;
  }
}

// The domain travels in the user name; a joined name is split for the form.
TEST(CredentialForm, DomainTravelsInTheUserName) {
  Profile p = MakeProfile(kProfileMethodTtls);
  StoreCredentialForm({"alice", "CORP", SecretString("pw")}, &p);
  EXPECT_EQ(std::string(p.user_name) + "|" + p.domain + "|" + p.password_text, "CORP\\alice|CORP|pw");
  CopyTextField(p.domain, "");
  EXPECT_EQ(LoadCredentialForm(p).domain + "|" + LoadCredentialForm(p).user_name, "CORP|alice");
}

TEST(SmartCardForm, ReadersFromBothListsSimsFirst) {
  Lists lists;
  lists.Card("Card Reader").Card("No Items").Sim("SIM A", false).Sim("SIM B", true);
  lists.sc.entries[1].item_count = 0;  // identifiers past the count are not read
  std::memset(lists.sim.entries[1].reader_name, 'B', 256);  // filled to the last byte: read within it
  Profile p = MakeProfile(kProfileMethodSim);
  SmartCardForm form = LoadSmartCardForm(p, 150, &lists.sc, &lists.sim);
  ASSERT_EQ(form.readers.size(), 4u);
  EXPECT_EQ(form.readers[0].reader_name + "|" + form.readers[1].reader_name, "SIM A|" + std::string(256, 'B'));
  EXPECT_TRUE(form.readers[1].is_sim && form.readers[1].pin_enabled && !form.readers[2].is_sim);
  EXPECT_EQ(form.readers[2].identifiers, (std::vector<std::string>{"card://0affabc", "card://01x"}));
  EXPECT_TRUE(form.readers[3].identifiers.empty() && form.selected == 0 && !form.retry);
  SmartCardForm retry = LoadSmartCardForm(p, 159, nullptr, nullptr);
  EXPECT_TRUE(retry.retry && retry.selected == -1);
  lists.sim.count = -3;  // a damaged count reads as no entries
  lists.sc.count = 99;
  EXPECT_EQ(LoadSmartCardForm(p, 150, &lists.sc, &lists.sim).readers.size(), 10u);
  // No reader, and a template too long.
  form = LoadSmartCardForm(p, 150, nullptr, nullptr);
  form.identity_template.assign(60, 't');
  EXPECT_EQ(Refused(CheckSmartCardForm(form)), "template reader");
}

TEST(SmartCardForm, SelectionFollowsTheReaderName) {
  Profile p = MakeProfile(kProfileMethodSim);
  CopyTextField(p.reader_name, "B");  // chosen before a retry
  SmartCardForm form = LoadSmartCardForm(p, 159, nullptr, &Lists().Sim("A", false).Sim("B", true).sim);
  EXPECT_TRUE(form.selected == 1 && form.retry);
  Lists moved, gone;  // A removed, C inserted before B; then B gone
  moved.Sim("C", false).Sim("B", true);
  gone.Card("Z");
  std::string seen;
  for (Lists* lists : {&moved, &gone, static_cast<Lists*>(nullptr), &moved}) {
    RefreshSmartCardForm(&form, lists != nullptr ? &lists->sc : nullptr, lists != nullptr ? &lists->sim : nullptr);
    seen += std::to_string(form.selected) + (form.selected >= 0 ? form.readers[form.selected].reader_name : "") + " ";
  }
  EXPECT_EQ(seen, "1B 0Z -1 0C ") << "the selected reader left: the first one is offered";
}

}  // namespace
}  // namespace velto::dialogs
