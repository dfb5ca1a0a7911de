// stampwright-tool label print, bay-labels and journal pool on a station's journal file.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "journal/sqlite_journal.h"
#include "programming/mac_database.h"
#include "support/tool_runner.h"

namespace stampwright {
namespace {

using ::testing::HasSubstr;
using tool_test::ToolResult;

class LabelCommandTest : public tool_test::ToolDirectoryTest {};

// A reprint only for a MAC whose burn was confirmed; it prints the station's label and records
// itself, printed or not; the pool's counts follow the records.
TEST_F(LabelCommandTest, ReprintRecordsEveryPrintAndThePoolCountsFollow) {
  std::string database;
  for (const char* mac : {"02A0C5100001", "02A0C5100002", "02A0C5100003"}) {
    database += EncodeMacRecord(mac, "Wxyz2345Wxyz6789") + "\n";
  }
  Write("cam.dbr", database);
  {
    JournalStatus status;
    auto journal = SqliteJournal::Open((dir_ / "journal.db").string(), &status);
    ASSERT_TRUE(journal) << status.error;
    JournalRecord burn;
    burn.station = "st";
    burn.mac = "02A0C5100001";
    burn.chip = "PX100";
    burn.bay = 3;
    burn.started = 1765200000000;
    ASSERT_TRUE(journal->Append(burn).ok());
    ASSERT_TRUE(journal->NoteCommit(burn.id, burn.started + 20).ok());
    ASSERT_TRUE(journal->Finish(burn.id, {Outcome::kSuccess, burn.started + 2000, 20, 1500, true, 0}).ok());
    JournalRecord refused = burn;
    refused.id.clear();
    refused.mac = "02A0C5100002";
    refused.outcome = Outcome::kLookupFailed;
    ASSERT_TRUE(journal->Append(refused).ok());
  }
  EXPECT_EQ(Run({"journal", "pool", "--pool", "02A0C5100001-02A0C5100004"}).out,
            "free 2\nburned 1\nscrapped 0\nheld 0\nnot in cam.dbr 1\n");

  const ToolResult unburned = Run({"label", "print", "02A0C5100002", "--label-printer", "dir:out"});
  EXPECT_EQ(unburned.exit_code, 1);
  EXPECT_THAT(unburned.err, HasSubstr("no confirmed burn"));

  const ToolResult refused =
      Run({"label", "print", "02:a0:c5:10:00:01", "--label-printer", "tcp://127.0.0.1:1"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_THAT(refused.err, HasSubstr("Label printer: cannot connect to 127.0.0.1:1"));
  EXPECT_EQ(Run({"journal", "pool", "--pool", "02A0C5100001-02A0C5100004"}).out,
            "free 2\nburned 0\nscrapped 0\nheld 1\nnot in cam.dbr 1\n")
      << "a PASS whose label did not print is held";

  Write("t.zpl", "^XA^FD${MAC_COLONS} ${PASSWORD} ${BAY} ${CHIP} ${STATION}^FS^XZ");
  const ToolResult printed = Run({"label", "print", "02A0C5100001", "--label-printer", "dir:out",
                                  "--label-template", "t.zpl", "--station", "rework"});
  ASSERT_EQ(printed.exit_code, 0) << printed.err;
  EXPECT_THAT(printed.out, HasSubstr("\"kind\":\"label\""));
  std::ifstream file(dir_ / "out" / "02A0C5100001.zpl");
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(), "^XA^FD02:A0:C5:10:00:01 Wxyz-2345-Wxyz-6789 3 PX100 rework^FS^XZ");
  EXPECT_EQ(Run({"journal", "pool", "--pool", "02A0C5100001-02A0C5100004"}).out,
            "free 2\nburned 1\nscrapped 0\nheld 0\nnot in cam.dbr 1\n");

  Write("bad.zpl", "^XA^FD${SERIAL}^FS^XZ");
  const ToolResult unknown = Run({"label", "print", "02A0C5100001", "--label-printer", "dir:out",
                                  "--label-template", "bad.zpl"});
  EXPECT_EQ(unknown.exit_code, 1);
  EXPECT_THAT(unknown.err, HasSubstr("${SERIAL}"));
}

TEST_F(LabelCommandTest, BayLabelsAreCode128BayCodes) {
  const ToolResult shown = Run({"bay-labels", "2"});
  ASSERT_EQ(shown.exit_code, 0) << shown.err;
  EXPECT_EQ(shown.out,
            "^XA\n^FO40,30^BCN,100,N,N,N^FDBAY-1^FS\n^FO40,150^A0N,50,50^FDBAY-1^FS\n^XZ\n"
            "^XA\n^FO40,30^BCN,100,N,N,N^FDBAY-2^FS\n^FO40,150^A0N,50,50^FDBAY-2^FS\n^XZ\n");
  ASSERT_EQ(Run({"bay-labels", "3", "--label-printer", "dir:bays"}).exit_code, 0);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "bays" / "BAY-3.zpl"));
  EXPECT_EQ(Run({"bay-labels", "0"}).exit_code, 2);
}

}  // namespace
}  // namespace stampwright
