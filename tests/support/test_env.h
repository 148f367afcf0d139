// Small platform helpers for tests that run on both targets.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace velto::test {

// Sets (value non-null) or removes an environment variable as the module's reads see it.
void SetEnvVar(const char* name, const char* value);
struct ScopedEnvVar {  // for the life of a scope
  ScopedEnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    SetEnvVar(name, value);
  }
  ~ScopedEnvVar() { SetEnvVar(name_, old_ ? old_->c_str() : nullptr); }
  const char* name_;
  std::optional<std::string> old_;
};

std::string MakeTempDir();                 // a new empty folder under the temporary folder
void RemoveTree(const std::string& path);  // errors ignored

// Loads a library as the host does (a bare name from the product folder); null on failure.
void* LoadModule(const char* file_name);
void* ModuleEntry(void* module, const char* name);
void UnloadModule(void* module);

// The test program's folder (bin/tests) and the product folder above it, apart so that a
// search of the program's folder never finds the real sibling libraries for the doubles.
std::string BinDir();
std::string ProductDir();
const char* PathSeparator();  // "\\" or "/"
// A COM apartment for the calling thread where the platform needs one (the host's part).
void InitComForThisThread();

}  // namespace velto::test
