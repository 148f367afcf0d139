#include "sim/card_lists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <future>
#include <iterator>
#include <sstream>
#include <thread>

namespace velto {
namespace {

using EventPtr = std::unique_ptr<VELTO_CARD_EVENT>;
using Names = std::vector<std::string>;

// Zeroed, on the heap (~99 KB); each of its `items` items has a one-byte identifier.
EventPtr MakeEvent(int32_t kind, const std::string& reader, uint32_t flags = kCardHasData1, int items = 0) {
  auto event = std::make_unique<VELTO_CARD_EVENT>();
  event->kind = kind, event->flags = flags, event->item_count = items;
  std::snprintf(event->reader_name, sizeof event->reader_name, "%s", reader.c_str());
  std::snprintf(event->card_name, sizeof event->card_name, "Card");
  for (int n = 0; n < items; ++n) event->items[n].identifier_length = 1;
  return event;
}

bool AllBytes(const void* data, size_t size, uint8_t value = 0) {
  return std::all_of(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size, [&](uint8_t b) { return b == value; });
}

// A T between sentinel bytes, to show nothing is written outside it.
template <typename T>
struct Guarded {
  uint8_t before[64]; T value; uint8_t after[64];
  explicit Guarded(uint8_t fill) { std::memset(before, 0xA5, 64), std::memset(&value, fill, sizeof value), std::memset(after, 0xA5, 64); }
  bool Intact() const { return AllBytes(before, 64, 0xA5) && AllBytes(after, 64, 0xA5); }
};

// The readers listed as events.txt writes them.
template <typename List>
Names Readers(const List& list) {
  Names names;
  for (int i = 0; i < std::min(list.count, kMaxListEntries); ++i) {
    names.push_back(list.entries[i].reader_name[0] != '\0' ? list.entries[i].reader_name : "_");
    if constexpr (std::is_same_v<List, VELTO_SIM_LIST>) names.back() += list.entries[i].pin_enabled != 0 ? "*" : "";
  }
  return names;
}

Names Words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}

uint32_t Flags(const std::string& letters) {
  uint32_t flags = 0;
  for (char c : letters) flags |= c == 'd' ? kCardHasData1 : c == 'D' ? kCardHasData2 : c == 'p' ? kCardPinEnabled
                                : c == 's' ? kCardToSimList : c == 'c' ? kCardToScList : 0;
  return flags;
}

struct CardLists : testing::Test {
  void SetUp() override { ClearCardLists(); }
  void TearDown() override { ClearCardLists(); }
};

// tests/vectors/card_lists/events.txt says how to read its cases.
TEST_F(CardLists, EventSequencesFromVectors) {
  std::ifstream in(std::string(VELTO_VECTORS_DIR) + "/card_lists/events.txt");
  int cases = 0;
  for (std::string line; std::getline(in, line);) {
    if ((line = line.substr(0, line.find('#'))).find('|') == std::string::npos) continue;
    SCOPED_TRACE(line);
    ++cases, ClearCardLists();
    std::istringstream parts(line);
    std::string events, sim, sc;
    std::getline(std::getline(std::getline(parts, events, '|'), sim, '|'), sc);
    for (const std::string& step : Words(events)) {
      if (step[0] == '!') {  // a damaged count
        (step[1] == 's' ? g_sim_list.count : g_sc_list.count) = std::stoi(step.substr(2));
        continue;
      }
      size_t colon = step.find(':'), equals = step.find('=');
      std::string head = step.substr(0, std::min(colon, equals));
      int32_t kind = head[0] == '+' ? kCardInserted : head[0] == '-' ? kCardRemoved : head[0] == '~' ? kCardUpdated : 5;
      uint32_t flags = colon == std::string::npos ? kCardHasData1 : Flags(step.substr(colon + 1, equals - colon - 1));
      EventPtr event = MakeEvent(kind, head.substr(1, 1), flags, head.size() > 2 ? head[2] - '0' : 0);
      UpdateCardLists(event.get());
      if (equals != std::string::npos) { EXPECT_EQ(event->flags, Flags(step.substr(equals + 1))) << step; }
    }
    EXPECT_EQ(std::pair(Readers(g_sim_list), Readers(g_sc_list)), std::pair(Words(sim), Words(sc))) << "SIM list, smart-card list";
    // No stale copy of a removed entry stays behind the count.
    size_t sims = std::clamp(g_sim_list.count, 0, kMaxListEntries), scs = std::clamp(g_sc_list.count, 0, kMaxListEntries);
    EXPECT_TRUE(AllBytes(&g_sim_list.entries[sims], sizeof(VELTO_SIM_LIST_ENTRY) * (kMaxListEntries - sims)));
    EXPECT_TRUE(AllBytes(&g_sc_list.entries[scs], sizeof(VELTO_SC_LIST_ENTRY) * (kMaxListEntries - scs)));
  }
  EXPECT_EQ(cases, 26);
}

// The record's names need not end inside their fields: each copy stops at
// the field's end, and at most 127 bytes of the alternative name are taken.
TEST_F(CardLists, EntryContentsStayInBounds) {
  const struct {
    uint32_t flags, data_length, pin;
    size_t card_length, copied;  // card data bytes
  } sims[] = {{kCardHasData1, 4, 0, 129, 4}, {kCardHasData2 | kCardPinEnabled, 129, 1, 129, 128},
              {kCardHasData1, 0xFFFFFFFF, 0, 129, 128}, {kCardPinEnabled, 4, 1, 0, 0}};  // no data: reader only
  for (const auto& c : sims) {
    SCOPED_TRACE(c.data_length);
    EventPtr event = MakeEvent(kCardInserted, "", c.flags);
    std::memset(event->reader_name, 'R', sizeof event->reader_name), std::memset(event->card_name, 'C', sizeof event->card_name);
    std::memset(event->card_data, 0x5C, sizeof event->card_data), event->card_data_length = c.data_length;
    auto entry = std::make_unique<Guarded<VELTO_SIM_LIST_ENTRY>>(0xEE);
    VELTO_SIM_LIST_ENTRY& e = entry->value;
    FillSimListEntry(event.get(), &e);
    EXPECT_EQ(std::string(e.reader_name), std::string(132, 'R'));
    EXPECT_EQ(std::string(e.card_name), std::string(c.card_length, 'C'));
    EXPECT_EQ(e.pin_enabled, c.pin);
    EXPECT_TRUE(AllBytes(e.card_data, c.copied, 0x5C));
    EXPECT_TRUE(AllBytes(e.card_data + c.copied, sizeof e.card_data - c.copied));
    EXPECT_TRUE(entry->Intact());
  }
  const std::string full(129, 'C'), n127(127, 'N'), n128(128, 'N');
  const struct {
    uint32_t flags;
    std::string card, alternative;
    uint32_t alternative_length;
    int32_t item_count, expected_items;  // the record holds 8 items whatever its count says
    std::string expected_card;
  } scs[] = {{kCardHasData1, full, "Alt", 3, 1, 1, full}, {kCardHasData1, "", "Alternative", 3, 9, 8, "Alt"},
             {kCardHasData1, "", n128, 128, -1, 0, n127}, {kCardHasData1, "", n128, 0xFFFFFFFF, 1 << 30, 8, n127},
             {kCardToScList, "Primary", "", 0, 2, 0, ""}};  // no card data: only the reader
  for (const auto& c : scs) {
    SCOPED_TRACE(c.item_count);
    EventPtr event = MakeEvent(kCardInserted, "", c.flags, kMaxCardItems);
    event->item_count = c.item_count, event->alternative_card_name_length = c.alternative_length;
    std::memset(event->reader_name, 'R', sizeof event->reader_name), std::memset(event->card_name, 0, sizeof event->card_name);
    std::memcpy(event->card_name, c.card.data(), c.card.size());
    std::memcpy(event->alternative_card_name, c.alternative.data(), c.alternative.size());
    std::memset(event->reserved1, 'X', sizeof event->reserved1);  // follows the field
    auto entry = std::make_unique<Guarded<VELTO_SC_LIST_ENTRY>>(0xEE);
    VELTO_SC_LIST_ENTRY& e = entry->value;
    FillScListEntry(event.get(), &e);
    EXPECT_EQ(std::string(e.reader_name), std::string(132, 'R'));
    EXPECT_EQ(std::string(e.card_name), c.expected_card);
    EXPECT_EQ(e.item_count, c.expected_items);
    for (int n = 0; n < kMaxListEntries; ++n) EXPECT_EQ(std::string(e.identifiers[n]), n < c.expected_items ? "card://00" : "");
    EXPECT_TRUE(entry->Intact());
  }
}

// One 520-byte slot per item: slot n is item n's, an item without identifier
// leaving its slot empty; the label, unterminated in its field, gets only the
// room the identifier leaves.
TEST_F(CardLists, IdentifiersKeepTheirSlotsAndBounds) {
  EventPtr event = MakeEvent(kCardInserted, "R", kCardHasData1, 3);
  std::memcpy(event->items[0].identifier, "\x0A\xFF", 2), std::memcpy(event->items[0].label, "abc", 4);
  event->items[0].identifier_length = 2, event->items[1].identifier_length = 0;
  std::memcpy(event->items[1].label, "no identifier", 14);
  auto entry = std::make_unique<Guarded<VELTO_SC_LIST_ENTRY>>(0xEE);
  FillScListEntry(event.get(), &entry->value);
  EXPECT_STREQ(entry->value.identifiers[0], "card://0affabc");
  EXPECT_TRUE(AllBytes(entry->value.identifiers[1], 520));
  EXPECT_STREQ(entry->value.identifiers[2], "card://00");
  EXPECT_TRUE(AllBytes(entry->value.identifiers[3], 7 * 520));
  std::string hex124(248, 'a');
  for (size_t i = 1; i < 248; i += 2) hex124[i] = 'b';
  const struct {
    int32_t length;
    std::string expected;
  } cases[] = {{-5, ""}, {1, "ab" + std::string(246, 'L')}, {120, hex124.substr(0, 240) + "LLLLLLLL"},
               {124, hex124}, {125, hex124}, {5000, hex124}};  // no room for the label; cut; past the record
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    event = MakeEvent(kCardInserted, "R", kCardHasData1, 1);
    std::memset(event->items[0].identifier, 0xAB, sizeof event->items[0].identifier), event->items[0].identifier_length = c.length;
    std::memset(event->items[0].label, 'L', sizeof event->items[0].label);
    FillScListEntry(event.get(), &entry->value);
    const std::string expected = c.length < 0 ? "" : "card://" + c.expected;
    const char* slot = entry->value.identifiers[0];
    EXPECT_EQ(std::string(slot, strnlen(slot, 520)), expected);
    EXPECT_TRUE(AllBytes(slot + expected.size(), 520 - expected.size()));
    EXPECT_TRUE(entry->Intact());
  }
}

// Null pointers and unterminated names: nothing is read or written past a
// field; an unterminated reader name is listed cut at its field, found again so.
TEST_F(CardLists, DamagedInputStaysInBounds) {
  EventPtr event = MakeEvent(kCardInserted, "A");
  UpdateCardLists(nullptr), RemoveSimReader(nullptr, "A"), RemoveScReader(nullptr, "B");
  RemoveSimReader(&g_sim_list, nullptr), RemoveScReader(&g_sc_list, nullptr);
  FillSimListEntry(event.get(), nullptr), FillScListEntry(event.get(), nullptr);
  FillSimListEntry(nullptr, &g_sim_list.entries[0]), FillScListEntry(nullptr, &g_sc_list.entries[0]);
  EXPECT_TRUE(AllBytes(&g_sim_list, sizeof g_sim_list));
  std::memset(event->reader_name, 'R', sizeof event->reader_name), UpdateCardLists(event.get());
  ASSERT_EQ(Readers(g_sim_list), Names{std::string(132, 'R')});
  event->kind = kCardRemoved, UpdateCardLists(event.get());
  EXPECT_EQ(g_sim_list.count, 0);
  auto damaged = std::make_unique<Guarded<VELTO_SC_LIST_V120>>(0x41);  // names that never end
  damaged->value.count = 1;
  RemoveScReader(&damaged->value, std::string(300, 'A').c_str());
  EXPECT_EQ(damaged->value.count, 1);
  EXPECT_TRUE(damaged->Intact());
}

// Snapshots copy whole lists; the lock holds a clear off until it is released.
TEST_F(CardLists, SnapshotLockAndClear) {
  UpdateCardLists(MakeEvent(kCardInserted, "A").get());
  UpdateCardLists(MakeEvent(kCardInserted, "B", kCardHasData1, 1).get());
  auto sim = std::make_unique<VELTO_SIM_LIST>();
  auto sc = std::make_unique<VELTO_SC_LIST_V120>();
  SnapshotCardLists(sc.get(), nullptr), SnapshotCardLists(nullptr, sim.get()), SnapshotCardLists(nullptr, nullptr);
  EXPECT_EQ(std::memcmp(sim.get(), &g_sim_list, sizeof *sim), 0);
  EXPECT_EQ(std::memcmp(sc.get(), &g_sc_list, sizeof *sc), 0);
  // A promise, not atomic<bool>::wait, which was seen to miss its wake-up under Wine on a loaded machine.
  std::promise<void> clearing;
  std::future<void> started = clearing.get_future();
  std::atomic<bool> done{false};
  LockCardLists();
  std::thread other([&] {
    clearing.set_value();
    ClearCardLists();
    done = true;
  });
  started.wait();  // the other thread has gone on to clear
  EXPECT_FALSE(done.load());
  EXPECT_EQ(g_sim_list.count, 1);
  UnlockCardLists();
  other.join();
  EXPECT_TRUE(AllBytes(&g_sim_list, sizeof g_sim_list) && AllBytes(&g_sc_list, sizeof g_sc_list));
}

}  // namespace
}  // namespace velto
