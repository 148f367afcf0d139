// The product as the host sees it: loaded by file name, entries looked up by
// name, called through the published signatures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "frame/exports.h"
#include "frame/library.h"
#include "frame/startup.h"
#include "doubles/sibling_library.h"
#include "support/test_env.h"

namespace velto {
namespace {

const char* const kExports[] = {
    "EapPeerConfigXml2Blob",      "EapPeerConfigBlob2Xml",
    "EapPeerInvokeConfigUI",      "EapPeerInvokeIdentityUI",
    "EapPeerQueryCredentialInputFields",
    "EapPeerQueryUserBlobFromCredentialInputFields",
    "EapPeerFreeMemory",          "EapPeerFreeErrorMemory",
    "DllRegisterServer",          "DllUnregisterServer",
    "EapPeerCredentialsXml2Blob", "EapPeerInvokeInteractiveUI",
};

class ModuleTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // cfgbridge goes where the start-up looks for it before the module loads.
    common_ = test::MakeTempDir();
    test::SetEnvVar("VELTOEAP_COMMON_FILES", common_.c_str());
    char folder[kMaxPath] = {};
    char path[kMaxPath];
    if (platform::CommonFilesFolder(folder, sizeof folder) && BuildCfgBridgePath(folder, path)) {
      std::error_code ec;
      std::filesystem::path target(path);
      std::filesystem::create_directories(target.parent_path(), ec);
      std::filesystem::copy_file(std::filesystem::path(test::ProductDir()) / platform::kCfgBridgeFileName,
                                 target, std::filesystem::copy_options::overwrite_existing, ec);
    }
    module_ = test::LoadModule(VELTO_MODULE_NAME);
  }
  static void TearDownTestSuite() {
    test::UnloadModule(module_);
    test::SetEnvVar("VELTOEAP_COMMON_FILES", nullptr);
    test::RemoveTree(common_);
  }

  template <typename F>
  static F* Entry(const char* name) {
    return reinterpret_cast<F*>(test::ModuleEntry(module_, name));
  }

  static void* module_;
  static std::string common_;
};

void* ModuleTest::module_ = nullptr;
std::string ModuleTest::common_;

TEST_F(ModuleTest, LoadsByFileNameAndOffersTheTwelveEntries) {
  ASSERT_NE(module_, nullptr) << VELTO_MODULE_NAME;
  for (const char* name : kExports) EXPECT_NE(test::ModuleEntry(module_, name), nullptr) << name;
  // Internal names stay inside.
  EXPECT_EQ(test::ModuleEntry(module_, "ModuleStartup"), nullptr);
  EXPECT_EQ(test::ModuleEntry(module_, "_ZN5velto13ModuleStartupEv"), nullptr);
}

TEST_F(ModuleTest, StartupLoadedCfgBridge) {
  ASSERT_NE(module_, nullptr);
  std::string error;
  EXPECT_NE(test::OpenSiblingLibrary(platform::kCfgBridgeFileName, true, &error), nullptr) << error;
}

TEST_F(ModuleTest, FreeMemoryTakesMallocBlocksAndNull) {
  ASSERT_NE(module_, nullptr);
  auto free_memory = Entry<decltype(EapPeerFreeMemory)>("EapPeerFreeMemory");
  auto free_error = Entry<decltype(EapPeerFreeErrorMemory)>("EapPeerFreeErrorMemory");
  ASSERT_TRUE(free_memory && free_error);
  free_memory(nullptr);
  free_error(nullptr);
  free_memory(std::malloc(1520));
  free_error(static_cast<EAP_ERROR*>(std::calloc(1, sizeof(EAP_ERROR))));
}

TEST_F(ModuleTest, RegistrationReportsSuccessAndDoesNothing) {
  ASSERT_NE(module_, nullptr);
  auto reg = Entry<decltype(DllRegisterServer)>("DllRegisterServer");
  auto unreg = Entry<decltype(DllUnregisterServer)>("DllUnregisterServer");
  ASSERT_TRUE(reg && unreg);
  EXPECT_EQ(reg(), 0);
  EXPECT_EQ(unreg(), 0);
}

TEST_F(ModuleTest, NoOpEntriesLeaveEveryOutputAsTheCallerSetIt) {
  ASSERT_NE(module_, nullptr);
  auto creds = Entry<decltype(EapPeerCredentialsXml2Blob)>("EapPeerCredentialsXml2Blob");
  auto interactive = Entry<decltype(EapPeerInvokeInteractiveUI)>("EapPeerInvokeInteractiveUI");
  ASSERT_TRUE(creds && interactive);

  EAP_METHOD_TYPE type{};
  type.eapType.type = kEapTypeTtls;
  BYTE sentinel_byte = 0;
  BYTE* out = &sentinel_byte;
  DWORD size = 0xDEADBEEF;
  EAP_ERROR* error = reinterpret_cast<EAP_ERROR*>(0x1234);
  const BYTE config[4] = {1, 2, 3, 4};

  EXPECT_EQ(creds(0, type, nullptr, config, sizeof config, &out, &size, &error), 0u);
  EXPECT_EQ(out, &sentinel_byte);
  EXPECT_EQ(size, 0xDEADBEEFu);
  EXPECT_EQ(error, reinterpret_cast<EAP_ERROR*>(0x1234));

  EXPECT_EQ(interactive(&type, nullptr, sizeof config, config, &size, &out, &error), 0u);
  EXPECT_EQ(out, &sentinel_byte);
  EXPECT_EQ(size, 0xDEADBEEFu);
  EXPECT_EQ(error, reinterpret_cast<EAP_ERROR*>(0x1234));
}

}  // namespace
}  // namespace velto
