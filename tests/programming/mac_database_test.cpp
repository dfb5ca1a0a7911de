#include "station/mac_lookup.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "resources/controls.h"
#include "support/recording_page.h"

namespace stampwright {
namespace {

// MAC 02A0C5123456, password ABCDEFGHIJKLMNOP, laid out by hand from the position table.
constexpr char kGoldenRecord[] = "BDEGA1C2JL4MF5HIO6NPK#3";
constexpr char kGoldenMac[] = "02A0C5123456";
constexpr char kGoldenPassword[] = "ABCD-EFGH-IJKL-MNOP";
constexpr char kInitialMacField[] = "AA:AA:AA:AA:AA:AA";
constexpr char kInitialPasswordField[] = "    -    -    -";

struct Outcome {
  bool found = false;
  bool opened = true;
  std::string mac_text;
  std::string password_text;
  friend bool operator==(const Outcome&, const Outcome&) = default;
};

// The lookup written as plainly as it can be: a count pass of 80-byte fgets reads, then a search
// pass bounded by that count. ftell tells how many characters each read took, NULs included.
Outcome ReferenceLookup(const std::string& path, const std::string& prefix,
                        const std::string& entry) {
  Outcome outcome;
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    outcome.opened = false;
    return outcome;
  }
  char line[80];
  long count = 0;
  while (std::fgets(line, sizeof line, file) != nullptr) ++count;
  std::fclose(file);

  file = std::fopen(path.c_str(), "r");
  for (long i = 0; i < count; ++i) {
    const long before = std::ftell(file);
    if (std::fgets(line, sizeof line, file) == nullptr) break;
    size_t length = static_cast<size_t>(std::ftell(file) - before);
    if (length > 0 && line[length - 1] == '\n') --length;
    if (length < 23) continue;
    const int mac_positions[6] = {5, 7, 22, 10, 13, 17};
    const int password_positions[16] = {4, 0, 6, 1, 2, 12, 3, 14, 15, 8, 20, 9, 11, 18, 16, 19};
    bool damaged = false;
    std::string mac = prefix;
    for (int p : mac_positions) {
      mac += line[p];
      damaged |= line[p] == '\0';
    }
    std::string password;
    for (int k = 0; k < 16; ++k) {
      if (k == 4 || k == 8 || k == 12) password += '-';
      password += line[password_positions[k]];
      damaged |= line[password_positions[k]] == '\0';
    }
    if (damaged || mac != entry) continue;
    outcome.found = true;
    outcome.mac_text = mac;
    outcome.password_text = password;
    break;
  }
  std::fclose(file);
  return outcome;
}

size_t OpenDescriptorCount() {
  size_t count = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  while (dir != nullptr && ::readdir(dir) != nullptr) ++count;
  if (dir != nullptr) ::closedir(dir);
  return count;
}

class MacDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/mac-database-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(dir_);
  }

  static void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  // Types the entry, runs the lookup and returns what the page shows afterwards.
  Outcome Lookup(const std::string& entry, const MacLookupOptions& options = {}) {
    page_ = RecordingPage();
    page_.SetText(kNewMacEdit, entry);
    page_.Clear();
    Outcome outcome;
    outcome.found = LookupMacRecord(page_, options);
    if (outcome.found) {
      outcome.mac_text = page_.GetText(kMacField, 100);
      outcome.password_text = page_.GetText(kPasswordField, 100);
    } else if (!page_.message_boxes().empty() &&
               page_.message_boxes()[0].text == "Error opening DB") {
      outcome.opened = false;
    }
    return outcome;
  }

  // The lookup and the fgets reference agree on this file and entry.
  void ExpectSameAsReference(const std::string& entry, const std::string& prefix = "02A0C5") {
    MacLookupOptions options;
    options.mac_prefix = prefix;
    const Outcome expected = ReferenceLookup("cam.dbr", prefix, entry.substr(0, 12));
    const Outcome actual = Lookup(entry, options);
    EXPECT_EQ(actual.found, expected.found) << "entry " << entry;
    EXPECT_EQ(actual.opened, expected.opened) << "entry " << entry;
    EXPECT_EQ(actual.mac_text, expected.mac_text) << "entry " << entry;
    EXPECT_EQ(actual.password_text, expected.password_text) << "entry " << entry;
    // The same file searched as two halves at once, whatever its size.
    options.split_from_bytes = 0;
    const Outcome halves = Lookup(entry, options);
    EXPECT_EQ(halves.found, expected.found) << "halves, entry " << entry;
    EXPECT_EQ(halves.mac_text, expected.mac_text) << "halves, entry " << entry;
    EXPECT_EQ(halves.password_text, expected.password_text) << "halves, entry " << entry;
  }

  void ExpectInvalidBox() {
    ASSERT_EQ(page_.message_boxes().size(), 1u);
    EXPECT_EQ(page_.message_boxes()[0].text, "The input MAC is invalid.");
    EXPECT_EQ(page_.message_boxes()[0].caption, "Info");
    EXPECT_EQ(page_.message_boxes()[0].type, 48u);
    EXPECT_TRUE(page_.texts().empty());
    EXPECT_EQ(page_.GetText(kMacField, 100), kInitialMacField);
    EXPECT_EQ(page_.GetText(kPasswordField, 100), kInitialPasswordField);
  }

  std::string dir_;
  std::filesystem::path previous_;
  RecordingPage page_;
};

// --- the record layout ---

TEST(MacRecordLayout, EncodePlacesDigitsAndPasswordAtTheirPositions) {
  std::string expected = kGoldenRecord;
  expected[21] = kMacRecordFiller;
  EXPECT_EQ(EncodeMacRecord(kGoldenMac, "ABCDEFGHIJKLMNOP"), expected);
}

TEST(MacRecordLayout, DecodeReadsTheGoldenRecord) {
  const auto record = DecodeMacRecord(std::string(kGoldenRecord) + "\n");
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->mac_text, kGoldenMac);
  EXPECT_EQ(record->password_text, kGoldenPassword);
  EXPECT_EQ(DecodeMacRecord(kGoldenRecord, "0AFFFF")->mac_text, "0AFFFF123456");
}

TEST(MacRecordLayout, EncodeThenDecodeRoundTripsAnyCharacters) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    std::string mac = "02A0C5", password;
    for (int i = 0; i < 6; ++i) mac += "0123456789ABCDEF"[random() % 16];
    for (int i = 0; i < 16; ++i) password += static_cast<char>(33 + random() % 94);
    const auto record = DecodeMacRecord(EncodeMacRecord(mac, password));
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->mac_text, mac);
    EXPECT_EQ(record->password_text, password.substr(0, 4) + "-" + password.substr(4, 4) + "-" +
                                         password.substr(8, 4) + "-" + password.substr(12, 4));
  }
}

TEST(MacRecordLayout, EncodeRefusesWrongLengths) {
  EXPECT_EQ(EncodeMacRecord("02A0C512345", "ABCDEFGHIJKLMNOP"), "");
  EXPECT_EQ(EncodeMacRecord("02A0C5123456", "ABCDEFGHIJKLMNO"), "");
  EXPECT_EQ(EncodeMacRecord("02A0C5123456", "ABCD-EFGH-IJKL-MNOP"), "");
}

TEST(MacRecordLayout, DecodeRefusesShortAndDamagedReads) {
  const std::string record = kGoldenRecord;
  EXPECT_FALSE(DecodeMacRecord(record.substr(0, 22)).has_value());
  EXPECT_FALSE(DecodeMacRecord(record.substr(0, 22) + "\n").has_value());
  EXPECT_FALSE(DecodeMacRecord(record.substr(0, 10) + "\n" + record.substr(11)).has_value());
  std::string nul_in_password = record;
  nul_in_password[0] = '\0';
  EXPECT_FALSE(DecodeMacRecord(nul_in_password).has_value());
  std::string nul_in_mac = record;
  nul_in_mac[22] = '\0';
  EXPECT_FALSE(DecodeMacRecord(nul_in_mac).has_value());
  std::string nul_at_filler = record;
  nul_at_filler[21] = '\0';
  EXPECT_TRUE(DecodeMacRecord(nul_at_filler).has_value());
}

// --- the two failure boxes ---

TEST_F(MacDatabaseTest, MissingDatabaseShowsErrorBoxAndLeavesFieldsAlone) {
  EXPECT_FALSE(Lookup(kGoldenMac).found);
  ASSERT_EQ(page_.message_boxes().size(), 1u);
  EXPECT_EQ(page_.message_boxes()[0].text, "Error opening DB");
  EXPECT_EQ(page_.message_boxes()[0].caption, "Mac Burn");
  EXPECT_EQ(page_.message_boxes()[0].type, 16u);
  EXPECT_TRUE(page_.texts().empty());
  EXPECT_EQ(page_.GetText(kMacField, 100), kInitialMacField);
}

TEST_F(MacDatabaseTest, DirectoryNamedLikeTheDatabaseCannotBeOpened) {
  ASSERT_EQ(::mkdir("cam.dbr", 0700), 0);
  EXPECT_FALSE(Lookup(kGoldenMac).opened);
}

TEST_F(MacDatabaseTest, FifoOrDeviceNamedLikeTheDatabaseIsRefusedAtOnce) {
  // Opening a FIFO without a writer would block the page for good; a device never ends.
  ASSERT_EQ(::mkfifo("cam.dbr", 0600), 0);
  EXPECT_FALSE(Lookup(kGoldenMac).opened);
  ASSERT_EQ(::unlink("cam.dbr"), 0);
  ASSERT_EQ(::symlink("/dev/zero", "cam.dbr"), 0);
  EXPECT_FALSE(Lookup(kGoldenMac).opened);
}

TEST_F(MacDatabaseTest, UnmatchedEntriesShowInvalidBox) {
  WriteFile("cam.dbr", std::string(kGoldenRecord) + "\n");
  for (const char* entry : {"02a0c5123456", "02A0C512345a", "02:A0:C5:12:34:56", "02-A0-C5-12-34",
                            "02A0C512345", "02A0C5", "", "12345602A0C5", "02A0C5123457"}) {
    EXPECT_FALSE(Lookup(entry).found) << entry;
    ExpectInvalidBox();
  }
}

TEST_F(MacDatabaseTest, EmptyFileAndBlankLinesMatchNothing) {
  WriteFile("cam.dbr", "");
  EXPECT_FALSE(Lookup(kGoldenMac).found);
  ExpectInvalidBox();
  WriteFile("cam.dbr", "\n\n\n\r\n");
  EXPECT_FALSE(Lookup(kGoldenMac).found);
  ExpectInvalidBox();
}

// --- matching ---

TEST_F(MacDatabaseTest, MatchWritesMacFieldThenPasswordFieldAndNoBox) {
  WriteFile("cam.dbr", "first line, not a record at all\n" + std::string(kGoldenRecord) + "\n");
  const Outcome outcome = Lookup(kGoldenMac);
  EXPECT_TRUE(outcome.found);
  EXPECT_TRUE(page_.message_boxes().empty());
  EXPECT_EQ(page_.Transcript(), (std::vector<std::string>{"text 1056 02A0C5123456",
                                                          "text 1057 ABCD-EFGH-IJKL-MNOP"}));
}

TEST_F(MacDatabaseTest, EntryLongerThanTwelveIsCut) {
  WriteFile("cam.dbr", std::string(kGoldenRecord) + "\n");
  EXPECT_TRUE(Lookup(std::string(kGoldenMac) + "XYZ").found);
}

TEST_F(MacDatabaseTest, LastLineWithoutNewlineIsFound) {
  WriteFile("cam.dbr", kGoldenRecord);
  EXPECT_EQ(Lookup(kGoldenMac).password_text, kGoldenPassword);
  WriteFile("cam.dbr", std::string("junk\n") + kGoldenRecord + "tail");
  EXPECT_EQ(Lookup(kGoldenMac).password_text, kGoldenPassword);
}

TEST_F(MacDatabaseTest, FirstOfTwoRecordsWithTheSameMacWins) {
  const std::string second = EncodeMacRecord(kGoldenMac, "QRSTUVWXYZ012345");
  WriteFile("cam.dbr", std::string(kGoldenRecord) + "\n" + second + "\n");
  EXPECT_EQ(Lookup(kGoldenMac).password_text, kGoldenPassword);
  WriteFile("cam.dbr", second + "\n" + kGoldenRecord + "\n");
  EXPECT_EQ(Lookup(kGoldenMac).password_text, "QRST-UVWX-YZ01-2345");
}

TEST_F(MacDatabaseTest, PositionTwentyOneMayHoldAnyCharacterButNewline) {
  for (int c = 0; c < 256; ++c) {
    std::string record = kGoldenRecord;
    record[21] = static_cast<char>(c);
    WriteFile("cam.dbr", record + "\n");
    EXPECT_EQ(Lookup(kGoldenMac).found, c != '\n') << "character " << c;
  }
}

TEST_F(MacDatabaseTest, CustomPrefixAndPath) {
  WriteFile("other.db", std::string(kGoldenRecord) + "\n");
  MacLookupOptions options;
  options.mac_prefix = "0AFFFF";
  options.database_path = "other.db";
  EXPECT_EQ(Lookup("0AFFFF123456", options).mac_text, "0AFFFF123456");
  EXPECT_FALSE(Lookup(kGoldenMac, options).found);
  EXPECT_FALSE(Lookup("0AFFFF123456").opened);  // the default still reads cam.dbr
}

// --- reads as an 80-byte line buffer takes them ---

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
