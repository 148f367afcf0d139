// The product as the host sees it: loaded by file name, entries looked up by name (which
// names it exports, the module_tables test reads from the file itself).
#include <gtest/gtest.h>

#include "frame/exports.h"
#include "support/test_env.h"

namespace velto {
namespace {

// Registration is the installer's part: both entries report success. (The free entries:
// HeapBalance.EveryBlockIsGivenBack.)
TEST(ModuleTest, LoadsByFileNameAndRegistrationSucceeds) {
  void* module = test::LoadModule(VELTO_MODULE_NAME);
  ASSERT_NE(module, nullptr) << VELTO_MODULE_NAME;
#define VELTO_ENTRY(name) reinterpret_cast<decltype(&name)>(test::ModuleEntry(module, #name))
  auto reg = VELTO_ENTRY(DllRegisterServer), unreg = VELTO_ENTRY(DllUnregisterServer);
  ASSERT_TRUE(reg && unreg);
  EXPECT_TRUE(reg() == 0 && unreg() == 0);
  test::UnloadModule(module);
}

}  // namespace
}  // namespace velto
