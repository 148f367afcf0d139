#include "trace/trace.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "trace/module_info.h"

namespace velto {
namespace {

constexpr TraceSinkApi kDiscardingSink{nullptr};

void Emit(uint32_t code, const char* format, va_list args) {
  if (auto write = g_trace_sink->write) write(code, format, args);
}

char* CopyText(const char* text) {
  if (text == nullptr) return nullptr;
  size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(n));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

}  // namespace

Seam<TraceSinkApi> g_trace_sink(&kDiscardingSink);

void Trace(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Emit(0, format, args);
  va_end(args);
}

void Trace(uint32_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Emit(code, format, args);
  va_end(args);
}

bool TraceWatched() { return g_trace_sink->write != nullptr; }

bool TraceSwitchFromValue(const char* value) {
  if (value == nullptr || value[0] == '\0') return true;
  return std::strcmp(value, "0") != 0;
}

void FillTraceSettings(TraceSettings* settings) {
  std::memset(settings, 0, sizeof *settings);
  if (platform::OwnModuleBaseName(settings->module_name, sizeof settings->module_name)) {
    if (char* dot = std::strrchr(settings->module_name, '.')) *dot = '\0';
    for (char* p = settings->module_name; *p != '\0'; ++p) {
      *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    }
  }

  char variable[256];
  std::snprintf(variable, sizeof variable, "FERNO_TRACE_%s", settings->module_name);
  char value[256];
  size_t length = platform::ReadEnvironmentVariable(variable, value, sizeof value);
  if (length == 0) {
    settings->enabled = true;  // absent or empty
  } else if (length >= sizeof value) {
    settings->enabled = true;  // too long to be "0"
  } else {
    value[length] = '\0';
    settings->enabled = TraceSwitchFromValue(value);
  }
}

CScopedFernoFuncTrace::CScopedFernoFuncTrace(const char* function, int line)
    : code_(kFuncTraceCode),
      function_(CopyText(function)),
      unit_(CopyText("SCHandler")),
      line_(line) {
  Trace(code_, "-->> %s()", this->function());
}

CScopedFernoFuncTrace::~CScopedFernoFuncTrace() {
  Trace(code_, "<<-- %s()", function());
  std::free(function_);
  std::free(unit_);
}

}  // namespace velto
