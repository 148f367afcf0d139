// Entry points answer with a code or a null, never with an exception: a
// body that builds strings or containers runs inside NoThrow.
#pragma once

#include <new>

namespace velto {

// Runs `body` and gives back its result, or `failed` when it runs out of
// memory (std::bad_alloc). Any other exception passes through.
template <typename T, typename F>
T NoThrow(T failed, F&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return failed;
  }
}

}  // namespace velto
