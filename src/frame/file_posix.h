// File helpers for the POSIX build: the registry's tree of files, the
// per-user key and the tool's output files all write through these.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace velto::platform {

// Writes all `size` bytes to `fd`, going on after short writes and EINTR.
// False when write fails (errno as write left it) or makes no progress.
bool WriteAll(int fd, const void* data, size_t size);

// Reads exactly `size` bytes from `fd`, going on after short reads and EINTR.
// False when read fails (errno as read left it) or the file ends first.
bool ReadAll(int fd, void* data, size_t size);

// mkdir -p: makes `path` and every missing folder above it with `mode`
// (less the umask); folders that exist are left as they are. 0 when all are
// folders afterwards; EEXIST when something on the way exists and is no
// folder; else the errno of the mkdir or stat that failed.
int MakeDirectories(const std::string& path, mode_t mode);

}  // namespace velto::platform
