#include <malloc.h>

#include "frame/heap_block.h"

namespace velto::platform {

size_t HeapBlockSize(void* block) { return _msize(block); }

}  // namespace velto::platform
