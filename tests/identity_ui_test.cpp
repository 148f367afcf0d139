// The identity export against the doubles: the credential dialog for
// EAP-TTLS, the smart-card dialog and the SIM's IMSI for EAP-SIM / EAP-AKA.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "doubles/sibling_doubles_client.h"
#include "base/text.h"
#include "frame/cdata.h"
#include "frame/exports.h"
#include "base/memory.h"
#include "protect/custom_protect.h"
#include "support/xml_test_util.h"
#include "abi/dialog_profile.h"
#include "abi/udata.h"

namespace velto {
namespace {

// One dialog: the Create1XDlg number (-1 for the smart-card dialog) and its
// failure code; it may change the profile, and confirms with nonzero.
using Dialog = std::function<int(int dialog, int fail_code, _VELTO_WLAN_PROFILE_V120*)>;

int RunDialog(void* context, int dialog, _VELTO_WLAN_PROFILE_V120* profile, int fail_code,
              int* password_changed) {
  EXPECT_EQ(password_changed, nullptr);
  return (*static_cast<Dialog*>(context))(dialog, fail_code, profile);
}

struct Result {
  DWORD status = 0;
  DWORD win_error = 0;
  bool has_udata = false;
  udata user{};
  bool has_identity = false;
  std::string identity;
};

class IdentityUiTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(doubles_.SetUp(&error)) << error;
  }

  Result Run(uint8_t type, const cdata& record, Dialog dialog) {
    doubles_.dialogs().set_hook(RunDialog, &dialog);
    EAP_METHOD_TYPE method{};
    method.eapType.type = type;
    DWORD size = 0;
    BYTE* out = nullptr;
    LPWSTR identity = nullptr;
    EAP_ERROR* error = nullptr;
    Result r;
    r.status = EapPeerInvokeIdentityUI(&method, 0, nullptr, kCdataSize,
                                       reinterpret_cast<const BYTE*>(&record), 0, nullptr, &size,
                                       &out, &identity, &error);
    doubles_.dialogs().set_hook(nullptr, nullptr);
    EXPECT_NE(error, nullptr) << "the error record is always handed out";
    if (error != nullptr) {
      r.win_error = error->dwWinError;
      EXPECT_EQ(std::memcmp(&error->type, &method, sizeof method), 0);
    }
    std::free(error);
    if (out != nullptr) {
      EXPECT_EQ(size, kUdataSize);
      r.has_udata = true;
      std::memcpy(&r.user, out, sizeof r.user);
    }
    std::free(out);
    if (identity != nullptr) {
      r.has_identity = true;
      r.identity = test::ToUtf8(identity);
    }
    std::free(identity);
    return r;
  }

  const test::SimcoreDouble& sim() { return doubles_.simcore(); }
  test::SiblingDoubles doubles_;
};

cdata Record(uint8_t type) {
  cdata r{};
  r.eap_type = type;
  return r;
}

void SetText(char* field, size_t size, const char* text) {
  std::memset(field, 0, size);
  std::strncpy(field, text, size - 1);
}

// The smart-card dialog as a user fills it: a reader, a PIN, a template.
Dialog SmartCard(const char* reader, const char* pin, const char* identity_template = nullptr,
                 std::vector<int>* fail_codes = nullptr) {
  return [=](int dialog, int fail_code, _VELTO_WLAN_PROFILE_V120* p) {
    EXPECT_EQ(dialog, -1);
    EXPECT_EQ(p->sc_mode, 4u);
    if (fail_codes != nullptr) fail_codes->push_back(fail_code);
    SetText(p->reader_name, sizeof p->reader_name, reader);
    SetText(p->pin_text, sizeof p->pin_text, pin);
    if (identity_template != nullptr) SetText(p->user_name, sizeof p->user_name, identity_template);
    return 1;
  };
}

// A host's record whose text fields run to their last byte: the outer
// identity is the whole field and nothing after it.
TEST_F(IdentityUiTest, OuterIdentityFilledToItsEndIsReadWithinTheField) {
  cdata record{};
  std::memset(&record, 'a', sizeof record);
  record.eap_type = kEapTypeTtls;
  Result r = Run(kEapTypeTtls, record, [](int, int, _VELTO_WLAN_PROFILE_V120*) { return 1; });
  ASSERT_EQ(r.status, 0u);
  EXPECT_EQ(r.identity, std::string(sizeof record.anon_identity, 'a'));
}

// A typed password is handed out sealed; none stays empty and plain.
TEST_F(IdentityUiTest, TtlsReportsTheOuterIdentityAndSealsThePassword) {
  cdata record = Record(kEapTypeTtls);
  CopyTextField(record.anon_identity, "anonymous@corp.example");
  for (std::string password : {"s3cret", ""}) {
    Result r = Run(kEapTypeTtls, record, [&](int dialog, int, _VELTO_WLAN_PROFILE_V120* p) {
      EXPECT_EQ(dialog, 3);
      EXPECT_STREQ(p->roaming_identity, "anonymous@corp.example");
      EXPECT_EQ(p->inner_method, 4u);
      EXPECT_EQ(p->subject_kind, 1u);
      std::strcpy(p->user_name, "alice");
      std::strcpy(p->password_text, password.c_str());
      return 1;
    });
    ASSERT_EQ(r.status, 0u);
    EXPECT_EQ(r.win_error, 0u);
    EXPECT_EQ(r.identity, "anonymous@corp.example") << "not what was typed";
    EXPECT_STREQ(r.user.user_identity, "alice");
    if (password.empty()) {
      EXPECT_STREQ(r.user.user_password, "");
      EXPECT_EQ(uint32_t{r.user.user_flags}, 0u);
      continue;
    }
    EXPECT_EQ(uint32_t{r.user.user_flags}, kUserPasswordCustomProtected);
    char* plain = CryptUnprotectCustom(r.user.user_password);
    EXPECT_STREQ(plain, "s3cret");
    WipeAndFreeText(plain);
  }
}

// The dialog is handed the cards present; an empty PIN goes to the SIM
// library as none.
TEST_F(IdentityUiTest, SimAndAkaExpandTheTemplateWithTheImsi) {
  struct Case {
    uint8_t type;
    const char *stored_template, *template_after, *identity, *pin, *call;
  } cases[] = {
      {kEapTypeSim, "", "1$imsi$", "1001010123456789", "1234", "(Reader 0,1234,64)"},
      {kEapTypeAka, "", "0$imsi$", "0001010123456789", "", "(Reader 0,null,64)"},
      {kEapTypeSim, "1{imsi}@wlan.mnc{mnc}.mcc{mcc}.3gppnetwork.org",
       "1$imsi$@wlan.mnc$mnc$.mcc$mcc$.3gppnetwork.org",
       "1001010123456789@wlan.mnc010.mcc001.3gppnetwork.org", "1234", "(Reader 0,1234,64)"},
  };
  for (const Case& c : cases) {
    cdata record = Record(c.type);
    CopyTextField(record.identity, c.stored_template);
    sim().reset();
    auto event = std::make_unique<VELTO_CARD_EVENT>();
    std::memset(event.get(), 0, sizeof *event);
    event->kind = kCardInserted;
    std::strcpy(event->reader_name, "Reader 0");
    event->flags = kCardHasData1 | kCardPinEnabled;
    sim().add_present_card(event.get());
    sim().push_imsi(0, "001010123456789");
    Result r = Run(c.type, record, SmartCard("Reader 0", c.pin));
    ASSERT_EQ(r.status, 0u) << c.stored_template;
    EXPECT_EQ(r.identity, c.identity);
    EXPECT_STREQ(r.user.user_identity, c.template_after);
    EXPECT_STREQ(r.user.sim_identity, c.identity);
    EXPECT_STREQ(r.user.user_pin, c.pin);
    EXPECT_STREQ(r.user.sim_reader, "Reader 0");
    std::string calls = sim().Calls();
    EXPECT_NE(calls.find(std::string("swc_scard_get_imsi") + c.call), std::string::npos) << calls;
    // The card watch is closed again.
    EXPECT_NE(calls.rfind("swc_config_free(config)"), std::string::npos) << calls;
    auto shown = std::make_unique<VELTO_SIM_LIST>();
    doubles_.dialogs().last_lists(nullptr, shown.get());
    ASSERT_EQ(shown->count, 1);
    EXPECT_STREQ(shown->entries[0].reader_name, "Reader 0");
    EXPECT_EQ(shown->entries[0].pin_enabled, 1u);
  }
}

TEST_F(IdentityUiTest, WrongPinShowsTheDialogAgain) {
  cdata record = Record(kEapTypeAka);
  sim().push_imsi(-7, "");
  sim().push_imsi(-7, "");
  sim().push_imsi(0, "999990000000001");
  std::vector<int> fail_codes;
  Result r = Run(kEapTypeAka, record, SmartCard("R", "0000", nullptr, &fail_codes));
  ASSERT_EQ(r.status, 0u);
  EXPECT_EQ(fail_codes, (std::vector<int>{150, 159, 159}));
  EXPECT_EQ(r.identity, "0999990000000001");
}

// Nothing but the error record: cancelled (1223), an EAP-TTLS dialog
// confirmed without an outer identity to report (87), a SIM not read.
TEST_F(IdentityUiTest, Refusals) {
  Dialog cancel = [](int, int, _VELTO_WLAN_PROFILE_V120*) { return 0; };
  Dialog confirm = [](int, int, _VELTO_WLAN_PROFILE_V120*) { return 1; };
  struct Case {
    const char* name;
    uint8_t type;
    std::function<void()> script;
    Dialog dialog;
    DWORD status, win_error;
  } cases[] = {
      {"TTLS cancelled", kEapTypeTtls, [] {}, cancel, 1223, 1223},
      {"TTLS without outer identity", kEapTypeTtls, [] {}, confirm, 87, 0},
      {"SIM cancelled", kEapTypeSim, [] {}, cancel, 1223, 1223},
      {"SIM not read", kEapTypeSim, [this] { sim().push_imsi(-1, ""); }, SmartCard("R", "1"), 1223, 1223},
      {"no SIM library handle", kEapTypeSim, [this] { sim().fail_alloc(1); }, SmartCard("R", "1"), 1223, 1223},
  };
  for (Case& c : cases) {
    sim().reset();
    c.script();
    Result r = Run(c.type, Record(c.type), c.dialog);
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.win_error, c.win_error) << c.name;
    EXPECT_FALSE(r.has_udata || r.has_identity) << c.name;
    if (c.type == kEapTypeSim) {
      EXPECT_NE(sim().Calls().find("swc_config_free"), std::string::npos) << c.name << ": watch not closed";
    }
  }
}

TEST_F(IdentityUiTest, MissingOrShortRecordIsRefused) {
  EAP_METHOD_TYPE method{};
  method.eapType.type = kEapTypeTtls;
  cdata record = Record(kEapTypeTtls);
  for (const BYTE* data : {static_cast<const BYTE*>(nullptr), reinterpret_cast<const BYTE*>(&record)}) {
    DWORD size = 0;
    BYTE* out = nullptr;
    LPWSTR identity = nullptr;
    EAP_ERROR* error = nullptr;
    EXPECT_EQ(EapPeerInvokeIdentityUI(&method, 0, nullptr, data != nullptr ? 100 : kCdataSize, data,
                                      0, nullptr, &size, &out, &identity, &error),
              87u);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(identity, nullptr);
    std::free(error);
  }
}

TEST_F(IdentityUiTest, OtherMethodsShowNothing) {
  cdata record = Record(25);
  bool shown = false;
  Result r = Run(25, record, [&](int, int, _VELTO_WLAN_PROFILE_V120*) {
    shown = true;
    return 1;
  });
  EXPECT_EQ(r.status, 0u);
  EXPECT_FALSE(shown);
  EXPECT_FALSE(r.has_identity);
  ASSERT_TRUE(r.has_udata);
  udata zero{};
  EXPECT_EQ(std::memcmp(&r.user, &zero, sizeof zero), 0);
}

}  // namespace
}  // namespace velto
