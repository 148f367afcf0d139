// The Linux binding of the sibling libraries: dlopen on the first call of one
// of a library's entries, dlsym on the first call of each entry.
//
// A failed dlopen or dlsym is not remembered: the next call tries again, so a
// library installed while the host runs is found. Once bound, a library stays
// open for the life of the process and an entry's address is never looked up
// again; the card event callback calls SetScList from the library's own
// threads, so the cached addresses are atomics and binding is serialised per
// library.
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/text.h"
#include "frame/library.h"
#include "siblings/sibling_calls.h"
#include "frame/startup.h"

namespace velto::siblings {
namespace {

struct Library {
  const char* file_name;
  std::mutex bind_mutex{};  // held while binding the library or one of its entries
  std::atomic<void*> handle{nullptr};
};

struct Entry {
  Library& library;
  const char* name;
  std::atomic<void*> address{nullptr};
};

Library g_authdialogs{"authdialogs.so"};
Library g_simcore{"simcore.so"};

Entry g_create_1x_dlg{g_authdialogs, kAuthDialogsCreate1XDlg};
Entry g_create_sc_dlg{g_authdialogs, kAuthDialogsCreateScDlg};
Entry g_set_sc_list_sc{g_authdialogs, kAuthDialogsSetScListSc};
Entry g_set_sc_list_sim{g_authdialogs, kAuthDialogsSetScListSim};

Entry g_config_alloc{g_simcore, "swc_config_alloc"};
Entry g_set_event_cb{g_simcore, "swc_scard_set_event_cb"};
Entry g_scard_init{g_simcore, "swc_scard_init"};
Entry g_get_imsi{g_simcore, "swc_scard_get_imsi"};
Entry g_scard_deinit{g_simcore, "swc_scard_deinit"};
Entry g_config_free{g_simcore, "swc_config_free"};

std::mutex g_error_mutex;
char g_error[512];  // the last binding failure, kept until the next one

void KeepError(const char* text) {
  std::lock_guard<std::mutex> lock(g_error_mutex);
  CopyTextField(g_error, text != nullptr ? text : "unknown failure");
}

// The folder of the image that holds this code (veltoeap.so, or a program
// that links the core), or the empty text. Without a configured directory the
// sibling libraries are the ones installed beside the module: Linux has no
// search of the host program's folder, and a RUNPATH would not do, because a
// sanitizer's dlopen interceptor searches its own library's RUNPATH instead.
void ModuleFolder(char* buffer, size_t capacity) {
  buffer[0] = '\0';
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModuleFolder), &info) == 0 || info.dli_fname == nullptr) return;
  // A program's own name is the one it was started by, maybe relative.
  char* image = realpath(info.dli_fname, nullptr);
  if (image == nullptr) return;
  const char* slash = std::strrchr(image, '/');
  size_t length = slash != nullptr ? static_cast<size_t>(slash - image) : 0;
  if (length != 0 && length < capacity) {
    std::memcpy(buffer, image, length);
    buffer[length] = '\0';
  }
  std::free(image);
}

// Caller holds library.bind_mutex.
void* OpenLibrary(Library& library) {
  void* handle = library.handle.load(std::memory_order_acquire);
  if (handle != nullptr) return handle;

  char directory[kMaxPath] = {};
  if (!platform::GetLibraryDirectory(directory, sizeof directory)) directory[0] = '\0';
  if (directory[0] == '\0') ModuleFolder(directory, sizeof directory);
  char path[kMaxPath + 32];
  int n = directory[0] == '\0'
              ? std::snprintf(path, sizeof path, "%s", library.file_name)
              : std::snprintf(path, sizeof path, "%s/%s", directory, library.file_name);
  if (n < 0 || static_cast<size_t>(n) >= sizeof path) {
    KeepError("library path too long");
    return nullptr;
  }
  handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    KeepError(dlerror());
    return nullptr;
  }
  library.handle.store(handle, std::memory_order_release);
  return handle;
}

void* Resolve(Entry& entry) {
  void* address = entry.address.load(std::memory_order_acquire);
  if (address != nullptr) return address;

  std::lock_guard<std::mutex> lock(entry.library.bind_mutex);
  address = entry.address.load(std::memory_order_acquire);
  if (address != nullptr) return address;
  void* handle = OpenLibrary(entry.library);
  if (handle == nullptr) return nullptr;
  dlerror();  // a null address is an error only when dlerror says so
  address = dlsym(handle, entry.name);
  if (address == nullptr) {
    const char* reason = dlerror();
    if (reason == nullptr) {
      char text[128];
      std::snprintf(text, sizeof text, "%s: null address", entry.name);
      KeepError(text);
    } else {
      KeepError(reason);
    }
    return nullptr;
  }
  entry.address.store(address, std::memory_order_release);
  return address;
}

template <typename Fn>
Fn* Bound(Entry& entry) {
  return reinterpret_cast<Fn*>(Resolve(entry));
}

}  // namespace

int Create1XDlg(C8021X_DLGS dialog, _VELTO_WLAN_PROFILE_V120* profile,
                VELTO_DOT1X_AUTH_FAIL_CODE fail_code, _C8021X_SETTINGS_WINDOW_MODE window_mode,
                HWND owner, int* password_changed) {
  Create1XDlgFn* fn = Bound<Create1XDlgFn>(g_create_1x_dlg);
  return fn != nullptr ? fn(dialog, profile, fail_code, window_mode, owner, password_changed) : 0;
}

int CreateScDlg(_VELTO_WLAN_PROFILE_V120* profile, VELTO_DOT1X_AUTH_FAIL_CODE fail_code,
                _C8021X_SETTINGS_WINDOW_MODE window_mode, HWND owner, VELTO_SC_LIST_V120* sc_list,
                VELTO_SIM_LIST* sim_list) {
  CreateScDlgFn* fn = Bound<CreateScDlgFn>(g_create_sc_dlg);
  return fn != nullptr ? fn(profile, fail_code, window_mode, owner, sc_list, sim_list) : 0;
}

int SetScList(VELTO_SC_LIST_V120* sc_list) {
  SetScListScFn* fn = Bound<SetScListScFn>(g_set_sc_list_sc);
  return fn != nullptr ? fn(sc_list) : 0;
}

int SetScList(VELTO_SIM_LIST* sim_list) {
  SetScListSimFn* fn = Bound<SetScListSimFn>(g_set_sc_list_sim);
  return fn != nullptr ? fn(sim_list) : 0;
}

swc_config* swc_config_alloc(const char* name, int32_t options) {
  swc_config_alloc_fn* fn = Bound<swc_config_alloc_fn>(g_config_alloc);
  return fn != nullptr ? fn(name, options) : nullptr;
}

int32_t swc_scard_set_event_cb(swc_config* config, swc_event_cb callback, void* context) {
  swc_scard_set_event_cb_fn* fn = Bound<swc_scard_set_event_cb_fn>(g_set_event_cb);
  return fn != nullptr ? fn(config, callback, context) : -1;
}

int32_t swc_scard_init(swc_config* config) {
  swc_scard_init_fn* fn = Bound<swc_scard_init_fn>(g_scard_init);
  return fn != nullptr ? fn(config) : -1;
}

int32_t swc_scard_get_imsi(swc_config* config, const char* reader, const char* pin, char* imsi,
                           uint32_t* length) {
  swc_scard_get_imsi_fn* fn = Bound<swc_scard_get_imsi_fn>(g_get_imsi);
  return fn != nullptr ? fn(config, reader, pin, imsi, length) : -1;
}

int32_t swc_scard_deinit(swc_config* config) {
  swc_scard_deinit_fn* fn = Bound<swc_scard_deinit_fn>(g_scard_deinit);
  return fn != nullptr ? fn(config) : -1;
}

void swc_config_free(swc_config* config) {
  swc_config_free_fn* fn = Bound<swc_config_free_fn>(g_config_free);
  if (fn != nullptr) fn(config);
}

const char* SiblingBindError() {
  // A copy per thread: another thread's failure may replace the text at any time.
  thread_local char copy[sizeof g_error];
  std::lock_guard<std::mutex> lock(g_error_mutex);
  std::memcpy(copy, g_error, sizeof copy);
  return copy;
}

}  // namespace velto::siblings
