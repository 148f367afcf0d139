#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ui/identity_tokens.h"

namespace velto {
namespace {

std::string Normalised(const std::string& in, uint32_t kind) {
  char buffer[kIdentityTemplateSize + 1];
  std::memset(buffer, 'x', sizeof buffer);  // the byte after the buffer is a sentinel
  std::memset(buffer, 0, kIdentityTemplateSize);
  std::memcpy(buffer, in.data(), std::min(in.size(), kIdentityTemplateSize));
  ReplaceIdentityTokens(buffer, kind);
  EXPECT_EQ(buffer[kIdentityTemplateSize], 'x') << "wrote past the template buffer";
  return std::string(buffer, strnlen(buffer, kIdentityTemplateSize));
}

// The expanded identity, and the raw 128 bytes behind it.
std::string Expanded(const char* imsi, const std::string& normalised, std::string* raw = nullptr) {
  char output[kIdentityOutputSize + 1];
  std::memset(output, 0, kIdentityOutputSize);
  output[kIdentityOutputSize] = 'x';
  EXPECT_EQ(ExpandIdentityTokens(imsi, normalised.c_str(), output), 1);
  EXPECT_EQ(output[kIdentityOutputSize], 'x') << "wrote past the identity field";
  if (raw != nullptr) raw->assign(output, kIdentityOutputSize);
  return std::string(output, strnlen(output, kIdentityOutputSize));
}

TEST(IdentityTokens, NormalisesTemplates) {
  struct Case {
    const char* in;
    uint32_t kind;
    const char* out;
  } cases[] = {
      {"", 8, "0$imsi$"},
      {"", 6, "1$imsi$"},
      {"", 0, "1$imsi$"},
      {"1{imsi}@realm", 6, "1$imsi$@realm"},
      {"{mcc}{mnc}", 8, "$mcc$$mnc$"},
      {"a{b}c}{", 6, "a$b$c$$"},  // unpaired braces too
      {"no tokens", 6, "no tokens"},
  };
  for (const Case& c : cases) EXPECT_EQ(Normalised(c.in, c.kind), c.out) << c.in;

  std::string long_template(60, 'a');  // fills the buffer without a terminator
  EXPECT_EQ(Normalised(long_template, 6), std::string(59, 'a'));
  ReplaceIdentityTokens(nullptr, 6);
}

TEST(IdentityTokens, ExpandsWithAnImsi) {
  const char* imsi = "001010123456789";
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"1$imsi$", "1001010123456789"},
      {"x$mcc$$mnc$", "x001010"},
      {"$imsi$@wlan.mnc$mnc$.mcc$mcc$.3gppnetwork.org",
       "001010123456789@wlan.mnc010.mcc001.3gppnetwork.org"},
      {"$IMSI$", "$IMSI$"},  // tokens are case-sensitive
      {"$imsi", "$imsi"},
      {"plain@realm", "plain@realm"},
  };
  for (const Case& c : cases) EXPECT_EQ(Expanded(imsi, c.in), c.out) << c.in;
  EXPECT_EQ(Expanded(imsi, Normalised("{mcc}{mnc}", 6)), Expanded(imsi, "$mcc$$mnc$"));
}

TEST(IdentityTokens, ShortImsiLeavesTheNetworkCodeShort) {
  std::string raw;
  // "$mnc$" always takes three places: with two digits the third stays zero
  // and ends the identity, and what follows lands behind it.
  EXPECT_EQ(Expanded("00101", "a$mnc$b", &raw), "a01");
  EXPECT_EQ(raw.substr(0, 6), std::string("a01\0b\0", 6));
  EXPECT_EQ(Expanded("12", "$mcc$", &raw), "12");
}

TEST(IdentityTokens, TokensThatDoNotFitStayLiteral) {
  const std::string imsi(60, '9');
  // Two IMSIs fit in 127 characters (120), a third does not: it is copied
  // literally as far as room remains.
  std::string out = Expanded(imsi.c_str(), "$imsi$$imsi$$imsi$");
  EXPECT_EQ(out, imsi + imsi + "$imsi$");
  // A shorter token after one that did not fit is still expanded.
  const std::string imsi50(50, '9');
  out = Expanded(imsi50.c_str(), "$imsi$$imsi$$imsi$$mcc$");
  EXPECT_EQ(out, imsi50 + imsi50 + "$imsi$" + "999");
  // The identity is cut at 127 characters.
  std::string literal(200, 'L');
  EXPECT_EQ(Expanded(imsi.c_str(), literal), std::string(127, 'L'));
  // "$mcc$" needs three places below 127; at 125 it is copied literally.
  EXPECT_EQ(Expanded("001", std::string(125, 'a') + "$mcc$"), std::string(125, 'a') + "$m");
  EXPECT_EQ(Expanded("001", std::string(124, 'a') + "$mcc$"), std::string(124, 'a') + "001");
}

TEST(IdentityTokens, EmptyTemplateOrMissingTextKeepsTheOutput) {
  char output[kIdentityOutputSize] = "previous";
  EXPECT_EQ(ExpandIdentityTokens("001", "", output), 1);
  EXPECT_STREQ(output, "previous");
  EXPECT_EQ(ExpandIdentityTokens(nullptr, "$imsi$", output), 1);
  EXPECT_EQ(ExpandIdentityTokens("001", nullptr, output), 1);
  EXPECT_EQ(ExpandIdentityTokens("001", "$imsi$", nullptr), 1);
  EXPECT_STREQ(output, "previous");
}

}  // namespace
}  // namespace velto
