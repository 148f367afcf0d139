// The smart-card dialog: the reader and card to use, the PIN, and the
// identity template, over lists the card watch keeps changing.
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>

#include "authdialogs/controls_win.h"

namespace velto::dialogs::win {
namespace {

// Posted to the open smart-card dialog after SetScList stored new lists.
constexpr UINT kListsChanged = WM_APP + 1;

// The lists the smart-card dialog shows. SetScList writes them on the card
// event thread; the dialog reads them on its own thread after kListsChanged.
std::mutex g_lists_mutex;
VELTO_SC_LIST_V120 g_sc_list;  // guarded by g_lists_mutex
VELTO_SIM_LIST g_sim_list;     // guarded by g_lists_mutex
HWND g_sc_dialog = nullptr;    // guarded by g_lists_mutex; the open smart-card dialog

constexpr FieldPlace kSmartCardPlaces[] = {
    {Field::kReader, IDC_READERS, IDC_READERS_ERR},
    {Field::kPin, IDC_PIN, IDC_PIN_ERR},
    {Field::kIdentityTemplate, IDC_SC_TEMPLATE, IDC_SC_TEMPLATE_ERR},
};

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

int ShowSmartCardDialog(HWND owner, _VELTO_WLAN_PROFILE_V120* profile, int fail_code) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  SmartCardDialog state{profile, fail_code, {}, {}};
  return ShowDialog(IDD_SMARTCARD, owner, DialogProc<SmartCardDialog>, &state);
}

void StoreScList(const VELTO_SC_LIST_V120* list) { StoreList(&g_sc_list, list); }
void StoreSimList(const VELTO_SIM_LIST* list) { StoreList(&g_sim_list, list); }

}  // namespace velto::dialogs::win
