// The two sealed forms of a password, each way: the stored form
// (CryptProtectCustom / CryptUnprotectCustom) and the profile identity form
// (EncryptProfileIdentityData / DecryptProfileIdentityData).
#include <benchmark/benchmark.h>
#include <sodium.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/memory.h"
#include "protect/custom_protect.h"
#include "protect/data_protection.h"
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

// What a seal is made of: the platform protection alone (the key file read,
// a fresh nonce, the cipher), and the pieces it stands on.
void BM_PlatformProtect(benchmark::State& state) {
  const auto* data = reinterpret_cast<const uint8_t*>(kPassword);
  for (auto _ : state) {
    platform::ProtectedBlob blob;
    if (!platform::g_data_protection->protect(data, sizeof kPassword - 1, nullptr, 0, &blob)) {
      return state.SkipWithError("sealing failed");
    }
    platform::g_data_protection->free_blob(&blob);
  }
}

void BM_Nonce(benchmark::State& state) {
  if (sodium_init() < 0) return state.SkipWithError("libsodium");
  unsigned char nonce[crypto_aead_xchacha20poly1305_ietf_NPUBBYTES];
  for (auto _ : state) {
    randombytes_buf(nonce, sizeof nonce);
    benchmark::DoNotOptimize(nonce);
  }
}

void BM_CipherOnly(benchmark::State& state) {
  if (sodium_init() < 0) return state.SkipWithError("libsodium");
  unsigned char key[crypto_aead_xchacha20poly1305_ietf_KEYBYTES] = {1};
  unsigned char nonce[crypto_aead_xchacha20poly1305_ietf_NPUBBYTES] = {2};
  unsigned char sealed[sizeof kPassword + crypto_aead_xchacha20poly1305_ietf_ABYTES];
  const unsigned char ad[2] = {1, 0};
  for (auto _ : state) {
    unsigned long long size = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(sealed, &size,
                                               reinterpret_cast<const unsigned char*>(kPassword),
                                               sizeof kPassword - 1, ad, sizeof ad, nullptr, nonce,
                                               key);
    benchmark::DoNotOptimize(sealed);
  }
}

const bool kRegistered = [] {
  benchmark::RegisterBenchmark("seal/parts/platform-protect", BM_PlatformProtect);
  benchmark::RegisterBenchmark("seal/parts/nonce-randombytes", BM_Nonce);
  benchmark::RegisterBenchmark("seal/parts/cipher-only", BM_CipherOnly);
  benchmark::RegisterBenchmark("seal/stored-form/seal", BM_Seal, &CryptProtectCustom);
  benchmark::RegisterBenchmark("seal/stored-form/open", BM_OpenStored);
  benchmark::RegisterBenchmark("seal/profile-form/seal", BM_Seal, &EncryptProfileIdentityData);
  benchmark::RegisterBenchmark("seal/profile-form/open", BM_OpenProfile);
  return true;
}();

}  // namespace
}  // namespace velto::bench
