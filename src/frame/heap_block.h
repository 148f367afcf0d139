// What the C runtime's heap knows about a block it handed out.
#pragma once

#include <cstddef>

namespace velto::platform {

// The usable size of a block from malloc (at least what was asked for).
size_t HeapBlockSize(void* block);

}  // namespace velto::platform
