// The Win32 dialogs' shared parts: texts in and out of the controls, the
// band layout, and the messages beside the fields.
//
// Profile texts are 8-bit in the ANSI code page; the dialogs are UTF-16.
// Every text read from a control passes through one buffer that is wiped
// afterwards, so passwords and PINs leave no copy behind in this library.
#include "authdialogs/controls_win.h"

#include <algorithm>
#include <climits>

namespace velto::dialogs::win {

HINSTANCE g_instance = nullptr;

// ---- texts

namespace {

// UTF-16 -> the ANSI code page. *lossy becomes true when a character has no
// place in the code page (it would be stored as the default character). Any
// control's text may be a password, so it lands in a secret text.
SecretString Narrow(const wchar_t* wide, int length, bool* lossy) {
  if (length <= 0) return {};
  // The flag cannot be asked for when the code page is UTF-8, which loses nothing.
  BOOL used_default = FALSE;
  BOOL* ask = GetACP() == CP_UTF8 ? nullptr : &used_default;
  int size = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
  SecretString text(std::max(size, 0), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, length, text.data(), size, nullptr, ask);
  if (used_default) *lossy = true;
  return text;
}

// A control's text in the ANSI code page. The UTF-16 buffer is wiped.
// Invisible direction and format marks: a thumbprint copied from the
// platform's certificate viewer starts with one, and no code page holds them.
bool IsFormatMark(wchar_t c) {
  return c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
         c == 0xFEFF;
}

SecretString ControlText(HWND dialog, int id, bool* lossy, bool drop_format_marks = false) {
  HWND control = GetDlgItem(dialog, id);
  std::vector<wchar_t> wide(GetWindowTextLengthW(control) + 1);
  int length = GetWindowTextW(control, wide.data(), static_cast<int>(wide.size()));
  if (drop_format_marks) {
    length = static_cast<int>(std::remove_if(wide.data(), wide.data() + length, IsFormatMark) - wide.data());
  }
  SecretString text = Narrow(wide.data(), length, lossy);
  SecureZeroMemory(wide.data(), wide.size() * sizeof(wchar_t));
  return text;
}

int DialogUnitsY(HWND dialog, int units) {
  RECT rect = {0, 0, 0, units};
  MapDialogRect(dialog, &rect);
  return rect.bottom;
}

}  // namespace

std::wstring Widen(std::string_view text) {
  if (text.empty()) return {};
  int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(std::max(length, 0), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::wstring LoadText(UINT id) {
  const wchar_t* text = nullptr;
  int length = LoadStringW(g_instance, id, reinterpret_cast<wchar_t*>(&text), 0);
  return length > 0 ? std::wstring(text, length) : std::wstring();
}

SecretString FieldReader::Secret(int id, Field field) {
  bool lossy = false;
  SecretString text = ControlText(dialog_, id, &lossy, field == Field::kThumbprint);
  if (lossy) {
    std::wstring message = LoadText(IDS_TEXT_NOT_STORABLE);
    errors_.push_back({field, std::string(Narrow(message.data(), static_cast<int>(message.size()), &lossy))});
  }
  return text;
}

void SetControlText(HWND dialog, int id, std::string_view text) {
  std::wstring wide = Widen(text);
  SetDlgItemTextW(dialog, id, wide.c_str());
  SecureZeroMemory(wide.data(), wide.capacity() * sizeof(wchar_t));
}

// Overwrites a secret's text inside its edit control (same length, so the
// control keeps its buffer) and empties it and its undo copy, before the
// control frees that buffer unwiped.
void ScrubSecretControl(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  std::wstring blank(GetWindowTextLengthW(control), L' ');
  SetWindowTextW(control, blank.c_str());
  SetWindowTextW(control, L"");
  SendMessageW(control, EM_EMPTYUNDOBUFFER, 0, 0);
}

// ---- layout

// A control as the resource script placed it, in client coordinates.
std::vector<Place> RememberPlaces(HWND dialog) {
  std::vector<Place> places;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    places.push_back({child, GetDlgCtrlID(child), rect});
  }
  return places;
}

// Stacks the shown bands from the first band's place down, a small gap
// apart, and fits the dialog's height to them.
void ArrangeBands(HWND dialog, const std::vector<Place>& places, const std::vector<Band>& bands) {
  const int gap = DialogUnitsY(dialog, 5);
  int y = INT_MIN;
  for (const Band& band : bands) {
    int top = INT_MAX;
    int bottom = INT_MIN;
    for (const Place& place : places) {
      if (place.id < band.first || place.id > band.last) continue;
      top = std::min(top, static_cast<int>(place.rect.top));
      bottom = std::max(bottom, static_cast<int>(place.rect.bottom));
    }
    if (top == INT_MAX) continue;
    if (y == INT_MIN) y = top;
    for (const Place& place : places) {
      if (place.id < band.first || place.id > band.last) continue;
      if (band.shown) {
        SetWindowPos(place.window, nullptr, place.rect.left, place.rect.top + (y - top), 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
      ShowWindow(place.window, band.shown ? SW_SHOWNA : SW_HIDE);
    }
    if (band.shown) y += bottom - top + gap;
  }
  RECT client;
  GetClientRect(dialog, &client);
  RECT frame = {0, 0, client.right, y - gap + DialogUnitsY(dialog, 7)};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
  SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Centres the dialog over its owner, or on the work area without one (the
// resource's centring saw the dialog before its bands were arranged).
void Centre(HWND dialog) {
  RECT area;
  HWND owner = GetWindow(dialog, GW_OWNER);
  if (owner == nullptr || !GetWindowRect(owner, &area)) {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  RECT rect;
  GetWindowRect(dialog, &rect);
  int x = area.left + ((area.right - area.left) - (rect.right - rect.left)) / 2;
  int y = area.top + ((area.bottom - area.top) - (rect.bottom - rect.top)) / 2;
  SetWindowPos(dialog, nullptr, std::max(x, 0), std::max(y, 0), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- field messages

bool IsMessage(std::span<const FieldPlace> places, int id) {
  return std::any_of(places.begin(), places.end(), [id](const FieldPlace& p) { return p.message == id; });
}

// Puts each error beside its field and moves the focus to the first one.
// True when there is none.
bool ShowFieldErrors(HWND dialog, std::span<const FieldPlace> places, const std::vector<FieldError>& errors) {
  std::vector<std::string> texts(places.size());
  int first = 0;
  for (const FieldError& error : errors) {
    for (size_t i = 0; i < places.size(); ++i) {
      if (places[i].field != error.field) continue;
      texts[i] += (texts[i].empty() ? "" : " ") + error.message;
      if (first == 0) first = places[i].control;
    }
  }
  for (size_t i = 0; i < places.size(); ++i) SetControlText(dialog, places[i].message, texts[i]);
  if (first != 0) {
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, first)), TRUE);
  }
  if (!errors.empty() && first == 0) MessageBeep(MB_ICONWARNING);
  return errors.empty();
}

// A field the user changes loses its message.
void ClearChangedFieldMessage(HWND dialog, std::span<const FieldPlace> places, WPARAM wparam) {
  if (HIWORD(wparam) != EN_CHANGE && HIWORD(wparam) != CBN_SELCHANGE) return;
  for (const FieldPlace& place : places) {
    if (place.control == LOWORD(wparam)) SetDlgItemTextW(dialog, place.message, L"");
  }
}

// Messages are drawn in red on the dialog's face.
INT_PTR MessageColours(HDC dc) {
  SetTextColor(dc, RGB(192, 0, 0));
  SetBkMode(dc, TRANSPARENT);
  return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_3DFACE));
}

// ---- combo boxes and radio buttons

void AddChoice(HWND dialog, int id, const std::wstring& text, uint32_t value) {
  LRESULT index = SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  SendDlgItemMessageW(dialog, id, CB_SETITEMDATA, index, value);
}

// Selects the entry holding `value`; none when no entry does.
void SelectChoice(HWND dialog, int id, uint32_t value) {
  LRESULT count = SendDlgItemMessageW(dialog, id, CB_GETCOUNT, 0, 0);
  LRESULT chosen = CB_ERR;
  for (LRESULT i = 0; i < count; ++i) {
    if (static_cast<uint32_t>(SendDlgItemMessageW(dialog, id, CB_GETITEMDATA, i, 0)) == value) chosen = i;
  }
  SendDlgItemMessageW(dialog, id, CB_SETCURSEL, chosen, 0);
}

// The chosen entry's value, or `unchanged` when none is chosen.
uint32_t ChosenValue(HWND dialog, int id, uint32_t unchanged) {
  LRESULT index = SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return unchanged;
  return static_cast<uint32_t>(SendDlgItemMessageW(dialog, id, CB_GETITEMDATA, index, 0));
}

bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

// Runs a modal dialog; 1 only for OK (a dialog that could not be created,
// e.g. without a desktop, counts as cancelled).
int ShowDialog(int resource, HWND owner, DLGPROC procedure, void* state) {
  INT_PTR result = DialogBoxParamW(g_instance, MAKEINTRESOURCEW(resource), owner, procedure,
                                   reinterpret_cast<LPARAM>(state));
  return result == 1 ? 1 : 0;
}

}  // namespace velto::dialogs::win
