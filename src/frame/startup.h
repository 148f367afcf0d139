// What the module does when the host process loads it.
#pragma once

#include <cstddef>

namespace velto {

inline constexpr size_t kMaxPath = 260;
inline constexpr char kTamrixBinDirValue[] = "TamrixBinDir";

// The process-attach steps, in order: load cfgbridge from the common program
// files folder (skipped when the folder is unknown or the path does not fit),
// then make the registry's "TamrixBinDir" the library directory (the empty
// text when the key or value cannot be read). Never fails.
void ModuleStartup();

// Builds folder + subfolder + file name into `path`. False, with `path` left
// empty, when the result does not fit in kMaxPath bytes with its terminator.
bool BuildCfgBridgePath(const char* folder, char (&path)[kMaxPath]);

// Reads "TamrixBinDir" into `directory` (at most kMaxPath - 1 bytes, always
// terminated; the registry type is not checked). The empty text on failure.
void ReadSiblingDirectory(char (&directory)[kMaxPath]);

}  // namespace velto
