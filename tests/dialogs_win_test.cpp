// The real authdialogs.dll, driven as a user would: the test thread opens a
// dialog, a driver thread finds it, reads and fills its controls by window
// messages and presses OK or Cancel, and the test checks what came back in the
// profile. What the forms accept is the dialog model's (unit tests); here the
// controls' wiring. Each dialog leaves a PNG of itself in the build tree.
//
// Needs a desktop (an X display under Wine): without one the program reports
// the reason and exits with 77, which CTest counts as skipped.
#include <windows.h>
#include <commctrl.h>

#include <objidl.h>

#include <algorithm>
#include <gdiplus.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <tuple>

#include "frame/cdata.h"
#include "frame/exports.h"
#include "support/test_env.h"
#include "abi/authdialogs.h"
#include "authdialogs/authdialogs_resource.h"
#include "ui/dialog_profile.h"

namespace {

constexpr int kSkipped = 77;

Create1XDlgFn* g_create_1x = nullptr;
CreateScDlgFn* g_create_sc = nullptr;
SetScListScFn* g_set_sc = nullptr;
SetScListSimFn* g_set_sim = nullptr;

// Copies the dialog from the screen (the only capture that works under Wine)
// into VELTO_SCREENSHOT_DIR/NAME.png.
void SaveScreenshot(HWND dialog, const wchar_t* name) {
  // Painted before the call returns (the dialog's thread handles WM_PAINT
  // for it), and read back from the display after that.
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  GdiFlush();
  RECT rect;
  GetWindowRect(dialog, &rect);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, rect.right - rect.left, rect.bottom - rect.top);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, rect.right - rect.left, rect.bottom - rect.top, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, previous);
  CreateDirectoryW(L"" VELTO_SCREENSHOT_DIR, nullptr);
  CLSID png;
  CLSIDFromString(L"{557CF406-1A04-11D3-9A73-0000F81EF32E}", &png);
  std::wstring path = std::wstring(L"" VELTO_SCREENSHOT_DIR) + L"\\" + name + L".png";
  EXPECT_EQ(Gdiplus::Bitmap(bitmap, nullptr).Save(path.c_str(), &png, nullptr), Gdiplus::Ok) << name;
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

// ---- the driver

// The driver waits on what the dialog's thread reports through two hooks on
// it: the dialog window once it is shown, its destruction, and
// the retrieval of a marker the driver posts to the thread's queue. Posted
// messages are taken in order, one at a time, so once the marker is taken
// everything posted before it (keys, list updates) has been handled.
constexpr UINT kMarker = WM_APP + 0x3A7;
HANDLE g_dialog_ready = nullptr;   // manual reset: g_dialog holds the dialog
HANDLE g_dialog_gone = nullptr;    // manual reset: the dialog was destroyed
HANDLE g_marker_taken = nullptr;   // auto reset
HANDLE g_activity = nullptr;       // auto reset: the thread handled or took a message
HWND g_dialog = nullptr;

LRESULT CALLBACK AfterSentMessage(int code, WPARAM wparam, LPARAM lparam) {
  const auto* sent = reinterpret_cast<const CWPRETSTRUCT*>(lparam);
  SetEvent(g_activity);
  bool top_level = (GetWindowLongW(sent->hwnd, GWL_STYLE) & WS_CHILD) == 0;
  if (code == HC_ACTION && sent->message == WM_INITDIALOG && top_level && g_dialog == nullptr) {
    g_dialog = sent->hwnd;
  }
  // A dialog is shown once its thread's queue first runs empty.
  if (code == HC_ACTION && sent->message == WM_WINDOWPOSCHANGED && sent->hwnd == g_dialog &&
      (reinterpret_cast<const WINDOWPOS*>(sent->lParam)->flags & SWP_SHOWWINDOW) != 0) {
    SetEvent(g_dialog_ready);
  }
  if (code == HC_ACTION && sent->message == WM_DESTROY && sent->hwnd == g_dialog) {
    SetEvent(g_dialog_gone);
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

LRESULT CALLBACK OnTakenMessage(int code, WPARAM wparam, LPARAM lparam) {
  const auto* taken = reinterpret_cast<const MSG*>(lparam);
  SetEvent(g_activity);
  if (code == HC_ACTION && wparam == PM_REMOVE && taken->hwnd == nullptr &&
      taken->message == kMarker) {
    SetEvent(g_marker_taken);
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

// Waits until the dialog's thread has handled everything posted to it so
// far; false when the dialog was destroyed first.
bool Settle(HWND dialog) {
  PostThreadMessageW(GetWindowThreadProcessId(dialog, nullptr), kMarker, 0, 0);
  HANDLE either[] = {g_marker_taken, g_dialog_gone};
  return WaitForMultipleObjects(2, either, FALSE, INFINITE) == WAIT_OBJECT_0;
}

// Waits for a condition the dialog's thread brings about: checked again each
// time that thread has handled a sent message or taken a posted one (the
// changes come from messages it sends itself, so the last one is seen).
// False once the dialog is gone.
bool WaitFor(HWND dialog, const std::function<bool()>& condition) {
  HANDLE either[] = {g_activity, g_dialog_gone};
  while (!condition()) {
    if (WaitForMultipleObjects(2, either, FALSE, INFINITE) != WAIT_OBJECT_0) return condition();
  }
  return true;
}

// Opens a dialog on this thread with `open` while `drive` works it from a
// driver thread. A dialog the driver leaves open is cancelled, so that a
// failing test never blocks.
int RunDialog(const std::function<int()>& open, const std::function<void(HWND)>& drive) {
  g_dialog = nullptr;
  g_dialog_ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_dialog_gone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_marker_taken = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g_activity = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HHOOK sent = SetWindowsHookExW(WH_CALLWNDPROCRET, AfterSentMessage, nullptr, GetCurrentThreadId());
  HHOOK taken = SetWindowsHookExW(WH_GETMESSAGE, OnTakenMessage, nullptr, GetCurrentThreadId());
  std::thread driver([&] {
    WaitForSingleObject(g_dialog_ready, INFINITE);
    HWND dialog = g_dialog;
    if (!Settle(dialog)) {  // now in its message loop
      ADD_FAILURE() << "the dialog closed by itself";
      return;
    }
    drive(dialog);
    // A dialog told to end leaves its loop after the next message it takes:
    // only one that takes a second marker stayed open.
    if (Settle(dialog) && Settle(dialog)) {
      ADD_FAILURE() << "the dialog stayed open";
      PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    }
  });
  int result = open();
  driver.join();
  UnhookWindowsHookEx(sent);
  UnhookWindowsHookEx(taken);
  for (HANDLE event : {g_dialog_ready, g_dialog_gone, g_marker_taken, g_activity}) CloseHandle(event);
  return result;
}

void Type(HWND dialog, int id, const wchar_t* text) {
  SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void Choose(HWND dialog, int id, int index) {
  HWND combo = GetDlgItem(dialog, id);
  SendMessageW(combo, CB_SETCURSEL, index, 0);
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

void Click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

std::wstring Text(HWND dialog, int id) {
  wchar_t text[512] = {};
  GetWindowTextW(GetDlgItem(dialog, id), text, 512);
  return text;
}

bool Shown(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }

// A control's rectangle in the dialog's client coordinates.
RECT Place(HWND dialog, int id) {
  RECT rect;
  GetWindowRect(GetDlgItem(dialog, id), &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// The control with the keyboard focus in the dialog's thread.
int FocusedId(HWND dialog) {
  GUITHREADINFO gui = {};
  gui.cbSize = sizeof gui;
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui);
  return gui.hwndFocus != nullptr ? GetDlgCtrlID(gui.hwndFocus) : 0;
}

// ---- profiles and lists

_VELTO_WLAN_PROFILE_V120 NewProfile(uint32_t method_kind) {
  _VELTO_WLAN_PROFILE_V120 profile;
  velto::InitDialogProfile(&profile);
  profile.method_kind = method_kind;
  profile.inner_method = 4;
  profile.subject_kind = velto::kProfileSubjectDomain;
  return profile;
}

template <size_t N>
void Put(char (&field)[N], const char* text) {
  std::snprintf(field, N, "%s", text);
}

VELTO_SIM_LIST SimList(const char* reader, bool pin_enabled) {
  VELTO_SIM_LIST list = {};
  list.count = 1;
  Put(list.entries[0].reader_name, reader);
  Put(list.entries[0].card_name, "USIM");
  list.entries[0].pin_enabled = pin_enabled ? 1 : 0;
  return list;
}

VELTO_SC_LIST_V120 ScList(const char* reader) {
  VELTO_SC_LIST_V120 list = {};
  list.count = 1;
  Put(list.entries[0].reader_name, reader);
  Put(list.entries[0].card_name, "Corporate badge");
  list.entries[0].item_count = 1;
  Put(list.entries[0].identifiers[0], "card://0affabc");
  return list;
}

int ListCount(HWND dialog) {
  return static_cast<int>(SendDlgItemMessageW(dialog, IDC_READERS, LVM_GETITEMCOUNT, 0, 0));
}

std::wstring ListText(HWND dialog, int row, int column) {
  wchar_t text[256] = {};
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = 256;
  SendDlgItemMessageW(dialog, IDC_READERS, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
  return text;
}

void SelectRow(HWND dialog, int row) {
  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendDlgItemMessageW(dialog, IDC_READERS, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

// ---- dialog 12

int Chosen(HWND dialog, int id) { return static_cast<int>(SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0)); }
bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

// The controls show the profile; OK stores what they hold, and the password
// counts as changed only when its field was.
TEST(ConfigDialogTest, PasswordFlagOnlyWhenTheUserEditsIt) {
  _VELTO_WLAN_PROFILE_V120 profile = NewProfile(velto::kProfileMethodTtls);
  profile.cred_mode = 1;
  profile.inner_method = 5;
  Put(profile.user_name, "bob");
  Put(profile.domain, "LAB");
  Put(profile.password_text, "old-pass");
  Put(profile.roaming_identity, "anonymous@velto.example");
  Put(profile.subject_text, "radius.velto.example");
  profile.cert_hash_len = 20;
  std::memset(profile.cert_hash, 0xab, 20);
  int password_changed = 1;
  int result = RunDialog(
      [&] { return g_create_1x(12, &profile, 0, 0, nullptr, &password_changed); },
      [](HWND dialog) {
        EXPECT_FALSE(Shown(dialog, IDC_TEMPLATE));
        EXPECT_EQ(Chosen(dialog, IDC_SOURCE), 1);
        EXPECT_EQ(Chosen(dialog, IDC_INNER), 4);
        EXPECT_EQ(Text(dialog, IDC_USER) + L"|" + Text(dialog, IDC_DOMAIN) + L"|" + Text(dialog, IDC_PASSWORD) +
                      L"|" + Text(dialog, IDC_ROAMING) + L"|" + Text(dialog, IDC_SUBJECT),
                  L"bob|LAB|old-pass|anonymous@velto.example|radius.velto.example");
        EXPECT_EQ(Text(dialog, IDC_THUMBPRINT), L"ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab");
        EXPECT_TRUE(Checked(dialog, IDC_VALIDATE_THUMBPRINT) && Checked(dialog, IDC_SUBJECT_DOMAIN));
        Choose(dialog, IDC_SOURCE, 0);
        Choose(dialog, IDC_INNER, 0);
        Type(dialog, IDC_USER, L"bobby");
        Type(dialog, IDC_DOMAIN, L"CORP");
        Type(dialog, IDC_ROAMING, L"anon@corp.example");
        // As the certificate viewer copies it: a left-to-right mark in front.
        Type(dialog, IDC_THUMBPRINT, L"\u200e01 23 45 67 89 AB CD EF 01 23 45 67 89 ab cd ef fe dc ba 98");
        Type(dialog, IDC_SUBJECT, L"My Server");
        Click(dialog, IDC_SUBJECT_SERVER);
        SaveScreenshot(dialog, L"config_ttls");
        Click(dialog, IDOK);
      });
  ASSERT_EQ(result, 1);
  EXPECT_EQ(password_changed, 0);
  EXPECT_EQ(profile.cred_mode, 0u);
  EXPECT_EQ(profile.inner_method, 1u);
  EXPECT_STREQ(profile.user_name, "bobby");
  EXPECT_STREQ(profile.domain, "CORP");
  EXPECT_STREQ(profile.password_text, "old-pass");
  EXPECT_STREQ(profile.roaming_identity, "anon@corp.example");
  const uint8_t hash[20] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x01, 0x23,
                            0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0xfe, 0xdc, 0xba, 0x98};
  EXPECT_EQ(profile.cert_hash_len, 20u);
  EXPECT_EQ(std::memcmp(profile.cert_hash, hash, 20), 0);
  EXPECT_EQ(profile.option_bits & velto::kProfileNoCertHash, 0u);
  EXPECT_STREQ(profile.subject_text, "My Server");
  EXPECT_EQ(profile.subject_kind, velto::kProfileSubjectServer);
}

// Without validation the subject cannot be changed: the loaded kind stays.
TEST(ConfigDialogTest, ServerValidationChoices) {
  for (auto [radio, no_hash_bit, subject_kind] :
       {std::tuple{IDC_VALIDATE_NONE, true, velto::kProfileSubjectDomain},
        {IDC_VALIDATE_ANY, false, velto::kProfileSubjectServer}}) {
    SCOPED_TRACE(radio);
    _VELTO_WLAN_PROFILE_V120 profile = NewProfile(velto::kProfileMethodTtls);
    profile.cert_hash_len = 20;  // a stored thumbprint the choice replaces
    std::memset(profile.cert_hash, 0x55, 20);
    int result = RunDialog([&] { return g_create_1x(12, &profile, 0, 0, nullptr, nullptr); },
                           [&](HWND dialog) {
                             Click(dialog, radio);
                             Click(dialog, IDC_SUBJECT_SERVER);
                             Click(dialog, IDOK);
                           });
    ASSERT_EQ(result, 1);
    EXPECT_EQ((profile.option_bits & velto::kProfileNoCertHash) != 0, no_hash_bit);
    EXPECT_EQ(profile.cert_hash_len, 0u);
    EXPECT_EQ(profile.cert_hash[19], 0);
    EXPECT_EQ(profile.subject_kind, subject_kind);
  }
}

// Refused fields keep the dialog open, each message beside its field; a
// cancel then writes nothing.
TEST(ConfigDialogTest, CancelWritesNothing) {
  _VELTO_WLAN_PROFILE_V120 profile = NewProfile(velto::kProfileMethodTtls);
  Put(profile.password_text, "kept");
  const _VELTO_WLAN_PROFILE_V120 before = profile;
  int password_changed = 1;
  int result = RunDialog(
      [&] { return g_create_1x(12, &profile, 0, 0, nullptr, &password_changed); },
      [](HWND dialog) {
        Type(dialog, IDC_PASSWORD, L"changed");
        Type(dialog, IDC_DOMAIN, L"ENGINEERING-DIVISION");  // 20 of at most 18
        Type(dialog, IDC_ROAMING, std::wstring(70, L'a').c_str());
        Click(dialog, IDC_VALIDATE_THUMBPRINT);
        Type(dialog, IDC_THUMBPRINT, L"01:23:45:zz");
        Type(dialog, IDC_SUBJECT, L"x</subjectMatchString>");
        Click(dialog, IDOK);
        EXPECT_TRUE(IsWindowVisible(dialog));
        for (int id : {IDC_DOMAIN_ERR, IDC_ROAMING_ERR, IDC_THUMBPRINT_ERR, IDC_SUBJECT_ERR}) {
          EXPECT_NE(Text(dialog, id), L"") << id;
        }
        EXPECT_EQ(Text(dialog, IDC_USER_ERR), L"");
        EXPECT_EQ(FocusedId(dialog), IDC_DOMAIN);  // the first refused field
        SaveScreenshot(dialog, L"config_refused");
        Click(dialog, IDCANCEL);
      });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(std::memcmp(&profile, &before, sizeof profile), 0);
  EXPECT_EQ(password_changed, 1);
}

TEST(ConfigDialogTest, SimAndAkaShowOnlyTheIdentityBands) {
  for (uint32_t kind : {velto::kProfileMethodSim, velto::kProfileMethodAka}) {
    SCOPED_TRACE(kind);
    _VELTO_WLAN_PROFILE_V120 profile = NewProfile(kind);
    Put(profile.user_name, "1$imsi$");
    Put(profile.password_text, "unused");
    Put(profile.roaming_identity, "anonymous@wlan.velto.example");
    int password_changed = 1;
    int result = RunDialog(
        [&] { return g_create_1x(12, &profile, 0, 0, nullptr, &password_changed); },
        [&](HWND dialog) {
          for (int id : {IDC_SOURCE, IDC_INNER, IDC_USER, IDC_DOMAIN, IDC_PASSWORD, IDC_THUMBPRINT,
                         IDC_SUBJECT, IDC_SIGNIN_GROUP, IDC_SERVER_GROUP}) {
            EXPECT_FALSE(Shown(dialog, id)) << id;
          }
          EXPECT_EQ(Text(dialog, IDC_TEMPLATE), L"1$imsi$");
          EXPECT_EQ(Text(dialog, IDC_ROAMING), L"anonymous@wlan.velto.example");
          EXPECT_TRUE(GetWindowLongW(GetDlgItem(dialog, IDC_ROAMING), GWL_STYLE) & ES_READONLY);
          // The identity band took the sign-in band's place, the privacy band
          // follows right below it, and the dialog ends below that.
          RECT identity = Place(dialog, IDC_IDENTITY_GROUP), privacy = Place(dialog, IDC_PRIVACY_GROUP);
          RECT ok = Place(dialog, IDOK), client;
          GetClientRect(dialog, &client);
          EXPECT_LT(identity.top, 20);
          EXPECT_GE(privacy.top, identity.bottom);
          EXPECT_LT(privacy.top - identity.bottom, 16);
          EXPECT_GE(ok.top, privacy.bottom);
          EXPECT_LT(client.bottom - ok.bottom, 20);
          Type(dialog, IDC_TEMPLATE, L"0$imsi$@wlan.velto.example");
          if (kind == velto::kProfileMethodSim) SaveScreenshot(dialog, L"config_sim");
          Click(dialog, IDOK);
        });
    ASSERT_EQ(result, 1);
    EXPECT_STREQ(profile.user_name, "0$imsi$@wlan.velto.example");
    EXPECT_STREQ(profile.roaming_identity, "anonymous@wlan.velto.example");
    EXPECT_STREQ(profile.password_text, "unused");
    EXPECT_EQ(password_changed, 0);
  }
}

// A dialog number the library does not know shows nothing.
TEST(ConfigDialogTest, UnknownDialogIsCancelledWithoutShowing) {
  _VELTO_WLAN_PROFILE_V120 profile = NewProfile(velto::kProfileMethodTtls);
  EXPECT_EQ(g_create_1x(7, &profile, 0, 0, nullptr, nullptr), 0);
  EXPECT_EQ(g_create_1x(12, nullptr, 0, 0, nullptr, nullptr), 0);
}

// ---- dialog 3

// A refused field keeps the dialog open with its message beside it and the
// focus on it; the message goes once the field is changed. A character the
// ANSI code page cannot hold is refused, not stored as '?'.
TEST(CredentialDialogTest, StoresUserDomainAndPassword) {
  _VELTO_WLAN_PROFILE_V120 profile = NewProfile(velto::kProfileMethodTtls);
  Put(profile.user_name, "LAB\\dave");
  Put(profile.domain, "LAB");
  int result = RunDialog([&] { return g_create_1x(3, &profile, 0, 0, nullptr, nullptr); },
                         [](HWND dialog) {
                           EXPECT_EQ(Text(dialog, IDC_CRED_USER) + L"|" + Text(dialog, IDC_CRED_DOMAIN),
                                     L"dave|LAB");
                           Type(dialog, IDC_CRED_USER, L"erin");
                           Type(dialog, IDC_CRED_PASSWORD, L"pa\u4e2d");
                           Click(dialog, IDOK);
                           EXPECT_TRUE(IsWindowVisible(dialog));
                           EXPECT_NE(Text(dialog, IDC_CRED_PASSWORD_ERR), L"");
                           EXPECT_EQ(FocusedId(dialog), IDC_CRED_PASSWORD);
                           SaveScreenshot(dialog, L"credentials");
                           Type(dialog, IDC_CRED_PASSWORD, L"pa55word");
                           EXPECT_EQ(Text(dialog, IDC_CRED_PASSWORD_ERR), L"");
                           Click(dialog, IDOK);
                         });
  ASSERT_EQ(result, 1);
  EXPECT_STREQ(profile.user_name, "LAB\\erin");
  EXPECT_STREQ(profile.domain, "LAB");
  EXPECT_STREQ(profile.password_text, "pa55word");
}

// ---- the smart-card dialog

TEST(SmartCardDialogTest, ListFollowsSetScListAndAPinSimAsksForItsPin) {
  _VELTO_WLAN_PROFILE_V120 profile = NewProfile(velto::kProfileMethodSim);
  profile.sc_mode = velto::kProfileScModeSmartCard;
  Put(profile.user_name, "1$imsi$");
  VELTO_SC_LIST_V120 sc = ScList("Virtual PCD 00 00");
  VELTO_SIM_LIST no_sims = {};
  int result = RunDialog(
      [&] { return g_create_sc(&profile, 150, 0, nullptr, &sc, &no_sims); },
      [](HWND dialog) {
        EXPECT_EQ(ListCount(dialog), 1);
        EXPECT_EQ(Text(dialog, IDC_SC_TEMPLATE), L"1$imsi$");
        EXPECT_FALSE(Shown(dialog, IDC_PIN));
        EXPECT_FALSE(Shown(dialog, IDC_RETRY_MESSAGE));
        // Card events arrive on another thread (this one): the SIM appears,
        // then the badge leaves.
        VELTO_SIM_LIST sims = SimList("Virtual PCD 00 01", true);
        EXPECT_EQ(g_set_sim(&sims), 1);
        EXPECT_TRUE(WaitFor(dialog, [&] { return ListCount(dialog) == 2; }));
        VELTO_SC_LIST_V120 no_cards = {};
        EXPECT_EQ(g_set_sc(&no_cards), 1);
        EXPECT_TRUE(WaitFor(dialog, [&] { return ListCount(dialog) == 1; }));
        EXPECT_EQ(ListText(dialog, 0, 0), L"Virtual PCD 00 01");
        SelectRow(dialog, 0);
        EXPECT_TRUE(WaitFor(dialog, [&] { return Shown(dialog, IDC_PIN); }));
        Type(dialog, IDC_PIN, L"1234");
        Type(dialog, IDC_SC_TEMPLATE, L"1$imsi$@wlan.velto.example");
        SaveScreenshot(dialog, L"smartcard");
        Click(dialog, IDOK);
      });
  ASSERT_EQ(result, 1);
  EXPECT_STREQ(profile.reader_name, "Virtual PCD 00 01");
  EXPECT_STREQ(profile.pin_text, "1234");
  EXPECT_STREQ(profile.user_name, "1$imsi$@wlan.velto.example");
}

TEST(SmartCardDialogTest, ShownAgainAfterARefusedPinSaysSo) {
  _VELTO_WLAN_PROFILE_V120 profile = NewProfile(velto::kProfileMethodAka);
  profile.sc_mode = velto::kProfileScModeSmartCard;
  Put(profile.reader_name, "Virtual PCD 00 01");
  VELTO_SC_LIST_V120 sc = ScList("Virtual PCD 00 00");
  VELTO_SIM_LIST sims = SimList("Virtual PCD 00 01", true);
  const _VELTO_WLAN_PROFILE_V120 before = profile;
  int result = RunDialog([&] { return g_create_sc(&profile, 159, 0, nullptr, &sc, &sims); },
                         [](HWND dialog) {
                           EXPECT_TRUE(Shown(dialog, IDC_RETRY_MESSAGE));
                           EXPECT_NE(Text(dialog, IDC_RETRY_MESSAGE), L"");
                           EXPECT_TRUE(Shown(dialog, IDC_PIN));  // the reader chosen before
                           SaveScreenshot(dialog, L"smartcard_retry");
                           Type(dialog, IDC_PIN, L"5678");
                           Click(dialog, IDCANCEL);
                         });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(std::memcmp(&profile, &before, sizeof profile), 0);
}

// ---- through the module, as EapHost shows the configuration dialog

// The module binds authdialogs.dll by file name; this program has loaded the
// product's library from bin already, so that is the one the module calls.
TEST(ModuleWithDialogsTest, ConfigurationDialogMakesTheRecord) {
  void* module = velto::test::LoadModule("veltoeap.dll");
  ASSERT_NE(module, nullptr);
  auto invoke = reinterpret_cast<decltype(EapPeerInvokeConfigUI)*>(
      velto::test::ModuleEntry(module, "EapPeerInvokeConfigUI"));
  auto free_memory = reinterpret_cast<decltype(EapPeerFreeMemory)*>(
      velto::test::ModuleEntry(module, "EapPeerFreeMemory"));
  auto free_error = reinterpret_cast<decltype(EapPeerFreeErrorMemory)*>(
      velto::test::ModuleEntry(module, "EapPeerFreeErrorMemory"));
  ASSERT_TRUE(invoke && free_memory && free_error);
  EAP_METHOD_TYPE type = {};
  type.eapType.type = 21;
  DWORD size = 0;
  BYTE* record = nullptr;
  EAP_ERROR* error = nullptr;
  DWORD status = 0;
  RunDialog(
      [&] {
        status = invoke(&type, nullptr, 0, 0, nullptr, &size, &record, &error);
        return 0;
      },
      [](HWND dialog) {
        Type(dialog, IDC_USER, L"alice");
        Type(dialog, IDC_DOMAIN, L"CORP");
        Type(dialog, IDC_PASSWORD, L"s3cret!");
        Click(dialog, IDC_VALIDATE_THUMBPRINT);
        Type(dialog, IDC_THUMBPRINT, L"3f 78 68 50 e3 87 55 0f da b8 36 ed 7e 6d c8 81 de 23 00 1b");
        Click(dialog, IDOK);
      });
  ASSERT_EQ(status, 0u);
  ASSERT_EQ(size, velto::kCdataSize);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->dwWinError, 0u);
  const auto* stored = reinterpret_cast<const velto::cdata*>(record);
  EXPECT_EQ(stored->eap_type, 21u);
  EXPECT_STREQ(stored->identity, "CORP\\alice");
  EXPECT_STREQ(stored->ca_hash, "hash://3f786850e387550fdab836ed7e6dc881de23001b");
  // The typed password counts as changed and is sealed before it is stored.
  EXPECT_NE(stored->flags & velto::kFlagPasswordProfileEncrypted, 0u);
  EXPECT_STRNE(stored->password, "s3cret!");
  free_memory(record);
  free_error(error);
  velto::test::UnloadModule(module);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  char display[256] = {};
  if (GetEnvironmentVariableA("DISPLAY", display, sizeof display) == 0) {
    std::printf("dialog_tests: SKIPPED: no X display (DISPLAY is not set); the dialogs need a desktop\n");
    return kSkipped;
  }
  ULONG_PTR gdiplus = 0;  // the screenshots' PNG encoder
  Gdiplus::GdiplusStartupInput gdiplus_input;
  Gdiplus::GdiplusStartup(&gdiplus, &gdiplus_input, nullptr);
  // Without a window manager nothing draws the frames: Wine draws them
  // itself for this program, so that screenshots show the dialogs' titles.
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\dialog_tests.exe\\X11 Driver",
                      0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
    RegSetValueExW(key, L"Decorated", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"N"), 2 * sizeof(wchar_t));
    RegCloseKey(key);
  }
  HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  if (probe == nullptr) {
    std::printf("dialog_tests: SKIPPED: no window can be created on display %s\n", display);
    return kSkipped;
  }
  DestroyWindow(probe);
  void* library = velto::test::LoadModule("authdialogs.dll");
  if (library == nullptr) {
    std::printf("dialog_tests: authdialogs.dll not found beside the product\n");
    return 1;
  }
  g_create_1x = reinterpret_cast<Create1XDlgFn*>(velto::test::ModuleEntry(library, kAuthDialogsCreate1XDlg));
  g_create_sc = reinterpret_cast<CreateScDlgFn*>(velto::test::ModuleEntry(library, kAuthDialogsCreateScDlg));
  g_set_sc = reinterpret_cast<SetScListScFn*>(velto::test::ModuleEntry(library, kAuthDialogsSetScListSc));
  g_set_sim = reinterpret_cast<SetScListSimFn*>(velto::test::ModuleEntry(library, kAuthDialogsSetScListSim));
  if (!g_create_1x || !g_create_sc || !g_set_sc || !g_set_sim) {
    std::printf("dialog_tests: authdialogs.dll lacks an entry\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}
