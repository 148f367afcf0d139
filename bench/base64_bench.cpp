// Both Base64 codecs beside OpenSSL's EVP_EncodeBlock / EVP_DecodeBlock, at
// 64 B, 1 KiB and 64 KiB of binary data. Every figure is per call; bytes per
// second count the binary side, so encoders and decoders compare directly.
// The encoders and decoders are also run in turns with OpenSSL's (paired.h).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "paired.h"
#include "protect/base64.h"

namespace velto::bench {
namespace {

enum class Op { kEncodeWrapped, kEncodeFlat, kOpensslEncode, kDecodeWrapped, kDecodeFlat, kOpensslDecode };

// The inputs of every operation at one size, and room for their outputs.
struct Workload {
  explicit Workload(size_t size) : bytes(size), out(size + 3) {
    std::mt19937 random(static_cast<unsigned>(size));
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    flat.assign((size + 2) / 3 * 4 + 1, '\0');
    flat.resize(static_cast<size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(flat.data()),
                                                    bytes.data(), static_cast<int>(size))));
    uint64_t length = 0;
    char* text = Base64EncodeWrapped(bytes.data(), size, &length);
    wrapped.assign(text != nullptr ? text : "", text != nullptr ? length : 0);
    std::free(text);
    text_out.assign(flat.size() + 1, '\0');
  }

  std::vector<uint8_t> bytes;
  std::string flat, wrapped;      // the texts of `bytes`
  std::vector<uint8_t> out;       // decoded bytes (OpenSSL writes whole groups)
  std::string text_out;           // encoded text
};

bool Run(Op op, Workload& w) {
  switch (op) {
    case Op::kEncodeWrapped: {
      uint64_t length = 0;
      char* text = Base64EncodeWrapped(w.bytes.data(), w.bytes.size(), &length);
      benchmark::DoNotOptimize(text);
      std::free(text);
      return text != nullptr;
    }
    case Op::kEncodeFlat: {
      int32_t capacity = static_cast<int32_t>(w.text_out.size());
      bool ok = Base64EncodeFlat(w.bytes.data(), static_cast<int32_t>(w.bytes.size()),
                                 w.text_out.data(), &capacity);
      benchmark::ClobberMemory();
      return ok;
    }
    case Op::kOpensslEncode: {
      int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(w.text_out.data()), w.bytes.data(),
                              static_cast<int>(w.bytes.size()));
      benchmark::ClobberMemory();
      return n > 0;
    }
    case Op::kDecodeWrapped: {
      uint64_t length = 0;
      uint8_t* bytes = Base64DecodeWrapped(w.wrapped.data(), w.wrapped.size(), &length);
      benchmark::DoNotOptimize(bytes);
      std::free(bytes);
      return bytes != nullptr;
    }
    case Op::kDecodeFlat: {
      int32_t capacity = static_cast<int32_t>(w.out.size());
      bool ok = Base64DecodeFlat(w.flat.data(), static_cast<int32_t>(w.flat.size()), w.out.data(),
                                 &capacity);
      benchmark::ClobberMemory();
      return ok;
    }
    case Op::kOpensslDecode: {
      int n = EVP_DecodeBlock(w.out.data(), reinterpret_cast<const unsigned char*>(w.flat.data()),
                              static_cast<int>(w.flat.size()));
      benchmark::ClobberMemory();
      return n > 0;
    }
  }
  return false;
}

void BM_Op(benchmark::State& state, Op op) {
  Workload w(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    if (!Run(op, w)) return state.SkipWithError("the call failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * state.range(0)));
}

void BM_PairedOp(benchmark::State& state, Op op, Op baseline) {
  Workload w(static_cast<size_t>(state.range(0)));
  // Batches of about 64 KiB of data, at least two calls.
  const int batch = static_cast<int>(std::max<int64_t>(2, 65536 / state.range(0)));
  PairedRatio(
      state, batch, [&] { return Run(op, w); }, [&] { return Run(baseline, w); });
}

const bool kRegistered = [] {
  const struct {
    const char* name;
    Op op, baseline;
  } kOps[] = {
      {"encode-wrapped", Op::kEncodeWrapped, Op::kOpensslEncode},
      {"encode-flat", Op::kEncodeFlat, Op::kOpensslEncode},
      {"openssl-encode", Op::kOpensslEncode, Op::kOpensslEncode},
      {"decode-wrapped", Op::kDecodeWrapped, Op::kOpensslDecode},
      {"decode-flat", Op::kDecodeFlat, Op::kOpensslDecode},
      {"openssl-decode", Op::kOpensslDecode, Op::kOpensslDecode},
  };
  for (const auto& o : kOps) {
    const std::string name = o.name;
    benchmark::RegisterBenchmark(("base64/" + name).c_str(), BM_Op, o.op)
        ->Arg(64)->Arg(1024)->Arg(65536);
    if (o.op != o.baseline) {
      benchmark::RegisterBenchmark(("pair/" + name).c_str(), BM_PairedOp, o.op, o.baseline)
          ->Arg(64)->Arg(1024)->Arg(65536);
    }
  }
  return true;
}();

}  // namespace
}  // namespace velto::bench
