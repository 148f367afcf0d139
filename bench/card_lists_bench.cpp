// Card events applied to the reader and card lists, as the card event
// callback applies them (under the card list lock). One cycle is a realistic
// mix: SIMs and a two-item token inserted, updated and removed, a card
// without card data, a removal of a reader in neither list. The lists are
// empty again after each cycle.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "sim/card_lists.h"

namespace velto::bench {
namespace {

struct FreeEvent {
  void operator()(VELTO_CARD_EVENT* event) const { std::free(event); }
};
using Event = std::unique_ptr<VELTO_CARD_EVENT, FreeEvent>;

Event MakeEvent(int32_t kind, int reader, uint32_t flags, int items) {
  Event event(static_cast<VELTO_CARD_EVENT*>(std::calloc(1, sizeof(VELTO_CARD_EVENT))));
  if (!event) return event;
  event->kind = kind;
  std::snprintf(event->reader_name, sizeof event->reader_name, "Virtual PCD 00 %02d", reader);
  if (flags & (kCardHasData1 | kCardHasData2)) {
    std::snprintf(event->card_name, sizeof event->card_name, items ? "Token %d" : "SIM %d", reader);
    event->card_data_length = 10;  // an ICCID's worth
    for (uint32_t i = 0; i < event->card_data_length; ++i) event->card_data[i] = uint8_t(0x98 + i);
  }
  event->item_count = items;
  for (int i = 0; i < items; ++i) {
    VELTO_CARD_ITEM& item = event->items[i];
    std::snprintf(item.label, sizeof item.label, i == 0 ? "Authentication" : "Signature %d", i);
    item.identifier_length = 20;
    for (int b = 0; b < item.identifier_length; ++b) item.identifier[b] = uint8_t(b * 13 + i);
  }
  event->flags = flags;
  return event;
}

std::vector<Event> Cycle() {
  std::vector<Event> events;
  events.push_back(MakeEvent(kCardInserted, 0, kCardHasData1 | kCardPinEnabled, 0));
  events.push_back(MakeEvent(kCardInserted, 1, kCardHasData2, 2));
  events.push_back(MakeEvent(kCardInserted, 2, 0, 0));  // no card data: nothing listed
  events.push_back(MakeEvent(kCardUpdated, 0, kCardHasData1, 0));
  events.push_back(MakeEvent(kCardInserted, 3, kCardHasData1, 0));
  events.push_back(MakeEvent(kCardUpdated, 1, kCardHasData2, 3));
  events.push_back(MakeEvent(kCardRemoved, 0, 0, 0));
  events.push_back(MakeEvent(kCardRemoved, 2, 0, 0));  // in neither list
  events.push_back(MakeEvent(kCardRemoved, 1, 0, 0));
  events.push_back(MakeEvent(kCardRemoved, 3, 0, 0));
  return events;
}

void BM_UpdateCardLists(benchmark::State& state) {
  std::vector<Event> events = Cycle();
  for (const Event& event : events) {
    if (!event) return state.SkipWithError("out of memory");
  }
  ClearCardLists();
  for (auto _ : state) {
    for (const Event& event : events) {
      LockCardLists();
      UpdateCardLists(event.get());
      UnlockCardLists();
    }
    benchmark::ClobberMemory();
  }
  if (g_sim_list.count != 0 || g_sc_list.count != 0) state.SkipWithError("lists not emptied");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * events.size()));
}

BENCHMARK(BM_UpdateCardLists)->Name("cards/update-card-lists");

}  // namespace
}  // namespace velto::bench
