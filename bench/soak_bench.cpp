// The long fault soak: 500 consecutive burns (or --burns N) against faulty units, on one station,
// with the resident set size sampled from /proc/self/statm along the way. Prints the outcomes,
// the RSS samples and whether memory stayed flat; exits 1 on any broken rule of the soak.
//
//   build/bench/soak_bench [--burns N] [--seed S]

#include <sched.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/soak_scenario.h"

namespace {

long ResidentKiB() {
  long size = 0;
  long resident = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return -1;
  const int got = std::fscanf(statm, "%ld %ld", &size, &resident);
  std::fclose(statm);
  return got == 2 ? resident * (::sysconf(_SC_PAGESIZE) / 1024) : -1;
}

bool ParseCount(const char* text, unsigned long long* value) {
  char* end = nullptr;
  *value = std::strtoull(text, &end, 10);
  return end != text && *end == '\0';
}

// A directory of its own for "cam.dbr", removed at the end.
class WorkDir {
 public:
  WorkDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "stampwright-soak-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  ~WorkDir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(dir_, ignored);
  }

 private:
  std::filesystem::path dir_;
  std::filesystem::path previous_;
};

}  // namespace

int main(int argc, char** argv) {
  unsigned long long burns = 500;
  unsigned long long seed = 1;
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--burns") == 0 && has_value && ParseCount(argv[i + 1], &burns) &&
        burns > 0 && burns < 1000000) {
      ++i;
    } else if (std::strcmp(argv[i], "--seed") == 0 && has_value && ParseCount(argv[i + 1], &seed)) {
      ++i;
    } else {
      std::fprintf(stderr, "usage: %s [--burns N] [--seed S]\n", argv[0]);
      return 2;
    }
  }
  // Every Burn command empties the ARP cache: as root, do it in a network namespace of our own.
  if (::geteuid() == 0 && ::unshare(CLONE_NEWNET) != 0) {
    std::perror("unshare(CLONE_NEWNET)");
    return 1;
  }

  const WorkDir work_dir;
  const int total = static_cast<int>(burns);
  const int every = total >= 10 ? total / 10 : 1;
  std::vector<std::pair<int, long>> rss;
  rss.emplace_back(0, ResidentKiB());
  const auto start = std::chrono::steady_clock::now();
  stampwright::soak::Soak soak(total, seed);
  const stampwright::soak::SoakReport report = soak.Run([&](int i) {
    if ((i + 1) % every == 0 || i + 1 == total) rss.emplace_back(i + 1, ResidentKiB());
  });
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::printf("soak: %d burns, seed %llu, %.2f s wall\n", total, seed, seconds);
  for (size_t k = 0; k < report.outcomes.size(); ++k) {
    std::printf("  %-24s %d\n", stampwright::soak::kOutcomeNames[k], report.outcomes[k]);
  }
  std::printf("  units pulled mid-write   %d\n  write boxes              %d\n"
              "  frames lost              %d\n  commits sent             %d\n"
              "  longest Burn command     %u ms (virtual)\n",
              report.vanished, report.boxes, report.lost_frames, report.commits_sent,
              report.longest_burn_ms);
  std::printf("  RSS (KiB) after burns:");
  for (const auto& [after, kib] : rss) std::printf(" %d:%ld", after, kib);
  std::printf("\n");
  // The first tenth warms up the allocator; from there on a steady state holds no more.
  const long settled = rss.size() > 1 ? rss[1].second : rss[0].second;
  const long growth = rss.back().second - settled;
  std::printf("  RSS growth after burn %d: %ld KiB (%s)\n", rss.size() > 1 ? rss[1].first : 0,
              growth, growth <= 256 ? "flat" : "GROWING");
  for (const std::string& violation : report.violations) {
    std::printf("VIOLATION %s\n", violation.c_str());
  }
  return report.violations.empty() ? 0 : 1;
}
