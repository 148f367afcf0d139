// What eapcfg needs of the platform beyond the module: files replaced whole,
// and the reasons behind failures it can only see from outside.
#pragma once

#include <string>

namespace velto::tools {

// Before anything else: a write beyond the file size limit fails as an error
// instead of ending the process.
void InitTool();

// Writes `data` to a new file in the folder of `path`, flushes it to the disk
// and renames it over `path`, so `path` holds either its old content or the
// new one whole. The file is readable by its owner alone. False with the
// reason when it could not; `path` is then untouched.
bool ReplaceFileWhole(const std::string& path, const void* data, size_t size, std::string* error);

// Why sealing with the platform's data protection failed, as far as the key
// or the platform tells.
std::string SealingFailureReason();

// Why a dialog could not open, when it is the platform's doing (no display);
// empty when nothing is known.
std::string DialogUnavailableReason();

}  // namespace velto::tools
