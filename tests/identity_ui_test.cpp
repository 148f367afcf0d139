// The identity export against the doubles: the credential dialog for
// EAP-TTLS, the smart-card dialog and the SIM's IMSI for EAP-SIM / EAP-AKA.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "abi/dialog_profile.h"
#include "abi/udata.h"
#include "base/memory.h"
#include "base/text.h"
#include "doubles/sibling_doubles_client.h"
#include "frame/cdata.h"
#include "frame/exports.h"
#include "protect/custom_protect.h"
#include "support/xml_test_util.h"

namespace velto {
namespace {

using Profile = _VELTO_WLAN_PROFILE_V120;
// One dialog: the Create1XDlg number (-1 for the smart-card dialog) and its
// failure code; it may change the profile, and confirms with nonzero.
using Dialog = std::function<int(int dialog, int fail_code, Profile*)>;

int RunDialog(void* context, int dialog, Profile* profile, int fail_code, int* password_changed) {
  EXPECT_EQ(password_changed, nullptr);
  return (*static_cast<Dialog*>(context))(dialog, fail_code, profile);
}

struct Result {
  DWORD status = 0, win_error = 0;
  bool handed_out = false;  // a user record or an identity
  udata user{};
  std::string identity;
};

// The smart-card dialog as a user fills it: a reader and a PIN.
Dialog SmartCard(const char* reader, const char* pin, std::vector<int>* fail_codes = nullptr) {
  return [=](int dialog, int fail_code, Profile* p) {
    EXPECT_EQ(dialog, -1);
    EXPECT_EQ(p->sc_mode, 4u);
    if (fail_codes != nullptr) fail_codes->push_back(fail_code);
    CopyTextField(p->reader_name, reader);
    CopyTextField(p->pin_text, pin);
    return 1;
  };
}

class IdentityUiTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(doubles_.SetUp(&error)) << error;
  }

  // size 0: no record at all.
  Result Run(uint8_t type, Dialog dialog, cdata record = {}, DWORD size = kCdataSize) {
    if (record.eap_type == 0) record.eap_type = type;
    doubles_.dialogs().set_hook(RunDialog, &dialog);
    EAP_METHOD_TYPE method{{type, 0, 0}, 0};
    DWORD out_size = 0;
    BYTE* out = nullptr;
    LPWSTR identity = nullptr;
    EAP_ERROR* error = nullptr;
    Result r;
    const BYTE* data = size != 0 ? reinterpret_cast<const BYTE*>(&record) : nullptr;
    r.status = EapPeerInvokeIdentityUI(&method, 0, nullptr, size != 0 ? size : kCdataSize, data, 0, nullptr,
                                       &out_size, &out, &identity, &error);
    doubles_.dialogs().set_hook(nullptr, nullptr);
    if (error != nullptr) {
      r.win_error = error->dwWinError;
      EXPECT_EQ(std::memcmp(&error->type, &method, sizeof method), 0);
    }
    r.handed_out = out != nullptr || identity != nullptr;
    if (out != nullptr) {
      EXPECT_EQ(out_size, kUdataSize);
      std::memcpy(&r.user, out, sizeof r.user);
    }
    if (identity != nullptr) r.identity = test::ToUtf8(identity);
    std::free(out);
    std::free(identity);
    std::free(error);
    return r;
  }
  const test::SimcoreDouble& sim() { return doubles_.simcore(); }

  test::SiblingDoubles doubles_;
};

// A host's record whose text fields run to their last byte: the outer
// identity is the whole field and nothing after it.
TEST_F(IdentityUiTest, OuterIdentityFilledToItsEndIsReadWithinTheField) {
  cdata record;
  std::memset(&record, 'a', sizeof record);
  record.eap_type = kEapTypeTtls;
  Result r = Run(kEapTypeTtls, [](int, int, Profile*) { return 1; }, record);
  ASSERT_EQ(r.status, 0u);
  EXPECT_EQ(r.identity, std::string(sizeof record.anon_identity, 'a'));
}

// A typed password is handed out sealed; none stays empty and plain.
TEST_F(IdentityUiTest, TtlsReportsTheOuterIdentityAndSealsThePassword) {
  cdata record{};
  CopyTextField(record.anon_identity, "anonymous@corp.example");
  for (std::string password : {"s3cret", ""}) {
    Result r = Run(kEapTypeTtls, [&](int dialog, int, Profile* p) {
      EXPECT_EQ(dialog, 3);
      EXPECT_STREQ(p->roaming_identity, "anonymous@corp.example");
      EXPECT_EQ(p->inner_method + p->subject_kind, 5u);
      std::strcpy(p->user_name, "alice");
      std::strcpy(p->password_text, password.c_str());
      return 1;
    }, record);
    ASSERT_EQ(r.status + r.win_error, 0u);
    EXPECT_EQ(r.identity, "anonymous@corp.example") << "not what was typed";
    EXPECT_STREQ(r.user.user_identity, "alice");
    EXPECT_EQ(uint32_t{r.user.user_flags}, password.empty() ? 0u : kUserPasswordCustomProtected);
    char* plain = password.empty() ? nullptr : CryptUnprotectCustom(r.user.user_password);
    EXPECT_EQ(plain != nullptr ? plain : r.user.user_password, password);
    WipeAndFreeText(plain);
  }
}

// The dialog is handed the cards present; the default template of each
// method is expanded; an empty PIN goes to the SIM library as none.
TEST_F(IdentityUiTest, SimAndAkaExpandTheTemplateWithTheImsi) {
  for (auto [type, template_after, identity, pin, call] :
       {std::tuple{kEapTypeSim, "1$imsi$", "1001010123456789", "1234", "(Reader 0,1234,64)"},
        {kEapTypeAka, "0$imsi$", "0001010123456789", "", "(Reader 0,null,64)"}}) {
    sim().reset();
    VELTO_CARD_EVENT event{};
    event.kind = kCardInserted;
    CopyTextField(event.reader_name, "Reader 0");
    event.flags = kCardHasData1 | kCardPinEnabled;
    sim().add_present_card(&event);
    sim().push_imsi(0, "001010123456789");
    Result r = Run(type, SmartCard("Reader 0", pin));
    ASSERT_EQ(r.status, 0u);
    EXPECT_EQ(r.identity, identity);
    EXPECT_STREQ(r.user.user_identity, template_after);
    EXPECT_STREQ(r.user.sim_identity, identity);
    EXPECT_STREQ(r.user.user_pin, pin);
    EXPECT_STREQ(r.user.sim_reader, "Reader 0");
    std::string calls = sim().Calls();
    EXPECT_NE(calls.find(std::string("swc_scard_get_imsi") + call), std::string::npos) << calls;
    EXPECT_NE(calls.rfind("swc_config_free(config)"), std::string::npos) << "the card watch is closed again";
    VELTO_SIM_LIST shown{};
    doubles_.dialogs().last_lists(nullptr, &shown);
    ASSERT_EQ(shown.count, 1);
    EXPECT_STREQ(shown.entries[0].reader_name, "Reader 0");
    EXPECT_EQ(shown.entries[0].pin_enabled, 1u);
  }
}

TEST_F(IdentityUiTest, WrongPinShowsTheDialogAgain) {
  sim().push_imsi(-7, "");
  sim().push_imsi(-7, "");
  sim().push_imsi(0, "999990000000001");
  std::vector<int> fail_codes;
  Result r = Run(kEapTypeAka, SmartCard("R", "0000", &fail_codes));
  ASSERT_EQ(r.status, 0u);
  EXPECT_EQ(fail_codes, (std::vector<int>{150, 159, 159}));
  EXPECT_EQ(r.identity, "0999990000000001");
}

// Nothing but the error record: cancelled (1223), an EAP-TTLS dialog
// confirmed without an outer identity to report (87), a SIM not read, a
// record missing or short (87); another method shows nothing and hands out a zero record.
TEST_F(IdentityUiTest, Refusals) {
  Dialog cancel = [](int, int, Profile*) { return 0; };
  Dialog confirm = [](int, int, Profile*) { return 1; };
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
    Result r = Run(c.type, c.dialog, {}, c.size);
    EXPECT_EQ(r.status, c.status) << &c - cases;
    EXPECT_EQ(r.win_error, c.win_error) << &c - cases;
    EXPECT_FALSE(r.handed_out) << &c - cases;
    if (c.type == kEapTypeSim) EXPECT_NE(sim().Calls().find("swc_config_free"), std::string::npos) << "watch not closed";
  }
  bool shown = false;
  Result r = Run(25, [&](int, int, Profile*) { return shown = true, 1; });
  EXPECT_EQ(r.status, 0u);
  EXPECT_TRUE(r.handed_out && !shown && r.identity.empty());
  udata zero{};
  EXPECT_EQ(std::memcmp(&r.user, &zero, sizeof zero), 0);
}

}  // namespace
}  // namespace velto
