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
  const std::pair<const char*, bool> values[] = {{nullptr, true}, {"", true},   {"0", false},
                                                 {"1", true},     {"00", true}, {" 0", true},
                                                 {"0 ", true},    {"off", true}};
  for (const auto& [value, on] : values) {
    EXPECT_EQ(TraceSwitchFromValue(value), on) << (value ? value : "(absent)");
  }
  char base[64] = {};
  ASSERT_TRUE(platform::OwnModuleBaseName(base, sizeof base));
  // A buffer one short of the name and its terminator gets it cut, terminated.
  char cut[64];
  const size_t length = std::strlen(base);
  ASSERT_TRUE(platform::OwnModuleBaseName(cut, length));
  EXPECT_EQ(std::string(cut), std::string(base, length - 1));
  std::string name = std::string(base).substr(0, 15);
  if (auto dot = name.rfind('.'); dot != std::string::npos) name.resize(dot);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  TraceSettings s;
  FillTraceSettings(&s);
  ASSERT_FALSE(name.empty());
  EXPECT_EQ(std::string(s.module_name), name);
  const std::string variable = "FERNO_TRACE_" + name;
  // A value too long for the 256-byte buffer cannot be "0": the switch is on.
  for (const std::string& value : {std::string("0"), std::string(300, '0'), std::string("1")}) {
    test::SetEnvVar(variable.c_str(), value.c_str());
    FillTraceSettings(&s);
    EXPECT_EQ(s.enabled, value != "0") << value.size();
  }
  test::SetEnvVar(variable.c_str(), nullptr);
  FillTraceSettings(&s);
  EXPECT_TRUE(s.enabled);
}

std::vector<std::string> g_seen;

void Record(uint32_t code, const char* format, va_list args) {
  char text[256];
  std::vsnprintf(text, sizeof text, format, args);
  g_seen.push_back(std::to_string(code) + " " + text);
}

// Entry and exit are traced, also when an exception leaves the scope.
TEST(ScopedFuncTrace, TracesEntryAndExit) {
  g_seen.clear();
  {
    const TraceSinkApi record = {Record};
    ScopedSeamOverride<TraceSinkApi> sink(g_trace_sink, &record);
    { CScopedFernoFuncTrace trace("ScSimCardInit", 42); }
    try {
      CScopedFernoFuncTrace trace("SCInitThread", 7);
      throw std::runtime_error("boom");
    } catch (const std::runtime_error&) {
    }
  }
  EXPECT_EQ(g_seen, (std::vector<std::string>{"53 -->> ScSimCardInit()", "53 <<-- ScSimCardInit()",
                                              "53 -->> SCInitThread()", "53 <<-- SCInitThread()"}));
}

// The trace lines name identities and entropy: the sink writes nothing.
TEST(TraceSink, WritesNothing) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  Trace(">> %s : identity: [%s]", "EapPeerInvokeIdentityUI", "user@example.net");
  Trace(53, "-->> %s()", "SCSIMCardCB");
  std::fflush(stdout);
  std::fflush(stderr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace velto
