// authdialogs on Windows: the configuration, credential and smart-card dialogs
// from the resource script, drawn over the shared forms of dialog_model.
//
// Profile texts are 8-bit in the ANSI code page; the dialogs are UTF-16.
// Every text read from a control passes through one buffer that is wiped
// afterwards, so passwords and PINs leave no copy behind in this library.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "abi/authdialogs.h"
#include "authdialogs/authdialogs_resource.h"
#include "authdialogs/dialog_model.h"

namespace {

using velto::dialogs::ConfigForm;
using velto::dialogs::CredentialForm;
using velto::dialogs::CredentialSource;
using velto::dialogs::Field;
using velto::dialogs::FieldError;
using velto::dialogs::SecretString;
using velto::dialogs::ServerValidation;
using velto::dialogs::SmartCardForm;

constexpr int kConfigurationDialog = 12;
constexpr int kCredentialDialog = 3;

// Posted to the open smart-card dialog after SetScList stored new lists.
constexpr UINT kListsChanged = WM_APP + 1;

HINSTANCE g_instance = nullptr;

// The lists the smart-card dialog shows. SetScList writes them on the card
// event thread; the dialog reads them on its own thread after kListsChanged.
std::mutex g_lists_mutex;
VELTO_SC_LIST_V120 g_sc_list;  // guarded by g_lists_mutex
VELTO_SIM_LIST g_sim_list;     // guarded by g_lists_mutex
HWND g_sc_dialog = nullptr;    // guarded by g_lists_mutex; the open smart-card dialog

// ---- texts

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

// Reads a dialog's fields and notes each one whose text the profile cannot
// hold; those notes come before the form's own checks.
class FieldReader {
 public:
  explicit FieldReader(HWND dialog) : dialog_(dialog) {}

  // A password or a PIN.
  SecretString Secret(int id, Field field) {
    bool lossy = false;
    SecretString text = ControlText(dialog_, id, &lossy, field == Field::kThumbprint);
    if (lossy) {
      std::wstring message = LoadText(IDS_TEXT_NOT_STORABLE);
      errors_.push_back({field, std::string(Narrow(message.data(), static_cast<int>(message.size()), &lossy))});
    }
    return text;
  }
  std::string Text(int id, Field field) { return std::string(Secret(id, field)); }

  std::vector<FieldError> Errors(const std::vector<FieldError>& checked) const {
    std::vector<FieldError> errors = errors_;
    errors.insert(errors.end(), checked.begin(), checked.end());
    return errors;
  }

 private:
  HWND dialog_;
  std::vector<FieldError> errors_;
};

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
struct Place {
  HWND window;
  int id;
  RECT rect;
};

// The controls whose identifiers lie in [first, last]; hidden bands give
// their room to the bands below them.
struct Band {
  int first;
  int last;
  bool shown;
};

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

int DialogUnitsY(HWND dialog, int units) {
  RECT rect = {0, 0, 0, units};
  MapDialogRect(dialog, &rect);
  return rect.bottom;
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

// Where a field's input and its message sit in one dialog.
struct FieldPlace {
  Field field;
  int control;
  int message;
};

constexpr FieldPlace kConfigPlaces[] = {
    {Field::kCredentialSource, IDC_SOURCE, IDC_SOURCE_ERR},
    {Field::kInnerMethod, IDC_INNER, IDC_INNER_ERR},
    {Field::kUserName, IDC_USER, IDC_USER_ERR},
    {Field::kDomain, IDC_DOMAIN, IDC_DOMAIN_ERR},
    {Field::kPassword, IDC_PASSWORD, IDC_PASSWORD_ERR},
    {Field::kIdentityTemplate, IDC_TEMPLATE, IDC_TEMPLATE_ERR},
    {Field::kRoamingIdentity, IDC_ROAMING, IDC_ROAMING_ERR},
    {Field::kThumbprint, IDC_THUMBPRINT, IDC_THUMBPRINT_ERR},
    {Field::kSubject, IDC_SUBJECT, IDC_SUBJECT_ERR},
};

constexpr FieldPlace kCredentialPlaces[] = {
    {Field::kUserName, IDC_CRED_USER, IDC_CRED_USER_ERR},
    {Field::kDomain, IDC_CRED_DOMAIN, IDC_CRED_DOMAIN_ERR},
    {Field::kPassword, IDC_CRED_PASSWORD, IDC_CRED_PASSWORD_ERR},
};

constexpr FieldPlace kSmartCardPlaces[] = {
    {Field::kReader, IDC_READERS, IDC_READERS_ERR},
    {Field::kPin, IDC_PIN, IDC_PIN_ERR},
    {Field::kIdentityTemplate, IDC_SC_TEMPLATE, IDC_SC_TEMPLATE_ERR},
};

template <size_t N>
bool IsMessage(const FieldPlace (&places)[N], int id) {
  return std::any_of(places, places + N, [id](const FieldPlace& p) { return p.message == id; });
}

// Puts each error beside its field and moves the focus to the first one.
// True when there is none.
template <size_t N>
bool ShowFieldErrors(HWND dialog, const FieldPlace (&places)[N], const std::vector<FieldError>& errors) {
  std::vector<std::string> texts(N);
  int first = 0;
  for (const FieldError& error : errors) {
    for (size_t i = 0; i < N; ++i) {
      if (places[i].field != error.field) continue;
      texts[i] += (texts[i].empty() ? "" : " ") + error.message;
      if (first == 0) first = places[i].control;
    }
  }
  for (size_t i = 0; i < N; ++i) SetControlText(dialog, places[i].message, texts[i]);
  if (first != 0) {
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, first)), TRUE);
  }
  if (!errors.empty() && first == 0) MessageBeep(MB_ICONWARNING);
  return errors.empty();
}

// A field the user changes loses its message.
template <size_t N>
void ClearChangedFieldMessage(HWND dialog, const FieldPlace (&places)[N], WPARAM wparam) {
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

// ---- what every dialog does alike

// A dialog's state, one type per dialog, with these members:
//   static constexpr FieldPlace kPlaces[]: its fields and their messages;
//   void Init(HWND): fills the controls from the profile;
//   bool Confirm(HWND, FieldReader*): reads and checks the controls, shows
//     the messages, and stores into the profile when nothing was refused;
//   INT_PTR Command(HWND, WPARAM), INT_PTR Notify(HWND, const NMHDR*),
//   INT_PTR Private(HWND, UINT): what else the dialog answers;
//   void Forget(HWND): wipes its secrets as the dialog goes.
// OK closes with 1 only once Confirm accepts; Cancel and Esc close with 0
// and write nothing.
template <typename State>
INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<State*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lparam);
    reinterpret_cast<State*>(lparam)->Init(dialog);
    return FALSE;  // Init set the focus
  }
  if (state == nullptr) return FALSE;
  switch (message) {
    case WM_CTLCOLORSTATIC: {
      int id = GetDlgCtrlID(reinterpret_cast<HWND>(lparam));
      if (id == IDC_RETRY_MESSAGE || IsMessage(State::kPlaces, id)) {
        return MessageColours(reinterpret_cast<HDC>(wparam));
      }
      return FALSE;
    }
    case WM_COMMAND:
      ClearChangedFieldMessage(dialog, State::kPlaces, wparam);
      if (LOWORD(wparam) == IDOK) {
        FieldReader reader(dialog);
        if (state->Confirm(dialog, &reader)) EndDialog(dialog, 1);
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      return state->Command(dialog, wparam);
    case WM_NOTIFY:
      return state->Notify(dialog, reinterpret_cast<const NMHDR*>(lparam));
    case WM_DESTROY:
      state->Forget(dialog);
      return FALSE;
  }
  return message >= WM_APP ? state->Private(dialog, message) : FALSE;
}

// Checks a form read from the controls and stores it when nothing was refused.
template <typename Form, size_t N>
bool ConfirmForm(HWND dialog, const FieldPlace (&places)[N], FieldReader* reader, Form* form,
                 std::vector<FieldError> (*check)(const Form&), const std::function<void(const Form&)>& store) {
  bool accepted = ShowFieldErrors(dialog, places, reader->Errors(check(*form)));
  if (accepted) store(*form);
  velto::dialogs::Wipe(form);
  return accepted;
}

// ---- dialog 12: configuration

bool IsSimOrAka(uint32_t method_kind) {
  return method_kind == velto::kProfileMethodSim || method_kind == velto::kProfileMethodAka;
}

void EnableServerFields(HWND dialog) {
  bool validating = !Checked(dialog, IDC_VALIDATE_NONE);
  EnableWindow(GetDlgItem(dialog, IDC_THUMBPRINT), Checked(dialog, IDC_VALIDATE_THUMBPRINT));
  for (int id : {IDC_SUBJECT_LABEL, IDC_SUBJECT, IDC_SUBJECT_SERVER, IDC_SUBJECT_DOMAIN}) {
    EnableWindow(GetDlgItem(dialog, id), validating);
  }
}

struct ConfigDialog {
  static constexpr const FieldPlace (&kPlaces)[std::size(kConfigPlaces)] = kConfigPlaces;

  _VELTO_WLAN_PROFILE_V120* profile;
  int* password_changed;
  ConfigForm form;
  bool ready = false;  // past Init: changes are the user's
  bool password_edited = false;

  void Init(HWND dialog);
  ConfigForm Read(HWND dialog, FieldReader* reader) const;

  bool Confirm(HWND dialog, FieldReader* reader) {
    ConfigForm read = Read(dialog, reader);
    return ConfirmForm<ConfigForm>(dialog, kPlaces, reader, &read, velto::dialogs::CheckConfigForm,
                                   [this](const ConfigForm& f) {
                                     velto::dialogs::StoreConfigForm(f, profile, password_changed);
                                   });
  }

  INT_PTR Command(HWND dialog, WPARAM wparam) {
    switch (LOWORD(wparam)) {
      case IDC_PASSWORD:
        if (HIWORD(wparam) == EN_CHANGE && ready) password_edited = true;
        return TRUE;
      case IDC_VALIDATE_NONE:
      case IDC_VALIDATE_ANY:
      case IDC_VALIDATE_THUMBPRINT:
        if (HIWORD(wparam) == BN_CLICKED) EnableServerFields(dialog);
        return TRUE;
    }
    return FALSE;
  }
  INT_PTR Notify(HWND, const NMHDR*) { return FALSE; }
  INT_PTR Private(HWND, UINT) { return FALSE; }
  void Forget(HWND dialog) {
    ScrubSecretControl(dialog, IDC_PASSWORD);
    velto::dialogs::Wipe(&form);
  }
};

void ConfigDialog::Init(HWND dialog) {
  form = velto::dialogs::LoadConfigForm(*profile);
  bool identity_only = IsSimOrAka(form.method_kind);
  UINT title = form.method_kind == velto::kProfileMethodTtls  ? IDS_TITLE_TTLS
               : form.method_kind == velto::kProfileMethodSim ? IDS_TITLE_SIM
               : form.method_kind == velto::kProfileMethodAka ? IDS_TITLE_AKA
                                                              : IDS_TITLE_OTHER;
  SetWindowTextW(dialog, LoadText(title).c_str());

  AddChoice(dialog, IDC_SOURCE, LoadText(IDS_SOURCE_SAVED), static_cast<uint32_t>(CredentialSource::kSaved));
  AddChoice(dialog, IDC_SOURCE, LoadText(IDS_SOURCE_PROMPT), static_cast<uint32_t>(CredentialSource::kPrompt));
  AddChoice(dialog, IDC_SOURCE, LoadText(IDS_SOURCE_SSO), static_cast<uint32_t>(CredentialSource::kSingleSignOn));
  SelectChoice(dialog, IDC_SOURCE, static_cast<uint32_t>(form.source));
  for (uint32_t method = 1; velto::dialogs::InnerMethodName(method) != nullptr; ++method) {
    AddChoice(dialog, IDC_INNER, Widen(velto::dialogs::InnerMethodName(method)), method);
  }
  SelectChoice(dialog, IDC_INNER, form.inner_method);

  SetControlText(dialog, identity_only ? IDC_TEMPLATE : IDC_USER, form.user_name);
  SetControlText(dialog, IDC_DOMAIN, form.domain);
  SetControlText(dialog, IDC_PASSWORD, form.password);
  SetControlText(dialog, IDC_ROAMING, form.roaming_identity);
  // The module keeps the outer identity only for EAP-TTLS: for the SIM
  // methods it is shown as configured, not offered for editing.
  SendDlgItemMessageW(dialog, IDC_ROAMING, EM_SETREADONLY, identity_only ? TRUE : FALSE, 0);
  SetControlText(dialog, IDC_THUMBPRINT, form.thumbprint);
  SetControlText(dialog, IDC_SUBJECT, form.subject);
  int validation = form.validation == ServerValidation::kNone        ? IDC_VALIDATE_NONE
                   : form.validation == ServerValidation::kThumbprint ? IDC_VALIDATE_THUMBPRINT
                                                                      : IDC_VALIDATE_ANY;
  CheckRadioButton(dialog, IDC_VALIDATE_NONE, IDC_VALIDATE_THUMBPRINT, validation);
  CheckRadioButton(dialog, IDC_SUBJECT_SERVER, IDC_SUBJECT_DOMAIN,
                   form.subject_is_domain ? IDC_SUBJECT_DOMAIN : IDC_SUBJECT_SERVER);
  EnableServerFields(dialog);

  ArrangeBands(dialog, RememberPlaces(dialog),
               {{IDC_SIGNIN_GROUP, IDC_SIGNIN_LAST, !identity_only},
                {IDC_IDENTITY_GROUP, IDC_IDENTITY_LAST, identity_only},
                {IDC_PRIVACY_GROUP, IDC_PRIVACY_LAST, true},
                {IDC_SERVER_GROUP, IDC_SERVER_LAST, !identity_only},
                {IDOK, IDCANCEL, true}});
  Centre(dialog);
  SetFocus(GetDlgItem(dialog, identity_only ? IDC_TEMPLATE : IDC_SOURCE));
  ready = true;
}

// The form as the controls now stand; fields the method does not show keep
// what was loaded.
ConfigForm ConfigDialog::Read(HWND dialog, FieldReader* reader) const {
  ConfigForm form = this->form;
  if (IsSimOrAka(form.method_kind)) {
    form.user_name = reader->Text(IDC_TEMPLATE, Field::kIdentityTemplate);
    return form;
  }
  form.roaming_identity = reader->Text(IDC_ROAMING, Field::kRoamingIdentity);
  form.source = static_cast<CredentialSource>(
      ChosenValue(dialog, IDC_SOURCE, static_cast<uint32_t>(form.source)));
  form.inner_method = ChosenValue(dialog, IDC_INNER, form.inner_method);
  form.user_name = reader->Text(IDC_USER, Field::kUserName);
  form.domain = reader->Text(IDC_DOMAIN, Field::kDomain);
  velto::dialogs::Wipe(&form.password);
  form.password = reader->Secret(IDC_PASSWORD, Field::kPassword);
  form.password_edited = password_edited;
  form.validation = Checked(dialog, IDC_VALIDATE_NONE)         ? ServerValidation::kNone
                    : Checked(dialog, IDC_VALIDATE_THUMBPRINT) ? ServerValidation::kThumbprint
                                                               : ServerValidation::kAnyTrusted;
  form.thumbprint = reader->Text(IDC_THUMBPRINT, Field::kThumbprint);
  form.subject = reader->Text(IDC_SUBJECT, Field::kSubject);
  form.subject_is_domain = Checked(dialog, IDC_SUBJECT_DOMAIN);
  return form;
}

// ---- dialog 3: EAP-TTLS credentials

struct CredentialDialog {
  static constexpr const FieldPlace (&kPlaces)[std::size(kCredentialPlaces)] = kCredentialPlaces;

  _VELTO_WLAN_PROFILE_V120* profile;
  CredentialForm form;

  void Init(HWND dialog) {
    form = velto::dialogs::LoadCredentialForm(*profile);
    SetControlText(dialog, IDC_CRED_USER, form.user_name);
    SetControlText(dialog, IDC_CRED_DOMAIN, form.domain);
    SetControlText(dialog, IDC_CRED_PASSWORD, form.password);
    // An empty user name comes first, else the password.
    SetFocus(GetDlgItem(dialog, form.user_name.empty() ? IDC_CRED_USER : IDC_CRED_PASSWORD));
  }

  bool Confirm(HWND dialog, FieldReader* reader) {
    CredentialForm read;
    read.user_name = reader->Text(IDC_CRED_USER, Field::kUserName);
    read.domain = reader->Text(IDC_CRED_DOMAIN, Field::kDomain);
    read.password = reader->Secret(IDC_CRED_PASSWORD, Field::kPassword);
    return ConfirmForm<CredentialForm>(
        dialog, kPlaces, reader, &read, velto::dialogs::CheckCredentialForm,
        [this](const CredentialForm& f) { velto::dialogs::StoreCredentialForm(f, profile); });
  }

  INT_PTR Command(HWND, WPARAM) { return FALSE; }
  INT_PTR Notify(HWND, const NMHDR*) { return FALSE; }
  INT_PTR Private(HWND, UINT) { return FALSE; }
  void Forget(HWND dialog) {
    ScrubSecretControl(dialog, IDC_CRED_PASSWORD);
    velto::dialogs::Wipe(&form);
  }
};

// ---- the smart-card dialog

struct SmartCardDialog {
  static constexpr const FieldPlace (&kPlaces)[std::size(kSmartCardPlaces)] = kSmartCardPlaces;

  _VELTO_WLAN_PROFILE_V120* profile;
  int fail_code;
  SmartCardForm form;
  std::vector<Place> places;
  bool filling = false;  // selection changes come from the dialog itself

  void Init(HWND dialog);
  bool Confirm(HWND dialog, FieldReader* reader);
  INT_PTR Command(HWND, WPARAM) { return FALSE; }
  INT_PTR Notify(HWND dialog, const NMHDR* header);
  INT_PTR Private(HWND dialog, UINT message);
  void Forget(HWND dialog);
};

// Takes the stored lists into the form (the first reader is chosen while
// none is) and registers the dialog for later changes, in one step under the
// lock so that no change falls between the two.
void TakeLists(HWND dialog, SmartCardDialog* state, bool first) {
  auto sc = std::make_unique<VELTO_SC_LIST_V120>();
  auto sim = std::make_unique<VELTO_SIM_LIST>();
  {
    std::lock_guard<std::mutex> lock(g_lists_mutex);
    std::memcpy(sc.get(), &g_sc_list, sizeof *sc);
    std::memcpy(sim.get(), &g_sim_list, sizeof *sim);
    g_sc_dialog = dialog;
  }
  if (first) {
    state->form = velto::dialogs::LoadSmartCardForm(*state->profile, state->fail_code, sc.get(), sim.get());
  } else {
    velto::dialogs::RefreshSmartCardForm(&state->form, sc.get(), sim.get());
  }
  if (state->form.selected < 0 && !state->form.readers.empty()) state->form.selected = 0;
}

void ArrangeSmartCard(HWND dialog, const SmartCardDialog& state) {
  ArrangeBands(dialog, state.places,
               {{IDC_RETRY_MESSAGE, IDC_RETRY_MESSAGE, state.form.retry},
                {IDC_READERS_LABEL, IDC_READERS_LAST, true},
                {IDC_PIN_LABEL, IDC_PIN_LAST, velto::dialogs::SmartCardFormNeedsPin(state.form)},
                {IDC_SC_TEMPLATE_LABEL, IDC_SC_TEMPLATE_LAST, true},
                {IDOK, IDCANCEL, true}});
}

void InsertColumn(HWND list, int index, UINT text_id, int width) {
  std::wstring text = LoadText(text_id);
  LVCOLUMNW column = {};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  column.pszText = text.data();
  column.cx = width;
  column.iSubItem = index;
  SendMessageW(list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
}

void SetCell(HWND list, int item, int column, const std::wstring& text) {
  LVITEMW cell = {};
  cell.iSubItem = column;
  cell.pszText = const_cast<wchar_t*>(text.c_str());
  SendMessageW(list, LVM_SETITEMTEXTW, item, reinterpret_cast<LPARAM>(&cell));
}

void FillReaderList(HWND dialog, SmartCardDialog* state) {
  HWND list = GetDlgItem(dialog, IDC_READERS);
  state->filling = true;
  SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  for (size_t i = 0; i < state->form.readers.size(); ++i) {
    const velto::dialogs::ReaderChoice& reader = state->form.readers[i];
    std::wstring name = Widen(reader.reader_name);
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = static_cast<int>(i);
    item.pszText = name.data();
    item.lParam = static_cast<LPARAM>(i);
    int row = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    SetCell(list, row, 1, Widen(reader.card_name));
    UINT kind = !reader.is_sim ? IDS_KIND_CARD : reader.pin_enabled ? IDS_KIND_SIM_PIN : IDS_KIND_SIM;
    SetCell(list, row, 2, LoadText(kind));
  }
  if (state->form.selected >= 0) {
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, state->form.selected, reinterpret_cast<LPARAM>(&item));
    SendMessageW(list, LVM_ENSUREVISIBLE, state->form.selected, FALSE);
  }
  state->filling = false;
}

// The reader the user now has selected in the list, as a form index.
int SelectedReader(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_READERS);
  int row = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  if (row < 0) return -1;
  LVITEMW item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  return static_cast<int>(item.lParam);
}

void SmartCardDialog::Init(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_READERS);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  RECT client;
  GetClientRect(list, &client);
  int width = client.right - GetSystemMetrics(SM_CXVSCROLL);
  InsertColumn(list, 0, IDS_COLUMN_READER, width * 9 / 20);
  InsertColumn(list, 1, IDS_COLUMN_CARD, width * 6 / 20);
  InsertColumn(list, 2, IDS_COLUMN_KIND, width - width * 9 / 20 - width * 6 / 20);

  TakeLists(dialog, this, true);
  SetControlText(dialog, IDC_SC_TEMPLATE, form.identity_template);
  if (form.retry) SetDlgItemTextW(dialog, IDC_RETRY_MESSAGE, LoadText(IDS_PIN_NOT_ACCEPTED).c_str());
  FillReaderList(dialog, this);
  places = RememberPlaces(dialog);
  ArrangeSmartCard(dialog, *this);
  Centre(dialog);
  SetFocus(velto::dialogs::SmartCardFormNeedsPin(form) ? GetDlgItem(dialog, IDC_PIN) : list);
}

bool SmartCardDialog::Confirm(HWND dialog, FieldReader* reader) {
  SmartCardForm read = form;
  read.identity_template = reader->Text(IDC_SC_TEMPLATE, Field::kIdentityTemplate);
  if (velto::dialogs::SmartCardFormNeedsPin(read)) read.pin = reader->Secret(IDC_PIN, Field::kPin);
  return ConfirmForm<SmartCardForm>(
      dialog, kPlaces, reader, &read, velto::dialogs::CheckSmartCardForm,
      [this](const SmartCardForm& f) { velto::dialogs::StoreSmartCardForm(f, profile); });
}

INT_PTR SmartCardDialog::Notify(HWND dialog, const NMHDR* header) {
  if (header->idFrom != IDC_READERS || header->code != LVN_ITEMCHANGED || filling) return FALSE;
  bool needed = velto::dialogs::SmartCardFormNeedsPin(form);
  form.selected = SelectedReader(dialog);
  SetDlgItemTextW(dialog, IDC_READERS_ERR, L"");
  if (needed != velto::dialogs::SmartCardFormNeedsPin(form)) ArrangeSmartCard(dialog, *this);
  return FALSE;
}

INT_PTR SmartCardDialog::Private(HWND dialog, UINT message) {
  if (message != kListsChanged) return FALSE;
  TakeLists(dialog, this, false);
  FillReaderList(dialog, this);
  ArrangeSmartCard(dialog, *this);
  return TRUE;
}

void SmartCardDialog::Forget(HWND dialog) {
  {
    std::lock_guard<std::mutex> lock(g_lists_mutex);
    if (g_sc_dialog == dialog) g_sc_dialog = nullptr;
  }
  ScrubSecretControl(dialog, IDC_PIN);
  velto::dialogs::Wipe(&form);
}

// Runs a modal dialog; 1 only for OK (a dialog that could not be created,
// e.g. without a desktop, counts as cancelled).
int ShowDialog(int resource, HWND owner, DLGPROC procedure, void* state) {
  INT_PTR result = DialogBoxParamW(g_instance, MAKEINTRESOURCEW(resource), owner, procedure,
                                   reinterpret_cast<LPARAM>(state));
  return result == 1 ? 1 : 0;
}

// Copies a list into the library's storage (zeroes for null) and tells the
// open smart-card dialog, which reads it on its own thread.
template <typename List>
void StoreList(List* storage, const List* list) {
  std::lock_guard<std::mutex> lock(g_lists_mutex);
  if (list != nullptr) {
    std::memcpy(storage, list, sizeof *storage);
  } else {
    std::memset(storage, 0, sizeof *storage);
  }
  if (g_sc_dialog != nullptr) PostMessageW(g_sc_dialog, kListsChanged, 0, 0);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_instance = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" int Create1XDlg(C8021X_DLGS dialog, _VELTO_WLAN_PROFILE_V120* profile,
                           VELTO_DOT1X_AUTH_FAIL_CODE, _C8021X_SETTINGS_WINDOW_MODE, HWND owner,
                           int* password_changed) {
  if (profile == nullptr) return 0;
  if (dialog == kConfigurationDialog) {
    ConfigDialog state{profile, password_changed, {}};
    return ShowDialog(IDD_CONFIG, owner, DialogProc<ConfigDialog>, &state);
  }
  if (dialog == kCredentialDialog) {
    CredentialDialog state{profile, {}};
    return ShowDialog(IDD_CREDENTIALS, owner, DialogProc<CredentialDialog>, &state);
  }
  return 0;
}

extern "C" int CreateScDlg(_VELTO_WLAN_PROFILE_V120* profile, VELTO_DOT1X_AUTH_FAIL_CODE fail_code,
                           _C8021X_SETTINGS_WINDOW_MODE, HWND owner, VELTO_SC_LIST_V120* sc_list,
                           VELTO_SIM_LIST* sim_list) {
  if (profile == nullptr) return 0;
  StoreList(&g_sc_list, sc_list);
  StoreList(&g_sim_list, sim_list);
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  SmartCardDialog state{profile, fail_code, {}, {}};
  return ShowDialog(IDD_SMARTCARD, owner, DialogProc<SmartCardDialog>, &state);
}

extern "C" int SetScListSc(VELTO_SC_LIST_V120* sc_list) {
  if (sc_list == nullptr) return 0;
  StoreList(&g_sc_list, sc_list);
  return 1;
}

extern "C" int SetScListSim(VELTO_SIM_LIST* sim_list) {
  if (sim_list == nullptr) return 0;
  StoreList(&g_sim_list, sim_list);
  return 1;
}
