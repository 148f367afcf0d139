#include "sim/card_lists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "trace/trace.h"

namespace velto {
namespace {

constexpr uint32_t kData = kCardHasData1;

struct ItemData {
  std::vector<uint8_t> identifier;
  std::string label;
};

using EventPtr = std::unique_ptr<VELTO_CARD_EVENT>;

template <size_t N>
void SetText(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

// The record is ~99 KB: always on the heap, zeroed.
EventPtr MakeEvent(int32_t kind, const std::string& reader, uint32_t flags = kData,
                   const std::vector<ItemData>& items = {}, const std::string& card = "Card") {
  auto event = std::make_unique<VELTO_CARD_EVENT>();
  event->kind = kind;
  SetText(event->reader_name, reader);
  SetText(event->card_name, card);
  event->flags = flags;
  for (size_t n = 0; n < items.size() && n < kMaxCardItems; ++n) {
    VELTO_CARD_ITEM& item = event->items[n];
    SetText(item.label, items[n].label);
    size_t length = std::min(items[n].identifier.size(), sizeof item.identifier);
    if (length != 0) std::memcpy(item.identifier, items[n].identifier.data(), length);
    item.identifier_length = static_cast<int32_t>(length);
  }
  event->item_count = static_cast<int32_t>(items.size());
  return event;
}

// `n` items, each with a one-byte identifier.
std::vector<ItemData> Items(int n) {
  std::vector<ItemData> items;
  for (int i = 0; i < n; ++i) items.push_back({{static_cast<uint8_t>(i)}, "item"});
  return items;
}

// A T with sentinel bytes on both sides, to show nothing is written outside.
template <typename T>
class Guarded {
 public:
  static constexpr size_t kPad = 64;
  static constexpr uint8_t kSentinel = 0xA5;
  explicit Guarded(uint8_t fill = 0) : bytes_(sizeof(T) + 2 * kPad, kSentinel) {
    std::memset(bytes_.data() + kPad, fill, sizeof(T));
    value_ = new (bytes_.data() + kPad) T;
  }
  T* get() { return value_; }
  T* operator->() { return value_; }
  bool Intact() const {
    auto is_sentinel = [](uint8_t b) { return b == kSentinel; };
    return std::all_of(bytes_.begin(), bytes_.begin() + kPad, is_sentinel) &&
           std::all_of(bytes_.end() - kPad, bytes_.end(), is_sentinel);
  }

 private:
  std::vector<uint8_t> bytes_;
  T* value_;
};

bool AllZero(const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  return std::all_of(p, p + size, [](uint8_t b) { return b == 0; });
}

template <typename List>
std::vector<std::string> Readers(const List& list) {
  std::vector<std::string> names;
  for (int i = 0; i < list.count; ++i) names.push_back(list.entries[i].reader_name);
  return names;
}

using Names = std::vector<std::string>;

class CardLists : public testing::Test {
 protected:
  void SetUp() override { ClearCardLists(); }
  void TearDown() override { ClearCardLists(); }

  static void Apply(int32_t kind, const std::string& reader, uint32_t flags = kData,
                    int items = 0) {
    EventPtr event = MakeEvent(kind, reader, flags, Items(items));
    UpdateCardLists(event.get());
  }
};

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
    EventPtr event = MakeEvent(kind, reader, flags, Items(items));
    UpdateCardLists(event.get());
  }
}

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
  }
}

TEST_F(CardLists, DuplicateReaderRemovalSkipsTheEntryThatMovedUp) {
  ApplySteps("+A +A +B -A");
  EXPECT_EQ(Readers(g_sim_list), (Names{"A", "B"}));

  // Entries that are not adjacent are both found.
  Guarded<VELTO_SC_LIST_V120> sc;
  sc->count = 4;
  const char* names[] = {"A", "B", "A", "A"};
  for (int i = 0; i < 4; ++i) std::strcpy(sc->entries[i].reader_name, names[i]);
  RemoveScReader(sc.get(), "A");
  EXPECT_EQ(Readers(*sc.get()), (Names{"B", "A"}));
  // The place the last entry left is zeroed.
  EXPECT_TRUE(AllZero(&sc->entries[2], 2 * sizeof(VELTO_SC_LIST_ENTRY)));
  EXPECT_TRUE(sc.Intact());
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
      {kCardUpdated, kCardHasData1 | kCardPinEnabled, 0,
       kCardHasData1 | kCardPinEnabled | kCardToSimList},
      {kCardInserted, kCardToScList, 3, kCardToScList},  // no card data: untouched
      {kCardRemoved, kCardHasData1, 0, kCardHasData1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << c.kind << " flags " << c.flags);
    EventPtr event = MakeEvent(c.kind, "A", c.flags, Items(c.items));
    UpdateCardLists(event.get());
    EXPECT_EQ(event->flags, c.expected);
  }
}

TEST_F(CardLists, SimEntryContents) {
  struct Case {
    uint32_t flags;
    const char* card;
    uint32_t pin;
  } cases[] = {
      {kCardHasData1, "Card", 0},
      {kCardHasData2 | kCardPinEnabled, "Card", 1},
      // Without card data only the reader is known; the PIN flag still counts.
      {kCardPinEnabled, "", 1},
      {0, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags " << c.flags);
    EventPtr event = MakeEvent(kCardInserted, "Reader 1", c.flags);
    const uint8_t data[] = {0x3B, 0x9F, 0x00, 0x80};
    std::memcpy(event->card_data, data, sizeof data);
    event->card_data_length = sizeof data;
    Guarded<VELTO_SIM_LIST_ENTRY> entry(0xEE);
    FillSimListEntry(event.get(), entry.get());
    EXPECT_STREQ(entry->reader_name, "Reader 1");
    EXPECT_STREQ(entry->card_name, c.card);
    EXPECT_EQ(entry->pin_enabled, c.pin);
    EXPECT_EQ(entry->reserved, 0u);
    bool has_data = (c.flags & (kCardHasData1 | kCardHasData2)) != 0;
    EXPECT_EQ(std::memcmp(entry->card_data, data, sizeof data) == 0, has_data);
    EXPECT_TRUE(AllZero(entry->card_data + sizeof data, sizeof entry->card_data - sizeof data));
    EXPECT_TRUE(AllZero(entry->reader_name + 9, sizeof entry->reader_name - 9));
    EXPECT_TRUE(entry.Intact());
  }
}

TEST_F(CardLists, SimEntryThroughUpdateCarriesPin) {
  Apply(kCardInserted, "A", kData | kCardPinEnabled);
  Apply(kCardInserted, "B", kData);
  ASSERT_EQ(g_sim_list.count, 2);
  EXPECT_EQ(g_sim_list.entries[0].pin_enabled, 1u);
  EXPECT_EQ(g_sim_list.entries[1].pin_enabled, 0u);
  EXPECT_STREQ(g_sim_list.entries[0].card_name, "Card");
}

TEST_F(CardLists, ScIdentifierText) {
  EventPtr event = MakeEvent(kCardInserted, "R", kData, {{{0x0A, 0xFF}, "abc"}});
  Guarded<VELTO_SC_LIST_ENTRY> entry(0xEE);
  FillScListEntry(event.get(), entry.get());
  EXPECT_STREQ(entry->identifiers[0], "card://0affabc");
  EXPECT_EQ(entry->item_count, 1);
  EXPECT_STREQ(entry->card_name, "Card");
  EXPECT_TRUE(AllZero(entry->identifiers[1], sizeof entry->identifiers - 520));
  EXPECT_TRUE(entry.Intact());
}

TEST_F(CardLists, ScSlotBelongsToItsItem) {
  EventPtr event = MakeEvent(kCardInserted, "R", kData,
                             {{{0x01}, "first"}, {{}, "no identifier"}, {{0x02, 0x03}, "third"}});
  Apply(kCardInserted, "other", kData, 1);
  UpdateCardLists(event.get());
  ASSERT_EQ(g_sc_list.count, 2);
  const VELTO_SC_LIST_ENTRY& entry = g_sc_list.entries[1];
  EXPECT_EQ(entry.item_count, 3);
  EXPECT_STREQ(entry.identifiers[0], "card://01first");
  EXPECT_TRUE(AllZero(entry.identifiers[1], 520));
  EXPECT_STREQ(entry.identifiers[2], "card://0203third");
  EXPECT_TRUE(AllZero(entry.identifiers[3], 7 * 520));
}

TEST_F(CardLists, ScCardName) {
  struct Case {
    const char* card;
    std::string alternative;
    uint32_t length;
    const char* expected;
  } cases[] = {
      {"Primary", "Alt", 3, "Primary"},
      {"", "Alternative", 11, "Alternative"},
      {"", "Alternative", 3, "Alt"},
      {"", "Alternative", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EventPtr event = MakeEvent(kCardInserted, "R", kData, Items(1), c.card);
    std::memcpy(event->alternative_card_name, c.alternative.data(), c.alternative.size());
    event->alternative_card_name_length = c.length;
    Guarded<VELTO_SC_LIST_ENTRY> entry(0xEE);
    FillScListEntry(event.get(), entry.get());
    EXPECT_STREQ(entry->card_name, c.expected);
    EXPECT_TRUE(entry.Intact());
  }
}

TEST_F(CardLists, ScEntryWithoutCardDataHoldsOnlyTheReader) {
  EventPtr event = MakeEvent(kCardInserted, "Reader", kCardToScList, Items(2));
  Guarded<VELTO_SC_LIST_ENTRY> entry(0xEE);
  FillScListEntry(event.get(), entry.get());
  EXPECT_STREQ(entry->reader_name, "Reader");
  EXPECT_TRUE(AllZero(entry->reader_name + 6, sizeof(VELTO_SC_LIST_ENTRY) - 6));
  EXPECT_TRUE(entry.Intact());
}

TEST_F(CardLists, NullArgumentsChangeNothing) {
  Apply(kCardInserted, "A");
  UpdateCardLists(nullptr);
  RemoveSimReader(nullptr, "A");
  RemoveScReader(nullptr, "A");
  RemoveSimReader(&g_sim_list, nullptr);
  RemoveScReader(&g_sc_list, nullptr);
  EventPtr event = MakeEvent(kCardInserted, "B");
  FillSimListEntry(event.get(), nullptr);
  FillScListEntry(event.get(), nullptr);
  EXPECT_EQ(Readers(g_sim_list), Names{"A"});

  Guarded<VELTO_SIM_LIST_ENTRY> sim(0xEE);
  Guarded<VELTO_SC_LIST_ENTRY> sc(0xEE);
  FillSimListEntry(nullptr, sim.get());
  FillScListEntry(nullptr, sc.get());
  EXPECT_EQ(static_cast<uint8_t>(sim->card_name[0]), 0xEE);
  EXPECT_EQ(static_cast<uint8_t>(sc->reader_name[0]), 0xEE);
}

TEST_F(CardLists, SnapshotAndClear) {
  Apply(kCardInserted, "A");
  Apply(kCardInserted, "B", kData, 1);
  auto sim = std::make_unique<VELTO_SIM_LIST>();
  auto sc = std::make_unique<VELTO_SC_LIST_V120>();
  SnapshotCardLists(sc.get(), sim.get());
  EXPECT_EQ(std::memcmp(sim.get(), &g_sim_list, sizeof *sim), 0);
  EXPECT_EQ(std::memcmp(sc.get(), &g_sc_list, sizeof *sc), 0);
  EXPECT_EQ(Readers(*sim), Names{"A"});
  EXPECT_EQ(Readers(*sc), Names{"B"});

  auto sc_only = std::make_unique<VELTO_SC_LIST_V120>();
  SnapshotCardLists(sc_only.get(), nullptr);
  EXPECT_EQ(Readers(*sc_only), Names{"B"});
  auto sim_only = std::make_unique<VELTO_SIM_LIST>();
  SnapshotCardLists(nullptr, sim_only.get());
  EXPECT_EQ(Readers(*sim_only), Names{"A"});
  SnapshotCardLists(nullptr, nullptr);

  ClearCardLists();
  EXPECT_TRUE(AllZero(&g_sim_list, sizeof g_sim_list));
  EXPECT_TRUE(AllZero(&g_sc_list, sizeof g_sc_list));
}

TEST_F(CardLists, LockHoldsOffSnapshotAndClear) {
  Apply(kCardInserted, "A");
  std::atomic<bool> done{false};
  LockCardLists();
  std::thread other([&] {
    ClearCardLists();
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(done.load());
  EXPECT_EQ(g_sim_list.count, 1);
  UnlockCardLists();
  other.join();
  EXPECT_TRUE(done.load());
  EXPECT_EQ(g_sim_list.count, 0);
}

std::vector<std::string>* g_lines = nullptr;

void RecordTrace(uint32_t, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  g_lines->push_back(text);
}

TEST_F(CardLists, TraceLines) {
  std::vector<std::string> lines;
  g_lines = &lines;
  SetTraceObserverForTesting(RecordTrace);
  Apply(kCardInserted, "A");
  Apply(kCardInserted, "B", kData, 1);
  Apply(kCardInserted, "C", 0);
  Apply(kCardRemoved, "A");
  Apply(kCardRemoved, "B");
  SetTraceObserverForTesting(nullptr);
  g_lines = nullptr;
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "SIM reader [A]with card [Card] has successfully been detected",
                       "SC reader [B]with card [Card] has successfully been detected",
                       "Card [Card] in reader [C] flags [0]\n",
                       "SIM reader [A]has successfully been removed [0] readers remains",
                       "SC reader [B]has successfully been removed [0] readers remains",
                   }));
}

// ---- Bounds ----

TEST_F(CardLists, FullListDropsTheAppendButWritesTheFlags) {
  for (int i = 0; i < kMaxListEntries; ++i) {
    Apply(kCardInserted, "S" + std::to_string(i));
    Apply(kCardInserted, "C" + std::to_string(i), kData, 1);
  }
  auto sim_before = std::make_unique<VELTO_SIM_LIST>(g_sim_list);
  auto sc_before = std::make_unique<VELTO_SC_LIST_V120>(g_sc_list);

  EventPtr sim = MakeEvent(kCardInserted, "S10");
  EventPtr sc = MakeEvent(kCardInserted, "C10", kData, Items(1));
  UpdateCardLists(sim.get());
  UpdateCardLists(sc.get());
  EXPECT_EQ(sim->flags, kData | kCardToSimList);
  EXPECT_EQ(sc->flags, kData | kCardToScList);
  EXPECT_EQ(g_sim_list.count, kMaxListEntries);
  EXPECT_EQ(g_sc_list.count, kMaxListEntries);
  EXPECT_EQ(std::memcmp(sim_before.get(), &g_sim_list, sizeof g_sim_list), 0);
  EXPECT_EQ(std::memcmp(sc_before.get(), &g_sc_list, sizeof g_sc_list), 0);

  // An update of a listed reader still replaces it in a full list.
  Apply(kCardUpdated, "S0");
  EXPECT_EQ(g_sim_list.count, kMaxListEntries);
  EXPECT_STREQ(g_sim_list.entries[0].reader_name, "S1");
  EXPECT_STREQ(g_sim_list.entries[9].reader_name, "S0");
}

TEST_F(CardLists, ItemCountIsClamped) {
  struct Case {
    int32_t count;
    int32_t stored;
  } cases[] = {{-1, 0}, {-100000, 0}, {0, 0}, {8, 8}, {9, 8}, {1 << 30, 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    EventPtr event = MakeEvent(kCardInserted, "R", kData, Items(kMaxCardItems));
    event->item_count = c.count;
    Guarded<VELTO_SC_LIST_ENTRY> entry(0xEE);
    FillScListEntry(event.get(), entry.get());
    EXPECT_EQ(entry->item_count, c.stored);
    for (int n = 0; n < kMaxListEntries; ++n) {
      EXPECT_EQ(entry->identifiers[n][0] == 'c', n < c.stored) << "slot " << n;
    }
    EXPECT_TRUE(entry.Intact());
  }
  // Any count but 0 sends the card to the SC list, a negative one with no items.
  Apply(kCardInserted, "N", kData, 0);
  EventPtr negative = MakeEvent(kCardInserted, "M", kData);
  negative->item_count = -2;
  UpdateCardLists(negative.get());
  EXPECT_EQ(negative->flags, kData | kCardToScList);
  ASSERT_EQ(Readers(g_sc_list), Names{"M"});
  EXPECT_EQ(g_sc_list.entries[0].item_count, 0);
}

TEST_F(CardLists, IdentifierIsBounded) {
  const std::string prefix = "card://";
  std::string hex124;
  for (int i = 0; i < 124; ++i) hex124 += "ab";
  struct Case {
    int32_t length;
    std::string expected;
  } cases[] = {
      {0, ""},
      {-5, ""},
      {1, prefix + "ab" + "label-text"},
      {120, prefix + hex124.substr(0, 240) + "label-te"},  // label cut to the room left
      {123, prefix + hex124.substr(0, 246) + "la"},
      {124, prefix + hex124},  // no room for the label
      {125, prefix + hex124},  // identifier cut
      {4096, prefix + hex124},
      {5000, prefix + hex124},  // more than the record holds
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    EventPtr event = MakeEvent(kCardInserted, "R", kData, Items(1));
    std::memset(event->items[0].identifier, 0xAB, sizeof event->items[0].identifier);
    SetText(event->items[0].label, "label-text");
    event->items[0].identifier_length = c.length;
    Guarded<VELTO_SC_LIST_ENTRY> entry(0xEE);
    FillScListEntry(event.get(), entry.get());
    const char* slot = entry->identifiers[0];
    EXPECT_EQ(std::string(slot, strnlen(slot, 520)), c.expected);
    EXPECT_TRUE(AllZero(slot + c.expected.size(), 520 - c.expected.size()));
    EXPECT_TRUE(entry.Intact());
  }
}

TEST_F(CardLists, UnterminatedLabelIsCutToTheSlot) {
  EventPtr event = MakeEvent(kCardInserted, "R", kData, {{{0x7F}, ""}});
  std::memset(event->items[0].label, 'L', sizeof event->items[0].label);
  Guarded<VELTO_SC_LIST_ENTRY> entry(0xEE);
  FillScListEntry(event.get(), entry.get());
  EXPECT_EQ(std::string(entry->identifiers[0]), "card://7f" + std::string(255 - 9, 'L'));
  EXPECT_TRUE(AllZero(entry->identifiers[0] + 255, 520 - 255));
  EXPECT_TRUE(entry.Intact());
}

TEST_F(CardLists, CardDataLengthIsBoundedByTheRecord) {
  for (uint32_t length : {128u, 129u, 200u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(length);
    EventPtr event = MakeEvent(kCardInserted, "R", kData);
    std::memset(event->card_data, 0x5C, sizeof event->card_data);
    event->card_data_length = length;
    Guarded<VELTO_SIM_LIST_ENTRY> entry(0xEE);
    FillSimListEntry(event.get(), entry.get());
    EXPECT_TRUE(std::all_of(entry->card_data, entry->card_data + 128,
                            [](uint8_t b) { return b == 0x5C; }));
    EXPECT_TRUE(AllZero(entry->card_data + 128, 128));
    EXPECT_TRUE(entry.Intact());
  }
}

TEST_F(CardLists, AlternativeCardNameIsBounded) {
  for (uint32_t length : {127u, 128u, 129u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(length);
    EventPtr event = MakeEvent(kCardInserted, "R", kData, Items(1), "");
    std::memset(event->alternative_card_name, 'N', sizeof event->alternative_card_name);
    std::memset(event->reserved1, 'X', sizeof event->reserved1);
    event->alternative_card_name_length = length;
    Guarded<VELTO_SC_LIST_ENTRY> entry(0xEE);
    FillScListEntry(event.get(), entry.get());
    EXPECT_EQ(std::string(entry->card_name), std::string(127, 'N'));
    EXPECT_TRUE(AllZero(entry->card_name + 127, sizeof entry->card_name - 127));
    EXPECT_TRUE(entry.Intact());
  }
}

TEST_F(CardLists, UnterminatedNamesStopAtTheirFields) {
  EventPtr event = MakeEvent(kCardInserted, "", kData);
  std::memset(event->reader_name, 'R', sizeof event->reader_name);
  std::memset(event->card_name, 'C', sizeof event->card_name);
  std::memset(event->alternative_card_name, 'N', sizeof event->alternative_card_name);
  const std::string reader(132, 'R');
  const std::string card(129, 'C');

  Guarded<VELTO_SIM_LIST_ENTRY> sim(0xEE);
  FillSimListEntry(event.get(), sim.get());
  EXPECT_EQ(std::string(sim->reader_name), reader);
  EXPECT_EQ(std::string(sim->card_name), card);
  EXPECT_TRUE(sim.Intact());

  Guarded<VELTO_SC_LIST_ENTRY> sc(0xEE);
  FillScListEntry(event.get(), sc.get());
  EXPECT_EQ(std::string(sc->reader_name), reader);
  EXPECT_EQ(std::string(sc->card_name), card);
  EXPECT_TRUE(sc.Intact());

  // The listed name is the one a later event for that reader finds.
  UpdateCardLists(event.get());
  ASSERT_EQ(Readers(g_sim_list), Names{reader});
  event->kind = kCardRemoved;
  UpdateCardLists(event.get());
  EXPECT_EQ(g_sim_list.count, 0);
}

TEST_F(CardLists, CorruptedCountIsClamped) {
  // Removal from a list whose count is past its entries.
  Guarded<VELTO_SIM_LIST> sim;
  for (int i = 0; i < kMaxListEntries; ++i) {
    std::snprintf(sim->entries[i].reader_name, 256, "R%d", i);
  }
  sim->count = 57;
  RemoveSimReader(sim.get(), "absent");
  EXPECT_EQ(sim->count, 57);
  RemoveSimReader(sim.get(), "R9");
  EXPECT_EQ(sim->count, 9);
  RemoveSimReader(sim.get(), "R0");
  EXPECT_EQ(sim->count, 8);
  EXPECT_STREQ(sim->entries[0].reader_name, "R1");
  EXPECT_TRUE(sim.Intact());

  Guarded<VELTO_SC_LIST_V120> sc;
  std::strcpy(sc->entries[0].reader_name, "A");
  sc->count = -4;
  RemoveScReader(sc.get(), "A");
  EXPECT_EQ(sc->count, -4);
  EXPECT_TRUE(sc.Intact());

  // An unterminated name in a damaged entry matches nothing and is not read past.
  Guarded<VELTO_SC_LIST_V120> damaged(0x41);
  damaged->count = 1;
  RemoveScReader(damaged.get(), std::string(300, 'A').c_str());
  EXPECT_EQ(damaged->count, 1);
  EXPECT_TRUE(damaged.Intact());

  // Appends to the module-wide lists.
  g_sim_list.count = -3;
  Apply(kCardInserted, "A");
  EXPECT_EQ(Readers(g_sim_list), Names{"A"});
  g_sc_list.count = 1000;
  Apply(kCardInserted, "B", kData, 1);
  EXPECT_EQ(g_sc_list.count, 1000);
  EXPECT_TRUE(AllZero(&g_sc_list.entries, sizeof g_sc_list.entries));
}

}  // namespace
}  // namespace velto
