#include <windows.h>

#include "frame/text_convert.h"

namespace velto::platform {
namespace {
UINT ToWindows(CodePage cp) { return cp == CodePage::kUtf8 ? CP_UTF8 : CP_ACP; }
}  // namespace

// Some implementations fill a destination one unit short of a surrogate pair
// with its first half and report success; sizing first keeps the contract:
// the whole text or nothing.
int MultiByteToWide(CodePage cp, const char* src, int src_len, WCHAR* dst, int dst_cap) {
  int needed = MultiByteToWideChar(ToWindows(cp), 0, src, src_len, nullptr, 0);
  if (needed == 0 || dst_cap == 0) return needed;
  if (dst == nullptr || needed > dst_cap) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  return MultiByteToWideChar(ToWindows(cp), 0, src, src_len, dst, dst_cap);
}

int WideToMultiByte(CodePage cp, const WCHAR* src, int src_len, char* dst, int dst_cap) {
  UINT page = ToWindows(cp);
  int needed = WideCharToMultiByte(page, 0, src, src_len, nullptr, 0, nullptr, nullptr);
  if (needed == 0 || dst_cap == 0) return needed;
  if (dst == nullptr || needed > dst_cap) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  return WideCharToMultiByte(page, 0, src, src_len, dst, dst_cap, nullptr, nullptr);
}

}  // namespace velto::platform
