#include <gtest/gtest.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/test_env.h"
#include "trace/module_info.h"
#include "trace/trace.h"

namespace velto {
namespace {

TEST(TraceSwitch, ValuesOfTheVariable) {
  struct Case {
    const char* value;
    bool on;
  } cases[] = {{nullptr, true}, {"", true},   {"0", false}, {"1", true},
               {"00", true},    {" 0", true}, {"0 ", true}, {"off", true}};
  for (const Case& c : cases) {
    EXPECT_EQ(TraceSwitchFromValue(c.value), c.on) << (c.value ? c.value : "(absent)");
  }
}

TEST(TraceSettings, ModuleNameIsTheUpperCaseBaseName) {
  char base[64] = {};
  ASSERT_TRUE(platform::OwnModuleBaseName(base, sizeof base));
  std::string expected = base;
  expected = expected.substr(0, 15);
  if (auto dot = expected.rfind('.'); dot != std::string::npos) expected.resize(dot);
  for (char& c : expected) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

  TraceSettings s;
  FillTraceSettings(&s);
  EXPECT_EQ(std::string(s.module_name), expected);
  EXPECT_FALSE(expected.empty());
}

TEST(TraceSettings, SwitchFollowsTheEnvironment) {
  TraceSettings s;
  FillTraceSettings(&s);
  std::string variable = std::string("FERNO_TRACE_") + s.module_name;

  struct Case {
    const char* value;
    bool on;
  } cases[] = {{nullptr, true}, {"0", false}, {"1", true}, {"00", true}};
  for (const Case& c : cases) {
    test::SetEnvVar(variable.c_str(), c.value);
    FillTraceSettings(&s);
    EXPECT_EQ(s.enabled, c.on) << (c.value ? c.value : "(absent)");
  }
  // A value too long for the 256-byte buffer cannot be "0": the switch is on.
  std::string longer(300, '0');
  test::SetEnvVar(variable.c_str(), longer.c_str());
  FillTraceSettings(&s);
  EXPECT_TRUE(s.enabled);
  test::SetEnvVar(variable.c_str(), nullptr);
}

std::vector<std::string>* g_seen = nullptr;

void Record(uint32_t code, const char* format, va_list args) {
  char text[256];
  std::vsnprintf(text, sizeof text, format, args);
  g_seen->push_back(std::to_string(code) + " " + text);
}

class ScopedObserver {
 public:
  explicit ScopedObserver(std::vector<std::string>* seen) {
    g_seen = seen;
    SetTraceObserverForTesting(Record);
  }
  ~ScopedObserver() {
    SetTraceObserverForTesting(nullptr);
    g_seen = nullptr;
  }
};

TEST(ScopedFuncTrace, TracesEntryAndExit) {
  std::vector<std::string> seen;
  {
    ScopedObserver observe(&seen);
    CScopedFernoFuncTrace trace("ScSimCardInit", 42);
    EXPECT_EQ(trace.code(), 53u);
    EXPECT_STREQ(trace.function(), "ScSimCardInit");
    EXPECT_STREQ(trace.unit(), "SCHandler");
    EXPECT_EQ(trace.line(), 42);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"53 -->> ScSimCardInit()", "53 <<-- ScSimCardInit()"}));
}

TEST(ScopedFuncTrace, ExitIsTracedWhenAnExceptionLeavesTheScope) {
  std::vector<std::string> seen;
  ScopedObserver observe(&seen);
  try {
    CScopedFernoFuncTrace trace("SCInitThread", 7);
    throw std::runtime_error("boom");
  } catch (const std::runtime_error&) {
  }
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1], "53 <<-- SCInitThread()");
}

TEST(TraceSink, WritesNothing) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  Trace(">> %s : identity: [%s]", "EapPeerInvokeIdentityUI", "user@example.net");
  Trace(">> %s Entropy:%s", "DecryptProfileIdentityData", "00112233445566778899AABBCCDDEEFF");
  Trace(53, "-->> %s()", "SCSIMCardCB");
  Trace("pin: [%s] %d %u %p", "1234", -1, 7u, static_cast<void*>(nullptr));
  std::fflush(stdout);
  std::fflush(stderr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace velto
