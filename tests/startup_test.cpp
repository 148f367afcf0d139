// The module's start-up: the sibling libraries' folder from the registry,
// cfgbridge from the common files folder.
#include <gtest/gtest.h>
#include <cstring>
#include <filesystem>
#include <string>

#include "doubles/sibling_library.h"
#include "frame/library.h"
#include "frame/registry.h"
#include "frame/startup.h"
#include "support/test_env.h"

namespace velto {
namespace {

namespace fs = std::filesystem;

// The registry and the common files folder (on Linux) in a private folder.
class StartupTest : public testing::Test {
 protected:
  void SetUp() override { SetBinDir(nullptr); }
  void TearDown() override { SetBinDir(nullptr), test::RemoveTree(root_); }

  // Written as an installer writes a REG_SZ, with its terminator; null removes it.
  static void SetBinDir(const char* value) {
    const platform::RegistryApi& reg = *platform::g_registry;
    platform::RegistryKey* key = nullptr;
    ASSERT_EQ(reg.create_machine_key(platform::kVeltoWirelessKey, &key), 0u);
    if (value == nullptr) reg.delete_value(key, kTamrixBinDirValue);
    else EXPECT_EQ(reg.set_value(key, kTamrixBinDirValue, platform::kRegSz, reinterpret_cast<const uint8_t*>(value),
                                 static_cast<uint32_t>(std::strlen(value) + 1)), 0u);
    reg.close_key(key);
  }
  const std::string root_ = test::MakeTempDir();
  test::ScopedEnvVar registry_{"VELTOEAP_REGISTRY_ROOT", (root_ + "/registry").c_str()};
  test::ScopedEnvVar common_{"VELTOEAP_COMMON_FILES", (root_ + "/common").c_str()};
};

// The value is read with a limit of 259 bytes, terminator included; a key that cannot be
// opened gives no folder. Each start-up takes the folder afresh: without the value, empty.
TEST_F(StartupTest, SiblingDirectoryValueLimits) {
  char dir[kMaxPath];
  for (size_t length : {1, 258, 259, 400}) {
    const std::string value(length, 'd');
    SetBinDir(value.c_str());
    std::memset(dir, 'x', sizeof dir);
    ReadSiblingDirectory(dir);
    EXPECT_EQ(std::string(dir), length < 259 ? value : "") << length;
  }
  // The start-up also loads cfgbridge from the common files folder.
  char folder[kMaxPath] = {}, path[kMaxPath];
  ASSERT_TRUE(platform::CommonFilesFolder(folder, sizeof folder) && BuildCfgBridgePath(folder, path));
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  fs::copy_file(VELTO_CFGBRIDGE_PATH, path, fs::copy_options::overwrite_existing, ec);
  ASSERT_TRUE(fs::exists(path)) << path << ": " << ec.message();
  const std::string bin = root_ + test::PathSeparator() + "bin";
  for (const char* value : {bin.c_str(), static_cast<const char*>(nullptr)}) {
    SetBinDir(value);
    ModuleStartup();
    ASSERT_TRUE(platform::GetLibraryDirectory(dir, sizeof dir));
    EXPECT_STREQ(dir, value ? value : "");
  }
  std::string error;
  EXPECT_NE(test::OpenSiblingLibrary(VELTO_CFGBRIDGE_NAME, true, &error), nullptr) << error;
  SetBinDir("present");
  platform::RegistryApi refusing = platform::g_registry.platform();
  refusing.open_machine_key = [](const char*, platform::RegAccess, platform::RegistryKey**) { return 5u; };
  ScopedSeamOverride<platform::RegistryApi> use(platform::g_registry, &refusing);
  std::memset(dir, 'x', sizeof dir);
  ReadSiblingDirectory(dir);
  EXPECT_STREQ(dir, "");
}

TEST(CfgBridgePath, IsSkippedWhenItDoesNotFit) {
  char path[kMaxPath];
  const size_t tail = std::strlen(platform::kCfgBridgeSubfolder) + std::strlen(platform::kCfgBridgeFileName);
  const std::string fits(kMaxPath - 1 - tail, 'f');
  EXPECT_TRUE(BuildCfgBridgePath(fits.c_str(), path));
  EXPECT_EQ(std::string(path), fits + platform::kCfgBridgeSubfolder + platform::kCfgBridgeFileName);
  EXPECT_FALSE(BuildCfgBridgePath((fits + 'f').c_str(), path));
  EXPECT_STREQ(path, "");
}

}  // namespace
}  // namespace velto
