#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "frame/memory.h"
#include "protect/base64.h"
#include "protect/custom_protect.h"
#include "protect/data_protection.h"
#include "protect/profile_protect.h"

namespace velto {
namespace {

// Owned results, wiped on the way out as the module's callers do.
struct Text {
  char* p;
  explicit Text(char* text) : p(text) {}
  ~Text() { WipeAndFreeText(p); }
  std::string str() const { return p != nullptr ? p : "<null>"; }
};

std::string Printable(size_t length, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(length, ' ');
  for (char& c : s) c = static_cast<char>(0x21 + rng() % 94);
  return s;
}

// Opens a profile identity text from a copy, as the callers do.
Text OpenProfile(const std::string& sealed) {
  std::string copy = sealed;
  return Text(DecryptProfileIdentityData(copy.data()));
}

bool IsFlatBase64(const std::string& s) {
  if (s.empty() || s.size() % 4 != 0) return false;
  for (char c : s) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/' && c != '=') return false;
  }
  return true;
}

TEST(IdentityEntropy, Is32UpperCaseHexDigits) {
  EXPECT_EQ(BuildIdentityEntropy(nullptr), 87u);
  char a[256];
  char b[256];
  std::memset(a, 'x', sizeof a);
  ASSERT_EQ(BuildIdentityEntropy(a), 0u);
  ASSERT_EQ(BuildIdentityEntropy(b), 0u);
  ASSERT_EQ(std::strlen(a), 32u);
  EXPECT_STREQ(a, b);
  for (size_t i = 0; i < 32; ++i) EXPECT_TRUE(std::strchr("0123456789ABCDEF", a[i])) << a;
}

TEST(ProfileProtect, RoundTripsOneToHundredBytes) {
  for (size_t n = 1; n <= 100; ++n) {
    std::string plain = Printable(n, static_cast<unsigned>(n));
    Text sealed(EncryptProfileIdentityData(plain.c_str()));
    ASSERT_NE(sealed.p, nullptr) << n;
    EXPECT_TRUE(IsFlatBase64(sealed.str())) << sealed.str();
    Text opened = OpenProfile(sealed.str());
    EXPECT_EQ(opened.str(), plain) << n;
  }
}

TEST(ProfileProtect, RefusesMoreThanHundredBytes) {
  EXPECT_EQ(EncryptProfileIdentityData(nullptr), nullptr);
  std::string over = Printable(101, 1);
  EXPECT_EQ(EncryptProfileIdentityData(over.c_str()), nullptr);
  std::string far_over = Printable(5000, 2);
  EXPECT_EQ(EncryptProfileIdentityData(far_over.c_str()), nullptr);
}

TEST(ProfileProtect, EmptyTextSealsButOpensToNothing) {
  Text sealed(EncryptProfileIdentityData(""));
  if (sealed.p != nullptr) {
    EXPECT_EQ(OpenProfile(sealed.str()).p, nullptr);
  }
}

TEST(ProfileProtect, FailsOnNullDamagedOrForeignTexts) {
  EXPECT_EQ(DecryptProfileIdentityData(nullptr), nullptr);
  Text sealed(EncryptProfileIdentityData("correct horse"));
  ASSERT_NE(sealed.p, nullptr);
  std::string text = sealed.str();

  // Any changed symbol breaks the seal.
  for (size_t i : {size_t{0}, text.size() / 2, text.size() - 5}) {
    std::string damaged = text;
    damaged[i] = damaged[i] == 'A' ? 'B' : 'A';
    EXPECT_EQ(OpenProfile(damaged).p, nullptr) << i;
  }
  EXPECT_EQ(OpenProfile(text.substr(0, text.size() / 2)).p, nullptr);
  EXPECT_EQ(OpenProfile("!!!!").p, nullptr);

  // The stored form does not open here, and the profile form does not open there.
  Text custom(CryptProtectCustom("correct horse"));
  ASSERT_NE(custom.p, nullptr);
  EXPECT_EQ(OpenProfile(custom.str()).p, nullptr);
  EXPECT_EQ(CryptUnprotectCustom(text.c_str()), nullptr);
}

TEST(ProfileProtect, AnotherEntropyDoesNotOpen) {
  const char plain[] = "secret";
  const char other_entropy[] = "00000000000000000000000000000000";
  platform::ProtectedBlob sealed;
  ASSERT_TRUE(platform::g_data_protection->protect(
      reinterpret_cast<const uint8_t*>(plain), sizeof plain - 1,
      reinterpret_cast<const uint8_t*>(other_entropy), 32, &sealed));
  char* encoded = nullptr;
  ASSERT_TRUE(Base64EncodeFlatText(sealed.data, sealed.size, &encoded));
  platform::g_data_protection->free_blob(&sealed);
  EXPECT_EQ(OpenProfile(encoded).p, nullptr);
  std::free(encoded);
}

TEST(ProfileProtect, StarLineBreaksAreIgnoredWhenOpening) {
  Text sealed(EncryptProfileIdentityData("pa55word"));
  ASSERT_NE(sealed.p, nullptr);
  std::string text = sealed.str();
  // "*" and the character after it stand for a CR LF pair.
  std::string broken = text.substr(0, 8) + "*n" + text.substr(8);
  EXPECT_EQ(OpenProfile(broken).str(), "pa55word");
}

TEST(CustomProtect, RoundTripsShortAndLongPasswords) {
  std::vector<size_t> lengths;
  for (size_t n = 1; n <= 100; ++n) lengths.push_back(n);
  for (size_t n : {255, 511, 1000}) lengths.push_back(n);
  for (size_t n : lengths) {
    std::string plain = Printable(n, static_cast<unsigned>(n) + 7);
    Text sealed(CryptProtectCustom(plain.c_str()));
    ASSERT_NE(sealed.p, nullptr) << n;
    std::string text = sealed.str();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    size_t line = 0;
    for (char c : text) {
      line = c == '\n' ? 0 : line + 1;
      EXPECT_LE(line, 72u);
    }
    Text opened(CryptUnprotectCustom(text.c_str()));
    EXPECT_EQ(opened.str(), plain) << n;

    // The decoder skips the line feeds, so a text without them opens too.
    std::string flat;
    for (char c : text) {
      if (c != '\n') flat += c;
    }
    Text reopened(CryptUnprotectCustom(flat.c_str()));
    EXPECT_EQ(reopened.str(), plain) << n;
  }
}

TEST(CustomProtect, SealsAtMostTheFirst4096Bytes) {
  std::string plain = Printable(5000, 3);
  Text sealed(CryptProtectCustom(plain.c_str()));
  ASSERT_NE(sealed.p, nullptr);
  // The opener reads at most 4096 characters, so such a text is only checked
  // through the platform directly.
  uint64_t size = 0;
  uint8_t* blob = Base64DecodeWrapped(sealed.p, std::strlen(sealed.p), &size);
  ASSERT_NE(blob, nullptr);
  platform::ProtectedBlob plain_blob;
  ASSERT_TRUE(platform::g_data_protection->unprotect(blob, static_cast<uint32_t>(size), nullptr, 0,
                                                      false, &plain_blob));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(plain_blob.data), plain_blob.size),
            plain.substr(0, 4096));
  platform::g_data_protection->free_blob(&plain_blob);
  std::free(blob);
}

TEST(CustomProtect, RefusesEmptyNullAndDamagedTexts) {
  EXPECT_EQ(CryptProtectCustom(nullptr), nullptr);
  EXPECT_EQ(CryptProtectCustom(""), nullptr);
  EXPECT_EQ(CryptUnprotectCustom(nullptr), nullptr);
  EXPECT_EQ(CryptUnprotectCustom(""), nullptr);
  EXPECT_EQ(CryptUnprotectCustom("\n\n"), nullptr);

  Text sealed(CryptProtectCustom("hunter2"));
  ASSERT_NE(sealed.p, nullptr);
  std::string text = sealed.str();
  std::string odd = text;
  odd.erase(odd.find_first_not_of('\n'), 1);  // symbols no longer a multiple of four
  EXPECT_EQ(CryptUnprotectCustom(odd.c_str()), nullptr);
  std::string damaged = text;
  damaged[10] = damaged[10] == 'A' ? 'B' : 'A';
  EXPECT_EQ(CryptUnprotectCustom(damaged.c_str()), nullptr);
}

// A platform protection that refuses everything.
bool RefuseProtect(const uint8_t*, uint32_t, const uint8_t*, uint32_t, platform::ProtectedBlob*) {
  return false;
}
bool RefuseUnprotect(const uint8_t*, uint32_t, const uint8_t*, uint32_t, bool,
                     platform::ProtectedBlob*) {
  return false;
}

TEST(Protect, PlatformRefusalGivesNull) {
  Text custom(CryptProtectCustom("abc"));
  Text profile(EncryptProfileIdentityData("abc"));
  ASSERT_NE(custom.p, nullptr);
  ASSERT_NE(profile.p, nullptr);

  const platform::DataProtectionApi refusing{RefuseProtect, RefuseUnprotect,
                                             platform::g_data_protection.platform().free_blob};
  ScopedSeamOverride<platform::DataProtectionApi> use(platform::g_data_protection, &refusing);
  EXPECT_EQ(CryptProtectCustom("abc"), nullptr);
  EXPECT_EQ(EncryptProfileIdentityData("abc"), nullptr);
  EXPECT_EQ(CryptUnprotectCustom(custom.p), nullptr);
  EXPECT_EQ(OpenProfile(profile.str()).p, nullptr);
}

}  // namespace
}  // namespace velto
