// What only the MSXML DOM has to take care of: the BSTRs it frees. oleaut32
// keeps freed strings in a cache for the next allocation of their size, so a
// BSTR that held the password must be wiped before it goes. The test program
// links the core, so its own import of SysFreeString is the core's: it is
// pointed at a watch for the length of one import.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "frame/cdata.h"
#include "frame/exports.h"
#include "support/test_env.h"
#include "support/xml_test_util.h"

namespace velto {
namespace {

constexpr wchar_t kSecret[] = L"Pw-bstr-5Kx!";

using FreeString = void(WINAPI*)(BSTR);
FreeString g_real_free = nullptr;
int g_freed_with_secret = 0;

void WINAPI WatchedFree(BSTR s) {
  if (s != nullptr) {
    const size_t units = SysStringByteLen(s) / sizeof(WCHAR);
    const size_t n = std::wcslen(kSecret);
    for (size_t i = 0; i + n <= units; ++i) {
      if (std::memcmp(s + i, kSecret, n * sizeof(WCHAR)) == 0) {
        ++g_freed_with_secret;
        break;
      }
    }
  }
  g_real_free(s);
}

// The slot of this program's import table that holds oleaut32's
// SysFreeString, or null.
void** ImportSlot() {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  const void* real = reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"oleaut32.dll"), "SysFreeString"));
  for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name;
       ++d) {
    for (auto* slot = reinterpret_cast<void**>(base + d->FirstThunk); *slot != nullptr; ++slot) {
      if (*slot == real) return slot;
    }
  }
  return nullptr;
}

void Point(void** slot, void* to) {
  DWORD old = 0;
  VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
  *slot = to;
  VirtualProtect(slot, sizeof *slot, old, &old);
}

TEST(MsxmlSecrets, NoBstrLeavesHoldingThePassword) {
  test::InitComForThisThread();
  const std::string secret = test::ToUtf8(reinterpret_cast<const WCHAR*>(kSecret));
  test::XmlDocument document = test::ParseXml(
      "<Config><EapTtls><credSaved><identity>alice</identity><password>" + secret +
      "</password></credSaved></EapTtls></Config>");
  ASSERT_TRUE(document);
  void** slot = ImportSlot();
  ASSERT_NE(slot, nullptr);
  g_real_free = reinterpret_cast<FreeString>(*slot);
  g_freed_with_secret = 0;
  Point(slot, reinterpret_cast<void*>(&WatchedFree));
  EAP_METHOD_TYPE method{};
  method.eapType.type = kEapTypeTtls;
  BYTE* record = nullptr;
  DWORD size = 0;
  DWORD status = EapPeerConfigXml2Blob(0, method, document.get(), &record, &size, nullptr);
  Point(slot, reinterpret_cast<void*>(g_real_free));
  EXPECT_EQ(status, 0u);
  std::free(record);
  EXPECT_EQ(g_freed_with_secret, 0);
}

}  // namespace
}  // namespace velto
