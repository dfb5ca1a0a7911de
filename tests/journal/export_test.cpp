// The journal's JSON export, byte for byte: what scripts and spreadsheets downstream already read.

#include "journal/export.h"

#include <gtest/gtest.h>

#include <string>

namespace stampwright {
namespace {

TEST(RecordJson, WritesEveryFieldInOrderWithNullForTheAbsent) {
  JournalRecord r;
  r.id = "9b2f";
  r.station = "bench-1";
  r.mac = "02A0C5000001";
  r.outcome = Outcome::kSuccess;
  r.started = 1765180800000;
  r.finished = 1765180804000;
  r.burn_ms = 2500;
  r.verified = true;
  r.other_bytes_changed = 0;
  r.attempt = 1;
  r.firmware_size = -1;
  EXPECT_EQ(RecordJson(r),
            "{\"id\":\"9b2f\",\"station\":\"bench-1\",\"adapter\":null,\"kind\":\"burn\","
            "\"mac\":\"02A0C5000001\",\"unit_mac_before\":null,\"chip\":null,\"module_class\":null,"
            "\"firmware_version\":null,\"image_checksum\":null,\"outcome\":\"success\","
            "\"started\":\"2025-12-08T08:00:00.000Z\",\"finished\":\"2025-12-08T08:00:04.000Z\","
            "\"committed\":null,\"burn_ms\":2500,\"return_ms\":null,\"attempt\":1,\"config\":null,"
            "\"firmware_name\":null,\"firmware_size\":-1,\"firmware_sha256\":null,\"reason\":null,"
            "\"verified\":true,\"other_bytes_changed\":0,\"bay\":null,\"printer\":null,"
            "\"label_verified\":null}");
  // A record made on a bay of a gang carries its number, last.
  r.bay = 3;
  EXPECT_TRUE(RecordJson(r).ends_with(",\"verified\":true,\"other_bytes_changed\":0,\"bay\":3,"
                                      "\"printer\":null,\"label_verified\":null}"))
      << RecordJson(r);
  // A label record: the printer it went to, and whether a scanned-back label matched.
  r.kind = RecordKind::kLabel;
  r.printer = "tcp://10.0.0.9";
  r.label_verified = false;
  EXPECT_TRUE(RecordJson(r).ends_with(",\"bay\":3,\"printer\":\"tcp://10.0.0.9\",\"label_verified\":false}"))
      << RecordJson(r);
}

// A reason is typed by people and a firmware name is a file name: any byte may be in them.
// Quotes, backslashes and control bytes are escaped (control bytes always as \u00xx); every
// other byte, UTF-8 or not, is written as it is.
TEST(RecordJson, EscapesControlBytesAsUnicodeAndKeepsOtherBytes) {
  JournalRecord r;
  r.kind = RecordKind::kFirmware;
  r.reason = std::string("a\"b\\c\nd\te\rf\bg\fh\x01i\x1F" "j\x7F" "k st\xC3\xA4tion \xFF\xFE");
  r.firmware_name = "/tmp/\xE5\x9B\xBA\xE4\xBB\xB6.nvm";
  const std::string json = RecordJson(r);
  EXPECT_NE(json.find("\"reason\":\"a\\\"b\\\\c\\u000ad\\u0009e\\u000df\\u0008g\\u000ch\\u0001i"
                      "\\u001fj\x7Fk st\xC3\xA4tion \xFF\xFE\""),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"firmware_name\":\"/tmp/\xE5\x9B\xBA\xE4\xBB\xB6.nvm\""), std::string::npos)
      << json;
  EXPECT_NE(json.find("\"attempt\":0,"), std::string::npos) << json;
}


// The CSV export: every field in the JSON's order, absent fields as empty cells, times as ISO
// 8601 and typed texts that a spreadsheet would run as formulas kept inert.
TEST(RecordCsv, WritesEveryFieldInOrder) {
  EXPECT_EQ(RecordCsvHeader(),
            "id,station,adapter,kind,mac,unit_mac_before,chip,module_class,firmware_version,"
            "image_checksum,outcome,started,finished,committed,burn_ms,return_ms,attempt,config,"
            "firmware_name,firmware_size,firmware_sha256,reason,verified,other_bytes_changed,bay,"
            "printer,label_verified");
  JournalRecord r;
  r.id = "9b2f";
  r.station = "bench, \"one\"";
  r.kind = RecordKind::kFirmware;
  r.mac = "02A0C5000001";
  r.outcome = Outcome::kFirmwareOk;
  r.started = 1765180800000;
  r.committed = 1765180801000;
  r.attempt = 2;
  r.firmware_name = "fw.nvm";
  r.firmware_size = 4096;
  r.reason = "=1+1";
  r.verified = false;
  EXPECT_EQ(RecordCsvLine(r),
            "9b2f,\"bench, \"\"one\"\"\",,firmware,02A0C5000001,,,,,,firmware-ok,"
            "2025-12-08T08:00:00.000Z,,2025-12-08T08:00:01.000Z,,,2,,fw.nvm,4096,,'=1+1,false,,,,");
  r.kind = RecordKind::kRelease;
  EXPECT_EQ(RecordCsvLine(r),
            "9b2f,\"bench, \"\"one\"\"\",,release,02A0C5000001,,,,,,firmware-ok,"
            "2025-12-08T08:00:00.000Z,,2025-12-08T08:00:01.000Z,,,,,fw.nvm,4096,,'=1+1,false,,,,");
  r.bay = 12;
  EXPECT_TRUE(RecordCsvLine(r).ends_with(",'=1+1,false,,12,,")) << RecordCsvLine(r);
}

}  // namespace
}  // namespace stampwright
