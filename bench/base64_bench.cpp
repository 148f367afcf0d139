// Both Base64 codecs beside OpenSSL's EVP_EncodeBlock / EVP_DecodeBlock, at
// 64 B, 1 KiB and 64 KiB of binary data. Every figure is per call; bytes per
// second count the binary side, so encoders and decoders compare directly.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "protect/base64.h"

namespace velto::bench {
namespace {

std::vector<uint8_t> RandomBytes(size_t size) {
  std::mt19937 random(static_cast<unsigned>(size));
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

std::string FlatText(const std::vector<uint8_t>& bytes) {
  std::string text((bytes.size() + 2) / 3 * 4 + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                          static_cast<int>(bytes.size()));
  text.resize(static_cast<size_t>(n));
  return text;
}

std::string WrappedText(const std::vector<uint8_t>& bytes) {
  uint64_t length = 0;
  char* text = Base64EncodeWrapped(bytes.data(), bytes.size(), &length);
  std::string copy(text, length);
  std::free(text);
  return copy;
}

size_t SizeOf(const benchmark::State& state) { return static_cast<size_t>(state.range(0)); }

void Done(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * SizeOf(state)));
}

void BM_EncodeWrapped(benchmark::State& state) {
  std::vector<uint8_t> bytes = RandomBytes(SizeOf(state));
  for (auto _ : state) {
    uint64_t length = 0;
    char* text = Base64EncodeWrapped(bytes.data(), bytes.size(), &length);
    benchmark::DoNotOptimize(text);
    std::free(text);
  }
  Done(state);
}

void BM_EncodeFlat(benchmark::State& state) {
  std::vector<uint8_t> bytes = RandomBytes(SizeOf(state));
  std::string text(FlatText(bytes).size(), '\0');
  for (auto _ : state) {
    int32_t capacity = static_cast<int32_t>(text.size());
    bool ok = Base64EncodeFlat(bytes.data(), static_cast<int32_t>(bytes.size()), text.data(),
                               &capacity);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  Done(state);
}

void BM_OpensslEncode(benchmark::State& state) {
  std::vector<uint8_t> bytes = RandomBytes(SizeOf(state));
  std::string text(FlatText(bytes).size() + 1, '\0');
  for (auto _ : state) {
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                            static_cast<int>(bytes.size()));
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  Done(state);
}

void BM_DecodeWrapped(benchmark::State& state) {
  std::string text = WrappedText(RandomBytes(SizeOf(state)));
  for (auto _ : state) {
    uint64_t length = 0;
    uint8_t* bytes = Base64DecodeWrapped(text.data(), text.size(), &length);
    benchmark::DoNotOptimize(bytes);
    std::free(bytes);
  }
  Done(state);
}

void BM_DecodeFlat(benchmark::State& state) {
  std::string text = FlatText(RandomBytes(SizeOf(state)));
  std::vector<uint8_t> bytes(SizeOf(state));
  for (auto _ : state) {
    int32_t capacity = static_cast<int32_t>(bytes.size());
    bool ok = Base64DecodeFlat(text.data(), static_cast<int32_t>(text.size()), bytes.data(),
                               &capacity);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  Done(state);
}

void BM_OpensslDecode(benchmark::State& state) {
  std::string text = FlatText(RandomBytes(SizeOf(state)));
  // EVP_DecodeBlock writes whole groups, padding included.
  std::vector<uint8_t> bytes(text.size() / 4 * 3);
  for (auto _ : state) {
    int n = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                            static_cast<int>(text.size()));
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  Done(state);
}

void Sizes(benchmark::internal::Benchmark* b) { b->Arg(64)->Arg(1024)->Arg(65536); }

BENCHMARK(BM_EncodeWrapped)->Name("base64/encode-wrapped")->Apply(Sizes);
BENCHMARK(BM_EncodeFlat)->Name("base64/encode-flat")->Apply(Sizes);
BENCHMARK(BM_OpensslEncode)->Name("base64/openssl-encode")->Apply(Sizes);
BENCHMARK(BM_DecodeWrapped)->Name("base64/decode-wrapped")->Apply(Sizes);
BENCHMARK(BM_DecodeFlat)->Name("base64/decode-flat")->Apply(Sizes);
BENCHMARK(BM_OpensslDecode)->Name("base64/openssl-decode")->Apply(Sizes);

}  // namespace
}  // namespace velto::bench
