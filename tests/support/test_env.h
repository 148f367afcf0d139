// Small platform helpers for tests that run on both targets.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace velto::test {

// Sets (value non-null) or removes an environment variable of this process as
// the module's own reads see it; ScopedEnvVar for the life of a scope.
void SetEnvVar(const char* name, const char* value);
class ScopedEnvVar {
 public:
  ScopedEnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    SetEnvVar(name, value);
  }
  ~ScopedEnvVar() { SetEnvVar(name_, old_ ? old_->c_str() : nullptr); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::string MakeTempDir();                 // a new empty folder under the temporary folder
void RemoveTree(const std::string& path);  // errors ignored

// Loads a library as the host does (a bare file name from the product folder)
// and looks an entry up by name; null when it cannot.
void* LoadModule(const char* file_name);
void* ModuleEntry(void* module, const char* name);
void UnloadModule(void* module);

// The test program's folder (bin/tests) and the product folder above it (the
// module, tools and real sibling libraries): apart, so that a search of the
// program's folder never finds those in place of the doubles.
std::string BinDir();
std::string ProductDir();
const char* PathSeparator();  // "\\" or "/"
// A COM apartment for the calling thread where the platform needs one (the
// module relies on its host for that).
void InitComForThisThread();

}  // namespace velto::test
