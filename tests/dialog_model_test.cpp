// The dialog library's forms: what they store when the user changes things,
// and what they refuse. (A form stored unchanged through the module:
// config_ui_test.)
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "authdialogs/dialog_model.h"
#include "base/text.h"
#include "frame/cdata.h"
#include "ui/dialog_profile.h"

namespace velto::dialogs {
namespace {

std::vector<Field> FieldsOf(const std::vector<FieldError>& errors) {
  std::vector<Field> fields;
  for (const FieldError& e : errors) {
    EXPECT_FALSE(e.message.empty());
    fields.push_back(e.field);
  }
  return fields;
}

_VELTO_WLAN_PROFILE_V120 Profile(uint32_t method_kind) {
  _VELTO_WLAN_PROFILE_V120 p;
  InitDialogProfile(&p);
  p.method_kind = method_kind;
  return p;
}

// ---- dialog 12 on the profile

TEST(ConfigForm, ServerValidationStores) {
  const uint8_t kHash[20] = {0xde, 0xad, 0xbe, 0xef, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0xff};
  struct Case {
    ServerValidation validation;
    uint32_t option_bit;
    uint32_t length;
  } cases[] = {{ServerValidation::kNone, kProfileNoCertHash, 0},
               {ServerValidation::kAnyTrusted, 0, 0},
               {ServerValidation::kThumbprint, 0, 20}};
  for (const Case& c : cases) {
    _VELTO_WLAN_PROFILE_V120 p = Profile(kProfileMethodTtls);
    p.option_bits = kProfileNoCertHash ^ c.option_bit;  // the opposite of what is expected
    std::memset(p.cert_hash, 0x55, sizeof p.cert_hash);
    p.cert_hash_len = 32;
    ConfigForm form = LoadConfigForm(p);
    form.validation = c.validation;
    form.thumbprint = "\xE2\x80\x8E" "DE:AD:BE:EF 01020304-0506 0708090a0b0c0d0e0f ff";
    StoreConfigForm(form, &p, nullptr);
    EXPECT_EQ(p.option_bits & kProfileNoCertHash, c.option_bit);
    EXPECT_EQ(p.cert_hash_len, c.length);
    uint8_t expected[60] = {};
    if (c.length != 0) std::memcpy(expected, kHash, sizeof kHash);
    EXPECT_EQ(std::memcmp(p.cert_hash, expected, sizeof expected), 0);
    if (c.length != 0) {
      EXPECT_EQ(LoadConfigForm(p).thumbprint,
                "de ad be ef 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f ff");
    }
  }
  // A stored hash of another length is shown as it is, and refused.
  _VELTO_WLAN_PROFILE_V120 p = Profile(kProfileMethodTtls);
  p.inner_method = 4;
  p.cert_hash_len = 2;
  p.cert_hash[0] = 0xab;
  p.cert_hash[1] = 0x01;
  ConfigForm form = LoadConfigForm(p);
  EXPECT_EQ(form.thumbprint, "ab 01");
  EXPECT_EQ(FieldsOf(CheckConfigForm(form)), std::vector<Field>{Field::kThumbprint});
}

TEST(ConfigForm, SimAndAkaStoreOnlyTemplateAndOuterIdentity) {
  for (uint32_t kind : {kProfileMethodSim, kProfileMethodAka}) {
    _VELTO_WLAN_PROFILE_V120 p = Profile(kind);
    ConfigForm form = LoadConfigForm(p);
    form.user_name = "1{imsi}@realm";
    form.roaming_identity = "anonymous@realm";
    form.domain = "CORP";
    form.password = "pw";
    form.password_edited = true;
    form.source = CredentialSource::kSingleSignOn;
    form.inner_method = 2;
    form.validation = ServerValidation::kThumbprint;
    form.thumbprint = "zz";  // not used, so not checked
    form.subject = std::string(100, 's');
    EXPECT_TRUE(CheckConfigForm(form).empty());
    _VELTO_WLAN_PROFILE_V120 expected = p;
    CopyTextField(expected.user_name, "1{imsi}@realm");
    CopyTextField(expected.roaming_identity, "anonymous@realm");
    int changed = -1;
    StoreConfigForm(form, &p, &changed);
    EXPECT_EQ(changed, 0);
    EXPECT_EQ(std::memcmp(&p, &expected, sizeof p), 0) << kind;
  }
  // EAP-TTLS stores a password typed anew, and says so.
  _VELTO_WLAN_PROFILE_V120 p = Profile(kProfileMethodTtls);
  ConfigForm form = LoadConfigForm(p);
  form.password = "new secret";
  form.password_edited = true;
  int changed = -1;
  StoreConfigForm(form, &p, &changed);
  EXPECT_EQ(changed, 1);
  EXPECT_STREQ(p.password_text, "new secret");
}

TEST(ConfigForm, ChecksEachFieldAtItsLimit) {
  struct Case {
    uint32_t kind;
    std::function<void(ConfigForm*)> edit;
    std::vector<Field> refused;
  } cases[] = {
      {kProfileMethodTtls, [](ConfigForm*) {}, {}},
      {kProfileMethodTtls, [](ConfigForm* f) { f->user_name.assign(59, 'u'); f->domain.assign(18, 'd');
         f->password.assign(99, 'p'); f->roaming_identity.assign(63, 'r'); f->subject.assign(63, 's'); }, {}},
      {kProfileMethodTtls, [](ConfigForm* f) { f->user_name.assign(60, 'u'); f->domain.assign(19, 'd');
         f->password.assign(100, 'p'); f->roaming_identity.assign(64, 'r'); f->subject.assign(64, 's'); },
       {Field::kUserName, Field::kDomain, Field::kPassword, Field::kRoamingIdentity, Field::kSubject}},
      {kProfileMethodTtls, [](ConfigForm* f) { f->inner_method = 0; }, {Field::kInnerMethod}},
      {kProfileMethodTtls, [](ConfigForm* f) { f->inner_method = 8; }, {Field::kInnerMethod}},
      {kProfileMethodTtls, [](ConfigForm* f) { f->domain = "A\\B"; }, {Field::kDomain}},
      {kProfileMethodTtls, [](ConfigForm* f) { f->domain = "CORP"; f->user_name = "CORP\\alice"; },
       {Field::kUserName}},
      {kProfileMethodTtls, [](ConfigForm* f) { f->user_name = "CORP\\alice"; }, {}},
      // Texts the XML carries as they are; the password travels sealed.
      {kProfileMethodTtls, [](ConfigForm* f) { f->user_name = "a<b"; f->domain = "D&"; f->password = "<&";
         f->roaming_identity = "<x"; f->subject = "x</subjectMatchString><anyTrustedServer/><subjectMatchString>"; },
       {Field::kUserName, Field::kDomain, Field::kRoamingIdentity, Field::kSubject}},
      {kProfileMethodSim, [](ConfigForm* f) { f->user_name = "1{imsi}&x"; }, {Field::kIdentityTemplate}},
      {kProfileMethodTtls, [](ConfigForm* f) { f->validation = ServerValidation::kThumbprint; },
       {Field::kThumbprint}},
      {kProfileMethodSim, [](ConfigForm* f) { f->user_name.assign(60, 'u'); f->roaming_identity.assign(64, 'r'); },
       {Field::kIdentityTemplate, Field::kRoamingIdentity}},
      {kProfileMethodAka, [](ConfigForm* f) { f->user_name.assign(59, 'u'); f->inner_method = 0; }, {}},
  };
  for (const Case& c : cases) {
    ConfigForm form = LoadConfigForm(Profile(c.kind));
    form.inner_method = 4;
    c.edit(&form);
    EXPECT_EQ(FieldsOf(CheckConfigForm(form)), c.refused) << &c - cases;
  }
}

TEST(Thumbprint, ParsesWhatViewersShowAndNothingElse) {
  const std::string kDigits = "0123456789abcdef0123456789ABCDEF01234567";
  struct Case {
    std::string text;
    bool ok;
  } cases[] = {
      {kDigits, true},
      {"01 23 45 67 89 ab cd ef 01 23 45 67 89 ab cd ef 01 23 45 67", true},
      {"01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67", true},
      {"\xE2\x80\x8E" + kDigits + "\xE2\x80\x8F", true},  // direction marks
      {"\xC2\xA0" "01-23-45-67-89-ab-cd-ef-01-23-45-67-89-ab-cd-ef-01-23-45-67\t", true},
      {kDigits.substr(1), false},
      {kDigits + "0", false},
      {"0x" + kDigits.substr(2), false},
      {kDigits.substr(1) + "g", false},
      {"", false},
      {"\xE2\x80" + kDigits, false},  // a cut mark is not invisible
  };
  for (const Case& c : cases) {
    uint8_t hash[20] = {};
    EXPECT_EQ(ParseThumbprint(c.text, hash), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(FormatThumbprint(hash, 20), "01 23 45 67 89 ab cd ef 01 23 45 67 89 ab cd ef 01 23 45 67");
    }
  }
  EXPECT_EQ(FormatThumbprint(nullptr, 3), "");
}

// ---- dialog 3

TEST(CredentialForm, DomainTravelsInTheUserName) {
  struct Case {
    const char *user, *domain, *stored_user;
  } cases[] = {{"alice", "", "alice"}, {"alice", "CORP", "CORP\\alice"}};
  for (const Case& c : cases) {
    _VELTO_WLAN_PROFILE_V120 p = Profile(kProfileMethodTtls);
    CredentialForm form = LoadCredentialForm(p);
    form.user_name = c.user;
    form.domain = c.domain;
    form.password = "pw";
    EXPECT_TRUE(CheckCredentialForm(form).empty());
    StoreCredentialForm(form, &p);
    EXPECT_STREQ(p.user_name, c.stored_user);
    EXPECT_STREQ(p.domain, c.domain);
    EXPECT_STREQ(p.password_text, "pw");
    CredentialForm again = LoadCredentialForm(p);
    EXPECT_EQ(again.user_name + "|" + again.domain, std::string(c.user) + "|" + c.domain);
  }
  // A joined name without a domain field is split for the form.
  _VELTO_WLAN_PROFILE_V120 p = Profile(kProfileMethodTtls);
  CopyTextField(p.user_name, "DOM\\bob");
  CredentialForm form = LoadCredentialForm(p);
  EXPECT_EQ(form.domain + "|" + form.user_name, "DOM|bob");
}

TEST(CredentialForm, Checks) {
  struct Case {
    std::string user, domain, password;
    std::vector<Field> refused;
  } cases[] = {
      {"", "", "", {Field::kUserName}},
      {std::string(59, 'u'), "", std::string(99, 'p'), {}},
      {std::string(60, 'u'), "", std::string(100, 'p'), {Field::kUserName, Field::kPassword}},
      {std::string(40, 'u'), std::string(18, 'd'), "", {}},  // 18 + 1 + 40 = 59
      {std::string(41, 'u'), std::string(18, 'd'), "", {Field::kUserName}},
      {"u", std::string(19, 'd'), "", {Field::kDomain}},
      {"u", "A\\B", "", {Field::kDomain}},
      {"CORP\\alice", "CORP", "", {Field::kUserName}},  // would store CORP\CORP\alice
      {"CORP\\alice", "", "<&", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FieldsOf(CheckCredentialForm({c.user, c.domain, SecretString(c.password)})), c.refused)
        << c.user.size() << " " << c.domain;
  }
}

// ---- the smart-card dialog

struct Lists {
  VELTO_SC_LIST_V120 sc{};
  VELTO_SIM_LIST sim{};
  void AddSim(const char* reader, bool pin) {
    VELTO_SIM_LIST_ENTRY& e = sim.entries[sim.count++];
    CopyTextField(e.reader_name, reader);
    CopyTextField(e.card_name, "SIM");
    e.pin_enabled = pin ? 1 : 0;
  }
  void AddCard(const char* reader) {
    VELTO_SC_LIST_ENTRY& e = sc.entries[sc.count++];
    CopyTextField(e.reader_name, reader);
    e.item_count = 3;
    CopyTextField(e.identifiers[0], "card://0affabc");
    CopyTextField(e.identifiers[2], "card://01x");
  }
};

TEST(SmartCardForm, ReadersFromBothListsSimsFirst) {
  Lists lists;
  lists.AddCard("Card Reader");
  lists.AddCard("No Items");
  lists.sc.entries[1].item_count = 0;  // identifiers past the count are not read
  lists.AddSim("SIM A", false);
  lists.AddSim("SIM B", true);
  lists.sim.entries[1].reader_name[255] = 'X';  // filled to the last byte: read within it
  std::memset(lists.sim.entries[1].reader_name, 'B', 255);
  _VELTO_WLAN_PROFILE_V120 p = Profile(kProfileMethodSim);
  SmartCardForm form = LoadSmartCardForm(p, 150, &lists.sc, &lists.sim);
  ASSERT_EQ(form.readers.size(), 4u);
  EXPECT_EQ(form.readers[0].reader_name, "SIM A");
  EXPECT_EQ(form.readers[1].reader_name.size(), 256u);
  EXPECT_TRUE(form.readers[1].is_sim && form.readers[1].pin_enabled);
  EXPECT_FALSE(form.readers[2].is_sim);
  EXPECT_EQ(form.readers[2].identifiers, (std::vector<std::string>{"card://0affabc", "card://01x"}));
  EXPECT_TRUE(form.readers[3].identifiers.empty());
  EXPECT_EQ(form.selected, 0);
  EXPECT_FALSE(form.retry);
  EXPECT_TRUE(LoadSmartCardForm(p, 159, nullptr, nullptr).retry);
  EXPECT_EQ(LoadSmartCardForm(p, 159, nullptr, nullptr).selected, -1);

  lists.sim.count = -3;  // a damaged count reads as no entries
  lists.sc.count = 99;
  EXPECT_EQ(LoadSmartCardForm(p, 150, &lists.sc, &lists.sim).readers.size(), 10u);
}

TEST(SmartCardForm, SelectionFollowsTheReaderName) {
  Lists first;
  first.AddSim("A", false);
  first.AddSim("B", true);
  _VELTO_WLAN_PROFILE_V120 p = Profile(kProfileMethodSim);
  CopyTextField(p.reader_name, "B");  // chosen before a retry
  SmartCardForm form = LoadSmartCardForm(p, 159, nullptr, &first.sim);
  EXPECT_EQ(form.selected, 1);
  EXPECT_TRUE(form.retry);

  Lists moved;  // A removed, C inserted before B moved up
  moved.AddSim("C", false);
  moved.AddSim("B", true);
  RefreshSmartCardForm(&form, &moved.sc, &moved.sim);
  EXPECT_EQ(form.selected, 1);
  EXPECT_EQ(form.readers[form.selected].reader_name, "B");

  Lists gone;
  gone.AddCard("Z");
  RefreshSmartCardForm(&form, &gone.sc, &gone.sim);
  EXPECT_EQ(form.selected, 0) << "the selected reader left: the first one is offered";
  RefreshSmartCardForm(&form, nullptr, nullptr);
  EXPECT_EQ(form.selected, -1);
  RefreshSmartCardForm(&form, &moved.sc, &moved.sim);
  EXPECT_EQ(form.selected, 0);
}

TEST(SmartCardForm, PinOnlyForAPinEnabledSim) {
  Lists lists;
  lists.AddSim("plain", false);
  lists.AddSim("locked", true);
  lists.AddCard("card");
  struct Case {
    int selected;
    std::string pin;
    std::vector<Field> refused;
    const char* stored_pin;
  } cases[] = {
      {0, "", {}, ""},           {0, "12", {}, ""},  // not needed: ignored, not stored
      {1, "", {Field::kPin}, ""}, {1, "123", {Field::kPin}, ""},
      {1, "1234", {}, "1234"},   {1, "12345678", {}, "12345678"},
      {1, "123456789", {Field::kPin}, ""}, {1, "12a4", {Field::kPin}, ""},
      {2, "1234", {}, ""},       {-1, "", {Field::kReader}, ""},
  };
  for (const Case& c : cases) {
    _VELTO_WLAN_PROFILE_V120 p = Profile(kProfileMethodAka);
    SmartCardForm form = LoadSmartCardForm(p, 150, &lists.sc, &lists.sim);
    form.selected = c.selected;
    form.pin = c.pin;
    form.identity_template = "0{imsi}";
    EXPECT_EQ(FieldsOf(CheckSmartCardForm(form)), c.refused) << c.selected << " " << c.pin;
    if (!c.refused.empty()) continue;
    std::memset(p.pin_text, 'x', sizeof p.pin_text);
    StoreSmartCardForm(form, &p);
    EXPECT_STREQ(p.pin_text, c.stored_pin);
    EXPECT_STREQ(p.reader_name, form.readers[c.selected].reader_name.c_str());
    EXPECT_STREQ(p.user_name, "0{imsi}");
    Wipe(&form);
    EXPECT_TRUE(form.pin.empty());
  }
  SmartCardForm form = LoadSmartCardForm(Profile(kProfileMethodSim), 150, nullptr, nullptr);
  form.identity_template.assign(60, 't');
  EXPECT_EQ(FieldsOf(CheckSmartCardForm(form)), (std::vector<Field>{Field::kIdentityTemplate, Field::kReader}));
}

}  // namespace
}  // namespace velto::dialogs
