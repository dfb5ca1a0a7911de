// How the database file is read: short, long, binary and unterminated lines, block
// boundaries, agreement with plain fgets reads, and the file closed on every path.
#include "mac_database_fixture.h"

namespace stampwright {
namespace {

TEST_F(MacDatabaseTest, ShortLinesNeverMatchOnStaleBytes) {
  // A buffer reused from the record before would still hold '3' at position 22 and the
  // password characters past the short line's end.
  std::string short_line = std::string(kGoldenRecord).substr(0, 20);
  std::string earlier = EncodeMacRecord("02A0C5FF3FFF", "abcdefghijklmnop");
  WriteFile("cam.dbr", earlier + "\n" + short_line + "\n");
  EXPECT_FALSE(Lookup(kGoldenMac).found);
  WriteFile("cam.dbr", earlier + "\n" + std::string(kGoldenRecord).substr(0, 22) + "\n");
  EXPECT_FALSE(Lookup(kGoldenMac).found);
  WriteFile("cam.dbr", std::string(kGoldenRecord).substr(0, 22));
  EXPECT_FALSE(Lookup(kGoldenMac).found);
  ExpectSameAsReference(kGoldenMac);
}

TEST_F(MacDatabaseTest, LongLinesAreTakenInReadsOfSeventyNine) {
  const std::string record = kGoldenRecord;
  struct Case {
    size_t junk;  // characters before the record, on the same line
    bool found;
  };
  for (const Case c : {Case{79, true}, Case{158, true}, Case{78, false}, Case{80, false},
                       Case{1, false}, Case{79 * 7, true}}) {
    WriteFile("cam.dbr", std::string(c.junk, 'x') + record + "\n");
    EXPECT_EQ(Lookup(kGoldenMac).found, c.found) << c.junk;
    ExpectSameAsReference(kGoldenMac);
  }
  // A 79-character line leaves its newline to a read of its own; the next line is a new read.
  WriteFile("cam.dbr", std::string(79, 'x') + "\n" + record + "\n");
  EXPECT_TRUE(Lookup(kGoldenMac).found);
  // The record cut by the end of a 79-character read is not found in either piece.
  WriteFile("cam.dbr", std::string(70, 'x') + record + "\n");
  EXPECT_FALSE(Lookup(kGoldenMac).found);
}

TEST_F(MacDatabaseTest, BinaryBytesAndNul) {
  std::string record = kGoldenRecord;
  record[0] = static_cast<char>(0xE9);
  record[19] = static_cast<char>(0x01);
  WriteFile("cam.dbr", record + "\r\n");
  EXPECT_EQ(Lookup(kGoldenMac).password_text, "A\xE9" "CD-EFGH-IJKL-MNO\x01");

  // A NUL does not end a read: the record after it on the next line is still a read of its own.
  WriteFile("cam.dbr", std::string("ab\0cd", 5) + "\n" + kGoldenRecord + "\n");
  EXPECT_TRUE(Lookup(kGoldenMac).found);
  // 79 characters with a NUL, then the record: the NUL shifts nothing.
  WriteFile("cam.dbr", std::string(40, 'x') + std::string(1, '\0') + std::string(38, 'x') +
                           kGoldenRecord + "\n");
  EXPECT_TRUE(Lookup(kGoldenMac).found);

  for (size_t position = 0; position < 23; ++position) {
    std::string damaged = kGoldenRecord;
    damaged[position] = '\0';
    WriteFile("cam.dbr", damaged + "\n");
    EXPECT_EQ(Lookup(kGoldenMac).found, position == 21) << position;
    ExpectSameAsReference(kGoldenMac);
    ExpectSameAsReference(std::string(kGoldenMac).substr(0, 8));
  }
}

TEST_F(MacDatabaseTest, BigFileWithoutAnyNewline) {
  // 3 MiB of one line: reads of 79 characters straight across block boundaries.
  std::string bytes(3 * 1024 * 1024, 'x');
  const size_t hit = 79 * 30000;  // a read starts here
  bytes.replace(hit, 23, kGoldenRecord);
  const size_t miss = 79 * 20000 + 3;
  bytes.replace(miss, 23, EncodeMacRecord("02A0C5654321", "ABCDEFGHIJKLMNOP"));
  WriteFile("cam.dbr", bytes);
  EXPECT_TRUE(Lookup(kGoldenMac).found);
  EXPECT_FALSE(Lookup("02A0C5654321").found);
  ExpectSameAsReference(kGoldenMac);
}

TEST_F(MacDatabaseTest, RecordsAcrossBlockBoundaries) {
  // Filler records of 24 bytes, then one record shifted a byte at a time across the first
  // block boundary, and the last one as the file's final line without its newline.
  const std::string filler = EncodeMacRecord("02A0C5000000", "fillerfillerfill") + "\n";
  for (size_t shift = 0; shift < 100; shift += 3) {
    std::string bytes;
    while (bytes.size() + filler.size() < kMacDatabaseBlockSize - 60) bytes += filler;
    bytes += std::string(shift, 'y') + "\n";
    bytes += std::string(kGoldenRecord) + "\n";
    while (bytes.size() < 2 * kMacDatabaseBlockSize - 30) bytes += filler;
    bytes += EncodeMacRecord("02A0C5ABCDEF", "lastlastlastlast");
    WriteFile("cam.dbr", bytes);
    ExpectSameAsReference(kGoldenMac);
    EXPECT_TRUE(Lookup(kGoldenMac).found) << shift;
    EXPECT_TRUE(Lookup("02A0C5ABCDEF").found) << shift;
    EXPECT_EQ(Lookup("02A0C5000000").password_text, "fill-erfi-ller-fill");
  }
}

TEST_F(MacDatabaseTest, AgreesWithPlainFgetsOnRandomFiles) {
  std::mt19937 random(20240613);
  const char* hex = "0123456789ABCDEF";
  auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
  for (int round = 0; round < 120; ++round) {
    std::string bytes;
    std::vector<std::string> macs;
    const size_t lines = round % 10 == 0 ? 20000 : 1 + pick(200);
    for (size_t i = 0; i < lines; ++i) {
      std::string mac = "02A0C5";
      for (int k = 0; k < 6; ++k) mac += hex[pick(3)];  // few digits: duplicates happen
      std::string password;
      for (int k = 0; k < 16; ++k) password += static_cast<char>(pick(256));
      std::string line;
      switch (pick(8)) {
        case 0: line = std::string(pick(120), 'z') + EncodeMacRecord(mac, password); break;
        case 1: line = EncodeMacRecord(mac, password).substr(0, pick(23)); break;
        case 2: for (size_t k = pick(200); k > 0; --k) line += static_cast<char>(pick(256)); break;
        case 3: for (size_t k = pick(300); k > 0; --k) line += "0012\nx"[pick(6)]; break;
        default: line = EncodeMacRecord(mac, password) + std::string(pick(4), 'w'); break;
      }
      bytes += line;
      if (i + 1 < lines || pick(2) == 0) bytes += pick(5) == 0 ? "\r\n" : "\n";
      macs.push_back(mac);
    }
    WriteFile("cam.dbr", bytes);
    for (int probe = 0; probe < 6; ++probe) ExpectSameAsReference(macs[pick(macs.size())]);
    ExpectSameAsReference("02A0C5" + std::string(6, hex[pick(16)]));
    ExpectSameAsReference("02A0C5" + std::string(6, hex[pick(3)]));
  }
}

TEST_F(MacDatabaseTest, DigitsThatFitEverywhereButAtReadStarts) {
  // Every place has the wanted digits after it; only the reads decide which places count.
  std::string bytes(500000, 'F');
  WriteFile("cam.dbr", bytes);
  EXPECT_EQ(Lookup("02A0C5FFFFFF").password_text, "FFFF-FFFF-FFFF-FFFF");
  for (size_t newline = 0; newline < 90; newline += 7) bytes[300000 + newline] = '\n';
  bytes[20] = '\n';  // the first read holds 20 characters
  bytes[42] = '\n';  // and the second 21
  bytes.replace(43, 23, EncodeMacRecord("02A0C5FFFFFF", "FFFFFFFFFFFFFFF1"));
  WriteFile("cam.dbr", bytes);
  EXPECT_EQ(Lookup("02A0C5FFFFFF").password_text, "FFFF-FFFF-FFFF-FFF1");
  bytes[43 + 4] = '\n';
  WriteFile("cam.dbr", bytes);
  ExpectSameAsReference("02A0C5FFFFFF");
}

TEST_F(MacDatabaseTest, DatabaseIsClosedOnEveryPath) {
  WriteFile("cam.dbr", std::string(kGoldenRecord) + "\n");
  const size_t before = OpenDescriptorCount();
  Lookup(kGoldenMac);           // match
  Lookup("02A0C5FFFFFF");       // full scan, no match
  Lookup("short");              // no scan needed
  std::filesystem::remove("cam.dbr");
  Lookup(kGoldenMac);           // cannot open
  EXPECT_EQ(OpenDescriptorCount(), before);
}

}  // namespace
}  // namespace stampwright
