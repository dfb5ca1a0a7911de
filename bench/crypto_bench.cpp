// SHA-256, the key derivation and the module checksum, each beside OpenSSL's SHA-256 doing the
// same work in the same run. The last lines give ours/OpenSSL CPU-time ratios (below 1: ours faster).

#include <benchmark/benchmark.h>
#include <openssl/sha.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "crypto/key_derivation.h"
#include "crypto/sha256.h"
#include "programming/parameter_module.h"

namespace stampwright {
namespace {

constexpr const char* kBenchPassword = "ABCDEFGHIJKLMNOP";  // a 16-character device password

std::vector<uint8_t> RandomBytes(size_t length) {
  std::mt19937 random(42);
  std::vector<uint8_t> bytes(length);
  for (auto& byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}

void BM_Sha256(benchmark::State& state) {
  const auto data = RandomBytes(static_cast<size_t>(state.range(0)));
  Sha256Context context;
  for (auto _ : state) {
    Sha256Reset(context);
    Sha256Update(context, data.data(), static_cast<uint32_t>(data.size()));
    Sha256Final(context);
    benchmark::DoNotOptimize(context.digest);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Sha256)->Arg(64)->Arg(1024)->Arg(1 << 20);

void BM_OpenSslSha256(benchmark::State& state) {
  const auto data = RandomBytes(static_cast<size_t>(state.range(0)));
  uint8_t digest[SHA256_DIGEST_LENGTH];
  for (auto _ : state) {
    SHA256(data.data(), data.size(), digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OpenSslSha256)->Arg(64)->Arg(1024)->Arg(1 << 20)->Arg(kModuleSize);

void BM_DeriveDak(benchmark::State& state) {
  Sha256Context context;
  for (auto _ : state) {
    DeriveDak(context, kBenchPassword);
    benchmark::DoNotOptimize(context.digest);
  }
}
BENCHMARK(BM_DeriveDak)->Unit(benchmark::kMicrosecond);

// The same 1000-fold hashing with OpenSSL's one-shot SHA256().
void BM_OpenSslPbkdf1(benchmark::State& state) {
  uint8_t input[kPasswordMaxBytes + kSaltSize];
  const size_t length = std::strlen(kBenchPassword);
  std::memcpy(input, kBenchPassword, length);
  std::memcpy(input + length, kDakSalt.data(), kSaltSize);
  uint8_t digest[SHA256_DIGEST_LENGTH];
  for (auto _ : state) {
    SHA256(input, length + kSaltSize, digest);
    for (int i = 1; i < kDerivationHashes; ++i) SHA256(digest, sizeof digest, digest);
    benchmark::DoNotOptimize(digest);
  }
}
BENCHMARK(BM_OpenSslPbkdf1)->Unit(benchmark::kMicrosecond);

// A burn's two keys, NMK then DAK, in one context: 2000 hashes.
void BM_DeriveBothKeys(benchmark::State& state) {
  Sha256Context context;
  for (auto _ : state) {
    DeriveNmk(context, "DefaultNPW");
    benchmark::DoNotOptimize(context.digest);
    DeriveDak(context, kBenchPassword);
    benchmark::DoNotOptimize(context.digest);
  }
}
BENCHMARK(BM_DeriveBothKeys)->Unit(benchmark::kMicrosecond);

// The same 2000 hashes with OpenSSL's one-shot SHA256().
void BM_OpenSslBothKeys(benchmark::State& state) {
  const auto derive = [](const char* password, const Salt& salt, uint8_t* digest) {
    uint8_t input[kPasswordMaxBytes + kSaltSize];
    const size_t length = std::strlen(password);
    std::memcpy(input, password, length);
    std::memcpy(input + length, salt.data(), kSaltSize);
    SHA256(input, length + kSaltSize, digest);
    for (int i = 1; i < kDerivationHashes; ++i) SHA256(digest, SHA256_DIGEST_LENGTH, digest);
  };
  uint8_t nmk[SHA256_DIGEST_LENGTH];
  uint8_t dak[SHA256_DIGEST_LENGTH];
  for (auto _ : state) {
    derive("DefaultNPW", kNmkSalt, nmk);
    derive(kBenchPassword, kDakSalt, dak);
    benchmark::DoNotOptimize(nmk);
    benchmark::DoNotOptimize(dak);
  }
}
BENCHMARK(BM_OpenSslBothKeys)->Unit(benchmark::kMicrosecond);

void BM_ModuleChecksum(benchmark::State& state) {
  const auto image = RandomBytes(kModuleSize);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ModuleChecksum(image.data(), kModuleWords));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kModuleSize));
}
BENCHMARK(BM_ModuleChecksum);

// Prints the usual table, then one ratio line per pair. CPU time: the machine is shared, and
// wall time would charge one side for the other programs' load.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.iterations == 0) continue;
      Totals& totals = totals_[run.run_name.str()];
      const double iterations = static_cast<double>(run.iterations);
      if (run.run_type == Run::RT_Iteration) {
        totals.seconds += run.cpu_accumulated_time;
        totals.iterations += iterations;
      } else if (run.aggregate_name == "mean") {
        // With repetitions the mean, when reported, is the figure to compare.
        totals.mean = run.cpu_accumulated_time / iterations;
      }
    }
  }

  void PrintRatios() const {
    static const struct {
      const char* label;
      const char* ours;
      const char* theirs;
    } kPairs[] = {
        {"sha256 64 B", "BM_Sha256/64", "BM_OpenSslSha256/64"},
        {"sha256 1 KiB", "BM_Sha256/1024", "BM_OpenSslSha256/1024"},
        {"sha256 1 MiB", "BM_Sha256/1048576", "BM_OpenSslSha256/1048576"},
        {"derive dak (1000 hashes)", "BM_DeriveDak", "BM_OpenSslPbkdf1"},
        {"both keys (2000 hashes)", "BM_DeriveBothKeys", "BM_OpenSslBothKeys"},
        {"module checksum vs sha256 7864 B", "BM_ModuleChecksum", "BM_OpenSslSha256/7864"},
    };
    std::printf("\nours / OpenSSL SHA-256, CPU time per operation:\n");
    for (const auto& pair : kPairs) {
      const auto ours = totals_.find(pair.ours);
      const auto theirs = totals_.find(pair.theirs);
      if (ours == totals_.end() || theirs == totals_.end()) continue;  // filtered out
      const double ours_time = ours->second.PerIteration();
      const double theirs_time = theirs->second.PerIteration();
      if (!(ours_time > 0) || !(theirs_time > 0)) continue;
      std::printf("  %-34s %.3f\n", pair.label, ours_time / theirs_time);
    }
  }

 private:
  struct Totals {
    double seconds = 0;
    double iterations = 0;
    double mean = 0;
    double PerIteration() const { return mean > 0 ? mean : seconds / iterations; }
  };
  std::map<std::string, Totals> totals_;
};

}  // namespace
}  // namespace stampwright

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  stampwright::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
