// The module with the real simcore: a folder holding the product's simcore and
// the authdialogs double, made the module's library directory. Tests may call
// simcore itself: the module finds the same loaded library.
#pragma once

#include <string>

#include "abi/simcore.h"
#include "doubles/sibling_doubles_client.h"

namespace velto::test {

struct SimcoreEntries {
  swc_config_alloc_fn* config_alloc = nullptr;
  swc_scard_set_event_cb_fn* set_event_cb = nullptr;
  swc_scard_init_fn* init = nullptr;
  swc_scard_get_imsi_fn* get_imsi = nullptr;
  swc_scard_deinit_fn* deinit = nullptr;
  swc_config_free_fn* config_free = nullptr;
};

struct SimChain {
  ~SimChain();
  bool SetUp(std::string* error);
  const SimcoreEntries& simcore() const { return simcore_; }
  AuthDialogsDouble dialogs_;
  SimcoreEntries simcore_;
  std::string registry_root_;
};

// Where the smart-card service does not answer: simcore says so (-2), and the
// module's identity and credential-field exports end as for a SIM that cannot
// be read (1223, no fields) without hanging.
void ExpectNoSmartCardService(SimChain& chain);

}  // namespace velto::test
