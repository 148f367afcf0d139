// The two sealed forms of a password, each way: the stored form
// (CryptProtectCustom / CryptUnprotectCustom) and the profile identity form
// (EncryptProfileIdentityData / DecryptProfileIdentityData).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "frame/memory.h"
#include "protect/custom_protect.h"
#include "protect/profile_protect.h"

namespace velto::bench {
namespace {

constexpr char kPassword[] = "correct horse battery staple";

using Sealer = char* (*)(const char*);

// Seals once outside the loop, so that a failing key shows as an error.
std::string SealedOnce(Sealer seal) {
  char* sealed = seal(kPassword);
  std::string text = sealed != nullptr ? sealed : "";
  std::free(sealed);
  return text;
}

void BM_Seal(benchmark::State& state, Sealer seal) {
  if (SealedOnce(seal).empty()) return state.SkipWithError("sealing failed");
  for (auto _ : state) {
    char* sealed = seal(kPassword);
    benchmark::DoNotOptimize(sealed);
    std::free(sealed);
  }
}

void BM_OpenStored(benchmark::State& state) {
  std::string sealed = SealedOnce(CryptProtectCustom);
  if (sealed.empty()) return state.SkipWithError("sealing failed");
  for (auto _ : state) {
    char* plain = CryptUnprotectCustom(sealed.c_str());
    if (plain == nullptr) return state.SkipWithError("opening failed");
    WipeAndFreeText(plain);
  }
}

void BM_OpenProfile(benchmark::State& state) {
  std::string sealed = SealedOnce(EncryptProfileIdentityData);
  if (sealed.empty()) return state.SkipWithError("sealing failed");
  std::string copy = sealed;  // the opener rewrites its argument
  for (auto _ : state) {
    std::memcpy(copy.data(), sealed.data(), sealed.size());
    char* plain = DecryptProfileIdentityData(copy.data());
    if (plain == nullptr) return state.SkipWithError("opening failed");
    WipeAndFreeText(plain);
  }
}

const bool kRegistered = [] {
  benchmark::RegisterBenchmark("seal/stored-form/seal", BM_Seal, &CryptProtectCustom);
  benchmark::RegisterBenchmark("seal/stored-form/open", BM_OpenStored);
  benchmark::RegisterBenchmark("seal/profile-form/seal", BM_Seal, &EncryptProfileIdentityData);
  benchmark::RegisterBenchmark("seal/profile-form/open", BM_OpenProfile);
  return true;
}();

}  // namespace
}  // namespace velto::bench
