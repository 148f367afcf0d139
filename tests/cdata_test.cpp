// The text fields of the stored records and the default record.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "abi/eap_abi.h"
#include "base/text.h"
#include "frame/cdata.h"
#include "frame/user_name.h"

namespace velto {
namespace {

// Each write into an 8-byte field that held "########": what the field holds
// after it, and the byte behind the field untouched.
TEST(TextField, WritesStayInTheFieldAndHexDigitsAreRead) {
  using F = char[8];
  const std::pair<void (*)(F&), std::string_view> cases[] = {
      {[](F& f) { CopyTextField(f, "ab"); }, {"ab\0#####", 8}},
      {[](F& f) { CopyTextField(f, "abcdefg"); }, {"abcdefg\0", 8}},
      {[](F& f) { CopyTextField(f, "abcdefgh"); }, {"abcdefg\0", 8}},
      {[](F& f) { CopyTextField(f, nullptr); }, {"\0#######", 8}},
      {[](F& f) { CopyTextField(f, 0, "ab"); }, "########"},
      {[](F& f) { CopyTextField(f, 1, "ab"); }, {"\0#######", 8}},
      {[](F& f) { CopyTextField(f, std::string_view("a\0b", 3)); }, {"a\0b\0####", 8}},
      {[](F& f) { CopyTextField(f, std::string_view("abcdefghij")); }, {"abcdefg\0", 8}},
      {[](F& f) { CopyTextField(f, 8, nullptr, 5); }, {"\0#######", 8}},
      {[](F& f) { ReplaceTextField(f, "ab"); }, {"ab\0\0\0\0\0\0", 8}},
      {[](F& f) { ReplaceTextField(f, {}); }, {"\0\0\0\0\0\0\0\0", 8}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    struct { char field[8], after; } b;
    std::memset(&b, '#', sizeof b);
    cases[i].first(b.field);
    EXPECT_EQ(std::string_view(b.field, 8), cases[i].second) << "case " << i;
    EXPECT_EQ(b.after, '#') << "case " << i << " wrote past the field";
  }
  const std::string digits = "0123456789abcdef", upper = "0123456789ABCDEF";
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(HexValue(digits[i]) == i && HexValue(upper[i]) == i) << i;
  for (char c : std::string("/:@G`g\xC2")) EXPECT_EQ(HexValue(c), -1) << c;
}

// TTLS prompts for MSCHAPV2 credentials under the current user as the outer identity; SIM
// and AKA carry only their type; other types have no record. Every other byte is zero.
TEST(DefaultRecord, ByType) {
  char user[261] = {};
  uint32_t size = sizeof user;
  ASSERT_TRUE(platform::CurrentUserName(user, &size));
  for (int type : {int{kEapTypeTtls}, int{kEapTypeSim}, int{kEapTypeAka}, 0, 1, 13, 25, 254, 255}) {
    const bool made = type == kEapTypeTtls || type == kEapTypeSim || type == kEapTypeAka;
    cdata expected{}, r;
    if (made) expected.eap_type = static_cast<uint32_t>(type);
    if (type == kEapTypeTtls) {
      expected.phase2_type = 16, expected.cred_source = 1;
      CopyTextField(expected.anon_identity, user);
    }
    std::memset(&r, 0xAB, sizeof r);
    EXPECT_EQ(MakeDefaultRecord(static_cast<uint8_t>(type), &r), made) << type;
    EXPECT_EQ(std::memcmp(&r, &expected, sizeof r), 0) << type;
  }
}

// A platform whose user-name call fails: the outer identity is empty.
TEST(DefaultRecord, TtlsOuterIdentityWhenTheUserNameIsUnusual) {
  const platform::UserNameApi failing{[](char* buffer, uint32_t*) { return buffer[0] = 'x', false; }};
  ScopedSeamOverride<platform::UserNameApi> use(platform::g_user_name, &failing);
  cdata r;
  ASSERT_TRUE(MakeDefaultRecord(kEapTypeTtls, &r));
  EXPECT_STREQ(r.anon_identity, "");
}

}  // namespace
}  // namespace velto
