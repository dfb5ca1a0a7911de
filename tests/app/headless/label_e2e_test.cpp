#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/demo.h"
#include "journal/record.h"
#include "label/label_template.h"
#include "programming/mac_database.h"
#include "support/station_process.h"

namespace stampwright {
namespace {

namespace fs = std::filesystem;
using e2e::StationProcess;
using json = nlohmann::ordered_json;

constexpr int kTimeoutMs = 60000;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The demo station in pool mode, headless: the unit read is burned with the pool's lowest MAC
// at once; the printer (a directory that cannot be made yet) fails, the unit is held, a reprint
// prints exactly the template filled by hand; with scan-back another label is recorded as a
// mismatch and the right one closes the loop; the second bay's unit takes the next MAC.
TEST(LabelE2e, PoolBurnPrintFailureReprintAndScanBack) {
  std::string pattern = (fs::temp_directory_path() / "stampwright-labels-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path workdir = pattern;
  const std::string every = "^XA^FD${MAC}|${MAC_COLONS}|${PASSWORD}|${STATION}|${BAY}|${DATE}|${CHIP}^FS^XZ\n";
  std::ofstream(workdir / "label.zpl") << every;
  std::ofstream(workdir / "labels") << "a file where the printer's directory should be";
  const std::vector<DemoRecord> records = DemoRecords(kDefaultMacPrefix, 2);
  e2e::ProcessOptions options;
  options.environment = {{"XDG_RUNTIME_DIR", workdir.string()}};
  options.own_network = ::geteuid() == 0;
  StationProcess station({"--headless", "--demo", "--bays", "2", "--workdir", workdir.string(),
                          "--station", "e2e", "--mac-source", "pool", "--label-printer",
                          "dir:labels", "--label-template", "label.zpl", "--label-scan-back",
                          "--pool-warn", "20"},
                         options);
  // No scan, no Burn: each bay's unit is burned once it is read; both labels fail.
  station.Write("bay 1 wait 1105 20000 Success\nbay 2 wait 1105 20000 Success\n");
  int failures = 0;
  ASSERT_TRUE(station.WaitForEvent(
      [&failures](const json& e) {
        return e.value("event", "") == "label" && !e.value("ok", true) && ++failures == 2;
      },
      kTimeoutMs))
      << station.stderr_text();
  const json failed = station.EventsOfKind("label").front();
  EXPECT_NE(failed.value("reason", "").find("cannot make labels"), std::string::npos) << failed.dump();
  const int failed_bay = failed["bay"].get<int>();
  const std::string failed_mac = failed.value("mac", "");
  const std::string other_mac = station.EventsOfKind("label").back().value("mac", "");
  fs::remove(workdir / "labels");
  station.Write("bay " + std::to_string(failed_bay) + " reprint\n");
  const auto printed = station.WaitForEvent(
      [](const json& e) { return e.value("event", "") == "label" && e.value("ok", false); }, kTimeoutMs);
  ASSERT_TRUE(printed) << station.stderr_text();
  EXPECT_EQ(printed->value("mac", ""), failed_mac);

  // The label's bytes: the template filled by hand.
  size_t record = 0;
  while (record < records.size() && records[record].mac_text != failed_mac) ++record;
  ASSERT_LT(record, records.size());
  const std::string& password = records[record].password;
  const std::string grouped = password.substr(0, 4) + "-" + password.substr(4, 4) + "-" +
                              password.substr(8, 4) + "-" + password.substr(12, 4);
  EXPECT_EQ(ReadFile(workdir / "labels" / (failed_mac + ".zpl")),
            "^XA^FD" + failed_mac + "|" + MacWithColons(failed_mac) + "|" + grouped + "|e2e|" +
                std::to_string(failed_bay) + "|" + UtcDate(UtcNowMs()) + "|PX300^FS^XZ\n");

  // Scan-back: a label that is no bay's is a mismatch, the other bay's changes nothing, the
  // right one verifies.
  station.Write("scan 02A0C5FFFFFF\nscan " + other_mac + "\nscan " + failed_mac +
                "\nsleep 200\nclose\n");
  station.CloseInput();
  ASSERT_EQ(station.Wait(kTimeoutMs), 0) << station.stderr_text();
  std::vector<std::string> results;
  for (const json& scan : station.EventsOfKind("scan")) results.push_back(scan.value("result", ""));
  EXPECT_EQ(results, (std::vector<std::string>{"label-mismatch", "refused", "label-verified"}));
  EXPECT_EQ(station.EventsOfKind("scan")[1].value("reason", ""),
            "Label " + other_mac + " belongs to bay " + std::to_string(3 - failed_bay) + ".");
  std::vector<std::string> burned;
  for (const json& event : station.EventsOfKind("journal")) {
    EXPECT_EQ(event["record"].value("outcome", ""), "success");
    burned.push_back(event["record"].value("mac", ""));
  }
  std::sort(burned.begin(), burned.end());
  EXPECT_EQ(burned, (std::vector<std::string>{records[0].mac_text, records[1].mac_text}))
      << "the pool's two lowest MACs, one per bay";
  const std::vector<json> pool = station.EventsOfKind("pool");
  ASSERT_FALSE(pool.empty());
  EXPECT_EQ(pool.front()["left"], 7);
  std::error_code ignored;
  fs::remove_all(workdir, ignored);
}

}  // namespace
}  // namespace stampwright
