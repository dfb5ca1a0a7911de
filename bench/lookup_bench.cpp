// MAC database lookup: LookupMacRecord beside a plain two-pass fgets reference (the count pass
// and the search pass with an 80-byte line buffer, as the station's lookup is described), on
// databases of 10,000, 1,000,000 and 16,777,216 records, the looked-up record last, the file in
// the page cache. The largest holds every value the six stored MAC digits can take.
//
// A timing harness: each measurement runs in a child process of its own, so that its maximum
// resident set (from wait4) is its own and shows whether memory grows with the file. Before
// timing, both lookups must give the same result for the last record, the first record and a MAC
// that is not in the file.
//
//   lookup_bench [SIZE...]     (default: 10000 1000000 16777216)
// LOOKUP_BENCH_DIR keeps the generated files there (reused when present); otherwise they go to a
// temporary directory that is removed at the end.

#include <benchmark/benchmark.h>  // linked by bench/CMakeLists.txt; unused here
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "programming/mac_database.h"

namespace stampwright {
namespace {

using Steady = std::chrono::steady_clock;

constexpr uint32_t kDigitSpace = 1u << 24;  // six hex digits
constexpr size_t kLineBytes = kMacRecordLength + 1;

// Record i carries the digits (i * kStride + kOffset) mod 2^24: an odd stride makes this a
// bijection, so any prefix of the sequence has distinct MACs and the whole of it has them all.
constexpr uint32_t kStride = 0x9E3779u | 1u;
constexpr uint32_t kOffset = 0x5A5A5Au;

uint32_t DigitsOf(uint64_t record) {
  return static_cast<uint32_t>((record * kStride + kOffset) % kDigitSpace);
}

std::string MacOf(uint64_t record) {
  char text[16];
  std::snprintf(text, sizeof text, "%.6s%06X", kDefaultMacPrefix.data(), DigitsOf(record));
  return text;
}

std::string PasswordOf(uint64_t record) {
  static constexpr char kAlphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";
  uint64_t state = record * 0x9E3779B97F4A7C15ull + 1;
  std::string password(kPasswordLength, 'A');
  for (char& c : password) {
    state ^= state >> 29;
    state *= 0xBF58476D1CE4E5B9ull;
    c = kAlphabet[(state >> 40) % 32];
  }
  return password;
}

bool GenerateDatabase(const std::string& path, uint64_t records) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return false;
  std::vector<char> block;
  block.reserve(kLineBytes * 65536);
  bool ok = true;
  for (uint64_t i = 0; i < records && ok; ++i) {
    const std::string line = EncodeMacRecord(MacOf(i), PasswordOf(i));
    block.insert(block.end(), line.begin(), line.end());
    block.push_back('\n');
    if (block.size() >= kLineBytes * 65536 || i + 1 == records) {
      ok = std::fwrite(block.data(), 1, block.size(), file) == block.size();
      block.clear();
    }
  }
  return std::fclose(file) == 0 && ok;
}

// The reference: count the 80-byte reads, then read again at most that many times and compare
// each read's MAC text with the entry. A read with fewer than 23 characters before its newline is
// passed over, as LookupMacRecord passes it over (the generated files have none).
std::optional<MacRecord> ReferenceLookup(const std::string& path, const std::string& entry) {
  char line[80];
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return std::nullopt;
  size_t count = 0;
  while (std::fgets(line, sizeof line, file) != nullptr) ++count;
  std::fclose(file);

  file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return std::nullopt;
  std::optional<MacRecord> found;
  for (size_t i = 0; i < count && std::fgets(line, sizeof line, file) != nullptr; ++i) {
    if (std::strcspn(line, "\n") < kMacRecordLength) continue;
    char mac[13];
    std::snprintf(mac, sizeof mac, "%.6s%c%c%c%c%c%c", kDefaultMacPrefix.data(), line[5], line[7],
                  line[22], line[10], line[13], line[17]);
    if (std::strcmp(mac, entry.c_str()) != 0) continue;
    char password[20];
    std::snprintf(password, sizeof password, "%c%c%c%c-%c%c%c%c-%c%c%c%c-%c%c%c%c", line[4], line[0],
                  line[6], line[1], line[2], line[12], line[3], line[14], line[15], line[8], line[20],
                  line[9], line[11], line[18], line[16], line[19]);
    found = MacRecord{mac, password};
    break;
  }
  std::fclose(file);
  return found;
}

std::optional<MacRecord> StationLookup(const std::string& path, const std::string& entry) {
  MacLookupOptions options;
  options.database_path = path;
  MacSearchResult result = SearchMacDatabase(entry.substr(0, kMacTextLength), options);
  if (result.status != MacSearchStatus::kFound) return std::nullopt;
  return result.record;
}

std::string Describe(const std::optional<MacRecord>& record) {
  return record ? record->mac_text + " " + record->password_text : "no match";
}

struct Measurement {
  double median_ms = 0;
  double min_ms = 0;
  long max_rss_kib = 0;
};

// Runs the lookup `repetitions` times in a child process after one warm-up; the child sends the
// times back through a pipe, wait4 gives its peak resident set.
std::optional<Measurement> MeasureInChild(bool reference, const std::string& path,
                                          const std::string& entry, int repetitions) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return std::nullopt;
  const pid_t child = ::fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    ::close(pipe_fds[0]);
    const auto lookup = reference ? ReferenceLookup : StationLookup;
    auto found = lookup(path, entry);  // the file into the page cache
    benchmark::DoNotOptimize(found);
    for (int i = 0; i < repetitions; ++i) {
      const auto start = Steady::now();
      found = lookup(path, entry);
      benchmark::DoNotOptimize(found);
      const double ms = std::chrono::duration<double, std::milli>(Steady::now() - start).count();
      if (::write(pipe_fds[1], &ms, sizeof ms) != static_cast<ssize_t>(sizeof ms)) ::_exit(1);
    }
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  std::vector<double> times;
  double ms = 0;
  while (::read(pipe_fds[0], &ms, sizeof ms) == static_cast<ssize_t>(sizeof ms)) times.push_back(ms);
  ::close(pipe_fds[0]);
  int status = 0;
  rusage usage{};
  if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      times.size() != static_cast<size_t>(repetitions)) {
    return std::nullopt;
  }
  std::sort(times.begin(), times.end());
  return Measurement{times[times.size() / 2], times.front(), usage.ru_maxrss};
}

// The peak resident set of a child that only starts and ends: the part of every figure that is
// the program itself.
long BaselineRssKib() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  rusage usage{};
  if (child < 0 || ::wait4(child, &status, 0, &usage) != child) return 0;
  return usage.ru_maxrss;
}

bool EnsureDatabase(const std::string& path, uint64_t records) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && static_cast<uint64_t>(info.st_size) == records * kLineBytes) {
    return true;
  }
  // In a child, so that the generator's memory never counts in the parent's figures.
  const pid_t child = ::fork();
  if (child == 0) ::_exit(GenerateDatabase(path, records) ? 0 : 1);
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int Run(const std::vector<uint64_t>& sizes) {
  const char* kept = std::getenv("LOOKUP_BENCH_DIR");
  std::string dir;
  if (kept != nullptr && *kept != '\0') {
    dir = kept;
    ::mkdir(dir.c_str(), 0755);
  } else {
    char pattern[] = "/tmp/lookup-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 1;
    dir = pattern;
  }
  std::vector<std::string> made;
  int failures = 0;
  std::printf("baseline peak RSS of a bare child: %ld KiB\n", BaselineRssKib());
  std::printf("%10s %10s | %10s %10s %9s | %10s %10s %9s | %7s\n", "records", "file MiB", "ours med",
              "ours min", "ours RSS", "ref med", "ref min", "ref RSS", "ref/ours");
  for (const uint64_t records : sizes) {
    if (records == 0 || records > kDigitSpace) {
      std::fprintf(stderr, "lookup_bench: %llu records: between 1 and 16777216\n",
                   static_cast<unsigned long long>(records));
      return 2;
    }
    const std::string path = dir + "/cam-" + std::to_string(records) + ".dbr";
    if (!EnsureDatabase(path, records)) {
      std::fprintf(stderr, "lookup_bench: cannot write %s\n", path.c_str());
      return 1;
    }
    if (kept == nullptr || *kept == '\0') made.push_back(path);

    // The same results for the last record, the first one and a MAC that is not there.
    const std::string last = MacOf(records - 1);
    const std::string absent = records < kDigitSpace ? MacOf(records) : std::string(kDefaultMacPrefix) + "00000g";
    for (const std::string& entry : {last, MacOf(0), absent}) {
      const auto ours = StationLookup(path, entry);
      const auto theirs = ReferenceLookup(path, entry);
      const bool expected = entry == absent ? !ours : ours && ours->mac_text == entry;
      if (Describe(ours) != Describe(theirs) || !expected) {
        std::fprintf(stderr, "lookup_bench: %s in %s: ours \"%s\", reference \"%s\"\n", entry.c_str(),
                     path.c_str(), Describe(ours).c_str(), Describe(theirs).c_str());
        ++failures;
      }
    }

    const int ours_reps = records <= 10000 ? 200 : records <= 1000000 ? 40 : 10;
    const int ref_reps = records <= 10000 ? 50 : records <= 1000000 ? 8 : 3;
    const auto ours = MeasureInChild(false, path, last, ours_reps);
    const auto theirs = MeasureInChild(true, path, last, ref_reps);
    if (!ours || !theirs) {
      std::fprintf(stderr, "lookup_bench: a measurement failed for %llu records\n",
                   static_cast<unsigned long long>(records));
      return 1;
    }
    std::printf("%10llu %10.1f | %8.3fms %8.3fms %6ldKiB | %8.2fms %8.2fms %6ldKiB | %6.1fx\n",
                static_cast<unsigned long long>(records),
                static_cast<double>(records * kLineBytes) / (1024.0 * 1024.0), ours->median_ms,
                ours->min_ms, ours->max_rss_kib, theirs->median_ms, theirs->min_ms, theirs->max_rss_kib,
                theirs->median_ms / ours->median_ms);
    std::fflush(stdout);
  }
  for (const auto& path : made) std::remove(path.c_str());
  if (kept == nullptr || *kept == '\0') ::rmdir(dir.c_str());
  if (failures > 0) std::fprintf(stderr, "lookup_bench: %d result(s) differ\n", failures);
  return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace stampwright

int main(int argc, char** argv) {
  std::vector<uint64_t> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::strtoull(argv[i], nullptr, 10));
  if (sizes.empty()) sizes = {10000, 1000000, 16777216};
  return stampwright::Run(sizes);
}
