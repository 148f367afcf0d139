// The configuration dialog export against the dialog library's double: what
// the dialog is shown, and what a confirmed or cancelled dialog stores.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "doubles/sibling_doubles_client.h"
#include "base/text.h"
#include "frame/cdata.h"
#include "frame/exports.h"
#include "base/memory.h"
#include "protect/custom_protect.h"
#include "protect/profile_protect.h"
#include "ui/config_ui.h"
#include "abi/dialog_profile.h"

namespace velto {
namespace {

// What the dialog does: look at the profile it is shown, change it, confirm
// (nonzero) or cancel (0).
using Dialog = std::function<int(_VELTO_WLAN_PROFILE_V120*, int* password_changed)>;

int RunDialog(void* context, int dialog, _VELTO_WLAN_PROFILE_V120* profile, int, int* changed) {
  EXPECT_EQ(dialog, 12);
  return (*static_cast<Dialog*>(context))(profile, changed);
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

  test::SiblingDoubles doubles_;
};

cdata Ttls() {
  cdata r{};
  r.eap_type = kEapTypeTtls;
  return r;
}

int Confirm(_VELTO_WLAN_PROFILE_V120*, int*) { return 1; }
int ConfirmKeepingPassword(_VELTO_WLAN_PROFILE_V120*, int* changed) {
  *changed = 0;
  return 1;
}

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
  cdata out = Run(kEapTypeTtls, &in, [](_VELTO_WLAN_PROFILE_V120*, int*) { return 0; }, &win_error);
  EXPECT_EQ(win_error, 1223u);
  EXPECT_EQ(out.eap_type, 21u);
  EXPECT_STREQ(out.identity, "alice");
  EXPECT_STREQ(out.password, in.password) << "handed back sealed, as it came";
  EXPECT_EQ(out.flags, kFlagPasswordCustomProtected);

  out = Run(kEapTypeSim, nullptr, [](_VELTO_WLAN_PROFILE_V120*, int*) { return 0; }, &win_error);
  cdata zero{};
  zero.eap_type = kEapTypeSim;
  EXPECT_EQ(std::memcmp(&out, &zero, sizeof out), 0);
}

TEST_F(ConfigUiTest, NewConfigurationOpensWithDefaultsAndStoresThem) {
  cdata out = Run(kEapTypeTtls, nullptr, [](_VELTO_WLAN_PROFILE_V120* p, int*) {
    EXPECT_EQ(p->method_kind, 4u);
    EXPECT_EQ(p->inner_method, 4u);
    EXPECT_EQ(p->subject_kind, 1u);
    EXPECT_EQ(p->new_config_216 + p->new_config_512 + p->new_config_2420, 3u);
    return 1;
  });
  EXPECT_EQ(out.phase2_type, kPhase2MschapV2);
  EXPECT_STREQ(out.subject_match, "");
  EXPECT_STREQ(out.identity, "");
  EXPECT_STREQ(out.ca_hash, "any");
  EXPECT_EQ(out.cred_source, 0u);
}

TEST_F(ConfigUiTest, InnerMethodsMapBothWays) {
  struct Case {
    uint32_t stored;
    uint32_t shown;
    uint32_t stored_back;
  } cases[] = {{64, 1, 64}, {4, 2, 4},     {32, 3, 32}, {16, 4, 16},  {2, 4, 16}, {256, 5, 256},
               {8, 6, 8},   {1, 6, 8},     {128, 7, 128}, {0, 0, 0}, {0xFFFFFFFF, 0, 0}};
  for (const Case& c : cases) {
    cdata in = Ttls();
    in.phase2_type = c.stored;
    uint32_t shown = 99;
    cdata out = Run(kEapTypeTtls, &in, [&](_VELTO_WLAN_PROFILE_V120* p, int*) {
      shown = p->inner_method;
      return 1;
    });
    EXPECT_EQ(shown, c.shown) << c.stored;
    EXPECT_EQ(out.phase2_type, c.stored_back) << c.stored;
  }
}

TEST_F(ConfigUiTest, SubjectMatchKinds) {
  struct Case {
    const char* stored;
    const char* text;
    uint32_t kind;
    const char* stored_back;
  } cases[] = {
      {"/sradius.example", "radius.example", 0, "/sradius.example"},
      {"/dexample.net", "example.net", 1, "/dexample.net"},
      {"alpha.beta", "alpha.beta", 1, "/dalpha.beta"},
      {"My Server", "My Server", 0, "/sMy Server"},
      {"alpha..beta", "alpha..beta", 0, "/salpha..beta"},
      {"/s", "/s", 0, "/s/s"},  // a prefix with nothing after it is text
      {"", "", 0, ""},
  };
  for (const Case& c : cases) {
    cdata in = Ttls();
    CopyTextField(in.subject_match, c.stored);
    std::string text;
    uint32_t kind = 99;
    cdata out = Run(kEapTypeTtls, &in, [&](_VELTO_WLAN_PROFILE_V120* p, int*) {
      text = p->subject_text;
      kind = p->subject_kind;
      return 1;
    });
    EXPECT_EQ(text, c.text) << c.stored;
    EXPECT_EQ(kind, c.kind) << c.stored;
    EXPECT_STREQ(out.subject_match, c.stored_back) << c.stored;
  }
}

TEST_F(ConfigUiTest, DomainNames) {
  struct Case {
    const char* text;
    bool domain;
  } cases[] = {{"a.b", true},  {"my-host.example.net", true}, {"a", false},    {".a.b", false},
               {"a.b.", false}, {"a..b", false},             {"a b.c", false}, {"", false},
               {"a_b.c", false}};
  for (const Case& c : cases) EXPECT_EQ(LooksLikeDomainName(c.text), c.domain) << c.text;
}

TEST_F(ConfigUiTest, IdentitySplitsIntoDomainAndUser) {
  struct Case {
    const char* identity;
    const char* domain;
    const char* user;
    const char* stored_back;
  } cases[] = {
      {"DOM\\user", "DOM", "user", "DOM\\user"},
      {"user", "", "user", "user"},
      {"\\user", "", "user", "user"},
      {"a\\b\\c", "a", "b\\c", "a\\b\\c"},
      // Parts longer than the profile's fields are cut.
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ\\u", "ABCDEFGHIJKLMNOPQR", "u", "ABCDEFGHIJKLMNOPQR\\u"},
  };
  for (const Case& c : cases) {
    cdata in = Ttls();
    CopyTextField(in.identity, c.identity);
    std::string domain, user;
    cdata out = Run(kEapTypeTtls, &in, [&](_VELTO_WLAN_PROFILE_V120* p, int*) {
      domain = p->domain;
      user = p->user_name;
      return 1;
    });
    EXPECT_EQ(domain, c.domain) << c.identity;
    EXPECT_EQ(user, c.user) << c.identity;
    EXPECT_STREQ(out.identity, c.stored_back) << c.identity;
  }
  cdata in = Ttls();
  std::string long_user(100, 'u');
  CopyTextField(in.identity, long_user.c_str());
  cdata out = Run(kEapTypeTtls, &in, Confirm);
  EXPECT_EQ(std::string(out.identity), std::string(58, 'u'));
}

TEST_F(ConfigUiTest, ServerCertificateHash) {
  cdata in = Ttls();
  CopyTextField(in.ca_hash, "hash://00112233445566778899AABBCCDDEEFF0A1B2C3D");
  uint8_t shown[20] = {};
  uint32_t length = 0;
  cdata out = Run(kEapTypeTtls, &in, [&](_VELTO_WLAN_PROFILE_V120* p, int*) {
    std::memcpy(shown, p->cert_hash, sizeof shown);
    length = p->cert_hash_len;
    EXPECT_EQ(p->option_bits & kProfileNoCertHash, 0u);
    return 1;
  });
  const uint8_t expected[20] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99,
                                0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x0A, 0x1B, 0x2C, 0x3D};
  EXPECT_EQ(std::memcmp(shown, expected, sizeof expected), 0);
  EXPECT_EQ(length, 20u);
  EXPECT_STREQ(out.ca_hash, "hash://00112233445566778899aabbccddeeff0a1b2c3d");

  // Decoding stops at the first non-hex character; the length still counts
  // every character after the prefix.
  CopyTextField(in.ca_hash, "hash://0a1x22");
  out = Run(kEapTypeTtls, &in, [&](_VELTO_WLAN_PROFILE_V120* p, int*) {
    EXPECT_EQ(p->cert_hash[0], 0x0A);
    EXPECT_EQ(p->cert_hash[1], 0x00);
    EXPECT_EQ(p->cert_hash_len, 3u);
    return 1;
  });

  // Empty: no server validation, and stored so again.
  CopyTextField(in.ca_hash, "");
  out = Run(kEapTypeTtls, &in, [&](_VELTO_WLAN_PROFILE_V120* p, int*) {
    EXPECT_NE(p->option_bits & kProfileNoCertHash, 0u);
    return 1;
  });
  EXPECT_STREQ(out.ca_hash, "");
}

TEST_F(ConfigUiTest, PasswordIsSealedOnlyWhenTheDialogChangesIt) {
  cdata in = Ttls();
  CopyTextField(in.identity, "alice");
  char* sealed = CryptProtectCustom("old");
  CopyTextField(in.password, sealed);
  std::free(sealed);
  in.flags = kFlagPasswordCustomProtected;

  // Left alone: opened for the dialog only; the record keeps it sealed.
  std::string shown;
  cdata out = Run(kEapTypeTtls, &in, [&](_VELTO_WLAN_PROFILE_V120* p, int* changed) {
    shown = p->password_text;
    return ConfirmKeepingPassword(p, changed);
  });
  EXPECT_EQ(shown, "old");
  EXPECT_STREQ(out.password, in.password);
  EXPECT_EQ(out.flags, kFlagPasswordCustomProtected);

  // Changed: the typed password in the profile form, flag 0x10 alone.
  out = Run(kEapTypeTtls, &in, [](_VELTO_WLAN_PROFILE_V120* p, int*) {
    EXPECT_STREQ(p->password_text, "old");
    std::memset(p->password_text, 0, sizeof p->password_text);
    std::strcpy(p->password_text, "new secret");
    return 1;
  });
  EXPECT_EQ(out.flags, kFlagPasswordProfileEncrypted);
  std::string copy = out.password;
  char* plain = DecryptProfileIdentityData(copy.data());
  EXPECT_STREQ(plain, "new secret");
  WipeAndFreeText(plain);

  // A password that fills the profile's field without a terminator is read
  // to the field's end, and sealed.
  std::string full(100, 'p');
  out = Run(kEapTypeTtls, &in, [&](_VELTO_WLAN_PROFILE_V120* p, int*) {
    std::memcpy(p->password_text, full.data(), sizeof p->password_text);
    return 1;
  });
  EXPECT_EQ(out.flags, kFlagPasswordProfileEncrypted);
  copy = out.password;
  plain = DecryptProfileIdentityData(copy.data());
  EXPECT_EQ(std::string(plain != nullptr ? plain : ""), full);
  WipeAndFreeText(plain);
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
  Run(kEapTypeTtls, in.get(), [&](_VELTO_WLAN_PROFILE_V120*, int*) {
    shown = true;
    return 0;
  });
  EXPECT_TRUE(shown);
}

TEST_F(ConfigUiTest, SimKeepsItsTemplateAndOuterIdentity) {
  cdata in{};
  in.eap_type = kEapTypeSim;
  CopyTextField(in.identity, "1{imsi}@realm");
  CopyTextField(in.anon_identity, "anonymous@realm");
  in.cred_source = kCredPrompt;
  cdata out = Run(kEapTypeSim, &in, [](_VELTO_WLAN_PROFILE_V120* p, int*) {
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

}  // namespace
}  // namespace velto
