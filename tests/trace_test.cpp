#include "trace/trace.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/test_env.h"
#include "trace/module_info.h"

namespace velto {
namespace {

// Only the exact value "0" turns tracing off; the variable is named after the
// module's upper-case base name without its extension.
TEST(TraceSettings, SwitchFollowsTheModulesVariable) {
  EXPECT_FALSE(TraceSwitchFromValue("0"));
  for (const char* value : {static_cast<const char*>(nullptr), "", "1", "00", " 0", "0 ", "off"})
    EXPECT_TRUE(TraceSwitchFromValue(value)) << (value ? value : "(absent)");
  // Into a buffer one short of the name and its terminator, cut and terminated.
  char base[64] = {}, cut[64];
  ASSERT_TRUE(platform::OwnModuleBaseName(base, sizeof base));
  const size_t length = std::strlen(base);
  ASSERT_TRUE(platform::OwnModuleBaseName(cut, length));
  EXPECT_EQ(std::string(cut), std::string(base, length - 1));
  std::string name = std::string(base).substr(0, 15);
  if (auto dot = name.rfind('.'); dot != std::string::npos) name.resize(dot);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_FALSE(name.empty());
  TraceSettings s;
  FillTraceSettings(&s);
  EXPECT_EQ(std::string(s.module_name), name);
  // A value too long for the 256-byte buffer cannot be "0": the switch is on.
  const std::string zeros(300, '0');
  for (const char* value : {"0", zeros.c_str(), "1", static_cast<const char*>(nullptr)}) {
    test::ScopedEnvVar set(("FERNO_TRACE_" + name).c_str(), value);
    FillTraceSettings(&s);
    EXPECT_EQ(s.enabled, value == nullptr || std::strcmp(value, "0") != 0) << (value ? std::strlen(value) : 0);
  }
}

// Entry and exit are traced, also when an exception leaves the scope; the
// platform's own sink writes nothing (the lines name identities and entropy).
TEST(Trace, ScopesTraceEntryAndExitAndThePlatformSinkWritesNothing) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  Trace(">> %s : identity: [%s]", "EapPeerInvokeIdentityUI", "user@example.net");
  Trace(53, "-->> %s()", "SCSIMCardCB");
  std::fflush(stdout), std::fflush(stderr);
  EXPECT_EQ(testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr(), "");

  static std::vector<std::string> seen;
  const TraceSinkApi record = {[](uint32_t code, const char* format, va_list args) {
    char text[256];
    std::vsnprintf(text, sizeof text, format, args);
    seen.push_back(std::to_string(code) + " " + text);
  }};
  ScopedSeamOverride<TraceSinkApi> sink(g_trace_sink, &record);
  { CScopedFernoFuncTrace trace("ScSimCardInit", 42); }
  try {
    CScopedFernoFuncTrace trace("SCInitThread", 7);
    throw std::runtime_error("boom");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"53 -->> ScSimCardInit()", "53 <<-- ScSimCardInit()",
                                            "53 -->> SCInitThread()", "53 <<-- SCInitThread()"}));
}

}  // namespace
}  // namespace velto
