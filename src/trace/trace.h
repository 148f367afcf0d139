// The trace facility. Every trace point of the module calls Trace with a
// printf-style format; this build's sink discards the message. The formats
// are checked by the compiler all the same, so a later writing sink cannot be
// handed mismatched arguments.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "base/seam.h"

#if defined(__GNUC__)
#define VELTO_PRINTF(fmt_index, first_arg) \
  __attribute__((format(printf, fmt_index, first_arg)))
#else
#define VELTO_PRINTF(fmt_index, first_arg)
#endif

namespace velto {

// The trace code of the scoped function trace.
inline constexpr uint32_t kFuncTraceCode = 53;

// The sink, plain shape: evaluates its arguments and returns.
void Trace(const char* format, ...) VELTO_PRINTF(1, 2);
// The sink, coded shape: a trace code first.
void Trace(uint32_t code, const char* format, ...) VELTO_PRINTF(2, 3);

// Per source unit: the module's own file name and the trace switch, filled
// during static initialisation.
struct TraceSettings {
  char module_name[16];  // base name, cut at its last '.', upper case
  bool enabled;          // the FERNO_TRACE_<MODULE> switch
};

// Fills `settings`: module name from this module's own file, switch from the
// environment variable "FERNO_TRACE_" + module name.
void FillTraceSettings(TraceSettings* settings);

// The switch for a value of the variable: on when absent (null) or empty;
// otherwise on unless the value is exactly "0".
bool TraceSwitchFromValue(const char* value);

// Traces the entry and exit of the scope that holds it.
class CScopedFernoFuncTrace {
 public:
  CScopedFernoFuncTrace(const char* function, int line);
  virtual ~CScopedFernoFuncTrace();
  CScopedFernoFuncTrace(const CScopedFernoFuncTrace&) = delete;
  CScopedFernoFuncTrace& operator=(const CScopedFernoFuncTrace&) = delete;

  const char* function() const { return function_ != nullptr ? function_ : ""; }
  const char* unit() const { return unit_ != nullptr ? unit_ : ""; }
  int line() const { return line_; }
  uint32_t code() const { return code_; }

 private:
  uint32_t code_;
  char* function_;
  char* unit_;
  int line_;
};

// Where trace messages go: each call's code (0 for the plain shape), format
// and arguments. This build's table has no writer, so no message leaves the
// process (trace points print identities, password fields and the protection
// entropy); a table put in through the seam sees every message.
struct TraceSinkApi {
  void (*write)(uint32_t code, const char* format, va_list args);
};
extern Seam<TraceSinkApi> g_trace_sink;

// Whether the sink has a writer. Trace points whose arguments cost a platform
// call to gather may skip it when nothing would see them.
bool TraceWatched();

}  // namespace velto

// One TraceSettings record for the source unit that writes this macro.
#define VELTO_DECLARE_TRACE_SETTINGS()                          \
  namespace {                                                   \
  ::velto::TraceSettings g_trace_settings = [] {                \
    ::velto::TraceSettings s{};                                 \
    ::velto::FillTraceSettings(&s);                             \
    return s;                                                   \
  }();                                                          \
  }
