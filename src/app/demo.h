#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/mac_address.h"
#include "protocol/simulated_unit.h"
#include "transport/clock.h"
#include "transport/virtual_driver.h"

namespace stampwright {

// The built-in demo: one virtual adapter cabled to a simulated PX300 unit, on a real clock, and
// a small MAC database to burn it from. Needs no hardware and no privileges.

inline constexpr std::string_view kDemoAdapterName = "demo0";
inline constexpr std::string_view kDemoVersionText = "3.0.2-demo";
inline constexpr uint32_t kDemoRestartMs = 1500;
inline constexpr uint32_t kDemoUnitLatencyMs = 1;

// One record of the demo database: what the operator types, and the password it yields.
struct DemoRecord {
  std::string mac_text;  // 12 upper-case hex digits: the MAC prefix, then six more
  std::string password;  // 16 characters
};

// The records of the demo database for this MAC prefix (six hex digits), always the same ones:
// four per bay.
std::vector<DemoRecord> DemoRecords(std::string_view mac_prefix, int bays = 1);
// The name of bay n's simulated adapter (n from 1): "demo0", "demo1", ...
std::string DemoAdapterName(int bay);
// The MAC the demo unit answers under before its first burn: the prefix, then 00:00:01, which
// no demo record carries.
MacAddress DemoUnitMac(std::string_view mac_prefix);
MacAddress DemoAdapterMac();
// The unit speaks the OUI the station was told to use, so the demo works with any --oui.
SimulatedUnitConfig DemoUnitConfig(std::string_view mac_prefix, const Oui& oui = kDefaultVendorOui);

enum class SeedResult { kWritten, kKeptExisting, kFailed };

// Writes the demo records as "cam.dbr" lines to path, unless a file is already there (a real
// database in a --workdir is never overwritten).
SeedResult SeedDemoDatabase(const std::filesystem::path& path, std::string_view mac_prefix,
                            int bays = 1);

// The lines printed on stderr when the demo starts: where it works, what the unit answers as,
// and the MACs to type.
std::string DemoIntroduction(const std::filesystem::path& workdir, std::string_view mac_prefix,
                             SeedResult seed, int bays = 1);

// A fresh directory (mkdtemp under $TMPDIR, else /tmp), removed with its contents when the owner
// goes away.
class TemporaryDirectory {
 public:
  static std::optional<TemporaryDirectory> Create(std::string_view name_prefix);
  TemporaryDirectory(TemporaryDirectory&& other) noexcept;
  TemporaryDirectory& operator=(TemporaryDirectory&& other) noexcept;
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  ~TemporaryDirectory();

  const std::filesystem::path& path() const { return path_; }

 private:
  explicit TemporaryDirectory(std::filesystem::path path) : path_(std::move(path)) {}
  void Remove();

  std::filesystem::path path_;
};

// The demo's hardware: the adapter and the unit behind it. Every bay's unit starts under the
// same MAC, as units fresh from their maker do.
class DemoBench {
 public:
  DemoBench(Clock& clock, std::string_view mac_prefix, const Oui& oui = kDefaultVendorOui,
            int bay = 1);
  DemoBench(const DemoBench&) = delete;
  DemoBench& operator=(const DemoBench&) = delete;

  VirtualDriver& driver() { return driver_; }
  const SimulatedUnit& unit() const { return unit_; }

 private:
  SimulatedUnit unit_;
  VirtualDriver driver_;
};

}  // namespace stampwright
