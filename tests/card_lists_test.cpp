#include "sim/card_lists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace velto {
namespace {

constexpr uint32_t kData = kCardHasData1;

using EventPtr = std::unique_ptr<VELTO_CARD_EVENT>;
using Names = std::vector<std::string>;

template <size_t N>
void SetText(char (&field)[N], const std::string& text) {
  std::snprintf(field, N, "%s", text.c_str());
}

// The record is ~99 KB: always on the heap, zeroed. Each of its `items`
// items has a one-byte identifier.
EventPtr MakeEvent(int32_t kind, const std::string& reader, uint32_t flags = kData, int items = 0,
                   const std::string& card = "Card") {
  auto event = std::make_unique<VELTO_CARD_EVENT>();
  event->kind = kind;
  SetText(event->reader_name, reader);
  SetText(event->card_name, card);
  event->flags = flags;
  event->item_count = items;
  for (int n = 0; n < items; ++n) event->items[n].identifier_length = 1;
  return event;
}

// A T between sentinel bytes, to show nothing is written outside it.
template <typename T>
class Guarded {
 public:
  explicit Guarded(uint8_t fill = 0) : bytes_(sizeof(T) + 2 * kPad, kSentinel) {
    std::memset(&bytes_[kPad], fill, sizeof(T));
    value_ = new (&bytes_[kPad]) T;
  }
  T* get() { return value_; }
  T* operator->() { return value_; }
  bool Intact() const {
    auto sentinel = [](uint8_t b) { return b == kSentinel; };
    return std::all_of(bytes_.begin(), bytes_.begin() + kPad, sentinel) &&
           std::all_of(bytes_.end() - kPad, bytes_.end(), sentinel);
  }

 private:
  static constexpr size_t kPad = 64;
  static constexpr uint8_t kSentinel = 0xA5;
  std::vector<uint8_t> bytes_;
  T* value_;
};

bool AllZero(const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  return std::all_of(p, p + size, [](uint8_t b) { return b == 0; });
}

template <typename List>
Names Readers(const List& list) {
  Names names;
  for (int i = 0; i < list.count; ++i) names.push_back(list.entries[i].reader_name);
  return names;
}

// One step per word: '+' inserted, '-' removed, '~' updated, '?' an unknown
// kind; then the reader's letter; then a digit for the item count; '!' for
// an event without card data.
void ApplySteps(const std::string& steps) {
  for (size_t i = 0; i < steps.size(); ++i) {
    if (steps[i] == ' ') continue;
    int32_t kind = steps[i] == '+' ? kCardInserted : steps[i] == '-' ? kCardRemoved
                 : steps[i] == '~' ? kCardUpdated : 5;
    std::string reader(1, steps[++i]);
    int items = 0;
    uint32_t flags = kData;
    for (; i + 1 < steps.size() && steps[i + 1] != ' '; ++i) {
      if (steps[i + 1] == '!') flags = 0;
      else items = steps[i + 1] - '0';
    }
    UpdateCardLists(MakeEvent(kind, reader, flags, items).get());
  }
}

class CardLists : public testing::Test {
 protected:
  void SetUp() override { ClearCardLists(); }
  void TearDown() override { ClearCardLists(); }
};

TEST_F(CardLists, EventSequences) {
  struct Case {
    const char* steps;
    Names sim;
    Names sc;
  } cases[] = {
      {"+A", {"A"}, {}},
      {"+A2", {}, {"A"}},
      {"+A!", {}, {}},                   // no card data: nothing added
      {"+A +B -A", {"B"}, {}},           // B moves to index 0
      {"+A1 +B1 +C1 -B", {}, {"A", "C"}},
      {"+A +B3 -Z", {"A"}, {"B"}},       // unknown reader
      {"+A +A1 -A", {}, {}},             // removed from both lists
      {"+A +A", {"A", "A"}, {}},         // inserted twice: listed twice
      // The entry that moves up into a freed place is not compared again; one
      // further on is.
      {"+A +A +B -A", {"A", "B"}, {}},
      {"+A +B +A +A -A", {"B", "A"}, {}},
      {"~A", {"A"}, {}},
      {"+A +B ~A", {"B", "A"}, {}},      // updated replaces, at the end
      {"+A ~A2", {}, {"A"}},             // a SIM becomes a smart card
      {"+A2 ~A", {"A"}, {}},
      {"+A +A1 ~A!", {}, {}},            // updated without card data only removes
      {"+A ?A ?B ?A1", {"A"}, {}},       // other kinds change nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.steps);
    ClearCardLists();
    ApplySteps(c.steps);
    EXPECT_EQ(Readers(g_sim_list), c.sim);
    EXPECT_EQ(Readers(g_sc_list), c.sc);
    // No stale copy of a removed entry stays behind the count.
    EXPECT_TRUE(AllZero(&g_sim_list.entries[c.sim.size()],
                        sizeof(VELTO_SIM_LIST_ENTRY) * (kMaxListEntries - c.sim.size())));
    EXPECT_TRUE(AllZero(&g_sc_list.entries[c.sc.size()],
                        sizeof(VELTO_SC_LIST_ENTRY) * (kMaxListEntries - c.sc.size())));
  }
}

TEST_F(CardLists, FlagsWrittenBack) {
  struct Case {
    int32_t kind;
    uint32_t flags;
    int items;
    uint32_t expected;
  } cases[] = {
      {kCardInserted, kCardHasData1, 0, kCardHasData1 | kCardToSimList},
      {kCardInserted, kCardHasData2 | kCardToScList, 0, kCardHasData2 | kCardToSimList},
      {kCardInserted, kCardHasData1 | kCardToSimList, 2, kCardHasData1 | kCardToScList},
      {kCardInserted, kCardToScList, 3, kCardToScList},  // no card data: untouched
      {kCardRemoved, kCardHasData1, 0, kCardHasData1},
      {kCardUpdated, kCardHasData1 | kCardPinEnabled, 0,
       kCardHasData1 | kCardPinEnabled | kCardToSimList},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << c.kind << " flags " << c.flags);
    EventPtr event = MakeEvent(c.kind, "A", c.flags, c.items);
    UpdateCardLists(event.get());
    EXPECT_EQ(event->flags, c.expected);
  }
  // The last event, an update with the PIN flag, left its reader listed so.
  ASSERT_EQ(Readers(g_sim_list), Names{"A"});
  EXPECT_EQ(g_sim_list.entries[0].pin_enabled, 1u);
}

// The record's names need not end inside their fields: each copy stops at
// the field's end.
TEST_F(CardLists, SimEntryContents) {
  struct Case {
    uint32_t flags;
    uint32_t data_length;
    size_t card_length;
    uint32_t pin;
    size_t copied;  // card data bytes
  } cases[] = {
      {kCardHasData1, 4, 129, 0, 4},
      {kCardHasData2 | kCardPinEnabled, 129, 129, 1, 128},  // bounded by the record
      {kCardHasData1, 0xFFFFFFFF, 129, 0, 128},
      // Without card data only the reader is known; the PIN flag still counts.
      {kCardPinEnabled, 4, 0, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags " << c.flags << " length " << c.data_length);
    EventPtr event = MakeEvent(kCardInserted, "", c.flags);
    std::memset(event->reader_name, 'R', sizeof event->reader_name);
    std::memset(event->card_name, 'C', sizeof event->card_name);
    std::memset(event->card_data, 0x5C, sizeof event->card_data);
    event->card_data_length = c.data_length;
    Guarded<VELTO_SIM_LIST_ENTRY> entry(0xEE);
    FillSimListEntry(event.get(), entry.get());
    EXPECT_EQ(std::string(entry->reader_name), std::string(132, 'R'));
    EXPECT_EQ(std::string(entry->card_name), std::string(c.card_length, 'C'));
    EXPECT_EQ(entry->pin_enabled, c.pin);
    EXPECT_TRUE(std::all_of(entry->card_data, entry->card_data + c.copied,
                            [](uint8_t b) { return b == 0x5C; }));
    EXPECT_TRUE(AllZero(entry->card_data + c.copied, sizeof entry->card_data - c.copied));
    EXPECT_TRUE(entry.Intact());
  }
}

TEST_F(CardLists, ScEntryContents) {
  const std::string unterminated(129, 'C');  // fills the card name's field
  struct Case {
    uint32_t flags;
    std::string card;
    std::string alternative;
    uint32_t alternative_length;
    int32_t item_count;  // the record holds 8 items whatever this says
    std::string expected_card;
    int32_t expected_items;
  } cases[] = {
      {kData, unterminated, "Alt", 3, 1, unterminated, 1},
      {kData, "", "Alternative", 3, 9, "Alt", 8},
      // At most 127 bytes of the alternative name, whatever its length claims.
      {kData, "", std::string(128, 'N'), 128, -1, std::string(127, 'N'), 0},
      {kData, "", std::string(128, 'N'), 0xFFFFFFFF, 1 << 30, std::string(127, 'N'), 8},
      {kCardToScList, "Primary", "", 0, 2, "", 0},  // no card data: only the reader
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item_count);
    EventPtr event = MakeEvent(kCardInserted, "", c.flags, kMaxCardItems, "");
    event->item_count = c.item_count;
    std::memset(event->reader_name, 'R', sizeof event->reader_name);
    std::memcpy(event->card_name, c.card.data(), c.card.size());
    std::memcpy(event->alternative_card_name, c.alternative.data(), c.alternative.size());
    std::memset(event->reserved1, 'X', sizeof event->reserved1);  // follows the field
    event->alternative_card_name_length = c.alternative_length;
    Guarded<VELTO_SC_LIST_ENTRY> entry(0xEE);
    FillScListEntry(event.get(), entry.get());
    EXPECT_EQ(std::string(entry->reader_name), std::string(132, 'R'));
    EXPECT_EQ(std::string(entry->card_name), c.expected_card);
    EXPECT_EQ(entry->item_count, c.expected_items);
    for (int n = 0; n < kMaxListEntries; ++n) {
      EXPECT_EQ(std::string(entry->identifiers[n]), n < c.expected_items ? "card://00" : "");
    }
    EXPECT_TRUE(entry.Intact());
  }
}

// Slot n is item n's, an item without identifier leaving its slot empty.
TEST_F(CardLists, ScIdentifiersKeepTheirItemsSlots) {
  ApplySteps("+O1");
  EventPtr event = MakeEvent(kCardInserted, "R", kData, 3);
  VELTO_CARD_ITEM* items = event->items;
  std::memcpy(items[0].identifier, "\x0A\xFF", 2);
  items[0].identifier_length = 2;
  SetText(items[0].label, "abc");
  items[1].identifier_length = 0;
  SetText(items[1].label, "no identifier");
  std::memcpy(items[2].identifier, "\x02\x03", 2);
  items[2].identifier_length = 2;
  SetText(items[2].label, "third");
  UpdateCardLists(event.get());
  ASSERT_EQ(Readers(g_sc_list), (Names{"O", "R"}));
  const VELTO_SC_LIST_ENTRY& entry = g_sc_list.entries[1];
  EXPECT_STREQ(entry.card_name, "Card");
  EXPECT_EQ(entry.item_count, 3);
  EXPECT_STREQ(entry.identifiers[0], "card://0affabc");
  EXPECT_TRUE(AllZero(entry.identifiers[1], 520));
  EXPECT_STREQ(entry.identifiers[2], "card://0203third");
  EXPECT_TRUE(AllZero(entry.identifiers[3], 7 * 520));
}

TEST_F(CardLists, NullArgumentsChangeNothing) {
  ApplySteps("+A +B1");
  UpdateCardLists(nullptr);
  RemoveSimReader(nullptr, "A");
  RemoveScReader(nullptr, "B");
  RemoveSimReader(&g_sim_list, nullptr);
  RemoveScReader(&g_sc_list, nullptr);
  FillSimListEntry(MakeEvent(kCardInserted, "C").get(), nullptr);
  FillScListEntry(MakeEvent(kCardInserted, "C").get(), nullptr);
  FillSimListEntry(nullptr, &g_sim_list.entries[0]);
  FillScListEntry(nullptr, &g_sc_list.entries[0]);
  EXPECT_EQ(Readers(g_sim_list), Names{"A"});
  EXPECT_EQ(Readers(g_sc_list), Names{"B"});
}

TEST_F(CardLists, SnapshotLockAndClear) {
  ApplySteps("+A +B1");
  auto sim = std::make_unique<VELTO_SIM_LIST>();
  auto sc = std::make_unique<VELTO_SC_LIST_V120>();
  SnapshotCardLists(sc.get(), nullptr);
  SnapshotCardLists(nullptr, sim.get());
  SnapshotCardLists(nullptr, nullptr);
  EXPECT_EQ(std::memcmp(sim.get(), &g_sim_list, sizeof *sim), 0);
  EXPECT_EQ(std::memcmp(sc.get(), &g_sc_list, sizeof *sc), 0);
  EXPECT_EQ(Readers(*sim), Names{"A"});
  EXPECT_EQ(Readers(*sc), Names{"B"});

  // The lock holds a clear off until it is released: the other thread has
  // gone on to clear, and the lists are still whole.
  std::atomic<bool> done{false};
  std::mutex mutex;
  std::condition_variable changed;
  bool clearing = false;
  LockCardLists();
  std::thread other([&] {
    {
      std::lock_guard<std::mutex> lock(mutex);
      clearing = true;
    }
    changed.notify_all();
    ClearCardLists();
    done = true;
  });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return clearing; });
  }
  EXPECT_FALSE(done.load());
  EXPECT_EQ(g_sim_list.count, 1);
  UnlockCardLists();
  other.join();
  EXPECT_TRUE(AllZero(&g_sim_list, sizeof g_sim_list));
  EXPECT_TRUE(AllZero(&g_sc_list, sizeof g_sc_list));
}

// ---- Bounds ----

TEST_F(CardLists, FullListDropsTheAppendButWritesTheFlags) {
  // SIM readers a to j, smart-card readers A to J.
  for (int i = 0; i < kMaxListEntries; ++i) {
    ApplySteps({'+', char('a' + i), ' ', '+', char('A' + i), '1'});
  }
  auto sim_before = std::make_unique<VELTO_SIM_LIST>(g_sim_list);
  auto sc_before = std::make_unique<VELTO_SC_LIST_V120>(g_sc_list);
  EventPtr sim = MakeEvent(kCardInserted, "k");
  EventPtr sc = MakeEvent(kCardInserted, "K", kData, 1);
  UpdateCardLists(sim.get());
  UpdateCardLists(sc.get());
  EXPECT_EQ(sim->flags, kData | kCardToSimList);
  EXPECT_EQ(sc->flags, kData | kCardToScList);
  EXPECT_EQ(std::memcmp(sim_before.get(), &g_sim_list, sizeof g_sim_list), 0);
  EXPECT_EQ(std::memcmp(sc_before.get(), &g_sc_list, sizeof g_sc_list), 0);

  // An update of a listed reader still replaces it in a full list.
  ApplySteps("~a");
  EXPECT_EQ(g_sim_list.count, kMaxListEntries);
  EXPECT_STREQ(g_sim_list.entries[0].reader_name, "b");
  EXPECT_STREQ(g_sim_list.entries[9].reader_name, "a");
}

// The label has no terminator in its field: it gets only the room left.
TEST_F(CardLists, IdentifierIsBounded) {
  const std::string prefix = "card://";
  std::string hex124;
  for (int i = 0; i < 124; ++i) hex124 += "ab";
  struct Case {
    int32_t length;
    std::string expected;
  } cases[] = {
      {-5, ""},
      {1, prefix + "ab" + std::string(246, 'L')},
      {120, prefix + hex124.substr(0, 240) + "LLLLLLLL"},
      {124, prefix + hex124},   // no room for the label
      {125, prefix + hex124},   // identifier cut
      {5000, prefix + hex124},  // more than the record holds
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    EventPtr event = MakeEvent(kCardInserted, "R", kData, 1);
    std::memset(event->items[0].identifier, 0xAB, sizeof event->items[0].identifier);
    std::memset(event->items[0].label, 'L', sizeof event->items[0].label);
    event->items[0].identifier_length = c.length;
    Guarded<VELTO_SC_LIST_ENTRY> entry(0xEE);
    FillScListEntry(event.get(), entry.get());
    const char* slot = entry->identifiers[0];
    EXPECT_EQ(std::string(slot, strnlen(slot, 520)), c.expected);
    EXPECT_TRUE(AllZero(slot + c.expected.size(), 520 - c.expected.size()));
    EXPECT_TRUE(entry.Intact());
  }
}

// An unterminated reader name is listed cut at its field, and found again so.
TEST_F(CardLists, UnterminatedReaderIsFoundByItsNextEvent) {
  EventPtr event = MakeEvent(kCardInserted, "");
  std::memset(event->reader_name, 'R', sizeof event->reader_name);
  UpdateCardLists(event.get());
  ASSERT_EQ(Readers(g_sim_list), Names{std::string(132, 'R')});
  event->kind = kCardRemoved;
  UpdateCardLists(event.get());
  EXPECT_EQ(g_sim_list.count, 0);
}

TEST_F(CardLists, CorruptedCountIsClamped) {
  // Removal from a list whose count is past its entries, or below zero.
  Guarded<VELTO_SIM_LIST> sim;
  for (int i = 0; i < kMaxListEntries; ++i) SetText(sim->entries[i].reader_name, std::to_string(i));
  sim->count = 57;
  RemoveSimReader(sim.get(), "0");
  EXPECT_EQ(sim->count, 9);
  EXPECT_STREQ(sim->entries[0].reader_name, "1");
  EXPECT_TRUE(sim.Intact());
  sim->count = -4;
  RemoveSimReader(sim.get(), "1");
  EXPECT_EQ(sim->count, -4);

  // An unterminated name in a damaged entry matches nothing and is not read past.
  Guarded<VELTO_SC_LIST_V120> damaged(0x41);
  damaged->count = 1;
  RemoveScReader(damaged.get(), std::string(300, 'A').c_str());
  EXPECT_EQ(damaged->count, 1);
  EXPECT_TRUE(damaged.Intact());

  // Appends to the module-wide lists.
  g_sim_list.count = -3;
  g_sc_list.count = 1000;
  ApplySteps("+A +B1");
  EXPECT_EQ(Readers(g_sim_list), Names{"A"});
  EXPECT_EQ(g_sc_list.count, 1000);
  EXPECT_TRUE(AllZero(&g_sc_list.entries, sizeof g_sc_list.entries));
}

}  // namespace
}  // namespace velto
