#include "protect/data_protection.h"

#include <cstdlib>
#include <cstring>

namespace velto::platform {

char* TakeOpenedText(ProtectedBlob* plain) {
  char* text = nullptr;
  if (plain->size != 0) {
    text = static_cast<char*>(std::calloc(plain->size + 1u, 1));
    if (text != nullptr) std::memcpy(text, plain->data, plain->size);
  }
  g_data_protection->free_blob(plain);
  return text;
}

}  // namespace velto::platform
