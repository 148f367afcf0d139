// Dialog 3: the EAP-TTLS credentials asked for at sign-in.
#include <iterator>

#include "authdialogs/controls_win.h"

namespace velto::dialogs::win {
namespace {

constexpr FieldPlace kCredentialPlaces[] = {
    {Field::kUserName, IDC_CRED_USER, IDC_CRED_USER_ERR},
    {Field::kDomain, IDC_CRED_DOMAIN, IDC_CRED_DOMAIN_ERR},
    {Field::kPassword, IDC_CRED_PASSWORD, IDC_CRED_PASSWORD_ERR},
};

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

}  // namespace

int ShowCredentialDialog(HWND owner, _VELTO_WLAN_PROFILE_V120* profile) {
  CredentialDialog state{profile, {}};
  return ShowDialog(IDD_CREDENTIALS, owner, DialogProc<CredentialDialog>, &state);
}

}  // namespace velto::dialogs::win
