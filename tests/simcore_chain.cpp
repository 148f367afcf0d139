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

namespace velto::test {
namespace {

std::string SimChainDir() { return BinDir() + PathSeparator() + "simchain"; }

// Counts the smart-card dialogs; the first is confirmed for "Reader", PIN 1234.
int ConfirmSmartCardDialogOnce(void* context, int dialog, _VELTO_WLAN_PROFILE_V120* profile, int fail_code, int*) {
  auto* fail_codes = static_cast<std::vector<int>*>(context);
  if (dialog != -1) return 0;
  fail_codes->push_back(fail_code);
  CopyTextField(profile->reader_name, "Reader");
  CopyTextField(profile->pin_text, "1234");
  return fail_codes->size() == 1 ? 1 : 0;
}

}  // namespace

SimChain::~SimChain() {
  if (dialogs_.reset != nullptr) dialogs_.reset();
  if (!registry_root_.empty()) SetEnvVar("VELTOEAP_REGISTRY_ROOT", nullptr), RemoveTree(registry_root_);
}

bool SimChain::SetUp(std::string* error) {
  if (!PointModuleAt(SimChainDir(), error) ||
      !FindAuthDialogsDouble(SiblingLookup::kLoadIfNeeded, &dialogs_, error, SimChainDir())) {
    return false;
  }
  void* library = OpenSiblingLibrary(SimChainDir() + PathSeparator() + kSimcoreFileName, false, error);
  auto entry = [&](const char* name, auto** fn) {
    *fn = reinterpret_cast<std::remove_pointer_t<decltype(fn)>>(SiblingLibraryEntry(library, name));
    if (*fn == nullptr) *error = std::string("simcore has no entry ") + name;
    return *fn != nullptr;
  };
  SimcoreEntries& s = simcore_;
  if (library == nullptr || !entry("swc_config_alloc", &s.config_alloc) ||
      !entry("swc_scard_set_event_cb", &s.set_event_cb) || !entry("swc_scard_init", &s.init) ||
      !entry("swc_scard_get_imsi", &s.get_imsi) || !entry("swc_scard_deinit", &s.deinit) ||
      !entry("swc_config_free", &s.config_free)) {
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
    std::vector<int> fail_codes;
    chain.dialogs_.set_hook(ConfirmSmartCardDialogOnce, &fail_codes);
    cdata record{};
    EAP_METHOD_TYPE method{};
    record.eap_type = method.eapType.type = type;
    DWORD size = 0;
    BYTE* out = nullptr;
    LPWSTR identity = nullptr;
    EAP_ERROR* error = nullptr;
    EXPECT_EQ(EapPeerInvokeIdentityUI(&method, 0, nullptr, kCdataSize, reinterpret_cast<const BYTE*>(&record), 0,
                                      nullptr, &size, &out, &identity, &error), 1223u);
    chain.dialogs_.set_hook(nullptr, nullptr);
    EXPECT_EQ(identity, nullptr);
    EXPECT_EQ(fail_codes, std::vector<int>{150}) << "the dialog once, then the SIM is not read";
    std::free(identity), std::free(out), std::free(error);
    EapConfigInputFieldArray fields{};
    EXPECT_EQ(EapPeerQueryCredentialInputFields(nullptr, method, 0, kCdataSize, reinterpret_cast<BYTE*>(&record),
                                                &fields, nullptr), 0u);
    EXPECT_EQ(fields.dwNumberOfFields, 0u) << "no SIM: no field";
    if (fields.pFields != nullptr) EapPeerFreeMemory(fields.pFields);
  }
}

}  // namespace velto::test
