#include "eapcfg_sim.h"

#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "base/memory.h"
#include "base/secret_string.h"
#include "base/text.h"
#include "module_loader.h"
#include "abi/card_records.h"
#include "abi/simcore.h"
#include "simcore/pcsc.h"

namespace velto::tools {
namespace {

struct Card {
  std::string reader, name, iccid;
  bool sim = false, pin_enabled = false;
};

struct Found {
  std::mutex mutex;
  std::vector<Card> cards;
  static int32_t Callback(void* context, VELTO_CARD_EVENT* event) {
    auto* self = static_cast<Found*>(context);
    if (event->kind != kCardInserted) return 0;
    Card card;
    card.reader = FieldView(event->reader_name);
    card.name = FieldView(event->card_name);
    card.sim = (event->flags & (kCardHasData1 | kCardHasData2)) != 0;
    card.pin_enabled = (event->flags & kCardPinEnabled) != 0;
    card.iccid.assign(reinterpret_cast<const char*>(event->card_data),
                      event->card_data_length < sizeof event->card_data ? event->card_data_length
                                                                        : sizeof event->card_data);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->cards.push_back(card);
    return 0;
  }
};

const char* ImsiFailure(int32_t status) {
  switch (status) {
    case -1: return "invalid request";
    case -2: return "the smart-card service is not running";
    case -3: return "no card in that reader, or no such reader";
    case -4: return "the card is neither a GSM SIM nor a USIM";
    case -5: return "the card gave an unexpected answer";
    case -6: return "the IMSI does not fit";
    case -7: return "PIN wrong or missing";
    case -8: return "one PIN try left: the PIN was not sent (unblock the SIM elsewhere)";
    case -9: return "the PIN is blocked";
    case -10: return "the card does not tell its PIN tries: the PIN was not sent";
    default: return "failure";
  }
}

template <typename F>
F* Entry(void* library, const char* name) {
  return reinterpret_cast<F*>(FindEntry(library, name));
}

}  // namespace

SimCommand::SimCommand(CLI::App& app)
    : command_(app.add_subcommand("sim", "list smart-card readers and SIMs, read a SIM's IMSI")) {
  command_->add_option("--reader", reader_, "read the IMSI in this reader (default: the first SIM)");
  command_->add_option("--pin", pin_, "the SIM's PIN");
  command_->add_flag("--pin-stdin", pin_stdin_, "read the PIN from the first line of standard input");
  command_->add_option("--simcore", library_, "the SIM library, by file name")->capture_default_str();
}

int SimCommand::Run() {
  if (pin_stdin_) {
    // Read into the wiping string: a line that grows leaves no copy behind.
    SecretString line;
    if (!std::getline(std::cin, line)) line.clear();
    pin_.assign(line);
    Wipe(&line);
  }
  if (!pin_.empty() && pin_.back() == '\r') pin_.pop_back();
  const ScopedWipe wipe_pin(pin_.data(), pin_.capacity());

  // Every reader, with or without a card, from the platform's service.
  pcsc::ContextId context = 0;
  std::vector<std::string> readers;
  if (pcsc::EstablishContext(&context) != pcsc::kSuccess) {
    std::fprintf(stderr, "eapcfg: the smart-card service is not running\n");
    return 1;
  }
  pcsc::Status listed = pcsc::ListReaders(context, &readers);
  pcsc::ReleaseContext(context);
  if (listed != pcsc::kSuccess) {
    std::fprintf(stderr, "eapcfg: the readers cannot be listed (PC/SC 0x%08X)\n", listed);
    return 1;
  }

  std::string error;
  void* library = LoadModuleByName(library_.c_str(), &error);
  if (library == nullptr) {
    std::fprintf(stderr, "eapcfg: cannot load %s: %s\n", library_.c_str(), error.c_str());
    return 1;
  }
  auto alloc = Entry<swc_config_alloc_fn>(library, "swc_config_alloc");
  auto set_cb = Entry<swc_scard_set_event_cb_fn>(library, "swc_scard_set_event_cb");
  auto init = Entry<swc_scard_init_fn>(library, "swc_scard_init");
  auto get_imsi = Entry<swc_scard_get_imsi_fn>(library, "swc_scard_get_imsi");
  auto deinit = Entry<swc_scard_deinit_fn>(library, "swc_scard_deinit");
  auto release = Entry<swc_config_free_fn>(library, "swc_config_free");
  if (!alloc || !set_cb || !init || !get_imsi || !deinit || !release) {
    std::fprintf(stderr, "eapcfg: %s lacks an swc_ entry\n", library_.c_str());
    return 1;
  }

  Found found;
  char name[261] = "SupplicantPlugin_00-00-00-00-00-00";
  swc_config* config = alloc(name, 1);
  if (config == nullptr || set_cb(config, Found::Callback, &found) != 0 || init(config) != 0) {
    std::fprintf(stderr, "eapcfg: simcore cannot watch the readers\n");
    deinit(config);
    release(config);
    return 1;
  }
  // The cards present are reported before the start returns.
  std::vector<Card> cards;
  {
    std::lock_guard<std::mutex> lock(found.mutex);
    cards = found.cards;
  }
  std::printf("%zu reader(s)\n", readers.size());
  for (const std::string& reader : readers) {
    const Card* card = nullptr;
    for (const Card& c : cards) card = c.reader == reader ? &c : card;
    if (card == nullptr) {
      std::printf("  \"%s\": no card\n", reader.c_str());
    } else if (!card->sim) {
      std::printf("  \"%s\": a smart card that is no SIM\n", reader.c_str());
    } else {
      std::printf("  \"%s\": %s, ICCID %s, PIN %s\n", reader.c_str(), card->name.c_str(),
                  card->iccid.c_str(), card->pin_enabled ? "enabled" : "disabled");
    }
  }

  std::string target = reader_;
  for (const Card& c : cards) {
    if (target.empty() && c.sim) target = c.reader;
  }
  int rc = 0;
  if (target.empty()) {
    std::printf("no SIM\n");
  } else {
    char imsi[64] = {};
    uint32_t length = sizeof imsi;
    int32_t status = get_imsi(config, target.c_str(), pin_.empty() ? nullptr : pin_.c_str(), imsi, &length);
    if (status == 0) {
      std::printf("IMSI in \"%s\": %s\n", target.c_str(), imsi);
    } else {
      std::fprintf(stderr, "eapcfg: IMSI in \"%s\" not read (%d): %s\n", target.c_str(), status,
                   ImsiFailure(status));
      rc = 1;
    }
  }
  deinit(config);
  release(config);
  return rc;
}

}  // namespace velto::tools
