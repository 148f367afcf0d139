// The platform services through their seams, as both targets provide them.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "abi/eap_abi.h"
#include "frame/registry.h"
#include "frame/text_convert.h"
#include "frame/user_name.h"
#include "protect/data_protection.h"
#include "support/test_env.h"
#include "support/vectors.h"

// Shared with platform_posix_test.cpp.
namespace velto::platform::ptest {

// Seals or opens as the module does (the description is asked for along with
// entropy, for identity data); entropy null for none, else a text's bytes.
std::optional<std::string> Call(const std::string& in, const char* entropy, bool seal) {
  ProtectedBlob blob;
  const auto* bytes = reinterpret_cast<const uint8_t*>(in.data());
  const auto* extra = reinterpret_cast<const uint8_t*>(entropy);
  const uint32_t size = static_cast<uint32_t>(in.size()), extra_size = entropy ? std::strlen(entropy) : 0;
  if (!(seal ? g_data_protection->protect(bytes, size, extra, extra_size, &blob)
             : g_data_protection->unprotect(bytes, size, extra, extra_size, entropy != nullptr, &blob)))
    return std::nullopt;
  std::string out(reinterpret_cast<const char*>(blob.data), blob.size);
  g_data_protection->free_blob(&blob);
  EXPECT_TRUE(blob.data == nullptr && blob.size == 0) << "a freed blob must be left empty";
  return out;
}
std::optional<std::string> Seal(const std::string& plain, const char* entropy = nullptr) {
  return Call(plain, entropy, true);
}
std::optional<std::string> Open(const std::string& sealed, const char* entropy = nullptr) {
  return Call(sealed, entropy, false);
}

// UTF-16 text in the platform's WCHAR from hex code units ("0061 FFFD").
std::basic_string<WCHAR> Units(const std::string& hex) {
  std::basic_string<WCHAR> out;
  std::istringstream in(hex);
  for (unsigned unit; in >> std::hex >> unit;) out.push_back(static_cast<WCHAR>(unit));
  return out;
}

void ConvertCases(const std::string& wide, CodePage cp);

}  // namespace velto::platform::ptest

namespace velto::platform {
namespace {

using namespace std::string_literals;
using ptest::Open;
using ptest::Seal;

// A new temporary folder named by an environment variable for the life of a
// scope: the registry store and the user's key stay out of the real ones on
// Linux (Wine ignores both variables).
struct ScopedTempEnv {
  explicit ScopedTempEnv(const char* name) : dir(test::MakeTempDir()), env(name, dir.c_str()) {}
  ~ScopedTempEnv() { test::RemoveTree(dir); }
  std::string dir;
  test::ScopedEnvVar env;
};

// A read gives the exact bytes and type, or 234 and the size needed when the
// buffer is short; a write replaces the whole value; 2 for a missing key or
// value, 5 for a change through a read key. Under Wine the store is the real
// registry, so the value is removed again.
TEST(Registry, ReadsWritesAndRefusesAsTheRegistryDoes) {
  ScopedTempEnv root("VELTOEAP_REGISTRY_ROOT");
  const std::string name = "platform-test-value";
  RegistryKey *writer = nullptr, *reader = nullptr, *key = nullptr;
  ASSERT_EQ(g_registry->create_machine_key(kVeltoWirelessKey, &key), kNoError);  // the installer's
  g_registry->close_key(key);
  ASSERT_EQ(g_registry->open_machine_key(kVeltoWirelessKey, RegAccess::kWrite, &writer), kNoError);
  ASSERT_EQ(g_registry->open_machine_key(kVeltoWirelessKey, RegAccess::kRead, &reader), kNoError);
  auto set = [&](RegistryKey* k, std::string_view bytes) {
    return g_registry->set_value(k, name.c_str(), kRegSz, reinterpret_cast<const uint8_t*>(bytes.data()),
                                 static_cast<uint32_t>(bytes.size()));
  };
  const std::string value = "https://portal.example/\0"s;
  ASSERT_EQ(set(writer, "a longer value, written first\0"s), kNoError);
  ASSERT_EQ(set(writer, value), kNoError);
  for (uint32_t capacity : {0u, 1u, 23u, 24u, 25u}) {
    uint8_t buffer[25];
    uint32_t size = capacity, type = 0;
    const uint32_t status = g_registry->query_value(reader, name.c_str(), &type, buffer, &size);
    EXPECT_EQ(status, capacity < 24 ? kErrorMoreData : kNoError) << capacity;
    EXPECT_EQ(size, 24u) << capacity;
    if (status == kNoError) EXPECT_EQ(std::string(buffer, buffer + size) + char(type), value + char(kRegSz));
  }
  uint32_t size = 0;  // a null buffer asks for the size only
  EXPECT_EQ(g_registry->query_value(reader, name.c_str(), nullptr, nullptr, &size), kNoError);
  EXPECT_EQ(size, 24u);

  EXPECT_EQ(set(reader, "changed"), kErrorAccessDenied);
  EXPECT_EQ(g_registry->delete_value(reader, name.c_str()), kErrorAccessDenied);
  EXPECT_EQ(g_registry->delete_value(writer, name.c_str()), kNoError);
  EXPECT_EQ(g_registry->query_value(reader, name.c_str(), nullptr, nullptr, &size), kErrorFileNotFound);
  EXPECT_EQ(g_registry->delete_value(writer, name.c_str()), kErrorFileNotFound);
  g_registry->close_key(reader);
  g_registry->close_key(writer);
  // Writing first: had that made the key, the read would find it.
  const std::string missing = std::string(kVeltoWirelessKey) + "\\" + name;
  for (RegAccess access : {RegAccess::kWrite, RegAccess::kRead})
    EXPECT_EQ(g_registry->open_machine_key(missing.c_str(), access, &key), kErrorFileNotFound);
}

// Converts `len` units of `src` as callers do: the size first, then into
// exactly that room, leaving the unit after it alone. One unit less must give
// 0 and write nothing past it: the whole text or nothing.
template <typename From, typename To>
std::basic_string<To> Convert(int (*convert)(CodePage, const From*, int, To*, int),
                              const std::basic_string<From>& src, int len, CodePage cp = CodePage::kUtf8) {
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

}  // namespace

// The rows of text_convert.cases whose dir is `wide` (and "both") to UTF-16 in
// `cp`; with "wide", the rows to UTF-8 as well.
void ptest::ConvertCases(const std::string& wide, CodePage cp) {
  for (const test::Case& c : test::ReadCases("text_convert.cases")) {
    SCOPED_TRACE("text_convert.cases line " + test::Get(c, "line"));
    const std::string dir = c.at("dir"), utf8 = c.at("utf8");
    const std::basic_string<WCHAR> utf16 = Units(c.at("utf16"));
    auto len = [&](size_t all) { return c.at("len").empty() ? static_cast<int>(all) : std::stoi(c.at("len")); };
    if (dir == wide || dir == "both") EXPECT_EQ(Convert(MultiByteToWide, utf8, len(utf8.size()), cp), utf16);
    if (wide == "wide" && (dir == "narrow" || dir == "both"))
      EXPECT_EQ(Convert(WideToMultiByte, utf16, len(utf16.size()), cp), utf8);
  }
}

namespace {

TEST(TextConvert, CasesConvertWholeOrNothing) {
  ptest::ConvertCases("wide", CodePage::kUtf8);
  const std::string ascii = "anonymous@example.org";  // the ANSI code page carries ASCII unchanged
  EXPECT_EQ(Convert(WideToMultiByte, Convert(MultiByteToWide, ascii, 21, CodePage::kAnsi), 21, CodePage::kAnsi), ascii);
  WCHAR wide[4];  // no source text fails
  char narrow[4];
  EXPECT_TRUE(MultiByteToWide(CodePage::kUtf8, nullptr, 3, wide, 4) == 0 &&
              WideToMultiByte(CodePage::kUtf8, nullptr, 3, narrow, 4) == 0);
}

TEST(UserName, FitsExactlyAndFailsOneByteShort) {
  char name[512];
  uint32_t size = sizeof name;
  ASSERT_TRUE(CurrentUserName(name, &size));
  const uint32_t needed = static_cast<uint32_t>(std::strlen(name)) + 1;
  ASSERT_TRUE(needed > 1 && size == needed);
  std::string buffer(needed + 1, '#');
  size = needed - 1;
  EXPECT_TRUE(!CurrentUserName(buffer.data(), &size) && buffer[needed - 1] == '#') << "one byte short";
  size = needed;
  ASSERT_TRUE(CurrentUserName(buffer.data(), &size));
  EXPECT_TRUE(buffer.c_str() == std::string(name) && buffer[needed] == '#');
}

// Sealed afresh each time (equal sealed bytes would tell that the texts are
// equal), and opened only with the same entropy.
TEST(DataProtectionTest, RoundTripsAndOpensOnlyWithTheSameEntropy) {
  ScopedTempEnv data_home("XDG_DATA_HOME");
  for (size_t size : {0u, 1u, 100u, 5000u}) {
    for (const char* entropy : {static_cast<const char*>(nullptr), "salt"}) {
      SCOPED_TRACE(testing::Message() << size << (entropy ? " with" : " without") << " entropy");
      const std::string plain(size, 'p'), sealed = Seal(plain, entropy).value_or("");
      ASSERT_GT(sealed.size(), plain.size());
      if (size >= 100) EXPECT_EQ(sealed.find(plain.substr(0, 32)), std::string::npos) << "plain text visible";
      EXPECT_NE(Seal(plain, entropy), sealed);
      EXPECT_EQ(Open(sealed, entropy), plain);
    }
  }
  const std::string plain = "forty bytes, or thereabouts, of plain text";
  const std::string with = Seal(plain, "salt").value_or(""), without = Seal(plain).value_or("");
  EXPECT_EQ(Open(with, "salu"), std::nullopt) << "another entropy";
  EXPECT_EQ(Open(with), std::nullopt) << "entropy dropped";
  EXPECT_EQ(Open(without, "salt"), std::nullopt) << "entropy added";
  EXPECT_EQ(Open(Seal(plain, "").value_or("")), plain) << "entropy of no bytes is none";
  EXPECT_EQ(Open(without, ""), plain);
}

}  // namespace
}  // namespace velto::platform
