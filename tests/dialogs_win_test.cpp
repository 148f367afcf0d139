// The real authdialogs.dll driven through its controls: each control bound to
// its field, OK and Cancel, the smart-card list following SetScList. What the
// forms accept is the dialog model's. Without an X display: exit 77, skipped.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "abi/authdialogs.h"
#include "authdialogs/authdialogs_resource.h"
#include "support/test_env.h"
#include "ui/dialog_profile.h"

namespace {

using namespace velto;
struct { Create1XDlgFn* create_1x; CreateScDlgFn* create_sc; SetScListScFn* set_sc; SetScListSimFn* set_sim; } g_lib;

// Each step runs on the dialog's thread in its modal loop, on taking a marker
// posted once the dialog is shown or after the step before: all posted earlier
// (list updates) is handled by then. Closing early or staying open fails.
using Steps = std::vector<std::function<void(HWND)>>;
constexpr UINT kMarker = WM_APP + 0x3A7;
struct { HWND dialog; const Steps* steps; size_t done; } g_run;

void PostMarker() { PostThreadMessageW(GetCurrentThreadId(), kMarker, 0, 0); }

LRESULT CALLBACK AfterSent(int code, WPARAM wparam, LPARAM lparam) {
  const auto* m = reinterpret_cast<const CWPRETSTRUCT*>(lparam);
  if (m->message == WM_WINDOWPOSCHANGED && !g_run.dialog && !(GetWindowLongW(m->hwnd, GWL_STYLE) & WS_CHILD) &&
      (reinterpret_cast<const WINDOWPOS*>(m->lParam)->flags & SWP_SHOWWINDOW)) g_run.dialog = m->hwnd, PostMarker();
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

LRESULT CALLBACK OnTaken(int code, WPARAM wparam, LPARAM lparam) {
  const auto* m = reinterpret_cast<const MSG*>(lparam);
  if (code == HC_ACTION && wparam == PM_REMOVE && !m->hwnd && m->message == kMarker) {
    if (g_run.done < g_run.steps->size()) (*g_run.steps)[g_run.done++](g_run.dialog), PostMarker();
    else ++g_run.done, PostMessageW(g_run.dialog, WM_COMMAND, IDCANCEL, 0);
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

int RunDialog(const std::function<int()>& open, const Steps& steps) {
  g_run.dialog = nullptr, g_run.steps = &steps, g_run.done = 0;
  HHOOK sent = SetWindowsHookExW(WH_CALLWNDPROCRET, AfterSent, nullptr, GetCurrentThreadId());
  HHOOK taken = SetWindowsHookExW(WH_GETMESSAGE, OnTaken, nullptr, GetCurrentThreadId());
  int result = open();
  UnhookWindowsHookEx(sent), UnhookWindowsHookEx(taken);
  for (MSG m; PeekMessageW(&m, nullptr, kMarker, kMarker, PM_REMOVE);) {}
  EXPECT_EQ(g_run.done, steps.size()) << "steps run: the dialog closed early, or stayed open after the last";
  return result;
}

void Type(HWND d, int id, const wchar_t* text) { SetDlgItemTextW(d, id, text); }
void Click(HWND d, int id) { SendDlgItemMessageW(d, id, BM_CLICK, 0, 0); }
bool Shown(HWND d, int id) { return IsWindowVisible(GetDlgItem(d, id)); }
LRESULT Send(HWND d, int id, UINT message, WPARAM wparam = 0) { return SendDlgItemMessageW(d, id, message, wparam, 0); }
std::wstring Wide(const char* s) { return std::wstring(s, s + std::strlen(s)); }
std::wstring Text(HWND d, int id) {
  wchar_t text[512] = {};
  return std::wstring(text, GetDlgItemTextW(d, id, text, 512));
}

_VELTO_WLAN_PROFILE_V120 NewProfile(uint32_t method_kind) {
  _VELTO_WLAN_PROFILE_V120 p;
  InitDialogProfile(&p);
  p.method_kind = method_kind, p.inner_method = 4, p.subject_kind = kProfileSubjectDomain;
  return p;
}

// Each control shows its field and stores what is typed into it; refused
// fields keep the dialog open, each message beside its field and the focus on
// the first; the radios reach the record (without validation the subject kind
// is kept); the password counts as changed only when its control was edited.
TEST(ConfigDialogTest, ControlsReachTheRecord) {
  for (auto [radio, password, hash_len, no_hash, kind] :
       {std::tuple{IDC_VALIDATE_THUMBPRINT, L"", 20u, 0u, kProfileSubjectServer},
        {IDC_VALIDATE_NONE, L"new-pass", 0u, kProfileNoCertHash, kProfileSubjectDomain},
        {IDC_VALIDATE_ANY, L"old-pass", 0u, 0u, kProfileSubjectServer}}) {
    SCOPED_TRACE(radio);
    _VELTO_WLAN_PROFILE_V120 p = NewProfile(kProfileMethodTtls);
    p.cred_mode = 1, p.cert_hash_len = 20;
    std::strcpy(p.password_text, "old-pass");
    std::memset(p.cert_hash, 0xab, 20);
    const struct { int id, message; char* field; const char* loaded; const wchar_t *refused, *typed; } rows[] = {
        {IDC_USER, IDC_USER_ERR, p.user_name, "bob", L"bob", L"bobby"},
        {IDC_DOMAIN, IDC_DOMAIN_ERR, p.domain, "LAB", L"ENGINEERING-DIVISION", L"CORP"},
        {IDC_ROAMING, IDC_ROAMING_ERR, p.roaming_identity, "anon@lab", L"a&b@lab", L"anon@corp"},
        {IDC_THUMBPRINT, IDC_THUMBPRINT_ERR, nullptr, "ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab",
         L"01:23:45:zz", L"01 23 45 67 89 AB CD EF 01 23 45 67 89 ab cd ef fe dc ba 98"},
        {IDC_SUBJECT, IDC_SUBJECT_ERR, p.subject_text, "radius", L"x<y>", L"My Server"}};
    for (const auto& row : rows) if (row.field) std::strcpy(row.field, row.loaded);
    int password_changed = -1;
    ASSERT_EQ(RunDialog([&] { return g_lib.create_1x(12, &p, 0, 0, nullptr, &password_changed); }, {[&](HWND d) {
      for (const auto& row : rows) EXPECT_EQ(Text(d, row.id), Wide(row.loaded)) << row.id;
      EXPECT_TRUE(Text(d, IDC_PASSWORD) == L"old-pass" && Send(d, IDC_SOURCE, CB_GETCURSEL) == 1 &&
                  Send(d, IDC_INNER, CB_GETCURSEL) == 3 && Send(d, IDC_VALIDATE_THUMBPRINT, BM_GETCHECK) &&
                  Send(d, IDC_SUBJECT_DOMAIN, BM_GETCHECK));
      for (const auto& row : rows) Type(d, row.id, row.refused);
      Click(d, IDOK);
    }, [&](HWND d) {
      for (const auto& row : rows) EXPECT_EQ(Text(d, row.message) != L"", row.id != IDC_USER) << row.id;
      EXPECT_EQ(GetFocus(), GetDlgItem(d, IDC_DOMAIN));
      for (const auto& row : rows) Type(d, row.id, row.typed);
      Send(d, IDC_SOURCE, CB_SETCURSEL, 0), Send(d, IDC_INNER, CB_SETCURSEL, 0);
      if (*password) Type(d, IDC_PASSWORD, password);
      Click(d, radio), Click(d, IDC_SUBJECT_SERVER), Click(d, IDOK);
    }}), 1);
    for (const auto& row : rows) EXPECT_TRUE(!row.field || Wide(row.field) == row.typed) << row.id;
    EXPECT_TRUE(password_changed == !!*password && Wide(p.password_text) == (*password ? password : L"old-pass"));
    EXPECT_TRUE(p.cred_mode == 0 && p.inner_method == 1 && p.subject_kind == kind && p.cert_hash_len == hash_len);
    EXPECT_EQ(p.option_bits & kProfileNoCertHash, no_hash);
    EXPECT_TRUE(!hash_len || (p.cert_hash[0] == 1 && p.cert_hash[19] == 0x98));
  }
}

// Only the identity bands, the template bound to the user name: the identity
// band takes the sign-in band's place, the privacy band and the buttons follow
// right below, and the dialog ends below them.
TEST(ConfigDialogTest, SimAndAkaShowOnlyTheIdentityBands) {
  for (uint32_t kind : {kProfileMethodSim, kProfileMethodAka}) {
    _VELTO_WLAN_PROFILE_V120 p = NewProfile(kind);
    std::strcpy(p.user_name, "1$imsi$");
    ASSERT_EQ(RunDialog([&] { return g_lib.create_1x(12, &p, 0, 0, nullptr, nullptr); }, {[](HWND d) {
      for (int id : {IDC_SIGNIN_GROUP, IDC_USER, IDC_SERVER_GROUP, IDC_SUBJECT}) EXPECT_FALSE(Shown(d, id)) << id;
      EXPECT_EQ(Text(d, IDC_TEMPLATE), L"1$imsi$");
      EXPECT_TRUE(GetWindowLongW(GetDlgItem(d, IDC_ROAMING), GWL_STYLE) & ES_READONLY);
      RECT r[4];  // the identity band, the privacy band, OK, the client area
      const int ids[] = {IDC_IDENTITY_GROUP, IDC_PRIVACY_GROUP, IDOK};
      for (int i : {0, 1, 2}) GetWindowRect(GetDlgItem(d, ids[i]), &r[i]);
      MapWindowPoints(nullptr, d, reinterpret_cast<POINT*>(r), 6), GetClientRect(d, &r[3]);
      EXPECT_TRUE(r[0].top < 20 && r[1].top >= r[0].bottom && r[2].top >= r[1].bottom);
      EXPECT_TRUE(r[1].top - r[0].bottom < 16 && r[2].top - r[1].bottom < 16 && r[3].bottom - r[2].bottom < 20);
      Type(d, IDC_TEMPLATE, L"0$imsi$@wlan"), Click(d, IDOK);
    }}), 1);
    EXPECT_STREQ(p.user_name, "0$imsi$@wlan") << kind;
  }
}

TEST(ConfigDialogTest, UnknownDialogIsCancelledWithoutShowing) {
  _VELTO_WLAN_PROFILE_V120 p = NewProfile(kProfileMethodTtls);
  EXPECT_EQ(g_lib.create_1x(7, &p, 0, 0, nullptr, nullptr), 0);
  EXPECT_EQ(g_lib.create_1x(12, nullptr, 0, 0, nullptr, nullptr), 0);
}

// A character the ANSI code page cannot hold is refused beside its field, not
// stored as '?'; the message goes once the field is changed.
TEST(CredentialDialogTest, StoresUserDomainAndPassword) {
  _VELTO_WLAN_PROFILE_V120 p = NewProfile(kProfileMethodTtls);
  std::strcpy(p.user_name, "LAB\\dave"), std::strcpy(p.domain, "LAB");
  ASSERT_EQ(RunDialog([&] { return g_lib.create_1x(3, &p, 0, 0, nullptr, nullptr); }, {[](HWND d) {
    EXPECT_EQ(Text(d, IDC_CRED_USER) + L"|" + Text(d, IDC_CRED_DOMAIN), L"dave|LAB");
    Type(d, IDC_CRED_USER, L"erin"), Type(d, IDC_CRED_PASSWORD, L"pa\u4e2d"), Click(d, IDOK);
  }, [](HWND d) {
    EXPECT_TRUE(Text(d, IDC_CRED_PASSWORD_ERR) != L"" && GetFocus() == GetDlgItem(d, IDC_CRED_PASSWORD));
    Type(d, IDC_CRED_PASSWORD, L"pa55word");
    EXPECT_EQ(Text(d, IDC_CRED_PASSWORD_ERR), L"");
    Click(d, IDOK);
  }}), 1);
  EXPECT_EQ(std::string(p.user_name) + "|" + p.password_text, "LAB\\erin|pa55word");
}

// Card events arrive on another thread; the dialog takes them on its own.
// Shown again after a refused PIN (159) it says so; a cancel writes nothing.
TEST(SmartCardDialogTest, ListFollowsSetScListAndAPinSimAsksForItsPin) {
  _VELTO_WLAN_PROFILE_V120 p = NewProfile(kProfileMethodSim);
  p.sc_mode = kProfileScModeSmartCard, std::strcpy(p.user_name, "1$imsi$");
  VELTO_SC_LIST_V120 sc = {}, no_cards = {};
  VELTO_SIM_LIST sims = {}, no_sims = {};
  sc.count = sc.entries[0].item_count = sims.count = sims.entries[0].pin_enabled = 1;
  std::strcpy(sc.entries[0].reader_name, "Virtual PCD 00 00"), std::strcpy(sims.entries[0].reader_name, "PCD 01");
  auto rows = [](HWND d) { return Send(d, IDC_READERS, LVM_GETITEMCOUNT); };
  ASSERT_EQ(RunDialog([&] { return g_lib.create_sc(&p, 150, 0, nullptr, &sc, &no_sims); }, {[&](HWND d) {
    EXPECT_TRUE(rows(d) == 1 && !Shown(d, IDC_PIN) && !Shown(d, IDC_RETRY_MESSAGE));
    EXPECT_EQ(Text(d, IDC_SC_TEMPLATE), L"1$imsi$");
    std::thread([&] { EXPECT_EQ(g_lib.set_sim(&sims), 1); }).join();
  }, [&](HWND d) {
    EXPECT_EQ(rows(d), 2);
    std::thread([&] { EXPECT_EQ(g_lib.set_sc(&no_cards), 1); }).join();
  }, [&](HWND d) {
    LVITEMW row = {};
    row.stateMask = row.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendDlgItemMessageW(d, IDC_READERS, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&row));
    EXPECT_TRUE(rows(d) == 1 && Shown(d, IDC_PIN));
    Type(d, IDC_PIN, L"1234"), Type(d, IDC_SC_TEMPLATE, L"1$imsi$@wlan"), Click(d, IDOK);
  }}), 1);
  EXPECT_EQ(std::string(p.reader_name) + "|" + p.pin_text + "|" + p.user_name, "PCD 01|1234|1$imsi$@wlan");
  const _VELTO_WLAN_PROFILE_V120 before = p;
  EXPECT_EQ(RunDialog([&] { return g_lib.create_sc(&p, 159, 0, nullptr, &sc, &sims); }, {[](HWND d) {
    EXPECT_TRUE(Text(d, IDC_RETRY_MESSAGE) != L"" && Shown(d, IDC_RETRY_MESSAGE) && Shown(d, IDC_PIN));
    Type(d, IDC_PIN, L"5678"), Click(d, IDCANCEL);
  }}), 0);
  EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!GetEnvironmentVariableA("DISPLAY", nullptr, 0)) return std::printf("dialog_tests: SKIPPED: no X display\n"), 77;
  void* library = velto::test::LoadModule("authdialogs.dll");
  auto entry = [&](const char* name) { return velto::test::ModuleEntry(library, name); };
  g_lib.create_1x = reinterpret_cast<Create1XDlgFn*>(entry(kAuthDialogsCreate1XDlg));
  g_lib.create_sc = reinterpret_cast<CreateScDlgFn*>(entry(kAuthDialogsCreateScDlg));
  g_lib.set_sc = reinterpret_cast<SetScListScFn*>(entry(kAuthDialogsSetScListSc));
  g_lib.set_sim = reinterpret_cast<SetScListSimFn*>(entry(kAuthDialogsSetScListSim));
  if (!g_lib.create_1x || !g_lib.create_sc || !g_lib.set_sc || !g_lib.set_sim) {
    return std::printf("dialog_tests: authdialogs.dll or an entry of it is missing\n"), 1;
  }
  return RUN_ALL_TESTS();
}
