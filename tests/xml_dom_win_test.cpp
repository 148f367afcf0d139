// oleaut32 keeps freed BSTRs in a cache for the next allocation of their
// size, so a BSTR that held the password must be wiped before it goes. This
// program links the core, so its import slot of SysFreeString is the core's:
// it is pointed at a watch for the length of one import.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>
#include <utility>

#include "frame/cdata.h"
#include "frame/exports.h"
#include "support/test_env.h"
#include "support/xml_test_util.h"

extern "C" void* __imp_SysFreeString;  // the slot of this program's import table

namespace velto {
namespace {

constexpr std::wstring_view kSecret = L"Pw-bstr-5Kx!";
void* g_real_free = nullptr;
int g_freed_with_secret = 0;

void WINAPI WatchedFree(BSTR s) {
  g_freed_with_secret += s && std::wstring_view(s, SysStringLen(s)).find(kSecret) != std::wstring_view::npos;
  reinterpret_cast<void(WINAPI*)(BSTR)>(g_real_free)(s);
}

TEST(MsxmlSecrets, NoBstrLeavesHoldingThePassword) {
  test::InitComForThisThread();
  test::XmlDocument document = test::ParseXml(
      "<Config><EapTtls><credSaved><identity>alice</identity><password>" +
      test::ToUtf8(reinterpret_cast<const WCHAR*>(kSecret.data())) + "</password></credSaved></EapTtls></Config>");
  ASSERT_TRUE(document);
  void** slot = &__imp_SysFreeString;
  ASSERT_EQ(*slot, reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"oleaut32.dll"), "SysFreeString")));
  DWORD protection = 0;
  VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
  g_real_free = std::exchange(*slot, reinterpret_cast<void*>(&WatchedFree));
  EAP_METHOD_TYPE method{};
  method.eapType.type = kEapTypeTtls;
  BYTE* record = nullptr;
  DWORD size = 0;
  DWORD status = EapPeerConfigXml2Blob(0, method, document.get(), &record, &size, nullptr);
  *slot = g_real_free;
  EXPECT_EQ(status, 0u);
  std::free(record);
  EXPECT_EQ(g_freed_with_secret, 0);
}

}  // namespace
}  // namespace velto
