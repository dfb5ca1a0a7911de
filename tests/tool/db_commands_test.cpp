// Runs the built stampwright-tool's db commands and checks output and exit codes.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "programming/mac_database.h"
#include "support/tool_runner.h"

namespace stampwright {
namespace {

using tool_test::ToolResult;

class DbCommandTest : public tool_test::ToolDirectoryTest {
 protected:
  // In the test's directory, so that the default "cam.dbr" is the test's own.
  ToolResult Db(const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {"db"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return Run(command);
  }

  void WriteDatabase(const std::string& bytes, const std::string& name = "cam.dbr") {
    Write(name, bytes);
  }
};

TEST_F(DbCommandTest, EncodePrintsTheRecordLine) {
  ToolResult result = Db({"encode", "02A0C5123456", "ABCDEFGHIJKLMNOP"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "BDEGA1C2JL4MF5HIO6NPK03\n");
  // Separators, lower case and the grouped password are taken as the same record.
  result = Db({"encode", "02:a0:c5:12:34:56", "ABCD-EFGH-IJKL-MNOP"});
  EXPECT_EQ(result.out, "BDEGA1C2JL4MF5HIO6NPK03\n");
  result = Db({"--mac-prefix", "0affff", "encode", "0AFFFF123456", "ABCDEFGHIJKLMNOP"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "BDEGA1C2JL4MF5HIO6NPK03\n");
}

TEST_F(DbCommandTest, LookupShowsWhatThePageWouldShow) {
  WriteDatabase("not a record\n" + EncodeMacRecord("02A0C5123456", "ABCDEFGHIJKLMNOP") + "\n");
  ToolResult result = Db({"lookup", "02A0C5123456"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "MAC:      02A0C5123456\nPassword: ABCD-EFGH-IJKL-MNOP\n");

  WriteDatabase(EncodeMacRecord("0AFFFF654321", "QRSTUVWXYZ012345"), "other.db");
  result = Db({"lookup", "--mac-prefix=0AFFFF", "0AFFFF654321", "other.db"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "MAC:      0AFFFF654321\nPassword: QRST-UVWX-YZ01-2345\n");
}

TEST_F(DbCommandTest, EncodedLinesAreFoundByLookup) {
  const std::vector<std::pair<std::string, std::string>> records = {
      {"02A0C5000001", "aaaabbbbccccdddd"}, {"02A0C5FFFFFE", "0123456789!#$%&*"},
      {"02A0C5ABCDEF", "p q r s t u v w "}};
  std::string database;
  for (const auto& [mac, password] : records) {
    const ToolResult line = Db({"encode", mac, password});
    ASSERT_EQ(line.exit_code, 0) << line.err;
    database += line.out;
  }
  WriteDatabase(database);
  for (const auto& [mac, password] : records) {
    const ToolResult found = Db({"lookup", mac});
    EXPECT_EQ(found.exit_code, 0) << found.err;
    EXPECT_EQ(found.out, "MAC:      " + mac + "\nPassword: " + password.substr(0, 4) + "-" +
                             password.substr(4, 4) + "-" + password.substr(8, 4) + "-" +
                             password.substr(12, 4) + "\n");
  }
}

// The MAC as the station's New MAC field takes it; failures say which file and why, in the
// command line's words, not a dialog's.
TEST_F(DbCommandTest, LookupTakesTheStationsFormsAndFailuresNameTheFileAndTheReason) {
  ToolResult result = Db({"lookup", "02A0C5123456"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "stampwright-tool db lookup: cannot open cam.dbr: No such file or directory\n");
  std::filesystem::create_directory(dir_ / "dir.dbr");
  result = Db({"lookup", "02A0C5123456", "dir.dbr"});
  EXPECT_EQ(result.err, "stampwright-tool db lookup: cannot open dir.dbr: not a regular file\n");

  WriteDatabase(EncodeMacRecord("02A0C5123456", "ABCDEFGHIJKLMNOP") + "\n");
  for (const char* entry : {"02A0C5123456", "02a0c5123456", "02:a0:c5:12:34:56",
                            "02-A0-C5-12-34-56", " 02a0.c512.3456 "}) {
    result = Db({"lookup", entry});
    EXPECT_EQ(result.exit_code, 0) << entry << ": " << result.err;
    EXPECT_EQ(result.out, "MAC:      02A0C5123456\nPassword: ABCD-EFGH-IJKL-MNOP\n") << entry;
  }
  for (const char* entry : {"02A0C512345", "", "02:A0:C5:12:34:5G", "02A0C5123457"}) {
    result = Db({"lookup", entry});
    EXPECT_EQ(result.exit_code, 1) << entry;
    EXPECT_EQ(result.err, std::string("stampwright-tool db lookup: MAC ") + entry +
                              " is not in cam.dbr\n");
  }
  // The other MAC arguments take the same forms.
  result = Db({"encode", "02:a0:c5:12:34:56", "ABCDEFGHIJKLMNOP"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, EncodeMacRecord("02A0C5123456", "ABCDEFGHIJKLMNOP") + "\n");
}

TEST_F(DbCommandTest, BadUsage) {
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {},
           {"frob"},
           {"lookup"},
           {"lookup", "a", "b", "c"},
           {"lookup", "-x", "02A0C5123456"},
           {"encode", "02A0C5123456"},
           {"encode", "02A0C512345", "ABCDEFGHIJKLMNOP"},
           {"encode", "0AFFFF123456", "ABCDEFGHIJKLMNOP"},  // not the station's prefix
           {"encode", "02A0C5123456", "ABCDEFGHIJKLMNO"},
           {"encode", "02A0C5123456", "ABCDEFGHIJKLMNO\t"},
           {"--mac-prefix", "02A0C", "encode", "02A0C5123456", "ABCDEFGHIJKLMNOP"},
           {"--mac-prefix", "02A0CG", "encode", "02A0C5123456", "ABCDEFGHIJKLMNOP"},
           {"encode", "02A0C5123456", "ABCDEFGHIJKLMNOP", "--mac-prefix"},
       }) {
    const ToolResult result = Db(arguments);
    std::string shown;
    for (const std::string& argument : arguments) shown += argument + " ";
    EXPECT_EQ(result.exit_code, 2) << shown;
    EXPECT_EQ(result.out, "") << shown;
    EXPECT_NE(result.err.find("usage: stampwright-tool db"), std::string::npos) << shown;
  }
  const ToolResult help = Db({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("lookup MAC [FILE]"), std::string::npos);
}

}  // namespace
}  // namespace stampwright
