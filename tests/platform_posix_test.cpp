// Linux-only behaviour of the platform services: the data protection key file, the registry
// store's files, UTF-8 repair rules Wine's converter does not share, library directory, heap.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <latch>
#include <optional>
#include <thread>

#include "base/memory.h"
#include "frame/exports.h"
#include "frame/library.h"
#include "frame/registry.h"
#include "frame/text_convert.h"
#include "protect/custom_protect.h"
#include "protect/key_file_posix.h"
#include "support/test_env.h"
#include "support/vectors.h"  // ReadFile

namespace velto::platform::ptest {  // platform_test.cpp
std::optional<std::string> Seal(const std::string& plain, const char* entropy = nullptr);
std::optional<std::string> Open(const std::string& sealed, const char* entropy = nullptr);
void ConvertCases(const std::string& wide, CodePage cp);
}  // namespace velto::platform::ptest

namespace velto::platform {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
using ScopedEnv = test::ScopedEnvVar;
using namespace ptest;

Names Entries(const fs::path& dir) {
  Names names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  return std::sort(names.begin(), names.end()), names;
}

class DataProtectionPosix : public ::testing::Test {
 protected:
  void TearDown() override { test::RemoveTree(home_); }
  fs::path KeyFile() const { return home_ / "data" / "veltoeap" / "key"; }
  const fs::path home_ = test::MakeTempDir();
  ScopedEnv xdg_{"XDG_DATA_HOME", (home_ / "data").c_str()};
};

// First use makes one owner-only key in an owner-only folder, once, with no
// temporary file left: also where hard links fail (the key is made in place).
TEST_F(DataProtectionPosix, FileSystemWithoutLinksStillGetsOneKey) {
  static const KeyLinkApi kNoLinks = {[](int, const char*, int, const char*, int) { return errno = EPERM, -1; }};
  for (const KeyLinkApi* links : {&g_key_link.platform(), &kNoLinks}) {
    ScopedSeamOverride<KeyLinkApi> use(g_key_link, links);
    fs::remove_all(home_ / "data");
    const std::string sealed = Seal("one key").value_or("");
    EXPECT_TRUE(fs::status(KeyFile()).permissions() == (fs::perms::owner_read | fs::perms::owner_write) &&
                fs::status(KeyFile().parent_path()).permissions() == fs::perms::owner_all);
    EXPECT_EQ(Entries(KeyFile().parent_path()), Names{"key"}) << "temporary file left";
    const std::string key = test::ReadFile(KeyFile());
    EXPECT_EQ(Open(Seal("again").value_or("")), "again");
    EXPECT_EQ(test::ReadFile(KeyFile()), key) << "the key must be made once";
    EXPECT_EQ(Open(sealed), "one key");
  }
}

// Version, nonce, sealed text and tag: every byte counts, and a blob cut short opens nothing.
TEST_F(DataProtectionPosix, BlobIsVersionedAndEveryDamagedByteFails) {
  const std::string sealed = Seal("twenty-four bytes of it.").value_or("");
  EXPECT_TRUE(sealed.size() == 1 + 24 + 24 + 16u && sealed.front() == '\x01');
  for (size_t i = 0; i < sealed.size(); ++i) {
    std::string damaged = sealed;
    damaged[i] ^= 0x80;
    EXPECT_TRUE(Open(damaged) == std::nullopt && Open(sealed.substr(0, i)) == std::nullopt) << "byte " << i;
  }
}

// A key file, or a folder on the way to it, not the way we make it may be another's doing
// (whoever can write in such a folder can swap the key): it is neither used nor replaced.
TEST_F(DataProtectionPosix, UnsafeKeyFilesAndFoldersAreRefused) {
  const std::optional<std::string> sealed = Seal("kept");
  ASSERT_TRUE(sealed.has_value());
  const fs::path key = KeyFile(), folder = key.parent_path(), spare = home_ / "spare", moved = home_ / "moved";
  fs::copy_file(key, spare);
  auto mode = [](const fs::path& path, mode_t m) { return [=] { return chmod(path.c_str(), m) == 0; }; };
  auto owner = [](const fs::path& path, uid_t uid) {  // needs root
    return [=] { return chown(path.c_str(), uid, static_cast<gid_t>(-1)) == 0; };
  };
  auto good_key = [&] { return fs::remove_all(key), fs::copy_file(spare, key); };
  const struct {
    const char* what;
    std::function<bool()> spoil, mend;  // spoil false: cannot here
  } cases[] = {
      {"key readable by others", mode(key, 0604), good_key},
      {"key writable by group", mode(key, 0620), good_key},
      {"key too short", [&] { return fs::resize_file(key, 31), true; }, good_key},
      {"key too long", [&] { return fs::resize_file(key, 33), true; }, good_key},
      {"key a link", [&] { return fs::remove(key), fs::create_symlink(spare, key), true; }, good_key},
      {"key a directory", [&] { return fs::remove(key), fs::create_directory(key); }, good_key},
      // Opening it must not wait for a writer.
      {"key a FIFO", [&] { return fs::remove(key), mkfifo(key.c_str(), 0600) == 0; }, good_key},
      {"key of another owner", owner(key, geteuid() + 1), good_key},
      {"key folder writable by group", mode(folder, 0770), mode(folder, 0700)},
      {"key folder writable by others", mode(folder, 0703), mode(folder, 0700)},
      {"data root writable by others", mode(folder.parent_path(), 0777), mode(folder.parent_path(), 0700)},
      {"key folder a link to a folder with a good key",
       [&] { return fs::rename(folder, moved), fs::create_directory_symlink(moved, folder), true; },
       [&] { return fs::remove(folder), fs::rename(moved, folder), true; }},
      {"key folder of another owner", owner(folder, geteuid() + 1), owner(folder, geteuid())},
  };
  auto fingerprint = [&] {  // what a writer would change
    struct stat st {};
    if (lstat(key.c_str(), &st) != 0) return std::string("missing");
    return std::to_string(st.st_mode) + "/" + std::to_string(st.st_uid) + "/" + std::to_string(st.st_size) +
           "/" + (S_ISREG(st.st_mode) ? test::ReadFile(key) : "");
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.spoil()) continue;
    const std::string spoiled = fingerprint();
    EXPECT_TRUE(Seal("new") == std::nullopt && Open(*sealed) == std::nullopt);
    EXPECT_EQ(fingerprint(), spoiled) << "the key file was touched";
    c.mend();
    ASSERT_EQ(Open(*sealed), "kept");
  }
}

// A relative home would put the key wherever the process runs; a relative XDG_DATA_HOME is ignored.
TEST_F(DataProtectionPosix, RelativeHomeGivesNoKey) {
  const fs::path cwd = fs::current_path();
  fs::current_path(home_);
  ScopedEnv xdg("XDG_DATA_HOME", "relative-data"), home("HOME", "relative");
  EXPECT_EQ(Seal("x"), std::nullopt);
  EXPECT_EQ(Entries(home_), Names{}) << "a key made in a relative folder";
  fs::current_path(cwd);
  ScopedEnv absolute("HOME", (home_ / "h").c_str());
  EXPECT_TRUE(Seal("x").has_value());
  EXPECT_TRUE(fs::exists(home_ / "h" / ".local" / "share" / "veltoeap" / "key"));
}

TEST_F(DataProtectionPosix, RacingFirstUsersAgreeOnOneKey) {
  for (int round = 0; round < 20; ++round) {
    const fs::path data_home = home_ / ("race" + std::to_string(round));
    ScopedEnv xdg("XDG_DATA_HOME", data_home.c_str());
    std::vector<std::optional<std::string>> sealed(8);
    std::latch start(8);
    std::vector<std::jthread> threads;
    for (int i = 0; i < 8; ++i)
      threads.emplace_back([&, i] { start.arrive_and_wait(), sealed[i] = Seal("text " + std::to_string(i)); });
    threads.clear();  // joins them
    for (int i = 0; i < 8; ++i) EXPECT_EQ(Open(sealed[i].value_or("")), "text " + std::to_string(i));
    EXPECT_EQ(Entries(data_home / "veltoeap"), Names{"key"}) << "round " << round;
  }
}

// A value is a file of its bytes, replaced whole (an old reader reads on the old bytes), read
// whole or not at all (234 and the size needed); a read key changes nothing; a subkey is no
// value and a value blocks a key of its name; names that leave the key or alias one are refused.
TEST(RegistryPosix, ValuesAreFilesAndNamesStayInTheKey) {
  const fs::path root = test::MakeTempDir(), dir = root / "HKEY_LOCAL_MACHINE" / "SOFTWARE" / "Velto" / "Wireless";
  ScopedEnv env("VELTOEAP_REGISTRY_ROOT", root.c_str());
  RegistryKey *key = nullptr, *reader = nullptr, *other = nullptr;
  ASSERT_EQ(g_registry->create_machine_key(kVeltoWirelessKey, &key), kNoError);
  ASSERT_EQ(g_registry->open_machine_key(kVeltoWirelessKey, RegAccess::kRead, &reader), kNoError);
  auto set = [&](const char* name, const std::string& bytes, uint32_t type = kRegSz, RegistryKey* k = nullptr) {
    return g_registry->set_value(k ? k : key, name, type, reinterpret_cast<const uint8_t*>(bytes.data()),
                                 static_cast<uint32_t>(bytes.size()));
  };
  uint32_t size = 0;
  const char* missing = "SOFTWARE\\Velto\\Wireless\\missing";  // the write open first: it must not make it
  EXPECT_TRUE(g_registry->open_machine_key(missing, RegAccess::kWrite, &other) == kErrorFileNotFound &&
              g_registry->open_machine_key(missing, RegAccess::kRead, &other) == kErrorFileNotFound);
  for (const char* subkey : {"", "\\SOFTWARE", "SOFTWARE\\", "A\\\\B", "..", ".", "A\\..\\..", "SOFTWARE\\..\\..\\x",
                             "SOFTWARE/Velto", "A\\.\\B"}) {
    EXPECT_EQ(g_registry->open_machine_key(subkey, RegAccess::kRead, &other), kErrorInvalidParameter) << subkey;
    EXPECT_EQ(g_registry->create_machine_key(subkey, &other), kErrorInvalidParameter) << subkey;
  }
  for (const char* name : {"", ".", "..", "../escape", "a/b"}) {
    EXPECT_EQ(g_registry->query_value(key, name, nullptr, nullptr, &size), kErrorInvalidParameter) << name;
    EXPECT_EQ(set(name, "x"), kErrorInvalidParameter) << name;
    EXPECT_EQ(g_registry->delete_value(key, name), kErrorInvalidParameter) << name;
  }
  EXPECT_TRUE(Entries(root) == Names{"HKEY_LOCAL_MACHINE"} && Entries(dir).empty()) << "made for a bad name";

  const std::string bytes("C:\\Program Files\\x\0", 19);
  ASSERT_EQ(set("InstallDir", "the old, longer bytes"), kNoError);
  std::ifstream old_file(dir / "InstallDir", std::ios::binary);
  ASSERT_EQ(set("InstallDir", bytes), kNoError);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old_file), {}), "the old, longer bytes");
  for (uint32_t capacity : {0u, 18u, 19u, 20u}) {
    char buffer[20];
    uint32_t type = 0;
    size = capacity;
    const uint32_t status =
        g_registry->query_value(reader, "InstallDir", &type, reinterpret_cast<uint8_t*>(buffer), &size);
    EXPECT_TRUE(status == (capacity < 19 ? kErrorMoreData : kNoError) && size == 19u) << capacity;
    EXPECT_TRUE(status != kNoError || (std::string(buffer, size) == bytes && type == kRegSz));
  }
  EXPECT_TRUE(set("InstallDir", "x", kRegSz, reader) == kErrorAccessDenied &&
              g_registry->delete_value(reader, "InstallDir") == kErrorAccessDenied);
  EXPECT_EQ(test::ReadFile(dir / "InstallDir"), bytes);
  EXPECT_TRUE(set("Empty", "") == kNoError && fs::file_size(dir / "Empty") == 0u);
  EXPECT_EQ(set("Count", std::string(4, '\0'), 4 /* REG_DWORD */), kErrorInvalidParameter);
  fs::create_directory(dir / "Profiles");
  EXPECT_TRUE(g_registry->query_value(key, "Profiles", nullptr, nullptr, &size) == kErrorFileNotFound &&
              g_registry->delete_value(key, "Profiles") == kErrorFileNotFound);
  EXPECT_EQ(set("Profiles", "x"), kErrorAccessDenied);
  EXPECT_EQ(Entries(dir), (Names{"Empty", "InstallDir", "Profiles"})) << "temporary file left";
  ASSERT_EQ(set("Profile", "x"), kNoError);
  for (const char* subkey : {"SOFTWARE\\Velto\\Wireless\\Profile", "SOFTWARE\\Velto\\Wireless\\Profile\\One"})
    EXPECT_EQ(g_registry->create_machine_key(subkey, &other), kErrorAccessDenied) << subkey;
  EXPECT_EQ(g_registry->delete_value(key, "Profile"), kNoError);
  EXPECT_EQ(g_registry->delete_value(key, "Profile"), kErrorFileNotFound);
  g_registry->close_key(reader), g_registry->close_key(key);
  test::RemoveTree(root);
}

// Each maximal subpart of an ill-formed sequence becomes one U+FFFD, in both
// code pages (the ANSI one being UTF-8 here).
TEST(TextConvertPosix, EachMaximalSubpartBecomesOneReplacement) {
  for (CodePage cp : {CodePage::kUtf8, CodePage::kAnsi}) ptest::ConvertCases("posix", cp);
  ptest::ConvertCases("wide", CodePage::kAnsi);
}

// The library directory is handed out only whole, terminator included.
TEST(LibraryDirectory, OnlyWholeIntoABufferThatHoldsIt) {
  char kept[512] = {};
  ASSERT_TRUE(GetLibraryDirectory(kept, sizeof kept));
  SetLibraryDirectory("/opt/velto");
  char buffer[16];
  EXPECT_FALSE(GetLibraryDirectory(buffer, 10) || GetLibraryDirectory(nullptr, 11));
  EXPECT_TRUE(GetLibraryDirectory(buffer, 11) && buffer == std::string("/opt/velto"));
  SetLibraryDirectory(kept);
}

// A hundred rounds (after a first) leave glibc's count of the heap in use as it was, give or
// take cached blocks: a block dropped each round shows (a sanitizer's allocator reports nothing).
TEST(HeapBalance, EveryBlockIsGivenBack) {
  const std::vector<std::pair<const char*, std::function<void()>>> rounds = {
      {"free memory", [] { ::EapPeerFreeMemory(std::malloc(4096)); }},
      {"seal and open", [] {
         char *sealed = CryptProtectCustom("secret"), *opened = sealed ? CryptUnprotectCustom(sealed) : nullptr;
         ASSERT_TRUE(sealed && opened);
         WipeAndFreeText(opened), WipeAndFreeText(sealed);
       }},
      {"open what is no sealed text", [] { EXPECT_EQ(CryptUnprotectCustom("AAAAAAAA"), nullptr); }},
  };
  for (const auto& [name, round] : rounds) {
    round();
    const auto before = static_cast<long>(mallinfo2().uordblks);
    for (int i = 0; i < 100; ++i) round();
    EXPECT_LT(std::labs(static_cast<long>(mallinfo2().uordblks) - before), 1024) << name;
  }
}

}  // namespace
}  // namespace velto::platform
