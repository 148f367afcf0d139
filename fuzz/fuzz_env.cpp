#include "fuzz_env.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "frame/registry.h"
#include "support/test_env.h"

namespace velto::fuzz {
namespace {

std::string g_root;

void RemoveRoot() { test::RemoveTree(g_root); }

}  // namespace

void SetUpPrivateEnvironment() {
  g_root = test::MakeTempDir();
  if (g_root.empty()) std::abort();
  std::atexit(RemoveRoot);
  const std::string data = g_root + "/data";
  test::SetEnvVar("HOME", g_root.c_str());
  test::SetEnvVar("XDG_DATA_HOME", data.c_str());
  test::SetEnvVar("VELTOEAP_REGISTRY_ROOT", (g_root + "/registry").c_str());
  // A fixed key: what one run seals, the next opens, so sealed seeds stay
  // valid from run to run.
  ::mkdir(data.c_str(), 0700);
  ::mkdir((data + "/veltoeap").c_str(), 0700);
  const std::string key = data + "/veltoeap/key";
  {
    std::ofstream out(key, std::ios::binary);
    for (int i = 0; i < 32; ++i) out.put(static_cast<char>(0xA0 + i));
  }
  ::chmod(key.c_str(), 0600);
  platform::RegistryKey* machine_key = nullptr;
  if (platform::g_registry->create_machine_key(platform::kVeltoWirelessKey, &machine_key) != 0) {
    std::abort();
  }
  platform::g_registry->close_key(machine_key);
}

uint32_t Input::U32() {
  uint32_t value = 0;
  CopyTo(&value, sizeof value);
  return value;
}

std::string Input::Bytes(size_t max) {
  size_t n = std::min(max, size_ - pos_);
  std::string out(reinterpret_cast<const char*>(data_ + pos_), n);
  pos_ += n;
  return out;
}

size_t Input::CopyTo(void* out, size_t size) {
  size_t n = std::min(size, size_ - pos_);
  if (n != 0) std::memcpy(out, data_ + pos_, n);
  pos_ += n;
  return n;
}

}  // namespace velto::fuzz
