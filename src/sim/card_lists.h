// The module-wide reader and card lists, kept up to date from card events.
#pragma once

#include "abi/card_records.h"

namespace velto {

// The module-wide lists. Only the card event callback writes them (holding
// the card list lock); the callers zero them before each card watch.
extern VELTO_SIM_LIST g_sim_list;
extern VELTO_SC_LIST_V120 g_sc_list;

// The card list lock: held by the card event callback while it updates the
// lists and pushes them to the dialog library, and by the two calls below.
// Nothing else may read the module-wide lists while events can arrive.
void LockCardLists();
void UnlockCardLists();

// Zeroes both module-wide lists.
void ClearCardLists();

// Copies both module-wide lists (either pointer may be null).
void SnapshotCardLists(VELTO_SC_LIST_V120* sc, VELTO_SIM_LIST* sim);

// Applies one card event to the module-wide lists and writes the list flags
// back into the record; nothing for a null record. Takes no lock: the caller
// holds the card list lock. A full list drops the new entry.
void UpdateCardLists(VELTO_CARD_EVENT* event);

// Build one entry from an event; nothing when either pointer is null.
void FillSimListEntry(const VELTO_CARD_EVENT* event, VELTO_SIM_LIST_ENTRY* entry);
void FillScListEntry(const VELTO_CARD_EVENT* event, VELTO_SC_LIST_ENTRY* entry);

// Remove a reader's entries from one list; nothing for a null list or name.
// After a match the scan resumes at the next index, so of two adjacent
// entries for one reader the second stays.
void RemoveSimReader(VELTO_SIM_LIST* list, const char* reader_name);
void RemoveScReader(VELTO_SC_LIST_V120* list, const char* reader_name);

}  // namespace velto
