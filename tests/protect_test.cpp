// The two sealed forms of a password: the profile form (flat Base64, sealed
// with the identity entropy) and the stored form (wrapped Base64, no entropy).
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "base/memory.h"
#include "frame/user_name.h"
#include "protect/base64.h"
#include "protect/custom_protect.h"
#include "protect/data_protection.h"
#include "protect/profile_protect.h"
#include "trace/trace.h"

namespace velto {
namespace {

constexpr char kIdentityEntropy[] = "5E1BC7429A03D86F21B47CE930854DF6";

// Takes over a result, wiped as the module's callers do; "<null>" for null.
std::string Take(char* text) {
  std::string s = text != nullptr ? text : "<null>";
  WipeAndFreeText(text);
  return s;
}
// The profile opener rewrites its argument: it gets a copy.
std::string OpenProfile(std::string text) { return Take(DecryptProfileIdentityData(text.data())); }
std::string OpenCustom(const std::string& text) { return Take(CryptUnprotectCustom(text.c_str())); }
// The platform's own seal under `entropy` (32 bytes), in flat Base64.
std::string PlatformSeal(const std::string& plain, const char* entropy) {
  platform::ProtectedBlob sealed;
  char* encoded = nullptr;
  EXPECT_TRUE(platform::g_data_protection->protect(
                  reinterpret_cast<const uint8_t*>(plain.data()), static_cast<uint32_t>(plain.size()),
                  reinterpret_cast<const uint8_t*>(entropy), 32, &sealed) &&
              Base64EncodeFlatText(sealed.data, sealed.size, &encoded));
  platform::g_data_protection->free_blob(&sealed);
  return Take(encoded);
}

// Each length seals in each form it fits: the profile form (at most 100 bytes) is the
// platform's seal under the identity entropy in flat Base64, so profiles written by any
// build open; the stored form is in LF-ended lines of at most 72 characters, which its
// opener skips. A text opens only in its own form, intact ("*" and the character after
// it are a line break to the profile opener): changed, cut or shifted, nowhere.
TEST(Protect, EachFormOpensOnlyItsOwnIntactTexts) {
  for (size_t n : {1, 2, 3, 4, 54, 55, 99, 100, 101, 255, 1000}) {
    const std::string plain(n, static_cast<char>('!' + n % 94));
    const std::string custom = Take(CryptProtectCustom(plain.c_str()));
    const std::string profile = Take(EncryptProfileIdentityData(plain.c_str()));
    EXPECT_EQ(std::regex_match(profile, std::regex("[A-Za-z0-9+/=]+")), n <= 100) << profile;
    EXPECT_TRUE(std::regex_match(custom, std::regex("([A-Za-z0-9+/=]{1,72}\n)+"))) << custom;
    std::string unwrapped = custom;
    std::erase(unwrapped, '\n');
    // The text; then what the profile opener and the stored-form opener give.
    std::vector<std::vector<std::string>> rows = {{custom, "<null>", plain},
                                                  {unwrapped, "<null>", plain}};
    if (n <= 100) {
      rows.push_back({profile, plain, "<null>"});
      rows.push_back({profile.substr(0, 8) + "*n" + profile.substr(8), plain, "<null>"});
      rows.push_back({PlatformSeal(plain, kIdentityEntropy), plain, "<null>"});
      rows.push_back({PlatformSeal(plain, "00000000000000000000000000000000"), "<null>", "<null>"});
    }
    for (const std::string& text : n <= 100 ? std::vector{custom, profile} : std::vector{custom}) {
      std::string damaged = text;
      damaged[5] = damaged[5] == 'A' ? 'B' : 'A';
      for (const std::string& bad : {damaged, text.substr(0, text.size() / 2), text.substr(1)}) {
        rows.push_back({bad, "<null>", "<null>"});
      }
    }
    for (const std::vector<std::string>& row : rows) {
      EXPECT_EQ(OpenProfile(row[0]) + " | " + OpenCustom(row[0]), row[1] + " | " + row[2]) << n;
    }
  }
  for (const char* bad : {"", "\n\n", "!!!!"}) EXPECT_EQ(OpenProfile(bad) + OpenCustom(bad), "<null><null>");
  EXPECT_TRUE(!DecryptProfileIdentityData(nullptr) && !CryptUnprotectCustom(nullptr) &&
              !CryptProtectCustom(nullptr) && !CryptProtectCustom("") &&
              !EncryptProfileIdentityData(nullptr) && BuildIdentityEntropy(nullptr) == 87);
  // The stored form seals the first 4096 bytes; its opener reads no more than
  // 4096 characters, so the platform opens this one.
  const std::string plain = std::string(4096, 'a') + "b", sealed = Take(CryptProtectCustom(plain.c_str()));
  uint64_t size = 0;
  MallocPtr<uint8_t> blob(Base64DecodeWrapped(sealed.c_str(), sealed.size(), &size));
  platform::ProtectedBlob opened;
  ASSERT_TRUE(blob && platform::g_data_protection->unprotect(
                          blob.get(), static_cast<uint32_t>(size), nullptr, 0, false, &opened));
  EXPECT_EQ(Take(platform::TakeOpenedText(&opened)), plain.substr(0, 4096));
}

// The stored-form seal names the user only in its trace line: the password
// database is read while an observer watches the sink, and never otherwise.
std::string g_seen;  // each name looked up, then each trace line naming the user
TEST(CustomProtect, LooksUpTheUserNameOnlyForAWatchedTrace) {
  const platform::UserNameApi counted = {[](char* buffer, uint32_t* size) {
    g_seen += "lookup; ";
    *size = static_cast<uint32_t>(std::snprintf(buffer, *size, "alice") + 1);
    return true;
  }};
  ScopedSeamOverride<platform::UserNameApi> names(platform::g_user_name, &counted);
  for (bool watched : {false, true}) {
    g_seen.clear();
    const TraceSinkApi sink = {!watched ? nullptr : +[](uint32_t, const char* format, va_list args) {
      char line[256];
      std::vsnprintf(line, sizeof line, format, args);
      if (std::string(line).find("username") != std::string::npos) g_seen += line;
    }};
    ScopedSeamOverride<TraceSinkApi> watch(g_trace_sink, &sink);
    Take(CryptProtectCustom("secret"));
    EXPECT_EQ(g_seen, watched ? "lookup; >> CryptProtectCustom : CryptProtectCustom username: alice"
                              : "");
  }
}

}  // namespace
}  // namespace velto
