// simcore, the SIM library: the six swc_ entries over PC/SC.
//
// One watcher thread per handle owns a PC/SC context and waits in
// SCardGetStatusChange on every reader and on the plug-and-play
// pseudo-reader. It reports the cards present when the watching starts, then
// every card inserted, removed or replaced, and it is the only thread that
// calls the event callback, so events arrive in order and stop with it.
// swc_scard_get_imsi works on a context of its own: a PC/SC context serves one
// thread at a time, and the watcher's is busy waiting.
//
// The stop is bounded. A cancel reaches the watcher's wait for changes, but
// not a connect, transaction or transmission to a card that another program
// holds or that does not answer. After 2 s of such a call the stop lets the
// watcher go: it sends no event once stopped, ends on its own when the call
// returns, releases its own context, and frees the handle if that was freed
// meanwhile.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "abi/simcore.h"
#include "base/text.h"
#include "simcore/pcsc.h"
#include "simcore/sim_card.h"

using velto::pcsc::ContextId;
using velto::sim::CardInfo;
using velto::sim::CardKind;

struct swc_config {
  char name[261] = {};
  int32_t options = 0;

  std::mutex lifecycle;  // swc_scard_init and swc_scard_deinit, one at a time

  std::mutex mutex;  // everything below
  std::condition_variable changed;
  swc_event_cb callback = nullptr;
  void* context = nullptr;
  std::map<std::string, CardInfo> sims;  // the SIMs the watcher found, by reader
  std::thread watcher;
  std::atomic<std::thread::id> watcher_id{};  // set by the watcher itself
  ContextId pcsc_context = 0;  // the watcher's; cancelled and released only under mutex
  bool stop = false;
  bool scan_done = false;  // the cards present at the start are reported
  bool finished = false;   // the watcher has left its loop
  bool in_callback = false;  // the watcher is inside the callback
  bool abandoned = false;  // a stop let the watcher go; it cleans up after itself
  bool freed = false;      // swc_config_free came while abandoned: the watcher deletes
  int32_t scan_status = 0;
};

namespace {

using namespace velto;
using Clock = std::chrono::steady_clock;

constexpr auto kRetryAfterServiceLoss = std::chrono::milliseconds(1000);
constexpr auto kCancelRepeat = std::chrono::milliseconds(10);
constexpr auto kStopBound = std::chrono::milliseconds(2000);

class PcscChannel : public sim::CardChannel {
 public:
  explicit PcscChannel(pcsc::CardId card) : card_(card) {}
  bool Transmit(const sim::Bytes& command, sim::Bytes* response) override {
    return pcsc::Transmit(card_, command, response) == pcsc::kSuccess;
  }

 private:
  pcsc::CardId card_;
};

// Shared access to the card in one reader, inside a transaction, so that no
// other program's commands come between ours. A card whose PIN was verified
// is reset when let go: it must not stay open to other programs.
class CardSession {
 public:
  CardSession(ContextId context, const std::string& reader) {
    status_ = pcsc::Connect(context, reader, &card_);
    if (status_ != pcsc::kSuccess) return;
    connected_ = true;
    channel_ = PcscChannel(card_);
    status_ = pcsc::BeginTransaction(card_);
    in_transaction_ = status_ == pcsc::kSuccess;
  }
  ~CardSession() {
    if (in_transaction_) pcsc::EndTransaction(card_);
    if (connected_) pcsc::Disconnect(card_, reset_);
  }
  CardSession(const CardSession&) = delete;
  CardSession& operator=(const CardSession&) = delete;

  bool ready() const { return in_transaction_; }
  sim::CardChannel& channel() { return channel_; }
  void ResetWhenDone() { reset_ = true; }

 private:
  pcsc::Status status_ = pcsc::kSuccess;
  pcsc::CardId card_ = 0;
  bool connected_ = false;
  bool in_transaction_ = false;
  bool reset_ = false;
  PcscChannel channel_{0};
};

struct Reader {
  uint32_t state = pcsc::kStateUnaware;
  bool present = false;
  uint32_t insertions = 0;  // the high word of the state: insertions and removals seen
  std::string card_name;    // of the card present
};

// One card event: a SIM carries its kind as card name, its ICCID digits as
// card data and the PIN-enabled flag; another card carries its ATR as the
// alternative card name and no card data, so the lists leave it out.
void FillEvent(VELTO_CARD_EVENT* event, int32_t kind, const std::string& reader,
               const std::string& card_name, const CardInfo* sim, const std::vector<uint8_t>& atr) {
  std::memset(event, 0, sizeof *event);
  event->kind = kind;
  CopyTextField(event->reader_name, reader);
  CopyTextField(event->card_name, card_name);
  if (sim != nullptr) {
    size_t n = sim->iccid.size() < sizeof event->card_data ? sim->iccid.size()
                                                            : sizeof event->card_data;
    std::memcpy(event->card_data, sim->iccid.data(), n);
    event->card_data_length = static_cast<uint32_t>(n);
    event->flags = kCardHasData1 | (sim->pin_enabled ? kCardPinEnabled : 0);
  } else if (kind != kCardRemoved) {
    size_t n = atr.size() < sizeof event->alternative_card_name ? atr.size()
                                                                 : sizeof event->alternative_card_name;
    std::memcpy(event->alternative_card_name, atr.data(), n);
    event->alternative_card_name_length = static_cast<uint32_t>(n);
  }
}

class Watcher {
 public:
  explicit Watcher(swc_config* config) : config_(config), event_(new VELTO_CARD_EVENT) {}

  void Run() {
    config_->watcher_id = std::this_thread::get_id();
    ContextId context = CurrentContext();
    pcsc::Status status = Step(context, 0, true);
    {
      std::lock_guard<std::mutex> lock(config_->mutex);
      config_->scan_done = true;
      config_->scan_status = status == pcsc::kSuccess ? sim::kOk : sim::kNoService;
    }
    config_->changed.notify_all();
    bool relist = false;
    while (status == pcsc::kSuccess && !Stopping()) {
      status = Step(context, pcsc::kInfinite, relist);
      relist = false;
      if (status == pcsc::kSuccess) {
        relist = pnp_changed_;
      } else if (status == pcsc::kTimeout || status == pcsc::kCancelled ||
                 status == pcsc::kUnknownReader) {
        relist = status == pcsc::kUnknownReader;
        status = pcsc::kSuccess;
      } else {
        context = Reconnect(context);
        relist = true;
        status = context != 0 ? pcsc::kSuccess : status;
      }
    }
    std::unique_lock<std::mutex> lock(config_->mutex);
    config_->finished = true;
    if (config_->abandoned) {
      if (config_->pcsc_context != 0) pcsc::ReleaseContext(config_->pcsc_context);
      config_->pcsc_context = 0;
      if (config_->freed) {
        lock.unlock();
        delete config_;
        return;
      }
    }
    config_->changed.notify_all();
  }

 private:
  ContextId CurrentContext() {
    std::lock_guard<std::mutex> lock(config_->mutex);
    return config_->pcsc_context;
  }

  bool Stopping() {
    std::lock_guard<std::mutex> lock(config_->mutex);
    return config_->stop;
  }

  // Waits up to `duration` for the stop; true when stopping.
  bool WaitForStop(Clock::duration duration) {
    std::unique_lock<std::mutex> lock(config_->mutex);
    return config_->changed.wait_for(lock, duration, [this] { return config_->stop; });
  }

  // The service went away (Windows stops it with the last reader): every
  // card counts as removed, and a new context is sought until the stop.
  ContextId Reconnect(ContextId lost) {
    for (auto& [name, reader] : readers_) {
      if (reader.present) Report(kCardRemoved, name, reader, nullptr, {});
    }
    readers_.clear();
    {
      // Out of the stop's reach before it is released.
      std::lock_guard<std::mutex> lock(config_->mutex);
      config_->pcsc_context = 0;
    }
    pcsc::ReleaseContext(lost);
    ContextId context = 0;
    while (!WaitForStop(kRetryAfterServiceLoss)) {
      if (pcsc::EstablishContext(&context) == pcsc::kSuccess) break;
      context = 0;
    }
    std::lock_guard<std::mutex> lock(config_->mutex);
    config_->pcsc_context = context;
    return context;
  }

  // One wait on the readers (listed anew when `relist`); reports what changed.
  pcsc::Status Step(ContextId context, uint32_t timeout, bool relist) {
    if (relist) {
      std::vector<std::string> names;
      pcsc::Status status = pcsc::ListReaders(context, &names);
      if (status != pcsc::kSuccess) return status;
      for (auto it = readers_.begin(); it != readers_.end();) {
        bool kept = false;
        for (const std::string& name : names) kept = kept || name == it->first;
        if (!kept && it->second.present) Report(kCardRemoved, it->first, it->second, nullptr, {});
        it = kept ? std::next(it) : readers_.erase(it);
      }
      for (const std::string& name : names) readers_.emplace(name, Reader{});
    }
    std::vector<pcsc::ReaderState> states;
    states.push_back({pcsc::kPnpNotification, pnp_state_, 0, {}});
    for (const auto& [name, reader] : readers_) states.push_back({name, reader.state, 0, {}});
    if (Stopping()) return pcsc::kCancelled;
    pcsc::Status status = pcsc::GetStatusChange(context, timeout, &states);
    if (status != pcsc::kSuccess) return status;

    pnp_changed_ = pnp_state_ != pcsc::kStateUnaware && (states[0].event_state & pcsc::kStateChanged);
    pnp_state_ = states[0].event_state & ~pcsc::kStateChanged;
    for (size_t i = 1; i < states.size(); ++i) {
      Reader& reader = readers_[states[i].reader];
      uint32_t event = states[i].event_state;
      reader.state = event & ~pcsc::kStateChanged;
      bool present = (event & pcsc::kStatePresent) != 0 &&
                     (event & (pcsc::kStateMute | pcsc::kStateUnknown | pcsc::kStateUnavailable)) == 0;
      uint32_t insertions = event >> 16;
      if (present && (!reader.present || insertions != reader.insertions)) {
        int32_t kind = reader.present ? kCardUpdated : kCardInserted;
        reader.present = true;
        reader.insertions = insertions;
        Identify(context, kind, states[i].reader, reader, states[i].atr);
      } else if (!present && reader.present) {
        reader.present = false;
        reader.insertions = insertions;
        Report(kCardRemoved, states[i].reader, reader, nullptr, {});
      }
    }
    return pcsc::kSuccess;
  }

  void Identify(ContextId context, int32_t kind, const std::string& name, Reader& reader,
                const std::vector<uint8_t>& atr) {
    CardInfo card;
    if (Stopping()) return;
    {
      CardSession session(context, name);
      if (session.ready()) {
        card = sim::IdentifyCard(session.channel());
      }
    }
    reader.card_name = card.kind == CardKind::kUsim     ? "USIM"
                       : card.kind == CardKind::kGsmSim ? "GSM SIM"
                                                        : "";
    Report(kind, name, reader, card.kind != CardKind::kOther ? &card : nullptr, atr);
  }

  // Keeps the SIM table in step and hands the event to the callback, unless
  // the watching is being stopped.
  void Report(int32_t kind, const std::string& name, const Reader& reader, const CardInfo* sim,
              const std::vector<uint8_t>& atr) {
    swc_event_cb callback = nullptr;
    void* context = nullptr;
    {
      std::lock_guard<std::mutex> lock(config_->mutex);
      if (sim != nullptr) {
        config_->sims[name] = *sim;
      } else {
        config_->sims.erase(name);
      }
      if (config_->stop) return;
      callback = config_->callback;
      context = config_->context;
      if (callback == nullptr) return;
      config_->in_callback = true;
    }
    FillEvent(event_.get(), kind, name, reader.card_name, sim, atr);
    callback(context, event_.get());
    std::lock_guard<std::mutex> lock(config_->mutex);
    config_->in_callback = false;
    config_->changed.notify_all();
  }

  swc_config* config_;
  std::unique_ptr<VELTO_CARD_EVENT> event_;
  std::map<std::string, Reader> readers_;
  uint32_t pnp_state_ = pcsc::kStateUnaware;
  bool pnp_changed_ = false;
};

// Ends the watcher and waits for it. Caller holds config->lifecycle.
int32_t StopWatching(swc_config* config) {
  if (!config->watcher.joinable()) return 0;
  std::unique_lock<std::mutex> lock(config->mutex);
  config->stop = true;
  config->changed.notify_all();
  // A cancel reaches only a wait in progress: repeat it until the watcher is
  // out. Under the lock, so that the watcher cannot release the context
  // meanwhile. A watcher stuck elsewhere is let go (never inside the
  // callback: no event may follow the stop).
  auto give_up_at = Clock::now() + kStopBound;
  while (!config->finished) {
    if (config->pcsc_context != 0) pcsc::Cancel(config->pcsc_context);
    config->changed.wait_for(lock, kCancelRepeat, [config] { return config->finished; });
    if (!config->finished && !config->in_callback && Clock::now() >= give_up_at) {
      config->abandoned = true;
      config->watcher.detach();
      config->watcher_id = std::thread::id();
      return 0;
    }
  }
  lock.unlock();
  config->watcher.join();
  config->watcher_id = std::thread::id();
  lock.lock();
  if (config->pcsc_context != 0) pcsc::ReleaseContext(config->pcsc_context);
  config->pcsc_context = 0;
  config->sims.clear();
  config->stop = config->scan_done = config->finished = false;
  return 0;
}

}  // namespace

extern "C" swc_config* swc_config_alloc(const char* name, int32_t options) {
  auto* config = new (std::nothrow) swc_config;
  if (config == nullptr) return nullptr;
  CopyTextField(config->name, name);
  config->options = options;
  return config;
}

extern "C" int32_t swc_scard_set_event_cb(swc_config* config, swc_event_cb callback,
                                          void* context) {
  if (config == nullptr) return sim::kInvalidArgument;
  std::lock_guard<std::mutex> lock(config->mutex);
  config->callback = callback;
  config->context = context;
  return 0;
}

extern "C" int32_t swc_scard_init(swc_config* config) {
  if (config == nullptr) return sim::kInvalidArgument;
  std::lock_guard<std::mutex> lifecycle(config->lifecycle);
  if (config->watcher.joinable()) return 0;
  {
    // A watcher let go by the last stop still runs: it owns the state.
    std::lock_guard<std::mutex> lock(config->mutex);
    if (config->abandoned && !config->finished) return sim::kNoService;
    config->abandoned = false;
    config->sims.clear();
    config->stop = config->scan_done = config->finished = false;
  }
  ContextId context = 0;
  if (pcsc::EstablishContext(&context) != pcsc::kSuccess) return sim::kNoService;
  {
    std::lock_guard<std::mutex> lock(config->mutex);
    config->pcsc_context = context;
  }
  try {
    config->watcher = std::thread([config] { Watcher(config).Run(); });
  } catch (...) {
    pcsc::ReleaseContext(context);
    std::lock_guard<std::mutex> lock(config->mutex);
    config->pcsc_context = 0;
    return sim::kNoService;
  }
  int32_t status = 0;
  {
    std::unique_lock<std::mutex> lock(config->mutex);
    config->changed.wait(lock, [config] { return config->scan_done; });
    status = config->scan_status;
  }
  if (status != 0) StopWatching(config);
  return status;
}

extern "C" int32_t swc_scard_get_imsi(swc_config* config, const char* reader, const char* pin,
                                      char* imsi, uint32_t* length) {
  if (config == nullptr || reader == nullptr || imsi == nullptr || length == nullptr ||
      *length == 0) {
    return sim::kInvalidArgument;
  }
  ContextId context = 0;
  if (pcsc::EstablishContext(&context) != pcsc::kSuccess) return sim::kNoService;
  int32_t status = sim::kNoCard;
  std::string digits;
  {
    CardSession session(context, reader);
    if (session.ready()) {
      CardInfo card;
      bool known = false;
      {
        std::lock_guard<std::mutex> lock(config->mutex);
        auto found = config->sims.find(reader);
        if (found != config->sims.end()) {
          card = found->second;
          known = true;
        }
      }
      if (!known) card = sim::IdentifyCard(session.channel());
      bool pin_sent = false;
      status = sim::ReadImsi(session.channel(), card, pin, &digits, &pin_sent);
      bool pin_given = pin != nullptr && pin[0] != '\0';
      bool stale = status == sim::kCardError || (status == sim::kPinWrong && pin_given &&
                                                 !card.pin_enabled);
      if (stale && known && !pin_sent) {
        // The card may have been replaced (or its PIN enabled) since the
        // watcher saw it.
        card = sim::IdentifyCard(session.channel());
        status = sim::ReadImsi(session.channel(), card, pin, &digits, &pin_sent);
      }
      if (pin_sent) session.ResetWhenDone();
    }
  }
  pcsc::ReleaseContext(context);
  if (status != sim::kOk) return status;
  if (digits.size() + 1 > *length) return sim::kBufferTooSmall;
  std::memcpy(imsi, digits.c_str(), digits.size() + 1);
  *length = static_cast<uint32_t>(digits.size());
  return 0;
}

namespace {

// Called from the callback, a stop would wait for the thread it runs on.
bool OnWatcherThread(const swc_config* config) {
  return config->watcher_id.load() == std::this_thread::get_id();
}

}  // namespace

extern "C" int32_t swc_scard_deinit(swc_config* config) {
  if (config == nullptr) return 0;
  if (OnWatcherThread(config)) return sim::kInvalidArgument;
  std::lock_guard<std::mutex> lifecycle(config->lifecycle);
  return StopWatching(config);
}

extern "C" void swc_config_free(swc_config* config) {
  if (config == nullptr || OnWatcherThread(config)) return;
  {
    std::lock_guard<std::mutex> lifecycle(config->lifecycle);
    StopWatching(config);
  }
  std::unique_lock<std::mutex> lock(config->mutex);
  if (config->abandoned && !config->finished) {
    config->freed = true;  // the watcher deletes it when it ends
    return;
  }
  lock.unlock();
  delete config;
}
