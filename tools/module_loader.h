// Loads a module by file name and looks up entries by name, as EapHost does.
#pragma once

#include <string>

namespace velto::tools {

void* LoadModuleByName(const char* file_name, std::string* error);
void* FindEntry(void* module, const char* name);
void UnloadModuleHandle(void* module);

}  // namespace velto::tools
