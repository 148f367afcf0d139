// The configuration dialog export against the dialog library's double: what
// the dialog is shown, and what a confirmed or cancelled dialog stores.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <utility>

#include "abi/dialog_profile.h"
#include "authdialogs/dialog_model.h"
#include "base/memory.h"
#include "doubles/sibling_doubles_client.h"
#include "base/text.h"
#include "frame/cdata.h"
#include "frame/exports.h"
#include "protect/custom_protect.h"
#include "protect/profile_protect.h"
#include "ui/config_ui.h"

namespace velto {
namespace {

// What the dialog does: look at the profile it is shown, change it, confirm
// (nonzero) or cancel (0).
using Dialog = std::function<int(_VELTO_WLAN_PROFILE_V120*, int* password_changed)>;
using Profile = _VELTO_WLAN_PROFILE_V120;

int RunDialog(void* context, int dialog, Profile* profile, int, int* changed) {
  EXPECT_EQ(dialog, 12);
  return (*static_cast<Dialog*>(context))(profile, changed);
}

cdata Ttls() {
  cdata r{};
  r.eap_type = kEapTypeTtls;
  return r;
}

// The plain text of a password stored in the profile form.
std::string OpenedProfileForm(const cdata& record) {
  std::string copy = record.password;
  char* plain = DecryptProfileIdentityData(copy.data());
  std::string text = plain != nullptr ? plain : "<does not open>";
  WipeAndFreeText(plain);
  return text;
}

class ConfigUiTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(doubles_.SetUp(&error)) << error;
  }

  // Runs the export on `in` (null: no record) with `dialog`; returns the
  // stored record.
  cdata Run(uint8_t type, const cdata* in, Dialog dialog, DWORD* win_error = nullptr) {
    doubles_.dialogs().set_hook(RunDialog, &dialog);
    EAP_METHOD_TYPE method{};
    method.eapType.type = type;
    method.dwAuthorId = 0x1234;
    DWORD size = 0;
    BYTE* out = nullptr;
    EAP_ERROR* error = nullptr;
    DWORD status = EapPeerInvokeConfigUI(&method, nullptr, 0, in != nullptr ? kCdataSize : 0,
                                         reinterpret_cast<const BYTE*>(in), &size, &out, &error);
    doubles_.dialogs().set_hook(nullptr, nullptr);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(size, kCdataSize);
    cdata record{};
    if (out != nullptr) std::memcpy(&record, out, sizeof record);
    std::free(out);
    if (error != nullptr) {
      EXPECT_EQ(std::memcmp(&error->type, &method, sizeof method), 0);
      if (win_error != nullptr) *win_error = error->dwWinError;
    }
    std::free(error);
    return record;
  }
  // Confirms the dialog as shown: the profile it was shown, the record stored.
  std::pair<Profile, cdata> Confirmed(const cdata& in) {
    Profile shown{};
    cdata out = Run(in.eap_type, &in, [&](Profile* p, int*) { shown = *p; return 1; });
    return {shown, out};
  }

  test::SiblingDoubles doubles_;
};

TEST_F(ConfigUiTest, CancelStillHandsOutTheLoadedRecord) {
  cdata in = Ttls();
  CopyTextField(in.identity, "alice");
  char* sealed = CryptProtectCustom("pw");
  ASSERT_NE(sealed, nullptr);
  CopyTextField(in.password, sealed);
  std::free(sealed);
  in.flags = kFlagPasswordCustomProtected;
  in.eap_type = 0;  // the method type decides

  DWORD win_error = 0;
  cdata out = Run(kEapTypeTtls, &in, [](Profile*, int*) { return 0; }, &win_error);
  EXPECT_EQ(win_error, 1223u);
  EXPECT_EQ(out.eap_type, 21u);
  EXPECT_STREQ(out.identity, "alice");
  EXPECT_STREQ(out.password, in.password) << "handed back sealed, as it came";
  EXPECT_EQ(out.flags, kFlagPasswordCustomProtected);

  out = Run(kEapTypeSim, nullptr, [](Profile*, int*) { return 0; }, &win_error);
  cdata zero{};
  zero.eap_type = kEapTypeSim;
  EXPECT_EQ(std::memcmp(&out, &zero, sizeof out), 0);
}

TEST_F(ConfigUiTest, NewConfigurationOpensWithDefaultsAndStoresThem) {
  cdata out = Run(kEapTypeTtls, nullptr, [](Profile* p, int*) {
    EXPECT_EQ(p->method_kind, 4u);
    EXPECT_EQ(p->inner_method, 4u);
    EXPECT_EQ(p->subject_kind, 1u);
    EXPECT_EQ(p->new_config_216 + p->new_config_512, 2u);
    // The words the dialog library expects set in every profile.
    for (size_t at : {144, 152, 160, 200, 2420, 2472, 2844, 3220, 3380}) {
      uint32_t word = 0;
      std::memcpy(&word, reinterpret_cast<const char*>(p) + at, sizeof word);
      EXPECT_EQ(word, 1u) << "offset " << at;
    }
    return 1;
  });
  EXPECT_EQ(out.phase2_type, kPhase2MschapV2);
  EXPECT_STREQ(out.subject_match, "");
  EXPECT_STREQ(out.identity, "");
  EXPECT_STREQ(out.ca_hash, "any");
  EXPECT_EQ(out.cred_source, 0u);
}

TEST_F(ConfigUiTest, InnerMethodsMapBothWays) {
  // stored, shown, stored back
  for (auto [stored, shown, back] :
       {std::tuple{64u, 1u, 64u}, {4u, 2u, 4u}, {32u, 3u, 32u}, {16u, 4u, 16u}, {2u, 4u, 16u},
        {256u, 5u, 256u}, {8u, 6u, 8u}, {1u, 6u, 8u}, {128u, 7u, 128u}, {0u, 0u, 0u},
        {0xFFFFFFFFu, 0u, 0u}}) {
    cdata in = Ttls();
    in.phase2_type = stored;
    auto [p, out] = Confirmed(in);
    EXPECT_EQ(p.inner_method, shown) << stored;
    EXPECT_EQ(out.phase2_type, back) << stored;
  }
}

TEST_F(ConfigUiTest, SubjectMatchKinds) {
  // stored, shown text, shown kind, stored back; a prefix with nothing after it is text
  for (auto [stored, text, kind, back] :
       {std::tuple<const char*, std::string, uint32_t, const char*>{
            "/sradius.example", "radius.example", 0, "/sradius.example"},
        {"/dexample.net", "example.net", 1, "/dexample.net"},
        {"alpha.beta", "alpha.beta", 1, "/dalpha.beta"},
        {"My Server", "My Server", 0, "/sMy Server"},
        {"alpha..beta", "alpha..beta", 0, "/salpha..beta"},
        {"/s", "/s", 0, "/s/s"},
        {"", "", 0, ""}}) {
    cdata in = Ttls();
    CopyTextField(in.subject_match, stored);
    auto [p, out] = Confirmed(in);
    EXPECT_EQ(p.subject_text, text) << stored;
    EXPECT_EQ(p.subject_kind, kind) << stored;
    EXPECT_STREQ(out.subject_match, back) << stored;
  }
  for (auto [text, domain] : {std::pair{"a.b", true}, {"my-host.example.net", true}, {"a", false},
                              {".a.b", false}, {"a.b.", false}, {"a..b", false}, {"a b.c", false},
                              {"", false}, {"a_b.c", false}}) {
    EXPECT_EQ(LooksLikeDomainName(text), domain) << text;
  }
}

TEST_F(ConfigUiTest, IdentitySplitsIntoDomainAndUser) {
  // identity, shown domain and user, stored back; parts longer than the
  // profile's fields are cut
  const std::string u100(100, 'u');
  for (auto [identity, domain, user, back] :
       {std::tuple<const char*, std::string, std::string, std::string>{
            "DOM\\user", "DOM", "user", "DOM\\user"},
        {"user", "", "user", "user"},
        {"\\user", "", "user", "user"},
        {"a\\b\\c", "a", "b\\c", "a\\b\\c"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZ\\u", "ABCDEFGHIJKLMNOPQR", "u", "ABCDEFGHIJKLMNOPQR\\u"},
        {u100.c_str(), "", std::string(58, 'u'), std::string(58, 'u')}}) {
    cdata in = Ttls();
    CopyTextField(in.identity, identity);
    auto [p, out] = Confirmed(in);
    EXPECT_EQ(p.domain, domain) << identity;
    EXPECT_EQ(p.user_name, user) << identity;
    EXPECT_EQ(out.identity, back) << identity;
  }
}

TEST_F(ConfigUiTest, ServerCertificateHash) {
  cdata in = Ttls();
  CopyTextField(in.ca_hash, "hash://00112233445566778899AABBCCDDEEFF0A1B2C3D");
  auto [p, out] = Confirmed(in);
  const uint8_t expected[20] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99,
                                0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x0A, 0x1B, 0x2C, 0x3D};
  EXPECT_EQ(std::memcmp(p.cert_hash, expected, sizeof expected), 0);
  EXPECT_EQ(p.cert_hash_len, 20u);
  EXPECT_EQ(p.option_bits & kProfileNoCertHash, 0u);
  EXPECT_STREQ(out.ca_hash, "hash://00112233445566778899aabbccddeeff0a1b2c3d");

  // Decoding stops at the first non-hex character; the length still counts
  // every character after the prefix.
  CopyTextField(in.ca_hash, "hash://0a1x22");
  std::tie(p, out) = Confirmed(in);
  EXPECT_EQ(p.cert_hash[0], 0x0A);
  EXPECT_EQ(p.cert_hash[1], 0x00);
  EXPECT_EQ(p.cert_hash_len, 3u);

  // Empty: no server validation, and stored so again.
  CopyTextField(in.ca_hash, "");
  std::tie(p, out) = Confirmed(in);
  EXPECT_NE(p.option_bits & kProfileNoCertHash, 0u);
  EXPECT_STREQ(out.ca_hash, "");
}

TEST_F(ConfigUiTest, PasswordIsSealedOnlyWhenTheDialogChangesIt) {
  cdata in = Ttls();
  char* sealed = CryptProtectCustom("old");
  CopyTextField(in.password, sealed);
  std::free(sealed);
  in.flags = kFlagPasswordCustomProtected;

  // Left alone: opened for the dialog only; the record keeps it sealed.
  std::string shown;
  cdata out = Run(kEapTypeTtls, &in, [&](Profile* p, int* changed) {
    shown = p->password_text;
    *changed = 0;
    return 1;
  });
  EXPECT_EQ(shown, "old");
  EXPECT_STREQ(out.password, in.password);
  EXPECT_EQ(out.flags, kFlagPasswordCustomProtected);

  // Changed: the typed password in the profile form, flag 0x10 alone. One
  // that fills the profile's field without a terminator is read to the
  // field's end.
  for (const std::string& typed : {std::string("new secret"), std::string(100, 'p')}) {
    out = Run(kEapTypeTtls, &in, [&](Profile* p, int*) {
      std::memset(p->password_text, 0, sizeof p->password_text);
      std::memcpy(p->password_text, typed.data(), typed.size());
      return 1;
    });
    EXPECT_EQ(out.flags, kFlagPasswordProfileEncrypted);
    EXPECT_EQ(OpenedProfileForm(out), typed);
  }
}

// A stored password field filled to its last byte (the record's flags say it
// holds the stored form) is opened from within the record: it does not open,
// and the dialog still comes up.
TEST_F(ConfigUiTest, StoredPasswordFilledToItsEndIsReadWithinTheRecord) {
  MallocPtr<cdata> in(static_cast<cdata*>(std::malloc(sizeof(cdata))));
  std::memset(in.get(), 'a', sizeof(cdata));
  in->eap_type = kEapTypeTtls;
  in->flags = 0x61616161 | kFlagPasswordCustomProtected;
  bool shown = false;
  Run(kEapTypeTtls, in.get(), [&](Profile*, int*) { return shown = true, 0; });
  EXPECT_TRUE(shown);
}

TEST_F(ConfigUiTest, SimKeepsItsTemplateAndOuterIdentity) {
  cdata in{};
  in.eap_type = kEapTypeSim;
  CopyTextField(in.identity, "1{imsi}@realm");
  CopyTextField(in.anon_identity, "anonymous@realm");
  in.cred_source = kCredPrompt;
  cdata out = Run(kEapTypeSim, &in, [](Profile* p, int*) {
    EXPECT_EQ(p->method_kind, 6u);
    EXPECT_STREQ(p->user_name, "1{imsi}@realm");
    EXPECT_STREQ(p->roaming_identity, "anonymous@realm");
    EXPECT_EQ(p->cred_mode, 1u);
    std::strcpy(p->user_name, "0$imsi$");
    return 1;
  });
  EXPECT_STREQ(out.identity, "0$imsi$");
  EXPECT_STREQ(out.anon_identity, "anonymous@realm") << "only EAP-TTLS stores the outer identity";
  EXPECT_EQ(out.cred_source, 1u);
  EXPECT_EQ(out.eap_type, 18u);
}

// The dialog library's own form, loaded, checked and stored unchanged: the
// record comes back byte for byte, and the password is not marked changed.
TEST_F(ConfigUiTest, UnchangedFormStoresTheSameRecord) {
  struct Case {
    uint8_t type;
    uint32_t phase2, source;
    const char *identity, *anon, *ca_hash, *subject, *password;
  } cases[] = {
      {kEapTypeTtls, kPhase2MschapV2, kCredSaved, "DOM\\alice", "anon@x", "any", "/dalpha.beta", "pw"},
      {kEapTypeTtls, kPhase2Pap, kCredPrompt, "alice", "", "", "/sMy Server", ""},
      {kEapTypeTtls, kPhase2EapTls, kCredSavedUndecryptable, "", "a@b",
       "hash://0123456789abcdef0123456789abcdef01234567", "/sradius.example", ""},
      {kEapTypeTtls, kPhase2Chap, 0x7777, "x", "y", "any", "", ""},  // unknown source kept
      {kEapTypeSim, 0, kCredSaved, "1{imsi}@sim.example", "anonymous@sim", "", "", ""},
      {kEapTypeAka, 0, kCredSaved, "", "", "", "", ""},
  };
  for (const Case& c : cases) {
    cdata in{};
    in.eap_type = c.type;
    in.phase2_type = c.phase2;
    in.cred_source = c.source;
    CopyTextField(in.identity, c.identity);
    CopyTextField(in.anon_identity, c.anon);
    CopyTextField(in.ca_hash, c.ca_hash);
    CopyTextField(in.subject_match, c.subject);
    CopyTextField(in.password, c.password);
    int changed = -1;
    cdata out = Run(c.type, &in, [&](Profile* p, int* password_changed) {
      dialogs::ConfigForm form = dialogs::LoadConfigForm(*p);
      EXPECT_TRUE(dialogs::CheckConfigForm(form).empty()) << c.identity;
      dialogs::StoreConfigForm(form, p, password_changed);
      changed = *password_changed;
      dialogs::Wipe(&form);
      return 1;
    });
    EXPECT_EQ(changed, 0) << c.identity;
    EXPECT_EQ(std::memcmp(&in, &out, sizeof in), 0)
        << c.identity << ": identity '" << out.identity << "' ca '" << out.ca_hash << "' subject '"
        << out.subject_match << "' source " << out.cred_source;
  }
}

}  // namespace
}  // namespace velto
