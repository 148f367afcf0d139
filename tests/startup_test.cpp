#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "frame/library.h"
#include "frame/registry.h"
#include "frame/startup.h"
#include "doubles/sibling_library.h"
#include "support/test_env.h"

namespace velto {
namespace {

// Points the registry (on Linux) and the common files folder (on Linux) at a
// private folder, and removes the module's values before and after.
class StartupTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = test::MakeTempDir();
    ASSERT_FALSE(root_.empty());
    test::SetEnvVar("VELTOEAP_REGISTRY_ROOT", (root_ + "/registry").c_str());
    test::SetEnvVar("VELTOEAP_COMMON_FILES", (root_ + "/common").c_str());
    DeleteBinDir();
  }
  void TearDown() override {
    DeleteBinDir();
    test::SetEnvVar("VELTOEAP_REGISTRY_ROOT", nullptr);
    test::SetEnvVar("VELTOEAP_COMMON_FILES", nullptr);
    test::RemoveTree(root_);
  }

  static void SetBinDir(const std::string& value) {
    const platform::RegistryApi& reg = *platform::g_registry;
    platform::RegistryKey* key = nullptr;
    ASSERT_EQ(reg.create_machine_key(platform::kVeltoWirelessKey, &key), 0u);
    // Written as an installer writes a REG_SZ: with its terminator.
    EXPECT_EQ(reg.set_value(key, kTamrixBinDirValue, platform::kRegSz,
                            reinterpret_cast<const uint8_t*>(value.c_str()),
                            static_cast<uint32_t>(value.size() + 1)),
              0u);
    reg.close_key(key);
  }
  static void DeleteBinDir() {
    const platform::RegistryApi& reg = *platform::g_registry;
    platform::RegistryKey* key = nullptr;
    if (reg.open_machine_key(platform::kVeltoWirelessKey, platform::RegAccess::kWrite, &key) == 0) {
      reg.delete_value(key, kTamrixBinDirValue);
      reg.close_key(key);
    }
  }
  static std::string LibraryDirectory() {
    char dir[1024] = {};
    EXPECT_TRUE(platform::GetLibraryDirectory(dir, sizeof dir));
    return dir;
  }

  std::string root_;
};

TEST_F(StartupTest, SetsTheLibraryDirectoryFromTheRegistry) {
  std::string dir = root_ + test::PathSeparator() + "bin";
  SetBinDir(dir);
  ModuleStartup();
  EXPECT_EQ(LibraryDirectory(), dir);
}

TEST_F(StartupTest, AbsentValueSetsTheEmptyDirectory) {
  SetBinDir("something");
  ModuleStartup();
  ASSERT_EQ(LibraryDirectory(), "something");
  DeleteBinDir();
  ModuleStartup();
  EXPECT_EQ(LibraryDirectory(), "");
}

// The value is read with a limit of 259 bytes, terminator included.
TEST_F(StartupTest, SiblingDirectoryValueLimits) {
  struct Case {
    size_t length;
    bool kept;
  } cases[] = {{1, true}, {200, true}, {258, true}, {259, false}, {400, false}};
  for (const Case& c : cases) {
    std::string value(c.length, 'd');
    SetBinDir(value);
    char dir[kMaxPath];
    std::memset(dir, 'x', sizeof dir);
    ReadSiblingDirectory(dir);
    EXPECT_EQ(std::string(dir), c.kept ? value : "") << c.length;
  }
}

uint32_t RefuseOpen(const char*, platform::RegAccess, platform::RegistryKey**) { return 5; }

TEST_F(StartupTest, UnreadableKeyGivesTheEmptyDirectory) {
  SetBinDir("present");
  platform::RegistryApi refusing = platform::g_registry.platform();
  refusing.open_machine_key = RefuseOpen;
  ScopedSeamOverride<platform::RegistryApi> use(platform::g_registry, &refusing);
  char dir[kMaxPath];
  ReadSiblingDirectory(dir);
  EXPECT_STREQ(dir, "");
}

TEST_F(StartupTest, LoadsCfgBridgeFromTheCommonFilesFolder) {
  char folder[kMaxPath] = {};
  ASSERT_TRUE(platform::CommonFilesFolder(folder, sizeof folder));
  char path[kMaxPath];
  ASSERT_TRUE(BuildCfgBridgePath(folder, path));
  std::filesystem::path target(path);
  std::error_code ec;
  std::filesystem::create_directories(target.parent_path(), ec);
  std::filesystem::copy_file(VELTO_CFGBRIDGE_PATH, target,
                             std::filesystem::copy_options::overwrite_existing, ec);
  ASSERT_TRUE(std::filesystem::exists(target)) << target.string() << ": " << ec.message();

  ModuleStartup();
  std::string error;
  EXPECT_NE(test::OpenSiblingLibrary(VELTO_CFGBRIDGE_NAME, true, &error), nullptr) << error;
}

TEST(CfgBridgePath, IsSkippedWhenItDoesNotFit) {
  char path[kMaxPath];
  const size_t tail = std::strlen(platform::kCfgBridgeSubfolder) + std::strlen(platform::kCfgBridgeFileName);
  std::string fits(kMaxPath - 1 - tail, 'f');
  ASSERT_TRUE(BuildCfgBridgePath(fits.c_str(), path));
  EXPECT_EQ(std::strlen(path), kMaxPath - 1);
  EXPECT_EQ(std::string(path), fits + platform::kCfgBridgeSubfolder + platform::kCfgBridgeFileName);

  std::string too_long(kMaxPath - tail, 'f');
  EXPECT_FALSE(BuildCfgBridgePath(too_long.c_str(), path));
  EXPECT_STREQ(path, "");
}

}  // namespace
}  // namespace velto
