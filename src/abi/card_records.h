// The reader and card lists, and the card event record the SIM library
// delivers. All three are binary formats shared with the sibling libraries.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velto {

// Card event kinds.
inline constexpr int32_t kCardInserted = 1;
inline constexpr int32_t kCardRemoved = 2;
inline constexpr int32_t kCardUpdated = 3;

// Card event flags.
inline constexpr uint32_t kCardHasData1 = 0x1;
inline constexpr uint32_t kCardHasData2 = 0x2;
inline constexpr uint32_t kCardToSimList = 0x4;
inline constexpr uint32_t kCardToScList = 0x8;
inline constexpr uint32_t kCardPinEnabled = 0x10;

inline constexpr int kMaxCardItems = 8;
inline constexpr int kMaxListEntries = 10;

}  // namespace velto

// The records are shared with the sibling libraries, so they live outside the
// module's namespace, as the dialog profile does.
#pragma pack(push, 1)

struct VELTO_CARD_ITEM {
  char label[4096];
  uint8_t identifier[4096];
  int32_t identifier_length;  // 0: the item has no identifier
  uint8_t reserved[4100];     // not read
};

// What the SIM library passes to the card event callback. It owns the record;
// the callback reads it and writes only `flags`.
struct VELTO_CARD_EVENT {
  int32_t kind;
  char reader_name[132];
  char card_name[129];
  uint8_t alternative_card_name[128];
  uint8_t reserved1[3];
  uint32_t alternative_card_name_length;
  uint8_t card_data[128];
  uint32_t card_data_length;
  VELTO_CARD_ITEM items[velto::kMaxCardItems];
  int32_t item_count;
  uint32_t flags;
};

struct VELTO_SIM_LIST_ENTRY {
  char card_name[256];
  char reader_name[256];
  uint8_t card_data[256];
  uint32_t pin_enabled;
  uint32_t reserved;
};

struct VELTO_SIM_LIST {
  int32_t count;
  VELTO_SIM_LIST_ENTRY entries[velto::kMaxListEntries];
};

struct VELTO_SC_LIST_ENTRY {
  char reader_name[256];
  char card_name[256];
  int32_t item_count;
  char identifiers[velto::kMaxListEntries][520];
};

struct VELTO_SC_LIST_V120 {
  int32_t count;
  VELTO_SC_LIST_ENTRY entries[velto::kMaxListEntries];
};

#pragma pack(pop)

static_assert(offsetof(VELTO_CARD_ITEM, label) == 0);
static_assert(offsetof(VELTO_CARD_ITEM, identifier) == 4096);
static_assert(offsetof(VELTO_CARD_ITEM, identifier_length) == 8192);
static_assert(sizeof(VELTO_CARD_ITEM) == 12296);

static_assert(offsetof(VELTO_CARD_EVENT, kind) == 0);
static_assert(offsetof(VELTO_CARD_EVENT, reader_name) == 4);
static_assert(offsetof(VELTO_CARD_EVENT, card_name) == 136);
static_assert(offsetof(VELTO_CARD_EVENT, alternative_card_name) == 265);
static_assert(offsetof(VELTO_CARD_EVENT, alternative_card_name_length) == 396);
static_assert(offsetof(VELTO_CARD_EVENT, card_data) == 400);
static_assert(offsetof(VELTO_CARD_EVENT, card_data_length) == 528);
static_assert(offsetof(VELTO_CARD_EVENT, items) == 532);
static_assert(offsetof(VELTO_CARD_EVENT, item_count) == 98900);
static_assert(offsetof(VELTO_CARD_EVENT, flags) == 98904);
static_assert(sizeof(VELTO_CARD_EVENT) == 98908);

static_assert(offsetof(VELTO_SIM_LIST_ENTRY, card_name) == 0);
static_assert(offsetof(VELTO_SIM_LIST_ENTRY, reader_name) == 256);
static_assert(offsetof(VELTO_SIM_LIST_ENTRY, card_data) == 512);
static_assert(offsetof(VELTO_SIM_LIST_ENTRY, pin_enabled) == 768);
static_assert(offsetof(VELTO_SIM_LIST_ENTRY, reserved) == 772);
static_assert(sizeof(VELTO_SIM_LIST_ENTRY) == 776);
static_assert(offsetof(VELTO_SIM_LIST, entries) == 4);
static_assert(sizeof(VELTO_SIM_LIST) == 7764);

static_assert(offsetof(VELTO_SC_LIST_ENTRY, reader_name) == 0);
static_assert(offsetof(VELTO_SC_LIST_ENTRY, card_name) == 256);
static_assert(offsetof(VELTO_SC_LIST_ENTRY, item_count) == 512);
static_assert(offsetof(VELTO_SC_LIST_ENTRY, identifiers) == 516);
static_assert(sizeof(VELTO_SC_LIST_ENTRY) == 5716);
static_assert(offsetof(VELTO_SC_LIST_V120, entries) == 4);
static_assert(sizeof(VELTO_SC_LIST_V120) == 57164);
