// What the trace settings need from the platform: this module's own file name
// and the process environment.
#pragma once

#include <cstddef>

namespace velto::platform {

// The base file name of the module (DLL, shared library or program) whose
// image holds this code, cut to capacity - 1 bytes. False on failure.
bool OwnModuleBaseName(char* buffer, size_t capacity);

// Reads an environment variable into `buffer`. Returns the value's length, 0
// when it is absent or empty, or a number >= capacity when it does not fit
// (the buffer's content is then undefined), as GetEnvironmentVariableA does.
size_t ReadEnvironmentVariable(const char* name, char* buffer, size_t capacity);

}  // namespace velto::platform
