#include "simcore_chain.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <type_traits>

#include "abi/dialog_profile.h"
#include "base/text.h"
#include "doubles/sibling_library.h"
#include "frame/cdata.h"
#include "frame/exports.h"
#include "frame/registry.h"
#include "support/test_env.h"
#include "support/xml_test_util.h"

namespace velto::test {
namespace {

struct Answers {
  const char* reader;
  const char* pin;
  std::vector<int>* fail_codes;
};

int ConfirmSmartCardDialogOnce(void* context, int dialog, _VELTO_WLAN_PROFILE_V120* profile, int fail_code, int*) {
  auto* answers = static_cast<Answers*>(context);
  if (dialog != -1) return 0;
  answers->fail_codes->push_back(fail_code);
  if (answers->fail_codes->size() > 1) return 0;
  CopyTextField(profile->reader_name, answers->reader);
  CopyTextField(profile->pin_text, answers->pin);
  return 1;
}

std::string SimChainDir() { return BinDir() + PathSeparator() + "simchain"; }

}  // namespace

SimChain::~SimChain() {
  if (dialogs_.reset != nullptr) dialogs_.reset();
  if (!registry_root_.empty()) {
    SetEnvVar("VELTOEAP_REGISTRY_ROOT", nullptr);
    RemoveTree(registry_root_);
  }
}

bool SimChain::SetUp(std::string* error) {
  if (!PointModuleAt(SimChainDir(), error) ||
      !FindAuthDialogsDouble(SiblingLookup::kLoadIfNeeded, &dialogs_, error, SimChainDir())) {
    return false;
  }
  void* library = OpenSiblingLibrary(SimChainDir() + PathSeparator() + kSimcoreFileName, false, error);
  if (library == nullptr) return false;
  auto entry = [&](const char* name, auto** fn) {
    *fn = reinterpret_cast<std::remove_pointer_t<decltype(fn)>>(SiblingLibraryEntry(library, name));
    if (*fn == nullptr) *error = std::string("simcore has no entry ") + name;
    return *fn != nullptr;
  };
  SimcoreEntries& s = simcore_;
  if (!entry("swc_config_alloc", &s.config_alloc) || !entry("swc_scard_set_event_cb", &s.set_event_cb) ||
      !entry("swc_scard_init", &s.init) || !entry("swc_scard_get_imsi", &s.get_imsi) ||
      !entry("swc_scard_deinit", &s.deinit) || !entry("swc_config_free", &s.config_free)) {
    return false;
  }
  // The credential-field export hands the reader over in the registry (on
  // Linux a private store; Windows ignores the variable).
  registry_root_ = MakeTempDir();
  SetEnvVar("VELTOEAP_REGISTRY_ROOT", registry_root_.c_str());
  platform::RegistryKey* key = nullptr;
  if (platform::g_registry->create_machine_key(platform::kVeltoWirelessKey, &key) != 0) {
    *error = "the module's registry key cannot be made";
    return false;
  }
  platform::g_registry->close_key(key);
  return true;
}

SimChain::Identity SimChain::RunIdentity(uint8_t type, const char* reader, const char* pin) {
  Identity result;
  Answers answers{reader, pin, &result.fail_codes};
  dialogs_.set_hook(ConfirmSmartCardDialogOnce, &answers);
  cdata record{};
  record.eap_type = type;
  EAP_METHOD_TYPE method{};
  method.eapType.type = type;
  DWORD size = 0;
  BYTE* out = nullptr;
  LPWSTR identity = nullptr;
  EAP_ERROR* error = nullptr;
  result.status = EapPeerInvokeIdentityUI(&method, 0, nullptr, kCdataSize, reinterpret_cast<const BYTE*>(&record), 0,
                                          nullptr, &size, &out, &identity, &error);
  dialogs_.set_hook(nullptr, nullptr);
  if (identity != nullptr) result.identity = ToUtf8(identity);
  std::free(identity);
  std::free(out);
  std::free(error);
  return result;
}

DWORD SimChain::QueryFields(uint8_t type, std::vector<std::string>* labels) {
  labels->clear();
  cdata record{};
  record.eap_type = type;
  EAP_METHOD_TYPE method{};
  method.eapType.type = type;
  EapConfigInputFieldArray fields{};
  DWORD status = EapPeerQueryCredentialInputFields(nullptr, method, 0, kCdataSize,
                                                   reinterpret_cast<BYTE*>(&record), &fields, nullptr);
  for (DWORD i = 0; i < fields.dwNumberOfFields; ++i) {
    labels->push_back(ToUtf8(fields.pFields[i].pwszLabel));
    EapPeerFreeMemory(fields.pFields[i].pwszLabel);
  }
  if (fields.pFields != nullptr) EapPeerFreeMemory(fields.pFields);
  return status;
}

void ExpectNoSmartCardService(SimChain& chain) {
  const SimcoreEntries& swc = chain.simcore();
  swc_config* config = swc.config_alloc("SupplicantPlugin_00-00-00-00-00-00", 1);
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(swc.set_event_cb(config, nullptr, nullptr), 0);
  EXPECT_EQ(swc.init(config), -2);
  char imsi[64] = {};
  uint32_t length = sizeof imsi;
  EXPECT_EQ(swc.get_imsi(config, "Reader", "1234", imsi, &length), -2);
  EXPECT_EQ(swc.get_imsi(nullptr, "Reader", nullptr, imsi, &length), -1);
  EXPECT_EQ(swc.init(nullptr), -1);
  EXPECT_EQ(swc.deinit(config), 0);
  EXPECT_EQ(swc.deinit(nullptr), 0);
  swc.config_free(config);
  swc.config_free(nullptr);
  for (uint8_t type : {kEapTypeSim, kEapTypeAka}) {
    SimChain::Identity r = chain.RunIdentity(type, "Reader", "1234");
    EXPECT_EQ(r.status, 1223u);
    EXPECT_EQ(r.identity, "");
    EXPECT_EQ(r.fail_codes, std::vector<int>{150}) << "the dialog once, then the SIM is not read";
  }
  std::vector<std::string> labels;
  EXPECT_EQ(chain.QueryFields(kEapTypeSim, &labels), 0u);
  EXPECT_TRUE(labels.empty());
}

}  // namespace velto::test
