// The two sealed forms of a password: the profile form (flat Base64, sealed
// with the identity entropy) and the stored form (wrapped Base64, no entropy).
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "base/memory.h"
#include "frame/user_name.h"
#include "protect/base64.h"
#include "protect/custom_protect.h"
#include "protect/data_protection.h"
#include "protect/profile_protect.h"
#include "trace/trace.h"

namespace velto {
namespace {

using Blob = platform::ProtectedBlob;

constexpr char kIdentityEntropy[] = "5E1BC7429A03D86F21B47CE930854DF6";
constexpr char kFlatBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

// Takes over a result, wiped as the module's callers do; "<null>" for null.
std::string Take(char* text) {
  std::string s = text != nullptr ? text : "<null>";
  WipeAndFreeText(text);
  return s;
}

// The opener of the profile form rewrites its argument: it gets a copy.
std::string OpenProfile(std::string text) { return Take(DecryptProfileIdentityData(text.data())); }
std::string OpenCustom(const std::string& text) { return Take(CryptUnprotectCustom(text.c_str())); }

std::string Printable(size_t length, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(length, ' ');
  for (char& c : s) c = static_cast<char>(0x21 + rng() % 94);
  return s;
}

// Profiles written by any build open: the profile form is the platform's seal
// under the identity entropy, in flat Base64, and no other entropy opens it.
TEST(ProfileProtect, IsThePlatformSealUnderTheIdentityEntropy) {
  EXPECT_EQ(BuildIdentityEntropy(nullptr), 87u);
  for (const char* entropy : {kIdentityEntropy, "00000000000000000000000000000000"}) {
    Blob sealed;
    ASSERT_TRUE(platform::g_data_protection->protect(reinterpret_cast<const uint8_t*>("secret"), 6,
                                                     reinterpret_cast<const uint8_t*>(entropy), 32,
                                                     &sealed));
    char* encoded = nullptr;
    ASSERT_TRUE(Base64EncodeFlatText(sealed.data, sealed.size, &encoded));
    platform::g_data_protection->free_blob(&sealed);
    EXPECT_EQ(OpenProfile(Take(encoded)), entropy == kIdentityEntropy ? "secret" : "<null>");
  }
}

// "*" and the character after it stand for a line break, which the profile
// opener skips; a damaged or cut text, or the other form, does not open.
TEST(Protect, OpensOnlyIntactTextsOfItsOwnForm) {
  const std::string profile = Take(EncryptProfileIdentityData("correct horse"));
  const std::string custom = Take(CryptProtectCustom("correct horse"));
  EXPECT_EQ(OpenProfile(profile.substr(0, 8) + "*n" + profile.substr(8)), "correct horse");
  for (const std::string* text : {&profile, &custom}) {
    std::string damaged = *text;
    damaged[10] = damaged[10] == 'A' ? 'B' : 'A';
    // The last: symbols no longer a multiple of four.
    for (const std::string& bad : {damaged, text->substr(0, text->size() / 2), text->substr(1)}) {
      EXPECT_EQ(OpenProfile(bad) + OpenCustom(bad), "<null><null>") << bad;
    }
  }
  EXPECT_EQ(OpenProfile("!!!!"), "<null>");
  EXPECT_EQ(OpenProfile(custom) + OpenCustom(profile), "<null><null>");
  for (const char* bad : {"", "\n\n"}) EXPECT_EQ(OpenCustom(bad), "<null>");
  EXPECT_EQ(DecryptProfileIdentityData(nullptr), nullptr);
  EXPECT_EQ(CryptUnprotectCustom(nullptr), nullptr);
  EXPECT_EQ(CryptProtectCustom(nullptr), nullptr);
  EXPECT_EQ(CryptProtectCustom(""), nullptr);
}

// The profile form holds at most 100 bytes, as one line of flat Base64; the
// stored form any text, in lines of at most 72 characters each ended by LF,
// which the opener skips (so a text without them opens too).
TEST(Protect, BothFormsRoundTrip) {
  for (size_t n : {1, 2, 3, 4, 54, 55, 99, 100, 255, 1000}) {
    SCOPED_TRACE(n);
    std::string plain = Printable(n, static_cast<unsigned>(n));
    if (n <= 100) {
      std::string sealed = Take(EncryptProfileIdentityData(plain.c_str()));
      EXPECT_EQ(sealed.find_first_not_of(kFlatBase64), std::string::npos) << sealed;
      EXPECT_EQ(OpenProfile(sealed), plain);
    }
    std::string text = Take(CryptProtectCustom(plain.c_str()));
    EXPECT_EQ(text.back(), '\n');
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
      EXPECT_LE(end - at, 72u);
    }
    EXPECT_EQ(OpenCustom(text), plain);
    std::erase(text, '\n');
    EXPECT_EQ(OpenCustom(text), plain);
  }
  EXPECT_EQ(EncryptProfileIdentityData(Printable(101, 1).c_str()), nullptr);
  EXPECT_EQ(EncryptProfileIdentityData(nullptr), nullptr);
}

// The opener reads at most 4096 characters, so this text is opened through
// the platform directly.
TEST(CustomProtect, SealsAtMostTheFirst4096Bytes) {
  const std::string plain = Printable(5000, 3);
  const std::string sealed = Take(CryptProtectCustom(plain.c_str()));
  uint64_t size = 0;
  MallocPtr<uint8_t> blob(Base64DecodeWrapped(sealed.c_str(), sealed.size(), &size));
  ASSERT_NE(blob, nullptr);
  Blob opened;
  ASSERT_TRUE(platform::g_data_protection->unprotect(blob.get(), static_cast<uint32_t>(size),
                                                      nullptr, 0, false, &opened));
  EXPECT_EQ(Take(platform::TakeOpenedText(&opened)), plain.substr(0, 4096));
}

TEST(Protect, PlatformRefusalGivesNull) {
  const std::string custom = Take(CryptProtectCustom("abc"));
  const std::string profile = Take(EncryptProfileIdentityData("abc"));
  ASSERT_EQ(OpenCustom(custom) + OpenProfile(profile), "abcabc");
  const platform::DataProtectionApi refusing{
      [](const uint8_t*, uint32_t, const uint8_t*, uint32_t, Blob*) { return false; },
      [](const uint8_t*, uint32_t, const uint8_t*, uint32_t, bool, Blob*) { return false; },
      platform::g_data_protection.platform().free_blob};
  ScopedSeamOverride<platform::DataProtectionApi> use(platform::g_data_protection, &refusing);
  EXPECT_EQ(CryptProtectCustom("abc"), nullptr);
  EXPECT_EQ(EncryptProfileIdentityData("abc"), nullptr);
  EXPECT_EQ(OpenCustom(custom), "<null>");
  EXPECT_EQ(OpenProfile(profile), "<null>");
}

// The stored-form seal names the user only in its trace line: the password
// database is read while an observer watches the sink, and never otherwise.
int g_name_lookups = 0;
std::string g_traced_user;

bool CountedUserName(char* buffer, uint32_t* size) {
  ++g_name_lookups;
  std::snprintf(buffer, *size, "%s", "alice");
  *size = 6;
  return true;
}

void WatchUserLine(uint32_t, const char* format, va_list args) {
  if (std::strstr(format, "CryptProtectCustom username") == nullptr) return;
  char line[256];
  std::vsnprintf(line, sizeof line, format, args);
  g_traced_user = line;
}

TEST(CustomProtect, LooksUpTheUserNameOnlyForAWatchedTrace) {
  const platform::UserNameApi counted = {CountedUserName};
  ScopedSeamOverride<platform::UserNameApi> names(platform::g_user_name, &counted);
  for (bool watched : {false, true}) {
    SCOPED_TRACE(watched);
    g_name_lookups = 0;
    g_traced_user.clear();
    const TraceSinkApi sink = {watched ? WatchUserLine : nullptr};
    std::string sealed;
    {
      ScopedSeamOverride<TraceSinkApi> watch(g_trace_sink, &sink);
      sealed = Take(CryptProtectCustom("secret"));
    }
    EXPECT_EQ(OpenCustom(sealed), "secret");
    EXPECT_EQ(g_name_lookups, watched ? 1 : 0);
    EXPECT_EQ(g_traced_user, watched ? ">> CryptProtectCustom : CryptProtectCustom username: alice"
                                     : "");
  }
}

}  // namespace
}  // namespace velto
