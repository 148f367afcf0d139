// What the Win32 dialogs of authdialogs share: texts, the band layout, the
// field messages, the controls' helpers and the one dialog procedure.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "abi/authdialogs.h"
#include "authdialogs/authdialogs_resource.h"
#include "authdialogs/dialog_model.h"

namespace velto::dialogs::win {

// The library's module, set once when it is loaded.
extern HINSTANCE g_instance;

// ---- texts

std::wstring Widen(std::string_view text);
std::wstring LoadText(UINT id);

// Reads a dialog's fields and notes each one whose text the profile cannot
// hold; those notes come before the form's own checks.
class FieldReader {
 public:
  explicit FieldReader(HWND dialog) : dialog_(dialog) {}

  // A password or a PIN.
  SecretString Secret(int id, Field field);
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

void SetControlText(HWND dialog, int id, std::string_view text);
void ScrubSecretControl(HWND dialog, int id);

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

std::vector<Place> RememberPlaces(HWND dialog);
void ArrangeBands(HWND dialog, const std::vector<Place>& places, const std::vector<Band>& bands);
void Centre(HWND dialog);

// ---- field messages

// Where a field's input and its message sit in one dialog.
struct FieldPlace {
  Field field;
  int control;
  int message;
};

bool IsMessage(std::span<const FieldPlace> places, int id);
bool ShowFieldErrors(HWND dialog, std::span<const FieldPlace> places, const std::vector<FieldError>& errors);
void ClearChangedFieldMessage(HWND dialog, std::span<const FieldPlace> places, WPARAM wparam);
INT_PTR MessageColours(HDC dc);

// ---- combo boxes and radio buttons

void AddChoice(HWND dialog, int id, const std::wstring& text, uint32_t value);
void SelectChoice(HWND dialog, int id, uint32_t value);
uint32_t ChosenValue(HWND dialog, int id, uint32_t unchanged);
bool Checked(HWND dialog, int id);

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
template <typename Form>
bool ConfirmForm(HWND dialog, std::span<const FieldPlace> places, FieldReader* reader, Form* form,
                 std::vector<FieldError> (*check)(const Form&), const std::function<void(const Form&)>& store) {
  bool accepted = ShowFieldErrors(dialog, places, reader->Errors(check(*form)));
  if (accepted) store(*form);
  velto::dialogs::Wipe(form);
  return accepted;
}

int ShowDialog(int resource, HWND owner, DLGPROC procedure, void* state);

// ---- the three dialogs; each returns 1 only for OK

int ShowConfigDialog(HWND owner, _VELTO_WLAN_PROFILE_V120* profile, int* password_changed);
int ShowCredentialDialog(HWND owner, _VELTO_WLAN_PROFILE_V120* profile);
int ShowSmartCardDialog(HWND owner, _VELTO_WLAN_PROFILE_V120* profile, int fail_code);

// Stores the lists the smart-card dialog shows (zeroes for null) and tells
// the open one.
void StoreScList(const VELTO_SC_LIST_V120* list);
void StoreSimList(const VELTO_SIM_LIST* list);

}  // namespace velto::dialogs::win
