#include "app/demo.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include "base/file_handle.h"
#include "base/text.h"
#include "programming/mac_database.h"

namespace stampwright {
namespace {

// Six digits after the prefix and a 16-character password per record.
constexpr std::array<std::pair<std::string_view, std::string_view>, 4> kDemoRecordTails = {{
    {"100001", "Hq4vT9mW2xKp7sLd"},
    {"100002", "Zr8nB3cY6fJe1uGa"},
    {"100003", "Mk5wX0qR7tVh2pNb"},
    {"100004", "Ds9gL4jF8yCo3iEz"},
}};

// The prefix (six hex digits) followed by three more octets.
MacAddress MacAfterPrefix(std::string_view prefix, std::string_view tail) {
  return MacAddress::Parse(std::string(prefix) + std::string(tail)).value_or(MacAddress{});
}

}  // namespace

std::vector<DemoRecord> DemoRecords(std::string_view mac_prefix, int bays) {
  std::vector<DemoRecord> records;
  for (const auto& [tail, password] : kDemoRecordTails) {
    records.push_back({std::string(mac_prefix) + std::string(tail), std::string(password)});
  }
  // Beyond the first four, made up the same way every time.
  constexpr std::string_view kLetters = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghjkmnpqrstuvwxyz23456789";
  uint32_t state = 0x5EED1234;
  for (int i = static_cast<int>(records.size()); i < 4 * bays; ++i) {
    std::string password;
    for (int c = 0; c < 16; ++c) {
      state = state * 1664525u + 1013904223u;
      password += kLetters[(state >> 16) % kLetters.size()];
    }
    records.push_back({std::string(mac_prefix) + FormatText("%06X", 0x100001 + i), password});
  }
  return records;
}

std::string DemoAdapterName(int bay) { return "demo" + std::to_string(bay - 1); }

MacAddress DemoUnitMac(std::string_view mac_prefix) { return MacAfterPrefix(mac_prefix, "000001"); }

MacAddress DemoAdapterMac() { return MacAddress{{0x02, 0x00, 0x00, 0x00, 0xDE, 0x01}}; }

SimulatedUnitConfig DemoUnitConfig(std::string_view mac_prefix, const Oui& oui) {
  SimulatedUnitConfig config;
  config.oui = oui;
  config.mac = DemoUnitMac(mac_prefix);
  config.chip_type = kUnitChipPx300;
  config.version_text = std::string(kDemoVersionText);
  config.latency_ms = kDemoUnitLatencyMs;
  config.restart_ms = kDemoRestartMs;
  return config;
}

SeedResult SeedDemoDatabase(const std::filesystem::path& path, std::string_view mac_prefix,
                            int bays) {
  // "x": an existing file is never replaced.
  FileHandle file(std::fopen(path.c_str(), "wx"));
  if (!file) return errno == EEXIST ? SeedResult::kKeptExisting : SeedResult::kFailed;
  for (const DemoRecord& record : DemoRecords(mac_prefix, bays)) {
    const std::string line = EncodeMacRecord(record.mac_text, record.password) + "\n";
    if (line.size() == 1 || std::fwrite(line.data(), 1, line.size(), file.get()) != line.size()) {
      return SeedResult::kFailed;
    }
  }
  return std::fclose(file.release()) == 0 ? SeedResult::kWritten : SeedResult::kFailed;
}

std::string DemoIntroduction(const std::filesystem::path& workdir, std::string_view mac_prefix,
                             SeedResult seed, int bays) {
  std::string text = "stampwright demo: working directory " + workdir.string() + "\n";
  if (bays == 1) {
    text += "stampwright demo: simulated PX300 unit on " + std::string(kDemoAdapterName) +
            ", answering as " + DemoUnitMac(mac_prefix).ToString() + "\n";
  } else {
    text += "stampwright demo: " + std::to_string(bays) + " bays, simulated PX300 units on " +
            DemoAdapterName(1) + ".." + DemoAdapterName(bays) + ", each answering as " +
            DemoUnitMac(mac_prefix).ToString() + "\n";
  }
  switch (seed) {
    case SeedResult::kWritten:
      text += "stampwright demo: cam.dbr holds these MACs; type one into New MAC and press Burn:\n";
      break;
    case SeedResult::kKeptExisting:
      text += "stampwright demo: cam.dbr already exists and was kept; the demo MACs are only in it "
              "if it was written by an earlier demo:\n";
      break;
    case SeedResult::kFailed:
      text += "stampwright demo: cam.dbr could not be written; Burn will report the database "
              "missing. The demo MACs would be:\n";
      break;
  }
  for (const DemoRecord& record : DemoRecords(mac_prefix, bays)) {
    text += "  " + record.mac_text + "\n";
  }
  return text;
}

std::optional<TemporaryDirectory> TemporaryDirectory::Create(std::string_view name_prefix) {
  const char* base = std::getenv("TMPDIR");
  std::filesystem::path parent = (base != nullptr && *base != '\0') ? base : "/tmp";
  std::string pattern = (parent / (std::string(name_prefix) + "XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) return std::nullopt;
  return TemporaryDirectory(std::filesystem::path(pattern));
}

TemporaryDirectory::TemporaryDirectory(TemporaryDirectory&& other) noexcept
    : path_(std::exchange(other.path_, {})) {}

TemporaryDirectory& TemporaryDirectory::operator=(TemporaryDirectory&& other) noexcept {
  if (this != &other) {
    Remove();
    path_ = std::exchange(other.path_, {});
  }
  return *this;
}

TemporaryDirectory::~TemporaryDirectory() { Remove(); }

void TemporaryDirectory::Remove() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
  path_.clear();
}

DemoBench::DemoBench(Clock& clock, std::string_view mac_prefix, const Oui& oui, int bay)
    : unit_(DemoUnitConfig(mac_prefix, oui)), driver_(clock, 0) {
  MacAddress adapter = DemoAdapterMac();
  adapter.octets[5] = static_cast<uint8_t>(adapter.octets[5] + bay - 1);
  driver_.AddAdapter(DemoAdapterName(bay), adapter);
  driver_.AttachPeer(DemoAdapterName(bay), &unit_);
}

}  // namespace stampwright
