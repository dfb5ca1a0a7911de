#include "settings/preferences.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "settings/state_file.h"
#include "support/temp_dir.h"

namespace stampwright {
namespace {

using PreferencesFile = InTempDir;

void PutText(std::vector<uint8_t>& file, size_t offset, const char* text) {
  std::memcpy(&file[offset], text, std::strlen(text) + 1);
}

// A 267-byte file in which every field holds a value of its own.
std::vector<uint8_t> FullFile() {
  std::vector<uint8_t> file(267, 0);
  StoreLe32(&file[0], 0xFFFFFFF6);  // -10
  StoreLe16(&file[4], 0x0405);
  StoreLe32(&file[6], 0x06070809);
  StoreLe16(&file[10], 0x0A0B);
  StoreLe16(&file[12], 0x0C0D);
  StoreLe16(&file[14], 0x0E0F);
  StoreLe16(&file[16], 7);
  StoreLe16(&file[18], 0x1213);
  StoreLe16(&file[20], 0x1415);
  StoreLe16(&file[22], 0x1617);
  StoreLe16(&file[24], 0x1819);
  StoreLe16(&file[26], 0x1A1B);
  StoreLe16(&file[28], 0x1C1D);
  StoreLe16(&file[30], 0xFFFE);
  PutText(file, 32, "web.example");
  PutText(file, 96, "Bench Station");
  file[160] = 0xA0;
  file[162] = 0xA2;
  file[163] = 0xA3;
  file[186] = 0xBA;
  PutText(file, 187, "(c) the line");
  file[266] = 'Z';  // the last byte of the copyright field, past its NUL
  return file;
}

void ExpectFullFile(const Preferences& p) {
  EXPECT_EQ(p.Value0, -10);
  EXPECT_EQ(p.Value4, 0x0405);
  EXPECT_EQ(p.Value6, 0x06070809u);
  EXPECT_EQ(p.Value10, 0x0A0B);
  EXPECT_EQ(p.Value12, 0x0C0D);
  EXPECT_EQ(p.Value14, 0x0E0F);
  EXPECT_EQ(p.AutoScan, 7);
  EXPECT_EQ(p.Value18, 0x1213);
  EXPECT_EQ(p.Value20, 0x1415);
  EXPECT_EQ(p.Value22, 0x1617);
  EXPECT_EQ(p.Value24, 0x1819);
  EXPECT_EQ(p.Value26, 0x1A1B);
  EXPECT_EQ(p.Value28, 0x1C1D);
  EXPECT_EQ(p.Value30, 0xFFFE);
  EXPECT_EQ(p.WebAddressText(), "web.example");
  EXPECT_EQ(p.ProductNameText(), "Bench Station");
  EXPECT_EQ(p.Bytes160[0], 0xA0);
  EXPECT_EQ(p.Bytes160[2], 0xA2);
  EXPECT_EQ(p.Bytes163[0], 0xA3);
  EXPECT_EQ(p.Bytes163[23], 0xBA);
  EXPECT_EQ(p.CopyrightLineText(), "(c) the line");
  EXPECT_EQ(p.CopyrightLine[79], 'Z');
}

TEST_F(PreferencesFile, NoFileGivesTheDefaults) {
  EXPECT_FALSE(ReadPreferencesFile("OEMPrefs.dat").has_value());
  const Preferences p = LoadPreferences();
  EXPECT_EQ(p.Value0, 30);
  EXPECT_EQ(p.Value4, 0);
  EXPECT_EQ(p.Value6, 0u);
  EXPECT_EQ(p.Value10, 24);
  EXPECT_EQ(p.Value12, 0);
  EXPECT_EQ(p.Value14, 1);
  EXPECT_EQ(p.AutoScan, 1);
  EXPECT_EQ(p.Value18, 10);
  EXPECT_EQ(p.Value20, 310);
  EXPECT_EQ(p.Value22, 80);
  EXPECT_EQ(p.Value24, 25);
  EXPECT_EQ(p.Value26, 1);
  EXPECT_EQ(p.Value28, 1);
  EXPECT_EQ(p.Value30, 1);
  EXPECT_EQ(p.ProductNameText(), "Linewave Utility");
  EXPECT_EQ(p.ProductName[16], '\0');
  EXPECT_FALSE(p.WebAddressText().empty());
  EXPECT_FALSE(p.CopyrightLineText().empty());
  EXPECT_EQ(p.Bytes160, (std::array<uint8_t, 3>{}));
  EXPECT_EQ(p.Bytes163, (std::array<uint8_t, 24>{}));
  EXPECT_EQ(p.StateFileWords, (std::array<uint32_t, 2>{1, 1}));
  EXPECT_EQ(StateFileName(p.ProductNameText()), "Linewave Utility.data");
}

TEST_F(PreferencesFile, EmptyFileGivesAllZero) {
  WriteBytes("OEMPrefs.dat", {});
  const Preferences p = LoadPreferences();
  EXPECT_EQ(p.Value0, 0);
  EXPECT_EQ(p.Value20, 0);
  EXPECT_EQ(p.AutoScan, 0);
  EXPECT_EQ(p.ProductNameText(), "");
  EXPECT_EQ(p.WebAddressText(), "");
  EXPECT_EQ(p.CopyrightLineText(), "");
  EXPECT_EQ(p.StateFileWords, (std::array<uint32_t, 2>{1, 1}));
  EXPECT_EQ(StateFileName(p.ProductNameText()), "Linewave Utility.data");
}

TEST_F(PreferencesFile, EveryFieldAtItsOffset) {
  WriteBytes("OEMPrefs.dat", FullFile());
  const Preferences p = LoadPreferences();
  ExpectFullFile(p);
  EXPECT_EQ(p.StateFileWords, (std::array<uint32_t, 2>{1, 1}));
}

TEST_F(PreferencesFile, BytesPastTheRecordAreIgnored) {
  std::vector<uint8_t> file = FullFile();
  file.resize(400, 0xEE);
  WriteBytes("OEMPrefs.dat", file);
  ExpectFullFile(LoadPreferences());
}

TEST_F(PreferencesFile, FieldCutByEndOfFileKeepsTheBytesPresent) {
  const std::vector<uint8_t> full = FullFile();
  // Cut inside AutoScan: its low byte is there, the high byte and all later fields are zero.
  std::vector<uint8_t> file(full.begin(), full.begin() + 17);
  file[16] = 0x34;
  WriteBytes("OEMPrefs.dat", file);
  Preferences p = LoadPreferences();
  EXPECT_EQ(p.Value14, 0x0E0F);
  EXPECT_EQ(p.AutoScan, 0x34);
  EXPECT_EQ(p.Value18, 0);
  EXPECT_EQ(p.ProductNameText(), "");

  // Cut inside ProductName after "Bench": five bytes, no NUL, the rest of the field zero.
  WriteBytes("OEMPrefs.dat", std::vector<uint8_t>(full.begin(), full.begin() + 101));
  p = LoadPreferences();
  EXPECT_EQ(p.AutoScan, 7);
  EXPECT_EQ(p.WebAddressText(), "web.example");
  EXPECT_EQ(p.ProductNameText(), "Bench");
  EXPECT_EQ(p.Bytes160[0], 0);
  EXPECT_EQ(p.CopyrightLineText(), "");

  // Cut inside the 32-bit value at 6: two of its bytes, low first.
  WriteBytes("OEMPrefs.dat", std::vector<uint8_t>(full.begin(), full.begin() + 8));
  p = LoadPreferences();
  EXPECT_EQ(p.Value4, 0x0405);
  EXPECT_EQ(p.Value6, 0x0809u);
  EXPECT_EQ(p.Value10, 0);
}

TEST_F(PreferencesFile, AutoScanIsSigned) {
  std::vector<uint8_t> file = FullFile();
  StoreLe16(&file[16], 2);
  WriteBytes("OEMPrefs.dat", file);
  EXPECT_EQ(LoadPreferences().AutoScan, 2);
  StoreLe16(&file[16], 0xFFFF);
  WriteBytes("OEMPrefs.dat", file);
  EXPECT_EQ(LoadPreferences().AutoScan, -1);
  StoreLe16(&file[16], 0x0100);  // high byte only: still on
  WriteBytes("OEMPrefs.dat", file);
  EXPECT_EQ(LoadPreferences().AutoScan, 256);
}

TEST_F(PreferencesFile, ProductNameWithoutNulStopsAt63Characters) {
  std::vector<uint8_t> file = FullFile();
  std::memset(&file[96], 'N', 64);
  std::memset(&file[160], 'X', 27);  // what follows must not leak into the name
  WriteBytes("OEMPrefs.dat", file);
  const Preferences p = LoadPreferences();
  EXPECT_EQ(p.ProductNameText(), std::string(63, 'N'));
  EXPECT_EQ(p.ProductName[63], 'N');  // the field itself is kept as read
  EXPECT_EQ(StateFileName(p.ProductNameText()), std::string(63, 'N') + ".data");
}

TEST_F(PreferencesFile, OtherPathAndUnreadableFile) {
  WriteBytes("elsewhere.dat", FullFile());
  ExpectFullFile(LoadPreferences("elsewhere.dat"));
  // A directory of that name is not a regular file: the defaults.
  std::filesystem::create_directory("OEMPrefs.dat");
  testing::internal::CaptureStderr();
  EXPECT_EQ(LoadPreferences().ProductNameText(), "Linewave Utility");
  EXPECT_NE(testing::internal::GetCapturedStderr(), "");
}

// A FIFO (no writer: a blocking open would hang the start) or a directory is never read: the
// defaults, and one line on stderr.
TEST_F(PreferencesFile, AnythingButARegularFileGivesTheDefaultsAndOneLine) {
  ASSERT_EQ(mkfifo("OEMPrefs.dat", 0600), 0);
  testing::internal::CaptureStderr();
  const Preferences p = LoadPreferences();
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(p.ProductNameText(), "Linewave Utility");
  EXPECT_EQ(p.StateFileWords, (std::array<uint32_t, 2>{1, 1}));
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  EXPECT_NE(said.find("OEMPrefs.dat"), std::string::npos) << said;

  testing::internal::CaptureStderr();
  LoadPreferences("missing.dat");  // simply absent: the defaults, nothing said
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(PreferencesFile, UnsafeProductNameKeepsItsTextAndSaysWhereTheStateGoes) {
  for (const char* name : {"../x", "a/b", ".", ".."}) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> file = FullFile();
    std::memset(&file[96], 0, 64);
    PutText(file, 96, name);
    WriteBytes("OEMPrefs.dat", file);
    testing::internal::CaptureStderr();
    const Preferences p = LoadPreferences();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(p.ProductNameText(), name);  // the texts show the name as it stands
    EXPECT_EQ(StateFileName(p.ProductNameText()), "Linewave Utility.data");
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("Linewave Utility.data"), std::string::npos) << said;
  }
}

TEST_F(PreferencesFile, ControlBytesAndBrokenUtf8BecomeUnderscoresInTheStateFileNameOnly) {
  struct Case {
    const char* name;
    const char* file;
  };
  // é, € and 😀 are kept; a C1 control (U+0085), an overlong '/', a surrogate, a lone
  // continuation byte and a cut sequence are not.
  for (const Case& c : {Case{"Line\twave\x01\x7F", "Line_wave__.data"},
                        Case{"Caf\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x98\x80", "Caf\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x98\x80.data"},
                        Case{"a\xC2\x85" "b\xC0\xAF" "c\xED\xA0\x80" "d\x80" "e\xE2\x82", "a_b__c___d_e__.data"},
                        Case{"\xFF", "_.data"}}) {
    SCOPED_TRACE(c.file);
    std::vector<uint8_t> file = FullFile();
    std::memset(&file[96], 0, 64);
    PutText(file, 96, c.name);
    WriteBytes("OEMPrefs.dat", file);
    testing::internal::CaptureStderr();
    const Preferences p = LoadPreferences();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(p.ProductNameText(), c.name);
    EXPECT_EQ(StateFileName(p.ProductNameText()), c.file);
    const bool renamed = std::string(c.name) + ".data" != c.file;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), renamed ? 1 : 0) << said;
    for (const char byte : said) {
      EXPECT_TRUE(byte == '\n' || (byte >= 0x20 && byte < 0x7F)) << said;
    }
  }
}

}  // namespace
}  // namespace stampwright
