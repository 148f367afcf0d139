// The configuration dialog export against the dialog library's double: what
// the dialog is shown, and what a confirmed or cancelled dialog stores
// (tests/vectors/config_ui.cases).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "abi/dialog_profile.h"
#include "authdialogs/dialog_model.h"
#include "base/memory.h"
#include "base/text.h"
#include "doubles/sibling_doubles_client.h"
#include "frame/cdata.h"
#include "frame/exports.h"
#include "protect/custom_protect.h"
#include "protect/profile_protect.h"
#include "support/vectors.h"
#include "ui/config_ui.h"

namespace velto {
namespace {

// What the dialog does: look at the profile it is shown, change it, confirm
// (nonzero) or cancel (0).
using Profile = _VELTO_WLAN_PROFILE_V120;
using Dialog = std::function<int(Profile*, int* password_changed)>;

int RunDialog(void* context, int dialog, Profile* profile, int, int* changed) {
  EXPECT_EQ(dialog, 12);
  return (*static_cast<Dialog*>(context))(profile, changed);
}

class ConfigUiTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(doubles_.SetUp(&error)) << error;
  }

  // Runs the export on `in` (null: no record) with `dialog`; returns the stored record.
  cdata Run(uint8_t type, const cdata* in, Dialog dialog, DWORD* win_error = nullptr) {
    doubles_.dialogs().set_hook(RunDialog, &dialog);
    EAP_METHOD_TYPE method{{type, 0, 0}, 0x1234};
    DWORD size = 0;
    BYTE* out = nullptr;
    EAP_ERROR* error = nullptr;
    EXPECT_EQ(EapPeerInvokeConfigUI(&method, nullptr, 0, in != nullptr ? kCdataSize : 0,
                                    reinterpret_cast<const BYTE*>(in), &size, &out, &error), 0u);
    doubles_.dialogs().set_hook(nullptr, nullptr);
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
    cdata out = Run(in.eap_type, &in, [&](Profile* p, int* password_changed) {
      shown = *p;
      if (c.count("typed_user")) CopyTextField(p->user_name, c.at("typed_user").c_str());
      if (!c.count("unchanged")) return 1;
      dialogs::ConfigForm form = dialogs::LoadConfigForm(*p);
      EXPECT_TRUE(dialogs::CheckConfigForm(form).empty());
      dialogs::StoreConfigForm(form, p, password_changed);
      changed = *password_changed;
      dialogs::Wipe(&form);
      return 1;
    });
    std::string hash;
    for (uint32_t i = 0; i < shown.cert_hash_len && i < sizeof shown.cert_hash; ++i) {
      hash += "0123456789abcdef"[shown.cert_hash[i] >> 4];
      hash += "0123456789abcdef"[shown.cert_hash[i] & 15];
    }
    for (auto [key, value] : {std::pair<const char*, std::string>{"shown_inner", std::to_string(shown.inner_method)},
                              {"shown_kind", std::to_string(shown.subject_kind)},
                              {"shown_subject", shown.subject_text},
                              {"shown_domain", shown.domain},
                              {"shown_user", shown.user_name},
                              {"shown_roaming", shown.roaming_identity},
                              {"shown_method", std::to_string(shown.method_kind)},
                              {"shown_cred_mode", std::to_string(shown.cred_mode)},
                              {"shown_hash", hash},
                              {"shown_hash_len", std::to_string(shown.cert_hash_len)},
                              {"shown_nohash", (shown.option_bits & kProfileNoCertHash) != 0 ? "1" : "0"},
                              {"back_phase2", std::to_string(out.phase2_type)},
                              {"back_subject", out.subject_match},
                              {"back_identity", out.identity},
                              {"back_anon", out.anon_identity},
                              {"back_source", std::to_string(out.cred_source)},
                              {"back_ca_hash", out.ca_hash}}) {
      if (c.count(key)) EXPECT_EQ(value, c.at(key)) << key;
    }
    if (c.count("unchanged")) {
      EXPECT_EQ(changed, 0);
      EXPECT_EQ(std::memcmp(&in, &out, sizeof in), 0) << out.identity << "|" << out.ca_hash << "|"
                                                      << out.subject_match << "|" << out.cred_source;
    }
  }
}

TEST_F(ConfigUiTest, CancelStillHandsOutTheLoadedRecord) {
  cdata in{};
  CopyTextField(in.identity, "alice");
  char* sealed = CryptProtectCustom("pw");
  ASSERT_NE(sealed, nullptr);
  CopyTextField(in.password, sealed);
  std::free(sealed);
  in.flags = kFlagPasswordCustomProtected;  // and eap_type 0: the method type decides
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
  EXPECT_STREQ(out.ca_hash, "any");
  EXPECT_EQ(std::string(out.identity) + out.subject_match, "");
  EXPECT_EQ(out.cred_source, 0u);
}

TEST_F(ConfigUiTest, PasswordIsSealedOnlyWhenTheDialogChangesIt) {
  cdata in{};
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
  // Changed: stored in the profile form, flag 0x10 alone. One that fills the
  // profile's field without a terminator is read to the field's end.
  for (const std::string& typed : {std::string("new secret"), std::string(100, 'p')}) {
    out = Run(kEapTypeTtls, &in, [&](Profile* p, int*) {
      std::memset(p->password_text, 0, sizeof p->password_text);
      std::memcpy(p->password_text, typed.data(), typed.size());
      return 1;
    });
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
  Run(kEapTypeTtls, in.get(), [&](Profile*, int*) { return shown = true, 0; });
  EXPECT_TRUE(shown);
}

}  // namespace
}  // namespace velto
