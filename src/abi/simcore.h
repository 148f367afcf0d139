// The binary convention of simcore, the SIM library. The module and every
// implementation of the library (the product, the test double) include this
// header. Entries have C linkage and these exact names; statuses are 32-bit
// signed integers.
#pragma once

#include <cstdint>

#include "abi/card_records.h"

extern "C" {

typedef struct swc_config swc_config;  // the library's opaque handle

// The card event callback: the registered context and an event record the
// library owns. It returns 0.
typedef int32_t (*swc_event_cb)(void* context, VELTO_CARD_EVENT* event);

typedef swc_config*(swc_config_alloc_fn)(const char* name, int32_t options);
typedef int32_t(swc_scard_set_event_cb_fn)(swc_config* config, swc_event_cb callback,
                                           void* context);
typedef int32_t(swc_scard_init_fn)(swc_config* config);
// imsi: 64 bytes, zero-filled; *length holds 64. -7: PIN wrong or missing.
typedef int32_t(swc_scard_get_imsi_fn)(swc_config* config, const char* reader, const char* pin,
                                       char* imsi, uint32_t* length);
typedef int32_t(swc_scard_deinit_fn)(swc_config* config);  // config may be null
typedef void(swc_config_free_fn)(swc_config* config);      // config may be null

}  // extern "C"

inline constexpr int32_t kSwcPinWrong = -7;

// The entries themselves, for implementations and for the Windows module,
// which calls them through delay-load imports.
extern "C" {
swc_config_alloc_fn swc_config_alloc;
swc_scard_set_event_cb_fn swc_scard_set_event_cb;
swc_scard_init_fn swc_scard_init;
swc_scard_get_imsi_fn swc_scard_get_imsi;
swc_scard_deinit_fn swc_scard_deinit;
swc_config_free_fn swc_config_free;
}
