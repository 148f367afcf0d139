#include "trace/trace.h"

#include <gtest/gtest.h>
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

// Only the exact value "0" turns tracing off (one too long for the 256-byte buffer cannot
// be it); the variable is named after the module's upper-case base name without extension.
TEST(TraceSettings, SwitchFollowsTheModulesVariable) {
  TraceSettings s;
  FillTraceSettings(&s);
  ASSERT_STREQ(s.module_name, "UNIT_TESTS");
  const std::string zeros(300, '0');
  for (const char* value : {"0", "", "1", "00", " 0", "0 ", "off", zeros.c_str(), static_cast<const char*>(nullptr)}) {
    test::ScopedEnvVar set("FERNO_TRACE_UNIT_TESTS", value);
    FillTraceSettings(&s);
    EXPECT_EQ(s.enabled, value == nullptr || std::strcmp(value, "0") != 0) << (value ? value : "(absent)");
  }
  // Into a buffer one short of the name and its terminator, cut and terminated.
  char base[64] = {}, cut[64];
  ASSERT_TRUE(platform::OwnModuleBaseName(base, sizeof base));
  ASSERT_TRUE(platform::OwnModuleBaseName(cut, std::strlen(base)));
  EXPECT_EQ(std::string(cut), std::string(base, std::strlen(base) - 1));
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
  static char text[256];
  const TraceSinkApi record = {[](uint32_t code, const char* format, va_list args) {
    seen.push_back(std::to_string(code) + " " + (std::vsnprintf(text, sizeof text, format, args), text));
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
