// The module with the real simcore: a folder holding the product's simcore and
// the authdialogs double, made the module's library directory. Tests drive the
// module's identity and credential-field exports through it and may call
// simcore itself: both find the same loaded library.
#pragma once

#include <string>
#include <vector>

#include "abi/eap_abi.h"
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

class SimChain {
 public:
  SimChain() = default;
  ~SimChain();
  SimChain(const SimChain&) = delete;
  SimChain& operator=(const SimChain&) = delete;
  bool SetUp(std::string* error);
  const SimcoreEntries& simcore() const { return simcore_; }

  struct Identity {
    DWORD status = 0;
    std::string identity;         // UTF-8
    std::vector<int> fail_codes;  // one per smart-card dialog shown
  };
  // EapPeerInvokeIdentityUI for a record of `type`; the smart-card dialog is
  // confirmed once with `reader` and `pin`, then cancelled.
  Identity RunIdentity(uint8_t type, const char* reader, const char* pin);
  // EapPeerQueryCredentialInputFields: the fields' labels.
  DWORD QueryFields(uint8_t type, std::vector<std::string>* labels);

 private:
  AuthDialogsDouble dialogs_;
  SimcoreEntries simcore_;
  std::string registry_root_;
};

// Where the smart-card service does not answer: simcore says so (-2), and the
// module's exports end as for a SIM that cannot be read (1223, no fields)
// without hanging.
void ExpectNoSmartCardService(SimChain& chain);

}  // namespace velto::test
