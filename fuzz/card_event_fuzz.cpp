// Input: card event records from the SIM library, delivered to the card event callback.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "doubles/sibling_doubles_client.h"
#include "fuzz_env.h"
#include "sim/card_lists.h"
#include "sim/sc_handler.h"

namespace {

// The record is 98908 bytes, nearly all of it the items' 4096-byte texts. The
// input fills its head as it stands (kind, names, card data and their
// lengths, item count, flags); each item then takes its identifier length,
// a fill byte for its label and its identifier (so a text may run to the
// field's end unterminated), and a short prefix of each.
void ReadEvent(velto::fuzz::Input& input, VELTO_CARD_EVENT* event) {
  std::memset(event, 0, sizeof *event);
  input.CopyTo(event, offsetof(VELTO_CARD_EVENT, items));
  input.CopyTo(&event->item_count, sizeof event->item_count);
  input.CopyTo(&event->flags, sizeof event->flags);
  for (VELTO_CARD_ITEM& item : event->items) {
    input.CopyTo(&item.identifier_length, sizeof item.identifier_length);
    std::memset(item.label, input.Byte(), sizeof item.label);
    std::memset(item.identifier, input.Byte(), sizeof item.identifier);
    input.CopyTo(item.label, input.Byte());
    input.CopyTo(item.identifier, input.Byte());
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  velto::fuzz::SetUpPrivateEnvironment();
  // The lists go to the dialog library's double, as they would to the real
  // one (a library that cannot be found is looked for again at every call).
  std::string error;
  if (!velto::test::PointModuleAt(velto::test::SiblingDoublesDir(), &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velto::fuzz::Input input(data, size);
  // A card watch starts from empty lists; the event then comes in as often
  // as the input says (to fill the lists past their room), and the reader's
  // removal follows.
  velto::ClearCardLists();
  const int repeats = 1 + input.Byte() % 12;
  auto event = std::make_unique<VELTO_CARD_EVENT>();
  ReadEvent(input, event.get());
  for (int i = 0; i < repeats; ++i) velto::SCSIMCardCB(&velto::g_sim_list, event.get());
  event->kind = velto::kCardRemoved;
  velto::SCSIMCardCB(&velto::g_sim_list, event.get());
  return 0;
}
