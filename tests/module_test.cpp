// The product as the host sees it: loaded by file name, entries looked up by
// name, called through the published signatures (which names it exports is
// read from the file itself by the module_tables test).
#include <gtest/gtest.h>

#include "frame/exports.h"
#include "support/test_env.h"

namespace velto {
namespace {

// Registration reports success; the no-op entries leave every output as the
// caller set it. (The free entries: HeapBalance.EveryBlockIsGivenBack.)
TEST(ModuleTest, EntriesAsTheHostCallsThem) {
  void* module = test::LoadModule(VELTO_MODULE_NAME);
  ASSERT_NE(module, nullptr) << VELTO_MODULE_NAME;
#define VELTO_ENTRY(name) reinterpret_cast<decltype(&name)>(test::ModuleEntry(module, #name))
  auto reg = VELTO_ENTRY(DllRegisterServer), unreg = VELTO_ENTRY(DllUnregisterServer);
  auto creds = VELTO_ENTRY(EapPeerCredentialsXml2Blob);
  auto interactive = VELTO_ENTRY(EapPeerInvokeInteractiveUI);
  ASSERT_TRUE(reg && unreg && creds && interactive);
  EXPECT_TRUE(reg() == 0 && unreg() == 0);

  EAP_METHOD_TYPE type{};
  type.eapType.type = kEapTypeTtls;
  BYTE sentinel = 0, *out = &sentinel;
  DWORD size = 0xDEADBEEF;
  EAP_ERROR* error = reinterpret_cast<EAP_ERROR*>(0x1234);
  const BYTE config[4] = {1, 2, 3, 4};
  EXPECT_EQ(creds(0, type, nullptr, config, sizeof config, &out, &size, &error), 0u);
  EXPECT_EQ(interactive(&type, nullptr, sizeof config, config, &size, &out, &error), 0u);
  EXPECT_TRUE(out == &sentinel && size == 0xDEADBEEF && error == reinterpret_cast<EAP_ERROR*>(0x1234));
  test::UnloadModule(module);
}

}  // namespace
}  // namespace velto
