#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/text.h"
#include "frame/library.h"

namespace velto::platform {
namespace {

// The Linux stand-in for the process's DLL directory: where the lazily bound
// sibling libraries are looked up.
std::mutex g_directory_mutex;
char g_directory[260];

}  // namespace

const char kCfgBridgeSubfolder[] = "/Velto/WirelessCommon/";
const char kCfgBridgeFileName[] = "cfgbridge.so";

bool CommonFilesFolder(char* buffer, size_t capacity) {
  const char* folder = std::getenv("VELTOEAP_COMMON_FILES");
  if (folder == nullptr || folder[0] == '\0') folder = "/usr/local/lib";
  size_t n = std::strlen(folder);
  if (buffer == nullptr || n >= capacity) return false;
  std::memcpy(buffer, folder, n + 1);
  return true;
}

void LoadLibraryAlteredPath(const char* path) {
  // Its own dependencies resolve through its RUNPATH; it is never unloaded.
  dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

void SetLibraryDirectory(const char* directory) {
  std::lock_guard<std::mutex> lock(g_directory_mutex);
  CopyTextField(g_directory, directory);
}

bool GetLibraryDirectory(char* buffer, size_t capacity) {
  std::lock_guard<std::mutex> lock(g_directory_mutex);
  size_t n = std::strlen(g_directory);
  if (buffer == nullptr || n >= capacity) return false;
  std::memcpy(buffer, g_directory, n + 1);
  return true;
}

}  // namespace velto::platform
