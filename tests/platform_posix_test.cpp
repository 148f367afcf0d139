// Linux-only behaviour of the platform services: the key file of data
// protection, the file layout of the registry store, and the UTF-8 repair
// rules that Wine's converter does not share.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <latch>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "frame/eap_abi.h"
#include "frame/registry.h"
#include "frame/text_convert.h"
#include "protect/data_protection.h"
#include "support/test_env.h"

namespace velto::platform {
namespace {

namespace fs = std::filesystem;

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    test::SetEnvVar(name, value);
  }
  ~ScopedEnv() { test::SetEnvVar(name_.c_str(), old_ ? old_->c_str() : nullptr); }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

// Type, permissions, size and, for a file, the bytes: what a writer would change.
std::string Fingerprint(const fs::path& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return "missing";
  std::string print = std::to_string(st.st_mode) + "/" + std::to_string(st.st_size);
  if (S_ISREG(st.st_mode)) print += "/" + ReadFile(path);
  return print;
}

std::vector<std::string> Entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  return names;
}

// --------------------------------------------------------- data protection

class DataProtectionPosix : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = test::MakeTempDir();
    ASSERT_FALSE(home_.empty());
    xdg_.emplace("XDG_DATA_HOME", (home_ / "data").c_str());
  }
  void TearDown() override {
    xdg_.reset();
    test::RemoveTree(home_);
  }

  fs::path KeyFile() const { return home_ / "data" / "veltoeap" / "key"; }

  static std::optional<std::vector<uint8_t>> Seal(const std::string& text) {
    ProtectedBlob blob;
    if (!g_data_protection->protect(reinterpret_cast<const uint8_t*>(text.data()),
                                    static_cast<uint32_t>(text.size()), nullptr, 0, &blob)) {
      return std::nullopt;
    }
    std::vector<uint8_t> sealed(blob.data, blob.data + blob.size);
    g_data_protection->free_blob(&blob);
    return sealed;
  }

  static std::optional<std::string> Open(const std::vector<uint8_t>& sealed) {
    ProtectedBlob blob;
    if (!g_data_protection->unprotect(sealed.data(), static_cast<uint32_t>(sealed.size()), nullptr,
                                      0, false, &blob)) {
      return std::nullopt;
    }
    std::string text(reinterpret_cast<char*>(blob.data), blob.size);
    g_data_protection->free_blob(&blob);
    return text;
  }

  fs::path home_;
  std::optional<ScopedEnv> xdg_;
};

TEST_F(DataProtectionPosix, FirstUseMakesAnOwnerOnlyKeyAndAVersionedBlob) {
  std::optional<std::vector<uint8_t>> sealed = Seal("secret");
  ASSERT_TRUE(sealed.has_value());
  EXPECT_EQ(sealed->size(), 1 + 24 + 6 + 16u);
  EXPECT_EQ((*sealed)[0], 0x01);

  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(KeyFile())));
  EXPECT_EQ(fs::file_size(KeyFile()), 32u);
  EXPECT_EQ(ModeOf(KeyFile()), 0600u);
  EXPECT_EQ(ModeOf(KeyFile().parent_path()), 0700u);
  EXPECT_EQ(Entries(KeyFile().parent_path()), std::vector<std::string>{"key"});

  const std::string key = ReadFile(KeyFile());
  ASSERT_TRUE(Seal("again").has_value());
  EXPECT_EQ(ReadFile(KeyFile()), key) << "the key must be made once";
}

TEST_F(DataProtectionPosix, AnotherDataHomeIsAnotherUsersKey) {
  std::optional<std::vector<uint8_t>> sealed = Seal("for one user only");
  ASSERT_TRUE(sealed.has_value());
  {
    ScopedEnv other("XDG_DATA_HOME", (home_ / "other").c_str());
    ASSERT_TRUE(Seal("makes the other key").has_value());
    EXPECT_FALSE(Open(*sealed).has_value());
  }
  EXPECT_EQ(Open(*sealed), "for one user only");
}

TEST_F(DataProtectionPosix, WithoutHomeVariablesTheKeyLivesUnderHome) {
  ScopedEnv relative("XDG_DATA_HOME", "relative/data");  // not absolute: ignored
  ScopedEnv home("HOME", home_.c_str());
  std::optional<std::vector<uint8_t>> sealed = Seal("x");
  ASSERT_TRUE(sealed.has_value());
  EXPECT_TRUE(fs::exists(home_ / ".local" / "share" / "veltoeap" / "key"));
  EXPECT_EQ(Open(*sealed), "x");
}

TEST_F(DataProtectionPosix, UnsafeKeyFilesAreRefusedAndNeverReplaced) {
  std::optional<std::vector<uint8_t>> sealed = Seal("kept");
  ASSERT_TRUE(sealed.has_value());
  const fs::path spare = home_ / "spare-key";
  fs::copy_file(KeyFile(), spare);

  struct Case {
    const char* what;
    void (*spoil)(const fs::path& key, const fs::path& spare);
  } cases[] = {
      {"readable by others", [](const fs::path& k, const fs::path&) { chmod(k.c_str(), 0644); }},
      {"writable by group", [](const fs::path& k, const fs::path&) { chmod(k.c_str(), 0620); }},
      {"too short", [](const fs::path& k, const fs::path&) { fs::resize_file(k, 31); }},
      {"too long", [](const fs::path& k, const fs::path&) { fs::resize_file(k, 33); }},
      {"a link",
       [](const fs::path& k, const fs::path& s) {
         fs::remove(k);
         fs::create_symlink(s, k);
       }},
      {"a directory",
       [](const fs::path& k, const fs::path&) {
         fs::remove(k);
         fs::create_directory(k);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.spoil(KeyFile(), spare);
    const std::string spoiled = Fingerprint(KeyFile());
    EXPECT_FALSE(Seal("new").has_value());
    EXPECT_FALSE(Open(*sealed).has_value());
    EXPECT_EQ(Fingerprint(KeyFile()), spoiled) << "the key file was touched";

    // Put the good key back for the next case.
    fs::remove_all(KeyFile());
    fs::copy_file(spare, KeyFile());
    chmod(KeyFile().c_str(), 0600);
    ASSERT_EQ(Open(*sealed), "kept");
  }
}

TEST_F(DataProtectionPosix, KeyOfAnotherOwnerIsRefused) {
  ASSERT_TRUE(Seal("x").has_value());
  if (chown(KeyFile().c_str(), geteuid() + 1, static_cast<gid_t>(-1)) != 0) {
    GTEST_SKIP() << "changing the owner needs root";
  }
  EXPECT_FALSE(Seal("y").has_value());
}

TEST_F(DataProtectionPosix, EveryDamagedByteFails) {
  std::optional<std::vector<uint8_t>> sealed = Seal("twenty-four bytes of it.");
  ASSERT_TRUE(sealed.has_value());
  for (size_t i = 0; i < sealed->size(); ++i) {
    for (uint8_t flip : {0x01, 0x80}) {
      std::vector<uint8_t> damaged = *sealed;
      damaged[i] ^= flip;
      EXPECT_FALSE(Open(damaged).has_value()) << "byte " << i << " ^ " << int{flip};
    }
  }
  std::vector<uint8_t> next_version = *sealed;
  next_version[0] = 0x02;
  EXPECT_FALSE(Open(next_version).has_value());
}

TEST_F(DataProtectionPosix, EmptyTextComesBackAsAnEmptyNonNullBlob) {
  ProtectedBlob sealed;
  ASSERT_TRUE(g_data_protection->protect(nullptr, 0, nullptr, 0, &sealed));
  ProtectedBlob plain;
  ASSERT_TRUE(g_data_protection->unprotect(sealed.data, sealed.size, nullptr, 0, true, &plain));
  EXPECT_NE(plain.data, nullptr);
  EXPECT_EQ(plain.size, 0u);
  g_data_protection->free_blob(&plain);
  g_data_protection->free_blob(&sealed);
  EXPECT_EQ(sealed.data, nullptr);
  EXPECT_EQ(sealed.size, 0u);
}

TEST_F(DataProtectionPosix, RacingFirstUsersAgreeOnOneKey) {
  constexpr int kThreads = 8;
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    const std::string data_home = (home_ / ("race" + std::to_string(round))).string();
    ScopedEnv xdg("XDG_DATA_HOME", data_home.c_str());
    std::vector<std::optional<std::vector<uint8_t>>> sealed(kThreads);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&sealed, &start, i] {
        start.arrive_and_wait();
        sealed[i] = Seal("text " + std::to_string(i));
      });
    }
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < kThreads; ++i) {
      ASSERT_TRUE(sealed[i].has_value()) << i;
      EXPECT_EQ(Open(*sealed[i]), "text " + std::to_string(i));
    }
    EXPECT_EQ(Entries(fs::path(data_home) / "veltoeap"), std::vector<std::string>{"key"});
  }
}

// ---------------------------------------------------------------- registry

class RegistryPosix : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test::MakeTempDir();
    ASSERT_FALSE(root_.empty());
    env_.emplace("VELTOEAP_REGISTRY_ROOT", root_.c_str());
  }
  void TearDown() override {
    env_.reset();
    test::RemoveTree(root_);
  }

  static uint32_t Set(RegistryKey* key, const char* name, const std::string& bytes,
                      uint32_t type = kRegSz) {
    return g_registry->set_value(key, name, type, reinterpret_cast<const uint8_t*>(bytes.data()),
                                 static_cast<uint32_t>(bytes.size()));
  }

  fs::path root_;
  std::optional<ScopedEnv> env_;
};

TEST_F(RegistryPosix, ValueIsAFileHoldingExactlyItsBytes) {
  RegistryKey* key = nullptr;
  ASSERT_EQ(g_registry->create_machine_key(kVeltoWirelessKey, &key), kNoError);
  const std::string bytes("C:\\Program Files\\x\0", 19);
  ASSERT_EQ(Set(key, "InstallDir", bytes), kNoError);
  ASSERT_EQ(Set(key, "Empty", ""), kNoError);

  const fs::path dir = root_ / "HKEY_LOCAL_MACHINE" / "SOFTWARE" / "Velto" / "Wireless";
  EXPECT_EQ(ReadFile(dir / "InstallDir"), bytes);
  EXPECT_EQ(fs::file_size(dir / "Empty"), 0u);
  std::vector<std::string> entries = Entries(dir);
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"Empty", "InstallDir"})) << "temporary file left";

  // A null buffer asks for the size only.
  uint32_t size = 0;
  uint32_t type = 0;
  EXPECT_EQ(g_registry->query_value(key, "InstallDir", &type, nullptr, &size), kNoError);
  EXPECT_EQ(size, bytes.size());
  EXPECT_EQ(type, kRegSz);
  g_registry->close_key(key);
}

TEST_F(RegistryPosix, NamesThatLeaveTheKeyAreRefused) {
  const char* subkeys[] = {"",  "\\SOFTWARE", "SOFTWARE\\",          "A\\\\B",         "..",
                           ".", "A\\..\\..",  "SOFTWARE\\..\\..\\x", "SOFTWARE/Velto", "A\\.\\B"};
  for (const char* subkey : subkeys) {
    for (RegAccess access : {RegAccess::kRead, RegAccess::kWrite}) {
      RegistryKey* key = nullptr;
      EXPECT_EQ(g_registry->open_machine_key(subkey, access, &key), kErrorInvalidParameter)
          << "\"" << subkey << "\"";
    }
  }

  RegistryKey* key = nullptr;
  ASSERT_EQ(g_registry->create_machine_key(kVeltoWirelessKey, &key), kNoError);
  for (const char* name : {"", ".", "..", "../escape", "a/b"}) {
    uint8_t buffer[8];
    uint32_t size = sizeof buffer;
    EXPECT_EQ(g_registry->query_value(key, name, nullptr, buffer, &size), kErrorInvalidParameter)
        << "\"" << name << "\"";
    EXPECT_EQ(Set(key, name, "x"), kErrorInvalidParameter) << "\"" << name << "\"";
    EXPECT_EQ(g_registry->delete_value(key, name), kErrorInvalidParameter) << "\"" << name << "\"";
  }
  g_registry->close_key(key);

  // Nothing was made outside the hive's own tree.
  EXPECT_EQ(Entries(root_), std::vector<std::string>{"HKEY_LOCAL_MACHINE"});
  EXPECT_EQ(Entries(root_ / "HKEY_LOCAL_MACHINE"), std::vector<std::string>{"SOFTWARE"});
}

TEST_F(RegistryPosix, OnlyStringValuesAreStored) {
  RegistryKey* key = nullptr;
  ASSERT_EQ(g_registry->create_machine_key(kVeltoWirelessKey, &key), kNoError);
  EXPECT_EQ(Set(key, "Count", std::string(4, '\0'), 4 /* REG_DWORD */), kErrorInvalidParameter);
  uint32_t size = 0;
  EXPECT_EQ(g_registry->query_value(key, "Count", nullptr, nullptr, &size), kErrorFileNotFound);
  g_registry->close_key(key);
}

TEST_F(RegistryPosix, SubkeyIsNoValue) {
  RegistryKey* sub = nullptr;
  std::string subkey = std::string(kVeltoWirelessKey) + "\\Profiles";
  ASSERT_EQ(g_registry->create_machine_key(subkey.c_str(), &sub), kNoError);
  g_registry->close_key(sub);

  RegistryKey* key = nullptr;
  ASSERT_EQ(g_registry->create_machine_key(kVeltoWirelessKey, &key), kNoError);
  uint8_t buffer[8];
  uint32_t size = sizeof buffer;
  EXPECT_EQ(g_registry->query_value(key, "Profiles", nullptr, buffer, &size), kErrorFileNotFound);
  EXPECT_EQ(g_registry->delete_value(key, "Profiles"), kErrorFileNotFound);
  EXPECT_NE(Set(key, "Profiles", "x"), kNoError);
  g_registry->close_key(key);
  EXPECT_TRUE(fs::is_directory(root_ / "HKEY_LOCAL_MACHINE/SOFTWARE/Velto/Wireless/Profiles"));
}

// --------------------------------------------------------- text conversion

// Each maximal subpart of an ill-formed sequence becomes one U+FFFD. Wine's
// converter folds the first bad trail byte into the lead instead, so the first
// four cases hold here only. The ANSI code page gives the same, being UTF-8.
TEST(TextConvertPosix, EachMaximalSubpartBecomesOneReplacement) {
  struct Case {
    const char* what;
    std::string utf8;
    std::u16string utf16;
  } cases[] = {
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"overlong three bytes", "\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"overlong four bytes", "\xF0\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"cut short, then whole", "\xF0\x9F\x98\xF0\x9F\x98\x80", u"\uFFFD\U0001F600"},
      {"after a whole one", "\xC3\xA9\x80", u"\u00E9\uFFFD"},
      {"nul inside a sequence", std::string("\xE2\0\x82", 3), std::u16string(u"\uFFFD\0\uFFFD", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int n8 = static_cast<int>(c.utf8.size());
    char16_t wide[16];
    int n = MultiByteToWide(CodePage::kUtf8, c.utf8.data(), n8, wide, 16);
    EXPECT_EQ(std::u16string(wide, n > 0 ? n : 0), c.utf16);
    char16_t ansi[16];
    EXPECT_EQ(MultiByteToWide(CodePage::kAnsi, c.utf8.data(), n8, ansi, 16), n);
    EXPECT_EQ(std::u16string(ansi, n > 0 ? n : 0), c.utf16);
  }
}

}  // namespace
}  // namespace velto::platform
