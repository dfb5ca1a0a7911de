// Looking a typed MAC up in the database: what the operator sees for each kind of file.
#include "mac_database_fixture.h"

namespace stampwright {
namespace {

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

}  // namespace
}  // namespace stampwright
