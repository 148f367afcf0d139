// The platform services through their seams, as both targets provide them.
#include <gtest/gtest.h>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>

#include "abi/eap_abi.h"
#include "frame/text_convert.h"
#include "frame/user_name.h"
#include "protect/data_protection.h"
#include "support/test_env.h"
#include "support/vectors.h"

namespace velto::platform::ptest {  // shared with platform_posix_test.cpp

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
std::optional<std::string> Seal(const std::string& in, const char* e = nullptr) { return Call(in, e, true); }
std::optional<std::string> Open(const std::string& in, const char* e = nullptr) { return Call(in, e, false); }

// Converts `len` units of `src` as callers do: the size first, then into
// exactly that room, leaving the unit after it alone. One unit less must give
// 0 and write nothing past it: the whole text or nothing.
template <typename From, typename To>
std::basic_string<To> Convert(int (*convert)(CodePage, const From*, int, To*, int),
                              const std::basic_string<From>& src, int len, CodePage cp) {
  const int n = convert(cp, src.c_str(), len, nullptr, 0);
  std::basic_string<To> out(n + 1, To{'#'});
  EXPECT_TRUE(n < 2 || (convert(cp, src.c_str(), len, out.data(), n - 1) == 0 && out[n - 1] == To{'#'})) << "short";
  EXPECT_EQ(convert(cp, src.c_str(), len, out.data(), n), n);
  EXPECT_EQ(out[n], To{'#'});
  return out.substr(0, n);
}

// The rows of text_convert.cases whose dir is `wide` (or "both") to UTF-16 in
// `cp`; with "wide", the rows to UTF-8 as well. UTF-16 is given as hex units.
void ConvertCases(const std::string& wide, CodePage cp) {
  for (const test::Case& c : test::ReadCases("text_convert.cases")) {
    SCOPED_TRACE("text_convert.cases line " + test::Get(c, "line"));
    const std::string dir = c.at("dir"), utf8 = c.at("utf8");
    std::basic_string<WCHAR> utf16;
    std::istringstream units(c.at("utf16"));
    for (unsigned unit; units >> std::hex >> unit;) utf16.push_back(static_cast<WCHAR>(unit));
    auto len = [&](size_t all) { return c.at("len").empty() ? static_cast<int>(all) : std::stoi(c.at("len")); };
    if (dir == wide || dir == "both") {
      EXPECT_EQ(Convert(MultiByteToWide, utf8, len(utf8.size()), cp), utf16);
    }
    if (wide == "wide" && (dir == "narrow" || dir == "both")) {
      EXPECT_EQ(Convert(WideToMultiByte, utf16, len(utf16.size()), cp), utf8);
    }
  }
}

}  // namespace velto::platform::ptest

namespace velto::platform {
namespace {

using namespace ptest;

TEST(TextConvert, CasesConvertWholeOrNothing) {
  ConvertCases("wide", CodePage::kUtf8);
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
// equal), and opened only with the same entropy; entropy of no bytes is none.
// The user's key goes to a folder of its own on Linux (Wine ignores it).
TEST(DataProtectionTest, RoundTripsAndOpensOnlyWithTheSameEntropy) {
  const std::string home = test::MakeTempDir();
  test::ScopedEnvVar data_home("XDG_DATA_HOME", home.c_str());
  for (const char* entropy : {static_cast<const char*>(nullptr), "salt", ""}) {
    const bool some = entropy != nullptr && *entropy != '\0';
    for (const std::string& plain : {std::string(), std::string(5000, 'p')}) {
      const std::string sealed = Seal(plain, entropy).value_or("");
      ASSERT_GT(sealed.size(), plain.size());
      EXPECT_TRUE(plain.empty() || sealed.find(plain.substr(0, 32)) == std::string::npos) << "plain text visible";
      EXPECT_TRUE(Seal(plain, entropy) != sealed && Open(sealed, entropy) == plain) << plain.size();
      EXPECT_EQ(Open(sealed, some ? nullptr : "salt"), std::nullopt) << "entropy dropped or added";
      EXPECT_EQ(Open(sealed, some ? "salu" : entropy ? nullptr : ""), some ? std::nullopt : std::optional(plain));
    }
  }
  test::RemoveTree(home);
}

}  // namespace
}  // namespace velto::platform
