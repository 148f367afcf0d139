// The platform services through their seams, as both targets provide them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "abi/eap_abi.h"
#include "frame/registry.h"
#include "frame/text_convert.h"
#include "frame/user_name.h"
#include "protect/data_protection.h"
#include "support/test_env.h"

namespace velto::platform {
namespace {

using namespace std::string_literals;

// A new temporary folder named by an environment variable for the life of a
// scope, so that the registry store and the user's key stay out of the real
// ones on Linux (Wine ignores both variables).
class ScopedTempEnv {
 public:
  explicit ScopedTempEnv(const char* name) : dir_(test::MakeTempDir()), env_(name, dir_.c_str()) {}
  ~ScopedTempEnv() { test::RemoveTree(dir_); }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
  test::ScopedEnvVar env_;
};

// ---------------------------------------------------------------- registry

// Under Wine the store is the real registry, so the value has a name of its
// own and is removed again.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root_.dir().empty());
    // The installer's step; the module itself only opens the key.
    RegistryKey* key = nullptr;
    ASSERT_EQ(g_registry->create_machine_key(kVeltoWirelessKey, &key), kNoError);
    g_registry->close_key(key);
    ASSERT_EQ(g_registry->open_machine_key(kVeltoWirelessKey, RegAccess::kWrite, &writer_),
              kNoError);
  }
  void TearDown() override {
    g_registry->delete_value(writer_, name_.c_str());
    g_registry->close_key(writer_);
  }

  RegistryKey* Reader() {
    RegistryKey* key = nullptr;
    EXPECT_EQ(g_registry->open_machine_key(kVeltoWirelessKey, RegAccess::kRead, &key), kNoError);
    return key;
  }

  uint32_t Set(RegistryKey* key, std::string_view bytes) {
    return g_registry->set_value(key, name_.c_str(), kRegSz,
                                 reinterpret_cast<const uint8_t*>(bytes.data()),
                                 static_cast<uint32_t>(bytes.size()));
  }

  // The value's bytes through a fresh read key, or the failing status.
  std::string Value() {
    RegistryKey* key = Reader();
    uint8_t buffer[64];
    uint32_t size = sizeof buffer;
    uint32_t status = g_registry->query_value(key, name_.c_str(), nullptr, buffer, &size);
    g_registry->close_key(key);
    return status ? "status " + std::to_string(status) : std::string(buffer, buffer + size);
  }

  ScopedTempEnv root_{"VELTOEAP_REGISTRY_ROOT"};
  const std::string name_ =
      "platform-test-" +
      std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
  RegistryKey* writer_ = nullptr;
};

// A read gives the exact bytes and the type, or 234 and the size needed when
// the buffer is short. A write replaces the whole value.
TEST_F(RegistryTest, ReadGivesTheWholeValueOrTheSizeNeeded) {
  const std::string value = "https://portal.example/\0"s;
  ASSERT_EQ(Set(writer_, "a longer value, written first\0"s), kNoError);
  ASSERT_EQ(Set(writer_, value), kNoError);
  RegistryKey* reader = Reader();
  for (uint32_t capacity : {0u, 1u, 23u, 24u, 25u}) {
    uint8_t buffer[25];
    uint32_t size = capacity, type = 0;
    const uint32_t status = g_registry->query_value(reader, name_.c_str(), &type, buffer, &size);
    EXPECT_EQ(status, capacity < 24 ? kErrorMoreData : kNoError) << capacity;
    EXPECT_EQ(size, 24u) << capacity;
    if (status != kNoError) continue;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), value);
    EXPECT_EQ(type, kRegSz);
  }
  // A null buffer asks for the size only.
  uint32_t size = 0;
  EXPECT_EQ(g_registry->query_value(reader, name_.c_str(), nullptr, nullptr, &size), kNoError);
  EXPECT_EQ(size, 24u);
  g_registry->close_key(reader);
}

// 2 for a missing key or value, 5 for a change through a read key.
TEST_F(RegistryTest, MissingIsFileNotFoundAndReadKeyChangesNothing) {
  const std::string missing_key = std::string(kVeltoWirelessKey) + "\\" + name_;
  RegistryKey* key = nullptr;
  // Writing first: had that made the key, the read would find it.
  EXPECT_EQ(g_registry->open_machine_key(missing_key.c_str(), RegAccess::kWrite, &key),
            kErrorFileNotFound);
  EXPECT_EQ(g_registry->open_machine_key(missing_key.c_str(), RegAccess::kRead, &key),
            kErrorFileNotFound);

  ASSERT_EQ(Set(writer_, "kept\0"s), kNoError);
  RegistryKey* reader = Reader();
  EXPECT_EQ(Set(reader, "changed"), kErrorAccessDenied);
  EXPECT_EQ(g_registry->delete_value(reader, name_.c_str()), kErrorAccessDenied);
  g_registry->close_key(reader);
  EXPECT_EQ(Value(), "kept\0"s);

  EXPECT_EQ(g_registry->delete_value(writer_, name_.c_str()), kNoError);
  EXPECT_EQ(Value(), "status 2");
  EXPECT_EQ(g_registry->delete_value(writer_, name_.c_str()), kErrorFileNotFound);
}

// --------------------------------------------------------- text conversion

// UTF-16 text in the platform's WCHAR: wchar_t on Windows, char16_t on Linux.
using WideString = std::basic_string<WCHAR>;
WideString Wide(std::u16string_view text) { return WideString(text.begin(), text.end()); }

// Converts `len` units of `src` (all of them by default) as callers do: the
// size first, then into exactly that room, leaving the unit after it alone.
// One unit less must give 0 and write nothing past it: the whole text or
// nothing.
constexpr int kAll = -2;
template <typename From, typename To>
std::basic_string<To> Convert(int (*convert)(CodePage, const From*, int, To*, int),
                              const std::basic_string<From>& src, int len = kAll,
                              CodePage cp = CodePage::kUtf8) {
  if (len == kAll) len = static_cast<int>(src.size());
  const int n = convert(cp, src.c_str(), len, nullptr, 0);
  std::basic_string<To> out(n + 1, To{'#'});
  if (n > 1) {
    EXPECT_EQ(convert(cp, src.c_str(), len, out.data(), n - 1), 0);
    EXPECT_EQ(out[n - 1], To{'#'}) << "written past a short destination";
  }
  EXPECT_EQ(convert(cp, src.c_str(), len, out.data(), n), n);
  EXPECT_EQ(out[n], To{'#'});
  out.resize(n);
  return out;
}

struct TextCase {
  const char* what;
  std::string utf8;
  std::u16string utf16;
};

TEST(TextConvert, WellFormedTextConvertsBothWaysWholeOrNothing) {
  const TextCase cases[] = {
      {"ascii to the last one-byte", "EAP-TTLS user@realm\x7F", u"EAP-TTLS user@realm\u007F"},
      {"embedded nul", "a\0b"s, u"a\0b"s},
      {"two bytes", "\xC2\x80\xC3\xA9\xDF\xBF", u"\u0080\u00E9\u07FF"},
      {"three bytes", "\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF", u"\u0800\u20AC\uFFFF"},
      {"around surrogates", "\xED\x9F\xBF\xEE\x80\x80", u"\uD7FF\uE000"},
      {"plane ends", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\U00010000\U0010FFFF"},
      {"mixed", "p\xC3\xA4ss\xE2\x82\xAC\xF0\x9F\x94\x91!", u"p\u00E4ss\u20AC\U0001F511!"},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Convert(MultiByteToWide, c.utf8), Wide(c.utf16));
    EXPECT_EQ(Convert(WideToMultiByte, Wide(c.utf16)), c.utf8);
  }
  // The ANSI code page carries ASCII unchanged.
  const std::string ascii = "anonymous@example.org";
  EXPECT_EQ(Convert(WideToMultiByte, Convert(MultiByteToWide, ascii, kAll, CodePage::kAnsi), kAll,
                    CodePage::kAnsi),
            ascii);
}

TEST(TextConvert, MalformedInputBecomesReplacementCharacters) {
  const TextCase bad_utf8[] = {
      {"bytes that never start a sequence", "a\xFFx\xF8y", u"a\uFFFDx\uFFFDy"},
      {"overlong two bytes", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"three and four bytes cut short", "\xE2\x82z\xF0\x9F\x98z", u"\uFFFDz\uFFFDz"},
      {"cut short before a lead", "\xE2\x82\xC3\xA9", u"\uFFFD\u00E9"},
      {"cut short at the end", "ok\xE2\x82", u"ok\uFFFD"},
      {"five-byte form", "\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
  };
  for (const TextCase& c : bad_utf8) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Convert(MultiByteToWide, c.utf8), Wide(c.utf16));
  }
  const TextCase lone_surrogates[] = {
      {"high alone", "\xEF\xBF\xBD", u"\xD800"},
      {"low alone", "a\xEF\xBF\xBDz", u"a\xDC00z"},
      {"high before a pair", "\xEF\xBF\xBD\xF0\x9F\x98\x80", u"\xD800\xD83D\xDE00"},
      {"pair reversed", "\xEF\xBF\xBD\xEF\xBF\xBD", u"\xDE00\xD83D"},
      {"high at the end", "ok\xEF\xBF\xBD", u"ok\xDBFF"},
  };
  for (const TextCase& c : lone_surrogates) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Convert(WideToMultiByte, Wide(c.utf16)), c.utf8);
  }
}

TEST(TextConvert, SourceLengthIsObeyed) {
  const std::string utf8 = "r\xC3\xA9seau\xF0\x9F\x93\xB6";
  const WideString utf16 = Wide(u"r\u00E9seau\U0001F4F6");
  // -1 converts and counts the terminator.
  EXPECT_EQ(Convert(MultiByteToWide, utf8, -1), utf16 + WCHAR{0});
  EXPECT_EQ(Convert(WideToMultiByte, utf16, -1), utf8 + '\0');
  // A length ends a sequence even when the rest of it follows.
  EXPECT_EQ(Convert(MultiByteToWide, "a\xC3\xA9"s, 2), Wide(u"a\uFFFD"));
  EXPECT_EQ(Convert(WideToMultiByte, Wide(u"a\U0001F600"), 2), "a\xEF\xBF\xBD");
  // No source text fails.
  WCHAR wide[4];
  char narrow[4];
  EXPECT_EQ(MultiByteToWide(CodePage::kUtf8, "abc", 0, wide, 4), 0);
  EXPECT_EQ(MultiByteToWide(CodePage::kUtf8, nullptr, 3, wide, 4), 0);
  EXPECT_EQ(WideToMultiByte(CodePage::kUtf8, utf16.c_str(), 0, narrow, 4), 0);
  EXPECT_EQ(WideToMultiByte(CodePage::kUtf8, nullptr, 3, narrow, 4), 0);
}

// --------------------------------------------------------------- user name

TEST(UserName, FitsExactlyAndFailsOneByteShort) {
  char name[512];
  uint32_t size = sizeof name;
  ASSERT_TRUE(CurrentUserName(name, &size));
  const uint32_t needed = static_cast<uint32_t>(std::strlen(name)) + 1;
  ASSERT_GT(needed, 1u);
  EXPECT_EQ(size, needed);

  std::string buffer(needed + 1, '#');
  size = needed - 1;
  EXPECT_FALSE(CurrentUserName(buffer.data(), &size));
  EXPECT_EQ(buffer[needed - 1], '#');
  size = needed;
  ASSERT_TRUE(CurrentUserName(buffer.data(), &size));
  EXPECT_STREQ(buffer.c_str(), name);
  EXPECT_EQ(buffer[needed], '#');
}

// --------------------------------------------------------- data protection

const uint8_t* Ptr(const char* bytes) { return reinterpret_cast<const uint8_t*>(bytes); }
uint32_t Size(const std::string& bytes) { return static_cast<uint32_t>(bytes.size()); }
// Entropy as the module passes it: null for none, else a text's bytes.
uint32_t EntropySize(const char* entropy) {
  return entropy ? static_cast<uint32_t>(std::strlen(entropy)) : 0;
}

// Copies a blob and releases it, which must leave it empty.
std::string Take(ProtectedBlob* blob) {
  std::string bytes(reinterpret_cast<const char*>(blob->data), blob->size);
  g_data_protection->free_blob(blob);
  EXPECT_TRUE(blob->data == nullptr && blob->size == 0);
  return bytes;
}

std::string Seal(const std::string& plain, const char* entropy) {
  ProtectedBlob blob;
  EXPECT_TRUE(g_data_protection->protect(Ptr(plain.data()), Size(plain), Ptr(entropy),
                                         EntropySize(entropy), &blob));
  return Take(&blob);
}

// As the module opens: the description is asked for along with entropy
// (identity data), not without it (stored passwords).
std::optional<std::string> Open(const std::string& sealed, const char* entropy) {
  ProtectedBlob blob;
  if (!g_data_protection->unprotect(Ptr(sealed.data()), Size(sealed), Ptr(entropy),
                                    EntropySize(entropy), entropy != nullptr, &blob)) {
    return std::nullopt;
  }
  return Take(&blob);
}

class DataProtectionTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(data_home_.dir().empty()); }
  ScopedTempEnv data_home_{"XDG_DATA_HOME"};
};

TEST_F(DataProtectionTest, RoundTripsAndSealsAfreshEachTime) {
  for (size_t size : {0u, 1u, 100u, 5000u}) {
    for (const char* entropy : {static_cast<const char*>(nullptr), "salt"}) {
      SCOPED_TRACE(testing::Message() << size << (entropy ? " with" : " without") << " entropy");
      const std::string plain(size, 'p');
      const std::string sealed = Seal(plain, entropy);
      ASSERT_GT(sealed.size(), plain.size());
      if (size >= 100) {
        EXPECT_EQ(sealed.find(plain.substr(0, 32)), std::string::npos) << "plain text visible";
      }
      // Equal sealed bytes would tell that the texts are equal.
      EXPECT_NE(Seal(plain, entropy), sealed);
      EXPECT_EQ(Open(sealed, entropy), plain);
    }
  }
}

TEST_F(DataProtectionTest, OpensOnlyWithTheSameEntropy) {
  const std::string plain = "forty bytes, or thereabouts, of plain text";
  const std::string with = Seal(plain, "salt"), without = Seal(plain, nullptr);
  EXPECT_EQ(Open(with, "salu"), std::nullopt) << "another entropy";
  EXPECT_EQ(Open(with, nullptr), std::nullopt) << "entropy dropped";
  EXPECT_EQ(Open(without, "salt"), std::nullopt) << "entropy added";
  // Entropy of no bytes is no entropy.
  EXPECT_EQ(Open(Seal(plain, ""), nullptr), plain);
  EXPECT_EQ(Open(without, ""), plain);
}

// The tail of a sealed blob, as long as the text plus 16, is sealed text or
// check value on both platforms. Wine's CryptUnprotectData ignores some
// header fields, so only the Linux tests flip header bytes.
TEST_F(DataProtectionTest, DamagedOrCutBlobsFail) {
  const std::string sealed = Seal("twenty-four bytes of it.", "salt");
  ASSERT_GT(sealed.size(), 24u + 16);
  for (size_t i = sealed.size() - 24 - 16; i < sealed.size(); ++i) {
    std::string damaged = sealed;
    damaged[i] ^= 0x01;
    EXPECT_EQ(Open(damaged, "salt"), std::nullopt) << "flipped byte " << i;
  }
  for (size_t keep : {size_t{0}, size_t{1}, sealed.size() / 2, sealed.size() - 1}) {
    EXPECT_EQ(Open(sealed.substr(0, keep), "salt"), std::nullopt) << "cut to " << keep;
  }
}

}  // namespace
}  // namespace velto::platform
