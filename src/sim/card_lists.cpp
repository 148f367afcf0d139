#include "sim/card_lists.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "base/text.h"
#include "trace/trace.h"

namespace velto {

VELTO_SIM_LIST g_sim_list;
VELTO_SC_LIST_V120 g_sc_list;

namespace {

std::mutex g_card_list_mutex;

constexpr uint32_t kCardHasData = kCardHasData1 | kCardHasData2;

// "card://" plus two hex digits per byte must leave room for the NUL in an
// identifier's 256 bytes.
constexpr size_t kIdentifierTextSize = 256;
constexpr char kIdentifierPrefix[] = "card://";
constexpr char kHexDigits[] = "0123456789abcdef";

// A list's count as something safe to index with, whatever the memory says.
int ClampedCount(int32_t count) { return std::clamp<int32_t>(count, 0, kMaxListEntries); }

// Writes "card://", the identifier in lowercase hex and the label into one
// 256-byte slot. Identifier bytes that do not fit are cut, and the label
// only gets what room is left.
void WriteIdentifier(const VELTO_CARD_ITEM& item, char* slot) {
  size_t id_length = static_cast<size_t>(std::clamp<int32_t>(
      item.identifier_length, 0, static_cast<int32_t>(sizeof item.identifier)));
  size_t used = sizeof kIdentifierPrefix - 1;
  std::memcpy(slot, kIdentifierPrefix, used);
  for (size_t i = 0; i < id_length && used + 2 < kIdentifierTextSize; ++i) {
    slot[used++] = kHexDigits[item.identifier[i] >> 4];
    slot[used++] = kHexDigits[item.identifier[i] & 0xF];
  }
  size_t room = kIdentifierTextSize - 1 - used;
  size_t label_length = strnlen(item.label, std::min(room, sizeof item.label));
  std::memcpy(slot + used, item.label, label_length);
  slot[used + label_length] = '\0';
}

}  // namespace

void LockCardLists() { g_card_list_mutex.lock(); }

void UnlockCardLists() { g_card_list_mutex.unlock(); }

void ClearCardLists() {
  std::lock_guard<std::mutex> lock(g_card_list_mutex);
  std::memset(&g_sim_list, 0, sizeof g_sim_list);
  std::memset(&g_sc_list, 0, sizeof g_sc_list);
}

void SnapshotCardLists(VELTO_SC_LIST_V120* sc, VELTO_SIM_LIST* sim) {
  std::lock_guard<std::mutex> lock(g_card_list_mutex);
  if (sc != nullptr) std::memcpy(sc, &g_sc_list, sizeof *sc);
  if (sim != nullptr) std::memcpy(sim, &g_sim_list, sizeof *sim);
}

void UpdateCardLists(VELTO_CARD_EVENT* event) {
  if (event == nullptr) return;
  // The record comes from another library: its texts need not be terminated.
  char reader[sizeof event->reader_name + 1];
  FieldText(event->reader_name, reader);

  if (event->kind == kCardUpdated) {
    RemoveSimReader(&g_sim_list, reader);
    RemoveScReader(&g_sc_list, reader);
  }

  if (event->kind == kCardInserted || event->kind == kCardUpdated) {
    uint32_t flags = event->flags;
    if ((flags & kCardHasData) == 0) {
      char card[sizeof event->card_name + 1];
      FieldText(event->card_name, card);
      Trace("Card [%s] in reader [%s] flags [%d]\n", card, reader,
            static_cast<int>(flags));
      return;
    }
    // A card that lists items goes to the smart card list; without, a SIM.
    if (event->item_count != 0) {
      flags = (flags | kCardToScList) & ~kCardToSimList;
    } else {
      flags = (flags | kCardToSimList) & ~kCardToScList;
    }
    // Written back even when a full list drops the entry: the flags describe
    // the card, not the list.
    event->flags = flags;

    // An eleventh reader is dropped; the list keeps the ten it has.
    if ((flags & kCardToSimList) != 0) {
      int count = ClampedCount(g_sim_list.count);
      if (count < kMaxListEntries) {
        FillSimListEntry(event, &g_sim_list.entries[count]);
        g_sim_list.count = count + 1;
      }
    }
    if ((flags & kCardToScList) != 0) {
      int count = ClampedCount(g_sc_list.count);
      if (count < kMaxListEntries) {
        FillScListEntry(event, &g_sc_list.entries[count]);
        g_sc_list.count = count + 1;
      }
    }
    return;
  }

  if (event->kind == kCardRemoved) {
    RemoveSimReader(&g_sim_list, reader);
    RemoveScReader(&g_sc_list, reader);
  }
}

void FillSimListEntry(const VELTO_CARD_EVENT* event, VELTO_SIM_LIST_ENTRY* entry) {
  if (event == nullptr || entry == nullptr) return;
  std::memset(entry, 0, sizeof *entry);
  CopyTextField(entry->reader_name, FieldView(event->reader_name));
  if ((event->flags & kCardHasData) != 0) {
    CopyTextField(entry->card_name, FieldView(event->card_name));
    size_t data_length = std::min<size_t>(event->card_data_length, sizeof event->card_data);
    std::memcpy(entry->card_data, event->card_data, data_length);
    Trace("SIM reader [%s]with card [%s] has successfully been detected", entry->reader_name,
          entry->card_name);
  }
  if ((event->flags & kCardPinEnabled) != 0) entry->pin_enabled = 1;
}

void FillScListEntry(const VELTO_CARD_EVENT* event, VELTO_SC_LIST_ENTRY* entry) {
  if (event == nullptr || entry == nullptr) return;
  std::memset(entry, 0, sizeof *entry);
  CopyTextField(entry->reader_name, FieldView(event->reader_name));
  if ((event->flags & kCardHasData) == 0) return;

  if (event->card_name[0] != '\0') {
    CopyTextField(entry->card_name, FieldView(event->card_name));
  } else {
    // Raw bytes with a length: at most 127 of them, so the copy stays a
    // terminated text even when the length claims the whole field or more.
    size_t length = std::min<size_t>(event->alternative_card_name_length,
                                     sizeof event->alternative_card_name - 1);
    CopyTextField(entry->card_name, sizeof entry->card_name, event->alternative_card_name, length);
  }

  // The record has eight item slots whatever its count says.
  int items = std::clamp<int32_t>(event->item_count, 0, kMaxCardItems);
  entry->item_count = items;
  for (int n = 0; n < items; ++n) {
    const VELTO_CARD_ITEM& item = event->items[n];
    // An item without identifier keeps its slot, all zero: slot n is item n.
    if (item.identifier_length <= 0) continue;
    WriteIdentifier(item, entry->identifiers[n]);
  }
  Trace("SC reader [%s]with card [%s] has successfully been detected", entry->reader_name,
        entry->card_name);
}

namespace {

// Shared by both lists: they differ only in their entry type.
template <typename List>
void RemoveReader(List* list, const char* reader_name, const char* list_name) {
  if (list == nullptr || reader_name == nullptr) return;
  int count = ClampedCount(list->count);
  // After a match the scan moves on to the next index, so the entry that
  // slid into the freed place is not compared again.
  for (int i = 0; i < count; ++i) {
    // An unterminated name in a damaged list matches nothing.
    const auto& name = list->entries[i].reader_name;
    if (FieldLength(name) == sizeof name || std::strcmp(name, reader_name) != 0) continue;
    std::memmove(&list->entries[i], &list->entries[i + 1],
                 sizeof list->entries[0] * static_cast<size_t>(count - i - 1));
    --count;
    // No stale copy of the last entry stays behind the count.
    std::memset(&list->entries[count], 0, sizeof list->entries[0]);
    list->count = count;
    Trace("%s reader [%s]has successfully been removed [%d] readers remains", list_name,
          reader_name, count);
  }
}

}  // namespace

void RemoveSimReader(VELTO_SIM_LIST* list, const char* reader_name) {
  RemoveReader(list, reader_name, "SIM");
}

void RemoveScReader(VELTO_SC_LIST_V120* list, const char* reader_name) {
  RemoveReader(list, reader_name, "SC");
}

}  // namespace velto
