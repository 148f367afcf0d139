// The platform services through their seams, as both targets provide them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/eap_abi.h"
#include "frame/registry.h"
#include "frame/text_convert.h"
#include "frame/user_name.h"
#include "protect/data_protection.h"
#include "support/test_env.h"

namespace velto::platform {
namespace {

// Sets a variable for the life of a scope and puts the old value back.
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

std::string UniqueName(const char* prefix) {
  return prefix + std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
}

// ---------------------------------------------------------------- registry

// On Linux the store lives in a temporary folder; under Wine it is the real
// registry, so every value a test writes is removed again.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test::MakeTempDir();
    ASSERT_FALSE(root_.empty());
    env_.emplace("VELTOEAP_REGISTRY_ROOT", root_.c_str());
    name_ = UniqueName("platform-test-");
    // The installer's step: the module itself only opens the key.
    RegistryKey* key = nullptr;
    ASSERT_EQ(g_registry->create_machine_key(kVeltoWirelessKey, &key), kNoError);
    g_registry->close_key(key);
  }

  void TearDown() override {
    RegistryKey* key = nullptr;
    if (g_registry->open_machine_key(kVeltoWirelessKey, RegAccess::kWrite, &key) == kNoError) {
      g_registry->delete_value(key, name_.c_str());
      g_registry->close_key(key);
    }
    env_.reset();
    test::RemoveTree(root_);
  }

  RegistryKey* Open(RegAccess access) {
    RegistryKey* key = nullptr;
    EXPECT_EQ(g_registry->open_machine_key(kVeltoWirelessKey, access, &key), kNoError);
    return key;
  }

  uint32_t Set(RegistryKey* key, const std::string& bytes) {
    return g_registry->set_value(key, name_.c_str(), kRegSz,
                                 reinterpret_cast<const uint8_t*>(bytes.data()),
                                 static_cast<uint32_t>(bytes.size()));
  }

  // The value's bytes through a fresh read key, or the failing status.
  uint32_t Read(std::string* bytes, uint32_t* type = nullptr) {
    RegistryKey* key = nullptr;
    uint32_t status = g_registry->open_machine_key(kVeltoWirelessKey, RegAccess::kRead, &key);
    if (status != kNoError) return status;
    uint8_t buffer[256];
    uint32_t size = sizeof buffer;
    status = g_registry->query_value(key, name_.c_str(), type, buffer, &size);
    g_registry->close_key(key);
    if (status == kNoError) bytes->assign(reinterpret_cast<char*>(buffer), size);
    return status;
  }

  std::string root_;
  std::optional<ScopedEnv> env_;
  std::string name_;
};

TEST_F(RegistryTest, WrittenValueReadsBackWithItsTypeAndExactBytes) {
  RegistryKey* key = Open(RegAccess::kWrite);
  ASSERT_NE(key, nullptr);
  const std::string first("https://portal.example/\0", 24);
  const std::string second("short\0", 6);
  ASSERT_EQ(Set(key, first), kNoError);
  std::string bytes;
  uint32_t type = 0;
  ASSERT_EQ(Read(&bytes, &type), kNoError);
  EXPECT_EQ(bytes, first);
  EXPECT_EQ(type, kRegSz);

  // A shorter value replaces the longer one entirely.
  ASSERT_EQ(Set(key, second), kNoError);
  ASSERT_EQ(Read(&bytes), kNoError);
  EXPECT_EQ(bytes, second);
  g_registry->close_key(key);
}

TEST_F(RegistryTest, MissingKeyAndMissingValueAreFileNotFound) {
  RegistryKey* key = nullptr;
  std::string missing_key = std::string(kVeltoWirelessKey) + "\\" + UniqueName("no-such-key-");
  EXPECT_EQ(g_registry->open_machine_key(missing_key.c_str(), RegAccess::kRead, &key),
            kErrorFileNotFound);
  // Opening for writing does not create a key either.
  EXPECT_EQ(g_registry->open_machine_key(missing_key.c_str(), RegAccess::kWrite, &key),
            kErrorFileNotFound);

  // The writer makes sure the key itself exists.
  RegistryKey* writer = Open(RegAccess::kWrite);
  ASSERT_NE(writer, nullptr);
  std::string bytes;
  EXPECT_EQ(Read(&bytes), kErrorFileNotFound);
  EXPECT_EQ(g_registry->delete_value(writer, name_.c_str()), kErrorFileNotFound);
  g_registry->close_key(writer);
}

TEST_F(RegistryTest, SmallBufferGivesMoreDataAndTheSizeNeeded) {
  RegistryKey* writer = Open(RegAccess::kWrite);
  ASSERT_NE(writer, nullptr);
  const std::string value("0123456789abcdef\0", 17);
  ASSERT_EQ(Set(writer, value), kNoError);
  g_registry->close_key(writer);

  RegistryKey* key = Open(RegAccess::kRead);
  ASSERT_NE(key, nullptr);

  for (uint32_t capacity : {0u, 1u, 16u}) {
    uint8_t buffer[32];
    uint32_t size = capacity;
    EXPECT_EQ(g_registry->query_value(key, name_.c_str(), nullptr, buffer, &size), kErrorMoreData)
        << capacity;
    EXPECT_EQ(size, value.size()) << capacity;
  }
  uint8_t exact[17];
  uint32_t size = sizeof exact;
  ASSERT_EQ(g_registry->query_value(key, name_.c_str(), nullptr, exact, &size), kNoError);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(exact), size), value);
  g_registry->close_key(key);
}

TEST_F(RegistryTest, ReadKeyRefusesChangesAndWriteKeyDeletes) {
  RegistryKey* writer = Open(RegAccess::kWrite);
  ASSERT_NE(writer, nullptr);
  const std::string value("kept\0", 5);
  ASSERT_EQ(Set(writer, value), kNoError);

  RegistryKey* reader = Open(RegAccess::kRead);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(Set(reader, std::string("changed\0", 8)), kErrorAccessDenied);
  EXPECT_EQ(g_registry->delete_value(reader, name_.c_str()), kErrorAccessDenied);
  g_registry->close_key(reader);
  std::string bytes;
  ASSERT_EQ(Read(&bytes), kNoError);
  EXPECT_EQ(bytes, value);

  EXPECT_EQ(g_registry->delete_value(writer, name_.c_str()), kNoError);
  EXPECT_EQ(Read(&bytes), kErrorFileNotFound);
  EXPECT_EQ(g_registry->delete_value(writer, name_.c_str()), kErrorFileNotFound);
  g_registry->close_key(writer);
}

// --------------------------------------------------------- text conversion

// UTF-16 text in the platform's WCHAR: wchar_t on Windows, char16_t on Linux.
using WideString = std::basic_string<WCHAR>;
WideString Wide(std::u16string_view text) { return WideString(text.begin(), text.end()); }

struct TextCase {
  const char* what;
  std::string utf8;
  std::u16string utf16;
};

const std::vector<TextCase>& WellFormedText() {
  static const std::vector<TextCase> cases = {
      {"ascii", "EAP-TTLS user@realm", u"EAP-TTLS user@realm"},
      {"embedded nul", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"last one-byte", "\x7F", u"\u007F"},
      {"two bytes", "\xC2\x80\xC3\xA9\xDF\xBF", u"\u0080\u00E9\u07FF"},
      {"three bytes", "\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF", u"\u0800\u20AC\uFFFF"},
      {"around surrogates", "\xED\x9F\xBF\xEE\x80\x80", u"\uD7FF\uE000"},
      {"four bytes", "\xF0\x9F\x98\x80", u"\U0001F600"},
      {"plane ends", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\U00010000\U0010FFFF"},
      {"mixed", "p\xC3\xA4ss\xE2\x82\xAC\xF0\x9F\x94\x91!", u"p\u00E4ss\u20AC\U0001F511!"},
  };
  return cases;
}

TEST(TextConvert, WellFormedTextConvertsBothWaysWithExactSizes) {
  for (const TextCase& c : WellFormedText()) {
    SCOPED_TRACE(c.what);
    const int n8 = static_cast<int>(c.utf8.size());
    const WideString utf16 = Wide(c.utf16);
    const int n16 = static_cast<int>(utf16.size());

    EXPECT_EQ(MultiByteToWide(CodePage::kUtf8, c.utf8.data(), n8, nullptr, 0), n16);
    WideString wide(n16 + 1, WCHAR{'#'});
    ASSERT_EQ(MultiByteToWide(CodePage::kUtf8, c.utf8.data(), n8, wide.data(), n16), n16);
    EXPECT_EQ(wide.substr(0, n16), utf16);
    EXPECT_EQ(wide[n16], WCHAR{'#'});

    EXPECT_EQ(WideToMultiByte(CodePage::kUtf8, utf16.data(), n16, nullptr, 0), n8);
    std::string narrow(n8 + 1, '#');
    ASSERT_EQ(WideToMultiByte(CodePage::kUtf8, utf16.data(), n16, narrow.data(), n8), n8);
    EXPECT_EQ(narrow.substr(0, n8), c.utf8);
    EXPECT_EQ(narrow[n8], '#');
  }
}

TEST(TextConvert, DestinationOneShortFailsWithoutWritingPastIt) {
  for (const TextCase& c : WellFormedText()) {
    SCOPED_TRACE(c.what);
    const int n8 = static_cast<int>(c.utf8.size());
    const WideString utf16 = Wide(c.utf16);
    const int n16 = static_cast<int>(utf16.size());

    // A capacity of 0 asks for the size, so one-unit texts have no short case.
    if (n16 > 1) {
      WideString wide(n16, WCHAR{'#'});
      EXPECT_EQ(MultiByteToWide(CodePage::kUtf8, c.utf8.data(), n8, wide.data(), n16 - 1), 0);
      EXPECT_EQ(wide[n16 - 1], WCHAR{'#'});
    }
    if (n8 > 1) {
      std::string narrow(n8, '#');
      EXPECT_EQ(WideToMultiByte(CodePage::kUtf8, utf16.data(), n16, narrow.data(), n8 - 1), 0);
      EXPECT_EQ(narrow[n8 - 1], '#');
    }
  }
}

TEST(TextConvert, MinusOneLengthConvertsAndCountsTheTerminator) {
  const char utf8[] = "r\xC3\xA9seau\xF0\x9F\x93\xB6";
  const WideString text16 = Wide(u"r\u00E9seau\U0001F4F6");
  const WCHAR* utf16 = text16.c_str();
  const int n16 = static_cast<int>(text16.size()) + 1;  // with the terminator
  const int n8 = static_cast<int>(std::size(utf8));

  ASSERT_EQ(MultiByteToWide(CodePage::kUtf8, utf8, -1, nullptr, 0), n16);
  WideString wide(n16, WCHAR{'#'});
  ASSERT_EQ(MultiByteToWide(CodePage::kUtf8, utf8, -1, wide.data(), n16), n16);
  EXPECT_EQ(wide, WideString(utf16, n16));

  ASSERT_EQ(WideToMultiByte(CodePage::kUtf8, utf16, -1, nullptr, 0), n8);
  std::string narrow(n8, '#');
  ASSERT_EQ(WideToMultiByte(CodePage::kUtf8, utf16, -1, narrow.data(), n8), n8);
  EXPECT_EQ(narrow, std::string(utf8, n8));

  // Room for the text but not its terminator is too small.
  EXPECT_EQ(MultiByteToWide(CodePage::kUtf8, utf8, -1, wide.data(), n16 - 1), 0);
  EXPECT_EQ(WideToMultiByte(CodePage::kUtf8, utf16, -1, narrow.data(), n8 - 1), 0);
}

TEST(TextConvert, AnsiCarriesAsciiUnchanged) {
  const char ascii[] = "anonymous@example.org";
  WCHAR wide[32];
  char back[32];
  int n = MultiByteToWide(CodePage::kAnsi, ascii, -1, wide, 32);
  ASSERT_EQ(n, static_cast<int>(sizeof ascii));
  ASSERT_EQ(WideToMultiByte(CodePage::kAnsi, wide, -1, back, 32), n);
  EXPECT_STREQ(back, ascii);
}

TEST(TextConvert, EmptyOrMissingSourceFails) {
  WCHAR wide[4] = {};
  char narrow[4] = {};
  EXPECT_EQ(MultiByteToWide(CodePage::kUtf8, "abc", 0, wide, 4), 0);
  EXPECT_EQ(MultiByteToWide(CodePage::kUtf8, nullptr, 3, wide, 4), 0);
  EXPECT_EQ(WideToMultiByte(CodePage::kUtf8, Wide(u"abc").c_str(), 0, narrow, 4), 0);
  EXPECT_EQ(WideToMultiByte(CodePage::kUtf8, nullptr, 3, narrow, 4), 0);
}

TEST(TextConvert, MalformedUtf8BecomesReplacementCharacters) {
  struct Case {
    const char* what;
    std::string utf8;
    std::u16string utf16;
  } cases[] = {
      {"lone trail byte", "\x80", u"\uFFFD"},
      {"bytes that never start a sequence", "a\xFFx\xF8y", u"a\uFFFDx\uFFFDy"},
      {"overlong two bytes", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"three bytes cut short", "\xE2\x82z", u"\uFFFDz"},
      {"four bytes cut short", "\xF0\x9F\x98z", u"\uFFFDz"},
      {"cut short before a lead", "\xE2\x82\xC3\xA9", u"\uFFFD\u00E9"},
      {"cut short at the end", "ok\xE2\x82", u"ok\uFFFD"},
      {"five-byte form", "\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int n8 = static_cast<int>(c.utf8.size());
    WCHAR wide[16];
    int n = MultiByteToWide(CodePage::kUtf8, c.utf8.data(), n8, wide, 16);
    EXPECT_EQ(WideString(wide, n > 0 ? n : 0), Wide(c.utf16));
    EXPECT_EQ(MultiByteToWide(CodePage::kUtf8, c.utf8.data(), n8, nullptr, 0), n);
  }
}

TEST(TextConvert, LoneSurrogatesBecomeReplacementCharacterInUtf8) {
  struct Case {
    const char* what;
    std::u16string utf16;
    std::string utf8;
  } cases[] = {
      {"high alone", u"\xD800", "\xEF\xBF\xBD"},
      {"low alone", u"a\xDC00z", "a\xEF\xBF\xBDz"},
      {"high before a pair", u"\xD800\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
      {"pair reversed", u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"high at the end", u"ok\xDBFF", "ok\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const WideString utf16 = Wide(c.utf16);
    const int n16 = static_cast<int>(utf16.size());
    char narrow[32];
    int n = WideToMultiByte(CodePage::kUtf8, utf16.data(), n16, narrow, sizeof narrow);
    EXPECT_EQ(std::string(narrow, n > 0 ? n : 0), c.utf8);
    EXPECT_EQ(WideToMultiByte(CodePage::kUtf8, utf16.data(), n16, nullptr, 0), n);
  }
}

TEST(TextConvert, LengthEndsASequenceEvenWhenTheRestFollows) {
  WCHAR wide[4];
  ASSERT_EQ(MultiByteToWide(CodePage::kUtf8, "a\xC3\xA9", 2, wide, 4), 2);
  EXPECT_EQ(WideString(wide, 2), Wide(u"a\uFFFD"));

  const WideString pair = Wide(u"a\U0001F600");
  char narrow[8];
  ASSERT_EQ(WideToMultiByte(CodePage::kUtf8, pair.data(), 2, narrow, 8), 4);
  EXPECT_EQ(std::string(narrow, 4), "a\xEF\xBF\xBD");
}

// --------------------------------------------------------------- user name

TEST(UserName, FitsExactlyAndFailsOneByteShort) {
  char name[512];
  uint32_t size = sizeof name;
  ASSERT_TRUE(CurrentUserName(name, &size));
  const uint32_t needed = static_cast<uint32_t>(std::strlen(name)) + 1;
  ASSERT_GT(needed, 1u);
  EXPECT_EQ(size, needed);

  std::string exact(needed + 1, '#');
  size = needed;
  ASSERT_TRUE(CurrentUserName(exact.data(), &size));
  EXPECT_STREQ(exact.c_str(), name);
  EXPECT_EQ(exact[needed], '#');

  std::string small(needed, '#');
  size = needed - 1;
  EXPECT_FALSE(CurrentUserName(small.data(), &size));
  EXPECT_EQ(small[needed - 1], '#');
}

// --------------------------------------------------------- data protection

// On Linux the user's key goes to a temporary folder instead of the home.
class DataProtectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_home_ = test::MakeTempDir();
    ASSERT_FALSE(data_home_.empty());
    env_.emplace("XDG_DATA_HOME", data_home_.c_str());
  }
  void TearDown() override {
    env_.reset();
    test::RemoveTree(data_home_);
  }

  static std::vector<uint8_t> Bytes(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 31);
    return bytes;
  }

  static std::vector<uint8_t> Seal(const std::vector<uint8_t>& plain,
                                   const std::vector<uint8_t>* entropy) {
    // Empty text still comes with a pointer, as the module passes it;
    // CryptProtectData refuses a null one.
    static const uint8_t kEmpty = 0;
    ProtectedBlob blob;
    EXPECT_TRUE(g_data_protection->protect(
        plain.empty() ? &kEmpty : plain.data(), static_cast<uint32_t>(plain.size()),
        entropy ? entropy->data() : nullptr, entropy ? static_cast<uint32_t>(entropy->size()) : 0,
        &blob));
    std::vector<uint8_t> sealed(blob.data, blob.data + blob.size);
    g_data_protection->free_blob(&blob);
    return sealed;
  }

  static std::optional<std::vector<uint8_t>> Open(const std::vector<uint8_t>& sealed,
                                                  const std::vector<uint8_t>* entropy) {
    ProtectedBlob blob;
    if (!g_data_protection->unprotect(sealed.data(), static_cast<uint32_t>(sealed.size()),
                                      entropy ? entropy->data() : nullptr,
                                      entropy ? static_cast<uint32_t>(entropy->size()) : 0, false,
                                      &blob)) {
      return std::nullopt;
    }
    std::vector<uint8_t> plain(blob.data, blob.data + blob.size);
    g_data_protection->free_blob(&blob);
    EXPECT_EQ(blob.data, nullptr);
    EXPECT_EQ(blob.size, 0u);
    return plain;
  }

  std::string data_home_;
  std::optional<ScopedEnv> env_;
  const std::vector<uint8_t> entropy_ = Bytes(16, 0x5A);
  const std::vector<uint8_t> other_entropy_ = Bytes(16, 0x5B);
};

TEST_F(DataProtectionTest, RoundTripsWithAndWithoutEntropy) {
  for (size_t size : {0u, 1u, 100u, 5000u}) {
    const std::vector<uint8_t>* entropies[] = {nullptr, &entropy_};
    for (const std::vector<uint8_t>* entropy : entropies) {
      SCOPED_TRACE(testing::Message() << size << (entropy ? " with" : " without") << " entropy");
      const std::vector<uint8_t> plain = Bytes(size, 7);
      std::vector<uint8_t> sealed = Seal(plain, entropy);
      ASSERT_GT(sealed.size(), plain.size());
      if (size >= 100) {
        EXPECT_EQ(std::search(sealed.begin(), sealed.end(), plain.begin(), plain.begin() + 32),
                  sealed.end())
            << "plain text visible in the sealed bytes";
      }
      std::optional<std::vector<uint8_t>> opened = Open(sealed, entropy);
      ASSERT_TRUE(opened.has_value());
      EXPECT_EQ(*opened, plain);
    }
  }
}

TEST_F(DataProtectionTest, OpensOnlyWithTheSameEntropy) {
  const std::vector<uint8_t> plain = Bytes(40, 1);
  const std::vector<uint8_t> with = Seal(plain, &entropy_);
  const std::vector<uint8_t> without = Seal(plain, nullptr);

  EXPECT_FALSE(Open(with, &other_entropy_).has_value()) << "another entropy";
  EXPECT_FALSE(Open(with, nullptr).has_value()) << "entropy dropped";
  EXPECT_FALSE(Open(without, &entropy_).has_value()) << "entropy added";
  EXPECT_TRUE(Open(with, &entropy_).has_value());
  EXPECT_TRUE(Open(without, nullptr).has_value());

  // Entropy of no bytes is no entropy.
  const std::vector<uint8_t> empty;
  EXPECT_TRUE(Open(Seal(plain, &empty), nullptr).has_value());
  EXPECT_TRUE(Open(without, &empty).has_value());
}

// The tail of a sealed blob, as long as the text plus 16, is sealed text or
// check value on both platforms. How much of the header is checked differs
// (Wine's CryptUnprotectData ignores some header fields), so only the Linux
// tests flip every byte.
TEST_F(DataProtectionTest, DamagedOrMissingBytesFail) {
  const std::vector<uint8_t> plain = Bytes(24, 3);
  const std::vector<uint8_t> sealed = Seal(plain, &entropy_);
  ASSERT_GT(sealed.size(), plain.size() + 16);
  for (size_t i = sealed.size() - plain.size() - 16; i < sealed.size(); ++i) {
    std::vector<uint8_t> damaged = sealed;
    damaged[i] ^= 0x01;
    EXPECT_FALSE(Open(damaged, &entropy_).has_value()) << "flipped byte " << i;
  }
  for (size_t keep : {size_t{0}, size_t{1}, sealed.size() / 2, sealed.size() - 1}) {
    std::vector<uint8_t> cut(sealed.begin(), sealed.begin() + keep);
    EXPECT_FALSE(Open(cut, &entropy_).has_value()) << "cut to " << keep;
  }
}

TEST_F(DataProtectionTest, SealingTwiceGivesDifferentBytes) {
  const std::vector<uint8_t> plain = Bytes(32, 9);
  EXPECT_NE(Seal(plain, &entropy_), Seal(plain, &entropy_));
  EXPECT_NE(Seal(plain, nullptr), Seal(plain, nullptr));
}

}  // namespace
}  // namespace velto::platform
