// The Linux stand-in for the smart-card service's started event: signalled
// once the service answers. A poller asks every 400 ms while someone holds
// the event, and stops when the last holder releases it. Each poller has a
// stop flag of its own: a holder that comes while the last release still
// waits for the old poller starts a new one and leaves the old one's flag
// alone.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "sim/sync.h"

namespace velto::platform {

struct SyncEvent {
  bool signalled = false;
};

class PcscStartedEvent {
 public:
  using Probe = bool (*)();  // true when the service answers
  explicit PcscStartedEvent(Probe probe) : probe_(probe) {}

  SyncEvent* Access();
  // The last release ends the poller and waits for it.
  void Release();

 private:
  struct Poller {
    bool stopping = false;  // guarded by mutex_
  };
  void Poll(const std::shared_ptr<Poller>& poller);

  Probe probe_;
  std::mutex mutex_;
  std::condition_variable wake_;
  int holders_ = 0;
  std::shared_ptr<Poller> current_;
  std::thread thread_;
  SyncEvent event_;
};

}  // namespace velto::platform
