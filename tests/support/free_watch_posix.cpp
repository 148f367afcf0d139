// The process's free, realloc and operator delete, replaced: they look for the
// watched secrets before they let a block go, and zero every block they
// release, so that no stale copy left in freed memory can later show up in
// the unused tail of another block.
#include <dlfcn.h>
#include <execinfo.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "support/free_watch.h"

extern "C" {
void* __libc_malloc(size_t size);
void __libc_free(void* block);
}

namespace velto::test {
namespace {

constexpr int kMaxPatterns = 8;
constexpr size_t kMaxPattern = 120;
constexpr int kMaxFindings = 64;
constexpr int kMaxFrames = 12;

struct Pattern {
  unsigned char bytes[kMaxPattern];
  size_t length;
  int secret;
  bool wide;
};

struct Hit {
  int pattern;
  size_t block_size;
  void* caller;  // the return address of the free
  void* frames[kMaxFrames];
  int frame_count;
};

Pattern g_patterns[kMaxPatterns];
int g_pattern_count = 0;
std::string g_secrets[kMaxPatterns / 2];
const void* g_module_base = nullptr;
std::atomic<bool> g_watching{false};
Hit g_hits[kMaxFindings];
std::atomic<int> g_hit_count{0};

// Runs inside free: no allocation, no lock of the allocator's.
void Inspect(void* block, size_t size, void* caller) {
  for (int i = 0; i < g_pattern_count; ++i) {
    const Pattern& p = g_patterns[i];
    if (memmem(block, size, p.bytes, p.length) == nullptr) continue;
    int slot = g_hit_count.fetch_add(1);
    if (slot >= kMaxFindings) return;
    Hit& hit = g_hits[slot];
    hit.pattern = i;
    hit.block_size = size;
    hit.caller = caller;
    hit.frame_count = backtrace(hit.frames, kMaxFrames);
  }
}

void Release(void* block, void* caller) {
  if (block == nullptr) return;
  size_t size = malloc_usable_size(block);
  if (g_watching.load(std::memory_order_acquire)) Inspect(block, size, caller);
  std::memset(block, 0, size);
  __libc_free(block);
}

bool IsRuntime(const char* file) {
  if (file == nullptr) return false;
  const char* base = std::strrchr(file, '/');
  base = base != nullptr ? base + 1 : file;
  return std::strncmp(base, "libc.so", 7) == 0 || std::strncmp(base, "libstdc++.so", 12) == 0 ||
         std::strncmp(base, "libgcc_s.so", 11) == 0;
}

// Where the free was decided: from the free's caller on, the first frame that
// is not the C or C++ runtime. It counts as the module's when it lies in the
// module or in this program: a free the module makes as its last step (a tail
// call) leaves no frame of the module's, so it seems to come from the caller.
bool DecidedByModule(const Hit& hit, std::string* where) {
  int from = 0;
  while (from < hit.frame_count && hit.frames[from] != hit.caller) ++from;
  void* const* frames = hit.frames + from;
  int count = hit.frame_count - from;
  if (from >= hit.frame_count) {
    frames = &hit.caller;
    count = 1;
  }
  Dl_info self{};
  dladdr(reinterpret_cast<void*>(&StartFreeWatch), &self);
  for (int i = 0; i < count; ++i) {
    Dl_info info{};
    if (dladdr(frames[i], &info) == 0) return false;
    if (IsRuntime(info.dli_fname)) continue;
    if (info.dli_fbase != g_module_base && info.dli_fbase != self.dli_fbase) return false;
    char text[512];
    std::snprintf(text, sizeof text, "%s+0x%zx (%s)", info.dli_fname,
                  static_cast<size_t>(static_cast<char*>(frames[i]) -
                                      static_cast<char*>(info.dli_fbase)),
                  info.dli_sname != nullptr ? info.dli_sname : "?");
    *where = text;
    return true;
  }
  return false;
}

}  // namespace

void StartFreeWatch(const void* module_base, const std::vector<std::string>& secrets) {
  void* prime[2];
  backtrace(prime, 2);  // its first call loads the unwinder, which allocates
  g_module_base = module_base;
  g_pattern_count = 0;
  for (size_t s = 0; s < secrets.size() && s < kMaxPatterns / 2; ++s) {
    const std::string& secret = secrets[s];
    g_secrets[s] = secret;
    Pattern& narrow = g_patterns[g_pattern_count++];
    narrow = {{}, std::min(secret.size(), kMaxPattern / 2), static_cast<int>(s), false};
    std::memcpy(narrow.bytes, secret.data(), narrow.length);
    Pattern& wide = g_patterns[g_pattern_count++];
    wide = {{}, 2 * narrow.length, static_cast<int>(s), true};
    for (size_t i = 0; i < narrow.length; ++i) wide.bytes[2 * i] = narrow.bytes[i];  // UTF-16LE
  }
  g_hit_count.store(0);
  g_watching.store(true, std::memory_order_release);
}

std::vector<FreedSecret> StopFreeWatch() {
  g_watching.store(false, std::memory_order_release);
  std::vector<FreedSecret> found;
  int count = std::min(g_hit_count.load(), kMaxFindings);
  for (int i = 0; i < count; ++i) {
    const Hit& hit = g_hits[i];
    std::string where;
    if (!DecidedByModule(hit, &where)) continue;
    const Pattern& p = g_patterns[hit.pattern];
    found.push_back({g_secrets[p.secret], p.wide, hit.block_size, where});
  }
  return found;
}

}  // namespace velto::test

using velto::test::Release;

extern "C" void free(void* block) noexcept { Release(block, __builtin_return_address(0)); }

extern "C" void* realloc(void* block, size_t size) noexcept {
  if (block == nullptr) return __libc_malloc(size);
  if (size == 0) {
    Release(block, __builtin_return_address(0));
    return nullptr;
  }
  // Always moves, so the old block goes through Release like any other.
  void* moved = __libc_malloc(size);
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, block, std::min(size, malloc_usable_size(block)));
  Release(block, __builtin_return_address(0));
  return moved;
}

void operator delete(void* block) noexcept { Release(block, __builtin_return_address(0)); }
void operator delete[](void* block) noexcept { Release(block, __builtin_return_address(0)); }
void operator delete(void* block, size_t) noexcept { Release(block, __builtin_return_address(0)); }
void operator delete[](void* block, size_t) noexcept { Release(block, __builtin_return_address(0)); }
void operator delete(void* block, std::align_val_t) noexcept {
  Release(block, __builtin_return_address(0));
}
void operator delete(void* block, size_t, std::align_val_t) noexcept {
  Release(block, __builtin_return_address(0));
}
