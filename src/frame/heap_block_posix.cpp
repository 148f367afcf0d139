#include <malloc.h>

#include "frame/heap_block.h"

namespace velto::platform {

size_t HeapBlockSize(void* block) { return malloc_usable_size(block); }

}  // namespace velto::platform
