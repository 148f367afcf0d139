// Small platform helpers for tests that run on both targets.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace velto::test {

// Sets (value non-null) or removes (value null) an environment variable of
// this process, as the module's own environment reads see it.
void SetEnvVar(const char* name, const char* value);

// Sets an environment variable for the life of a scope.
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

// A new empty directory under the system's temporary folder.
std::string MakeTempDir();

// Removes a directory tree; errors are ignored.
void RemoveTree(const std::string& path);

// Loads a library the way the host does (a bare file name is taken from the
// product folder), and looks up an entry by name. Null when it cannot.
void* LoadModule(const char* file_name);
void* ModuleEntry(void* module, const char* name);
void UnloadModule(void* module);

// The folder of the running test program: the build's bin/tests.
std::string BinDir();

// The build's bin folder, where the module, the tools and the real sibling
// libraries live. Test programs run from a folder of their own below it so
// that the platform's search of the program's folder never finds the real
// sibling libraries in place of the doubles.
std::string ProductDir();

// The directory separator of the platform ("\\" or "/").
const char* PathSeparator();

// Puts the calling thread into a COM apartment where the platform needs one
// (the module relies on its host for that); nothing elsewhere.
void InitComForThisThread();

}  // namespace velto::test
