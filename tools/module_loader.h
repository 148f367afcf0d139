// Loads a module by file name and looks up entries by name, as EapHost does.
#pragma once

#include <string>

namespace velto::tools {

void* LoadModuleByName(const char* file_name, std::string* error);
void* FindEntry(void* module, const char* name);
void UnloadModuleHandle(void* module);

// What a host does on its thread before it calls the module: COM initialised
// (apartment-threaded) on Windows, nothing on Linux.
void InitHostThread();

}  // namespace velto::tools
