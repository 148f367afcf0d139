// The configuration and identity dialog exports against the doubles: what the dialog is shown, and
// what a confirmed or cancelled dialog stores or hands out (tests/vectors/config_ui.cases).
#include <gtest/gtest.h>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include "abi/dialog_profile.h"
#include "abi/udata.h"
#include "authdialogs/dialog_model.h"
#include "base/memory.h"
#include "base/text.h"
#include "doubles/sibling_doubles_client.h"
#include "frame/cdata.h"
#include "frame/exports.h"
#include "protect/custom_protect.h"
#include "protect/profile_protect.h"
#include "support/vectors.h"
#include "support/xml_test_util.h"
#include "ui/config_ui.h"

namespace velto {
namespace {

// A dialog: its Create1XDlg number (-1: the smart-card dialog), failure code and profile; it may
// change the profile and confirm (nonzero) or cancel (0).
using Profile = _VELTO_WLAN_PROFILE_V120;
using Dialog = std::function<int(int dialog, int fail_code, Profile*, int* password_changed)>;
int RunDialog(void* context, int dialog, Profile* p, int fail_code, int* changed) {
  return (*static_cast<Dialog*>(context))(dialog, fail_code, p, changed);
}

// What an export handed out: the record (configuration), or the user record and identity.
struct Outcome { DWORD status = 0, win_error = 0; bool handed_out = false; cdata record{}; udata user{}; std::string identity; };

// The smart-card dialog as a user fills it: a reader and a PIN.
Dialog SmartCard(const char* reader, const char* pin) {
  return [=](int dialog, int fail_code, Profile* p, int*) {
    EXPECT_TRUE(dialog == -1 && fail_code == 150 && p->sc_mode == 4u);
    CopyTextField(p->reader_name, reader);
    CopyTextField(p->pin_text, pin);
    return 1;
  };
}

// A record holding `password` sealed.
cdata Sealed(const char* password) {
  cdata in{};
  in.flags = kFlagPasswordCustomProtected;
  MallocPtr<char> sealed(CryptProtectCustom(password));
  EXPECT_NE(sealed, nullptr);
  CopyTextField(in.password, sealed.get());
  return in;
}

class ConfigUiTest : public testing::Test {
 protected:
  void SetUp() override { std::string error; ASSERT_TRUE(doubles_.SetUp(&error)) << error; }

  // The configuration export (identity_ui false) or the identity export on `in` (null: no record;
  // the identity export is then handed a null record of a full size) with `dialog`.
  Outcome Run(bool identity_ui, uint8_t type, const cdata* in, Dialog dialog, DWORD size = kCdataSize) {
    Dialog checked = [&](int number, int fail_code, Profile* p, int* changed) {
      EXPECT_TRUE(identity_ui ? changed == nullptr : number == 12) << number;
      return dialog(number, fail_code, p, changed);
    };
    doubles_.dialogs().set_hook(RunDialog, &checked);
    EAP_METHOD_TYPE method{{type, 0, 0}, identity_ui ? 0u : 0x1234u};
    DWORD out_size = 0;
    BYTE* out = nullptr;
    LPWSTR identity = nullptr;
    EAP_ERROR* error = nullptr;
    Outcome r;
    const BYTE* data = reinterpret_cast<const BYTE*>(in);
    r.status = identity_ui ? EapPeerInvokeIdentityUI(&method, 0, nullptr, size, data, 0, nullptr, &out_size, &out, &identity, &error)
                           : EapPeerInvokeConfigUI(&method, nullptr, 0, in != nullptr ? size : 0, data, &out_size, &out, &error);
    doubles_.dialogs().set_hook(nullptr, nullptr);
    r.win_error = error != nullptr ? error->dwWinError : 0;
    EXPECT_TRUE(error == nullptr || std::memcmp(&error->type, &method, sizeof method) == 0);
    r.handed_out = out != nullptr || identity != nullptr;
    EXPECT_TRUE(identity_ui || (r.status == 0 && out != nullptr && out_size == kCdataSize));
    if (out != nullptr) {
      EXPECT_TRUE(!identity_ui || out_size == kUdataSize);
      std::memcpy(identity_ui ? static_cast<void*>(&r.user) : &r.record, out, identity_ui ? kUdataSize : kCdataSize);
    }
    if (identity != nullptr) r.identity = test::ToUtf8(identity);
    for (void* p : {static_cast<void*>(out), static_cast<void*>(identity), static_cast<void*>(error)}) std::free(p);
    return r;
  }
  Outcome RunIdentity(uint8_t type, Dialog dialog, const cdata* in = nullptr, DWORD size = kCdataSize) {
    cdata record{};
    record.eap_type = type;
    return Run(true, type, in != nullptr ? in : size != 0 ? &record : nullptr, dialog, size != 0 ? size : kCdataSize);
  }
  const test::SimcoreDouble& sim() { return doubles_.simcore(); }

  test::SiblingDoubles doubles_;
};
using IdentityUiTest = ConfigUiTest;

TEST_F(ConfigUiTest, RecordShownAndStoredBack) {
  for (const test::Case& c : test::ReadCases("config_ui.cases")) {
    SCOPED_TRACE("config_ui.cases:" + c.at("line"));
    if (c.count("domain_name")) {
      EXPECT_EQ(LooksLikeDomainName(c.at("domain_name").c_str()), c.at("is_domain") == "1");
      continue;
    }
    auto number = [&](const char* key) { return static_cast<uint32_t>(std::stoul(test::Get(c, key, "0"))); };
    cdata in{};
    in.eap_type = static_cast<uint8_t>(std::stoul(test::Get(c, "type", "21")));
    in.phase2_type = number("phase2");
    in.cred_source = number("source");
    CopyTextField(in.identity, test::Get(c, "identity").c_str());
    CopyTextField(in.anon_identity, test::Get(c, "anon").c_str());
    CopyTextField(in.ca_hash, test::Get(c, "ca_hash").c_str());
    CopyTextField(in.subject_match, test::Get(c, "subject").c_str());
    CopyTextField(in.password, test::Get(c, "password").c_str());
    Profile shown{};
    int changed = -1;
    cdata out = Run(false, in.eap_type, c.count("new") ? nullptr : &in, [&](int, int, Profile* p, int* password_changed) {
      shown = *p;
      if (c.count("typed_user")) CopyTextField(p->user_name, c.at("typed_user").c_str());
      if (!c.count("unchanged")) return 1;
      dialogs::ConfigForm form = dialogs::LoadConfigForm(*p);
      EXPECT_TRUE(dialogs::CheckConfigForm(form).empty());
      dialogs::StoreConfigForm(form, p, password_changed);
      changed = *password_changed;
      dialogs::Wipe(&form);
      return 1;
    }).record;
    std::string hash;
    for (uint32_t i = 0; i < shown.cert_hash_len && i < sizeof shown.cert_hash; ++i)
      hash += std::string{"0123456789abcdef"[shown.cert_hash[i] >> 4], "0123456789abcdef"[shown.cert_hash[i] & 15]};
    using std::to_string;
    for (auto [key, value] : {std::pair<const char*, std::string>{"shown_inner", to_string(shown.inner_method)},
             {"shown_kind", to_string(shown.subject_kind)}, {"shown_subject", shown.subject_text},
             {"shown_domain", shown.domain}, {"shown_user", shown.user_name}, {"shown_roaming", shown.roaming_identity},
             {"shown_method", to_string(shown.method_kind)}, {"shown_cred_mode", to_string(shown.cred_mode)},
             {"shown_hash", hash}, {"shown_hash_len", to_string(shown.cert_hash_len)},
             {"shown_nohash", (shown.option_bits & kProfileNoCertHash) != 0 ? "1" : "0"},
             {"back_phase2", to_string(out.phase2_type)}, {"back_subject", out.subject_match},
             {"back_identity", out.identity}, {"back_anon", out.anon_identity},
             {"back_source", to_string(out.cred_source)}, {"back_ca_hash", out.ca_hash}}) {
      if (c.count(key)) { EXPECT_EQ(value, c.at(key)) << key; }
    }
    if (c.count("unchanged")) {
      EXPECT_TRUE(changed == 0 && std::memcmp(&in, &out, sizeof in) == 0) << out.identity << "|" << out.ca_hash << "|" << out.subject_match;
    }
  }
}

TEST_F(ConfigUiTest, CancelStillHandsOutTheLoadedRecord) {
  cdata in = Sealed("pw");  // and eap_type 0: the method type decides
  CopyTextField(in.identity, "alice");
  Outcome r = Run(false, kEapTypeTtls, &in, [](int, int, Profile*, int*) { return 0; });
  cdata out = r.record;
  EXPECT_EQ(std::to_string(r.win_error) + "|" + std::to_string(out.eap_type) + "|" + out.identity, "1223|21|alice");
  EXPECT_TRUE(std::strcmp(out.password, in.password) == 0 && out.flags == kFlagPasswordCustomProtected) << "handed back sealed";
  out = Run(false, kEapTypeSim, nullptr, [](int, int, Profile*, int*) { return 0; }).record;
  cdata zero{};
  zero.eap_type = kEapTypeSim;
  EXPECT_EQ(std::memcmp(&out, &zero, sizeof out), 0);
}

// The words the dialog library expects set in every profile.
TEST_F(ConfigUiTest, NewConfigurationOpensWithDefaultsAndStoresThem) {
  Run(false, kEapTypeTtls, nullptr, [](int, int, Profile* p, int*) {
    EXPECT_EQ(p->new_config_216 + p->new_config_512, 2u);
    for (size_t at : {144, 152, 160, 200, 2420, 2472, 2844, 3220, 3380}) {
      uint32_t word = 0;
      std::memcpy(&word, reinterpret_cast<const char*>(p) + at, sizeof word);
      EXPECT_EQ(word, 1u) << "offset " << at;
    }
    return 1;
  });
}

TEST_F(ConfigUiTest, PasswordIsSealedOnlyWhenTheDialogChangesIt) {
  cdata in = Sealed("old");
  // Left alone: opened for the dialog only; the record keeps it sealed.
  std::string shown;
  auto leave = [&](int, int, Profile* p, int* changed) { shown = p->password_text; return *changed = 0, 1; };
  cdata out = Run(false, kEapTypeTtls, &in, leave).record;
  EXPECT_TRUE(shown == "old" && std::strcmp(out.password, in.password) == 0 && out.flags == kFlagPasswordCustomProtected);
  // Changed: stored in the profile form, flag 0x10 alone. One that fills the
  // profile's field without a terminator is read to the field's end.
  for (const std::string& typed : {std::string("new secret"), std::string(100, 'p')}) {
    out = Run(false, kEapTypeTtls, &in, [&](int, int, Profile* p, int*) {
      std::memset(p->password_text, 0, sizeof p->password_text);
      std::memcpy(p->password_text, typed.data(), typed.size());
      return 1;
    }).record;
    EXPECT_EQ(out.flags, kFlagPasswordProfileEncrypted);
    std::string copy = out.password;
    char* plain = DecryptProfileIdentityData(copy.data());
    EXPECT_EQ(plain != nullptr ? plain : "<does not open>", typed);
    WipeAndFreeText(plain);
  }
}

// A stored password field filled to its last byte (the flags say it holds the
// sealed form) is opened within the record: it does not open, the dialog still comes up.
TEST_F(ConfigUiTest, StoredPasswordFilledToItsEndIsReadWithinTheRecord) {
  MallocPtr<cdata> in(static_cast<cdata*>(std::malloc(sizeof(cdata))));
  std::memset(in.get(), 'a', sizeof(cdata));
  in->eap_type = kEapTypeTtls;
  in->flags = 0x61616161 | kFlagPasswordCustomProtected;
  bool shown = false;
  Run(false, kEapTypeTtls, in.get(), [&](int, int, Profile*, int*) { return shown = true, 0; });
  EXPECT_TRUE(shown);
}

// A host's record whose text fields run to their last byte: the outer
// identity is the whole field and nothing after it.
TEST_F(IdentityUiTest, OuterIdentityFilledToItsEndIsReadWithinTheField) {
  cdata record;
  std::memset(&record, 'a', sizeof record);
  record.eap_type = kEapTypeTtls;
  Outcome r = RunIdentity(kEapTypeTtls, [](int, int, Profile*, int*) { return 1; }, &record);
  ASSERT_EQ(r.status, 0u);
  EXPECT_EQ(r.identity, std::string(sizeof record.anon_identity, 'a'));
}

// A PIN the card refuses shows the dialog again, saying so (159), until one opens it.
TEST_F(IdentityUiTest, WrongPinShowsTheDialogAgain) {
  sim().push_imsi(-7, ""), sim().push_imsi(-7, ""), sim().push_imsi(0, "999990000000001");
  std::string codes;
  Outcome r = RunIdentity(kEapTypeAka, [&](int, int fail_code, Profile* p, int*) {
    codes += std::to_string(fail_code) + " ";
    return CopyTextField(p->reader_name, "R"), CopyTextField(p->pin_text, "0000"), 1;
  });
  EXPECT_TRUE(r.status == 0 && codes == "150 159 159 " && r.identity == "0999990000000001") << codes << r.identity;
}

// Nothing but the error record: cancelled (1223), an EAP-TTLS dialog confirmed without an outer identity
// (87), a SIM not read, a record missing or short (87); another method hands out a zero record unseen.
TEST_F(IdentityUiTest, Refusals) {
  Dialog cancel = [](int, int, Profile*, int*) { return 0; };
  Dialog confirm = [](int, int, Profile*, int*) { return 1; };
  const struct {
    uint8_t type;
    int script;  // 1: the IMSI not read, 2: no SIM library handle
    Dialog dialog;
    DWORD size, status, win_error;
  } cases[] = {
      {kEapTypeTtls, 0, cancel, kCdataSize, 1223, 1223}, {kEapTypeTtls, 0, confirm, kCdataSize, 87, 0},
      {kEapTypeSim, 0, cancel, kCdataSize, 1223, 1223},  {kEapTypeSim, 1, SmartCard("R", "1"), kCdataSize, 1223, 1223},
      {kEapTypeSim, 2, SmartCard("R", "1"), kCdataSize, 1223, 1223},
      {kEapTypeTtls, 0, confirm, 0, 87, 0}, {kEapTypeTtls, 0, confirm, 100, 87, 0},
  };
  for (const auto& c : cases) {
    sim().reset();
    if (c.script == 1) sim().push_imsi(-1, "");
    if (c.script == 2) sim().fail_alloc(1);
    Outcome r = RunIdentity(c.type, c.dialog, nullptr, c.size);
    EXPECT_TRUE(r.status == c.status && r.win_error == c.win_error && !r.handed_out) << &c - cases << " " << r.status;
    if (c.type == kEapTypeSim) { EXPECT_NE(sim().Calls().find("swc_config_free"), std::string::npos) << "watch not closed"; }
  }
  bool shown = false;
  Outcome r = RunIdentity(25, [&](int, int, Profile*, int*) { return shown = true, 1; });
  udata zero{};
  EXPECT_TRUE(r.status == 0 && r.handed_out && !shown && r.identity.empty() && std::memcmp(&r.user, &zero, sizeof zero) == 0);
}

}  // namespace
}  // namespace velto
