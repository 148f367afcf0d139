#include "ui/identity_tokens.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include "support/vectors.h"

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

// The cases of tests/vectors/identity_tokens.cases.
TEST(IdentityTokens, Vectors) {
  for (const test::Case& c : test::ReadCases("identity_tokens.cases")) {
    SCOPED_TRACE("identity_tokens.cases:" + c.at("line"));
    if (c.count("template")) {
      EXPECT_EQ(Normalised(c.at("template"), std::stoul(c.at("kind"))), c.at("normalised"));
      continue;
    }
    char output[kIdentityOutputSize + 1] = {};
    output[kIdentityOutputSize] = 'x';
    EXPECT_EQ(ExpandIdentityTokens(c.at("imsi").c_str(), c.at("expand").c_str(), output), 1);
    EXPECT_EQ(output[kIdentityOutputSize], 'x') << "wrote past the identity field";
    EXPECT_EQ(std::string(output, strnlen(output, kIdentityOutputSize)), c.at("identity"));
    const std::string raw = test::Get(c, "raw");
    EXPECT_EQ(std::string(output, raw.size()), raw);
  }
  // A template that fills its buffer has no terminator.
  EXPECT_EQ(Normalised(std::string(60, 'a'), 6), std::string(59, 'a'));
  ReplaceIdentityTokens(nullptr, 6);
  // An empty template or a missing text keeps the output.
  char output[kIdentityOutputSize] = "previous";
  EXPECT_EQ(ExpandIdentityTokens("001", "", output) + ExpandIdentityTokens(nullptr, "$imsi$", output) +
                ExpandIdentityTokens("001", nullptr, output), 3);
  EXPECT_EQ(ExpandIdentityTokens("001", "$imsi$", nullptr), 1);
  EXPECT_STREQ(output, "previous");
}

}  // namespace
}  // namespace velto
