// Dialog 12: a profile's configuration, for EAP-TTLS and the SIM methods.
#include <iterator>

#include "authdialogs/controls_win.h"

namespace velto::dialogs::win {
namespace {

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

}  // namespace

int ShowConfigDialog(HWND owner, _VELTO_WLAN_PROFILE_V120* profile, int* password_changed) {
  ConfigDialog state{profile, password_changed, {}};
  return ShowDialog(IDD_CONFIG, owner, DialogProc<ConfigDialog>, &state);
}

}  // namespace velto::dialogs::win
