// Runs the built stampwright-tool's db commands and checks output and exit codes.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "programming/mac_database.h"

namespace stampwright {
namespace {

namespace fs = std::filesystem;

struct DbResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& argument) {
  std::string quoted = "'";
  for (const char ch : argument) quoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return quoted + "'";
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class DbCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("stampwright-db-test-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs in the test's directory, so that the default "cam.dbr" is the test's own.
  DbResult Db(const std::vector<std::string>& arguments) {
    std::string command = "cd " + Quote(dir_.string()) + " && " +
                          Quote(std::string(STAMPWRIGHT_BIN_DIR) + "/stampwright-tool") + " db";
    for (const std::string& argument : arguments) command += " " + Quote(argument);
    command += " >" + Quote((dir_ / "out").string()) + " 2>" + Quote((dir_ / "err").string()) +
               " </dev/null";
    const int status = std::system(command.c_str());
    DbResult result;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = Slurp(dir_ / "out");
    result.err = Slurp(dir_ / "err");
    return result;
  }

  void WriteDatabase(const std::string& bytes, const std::string& name = "cam.dbr") {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }

  fs::path dir_;
};

TEST_F(DbCommandTest, EncodePrintsTheRecordLine) {
  DbResult result = Db({"encode", "02A0C5123456", "ABCDEFGHIJKLMNOP"});
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
  DbResult result = Db({"lookup", "02A0C5123456"});
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
    const DbResult line = Db({"encode", mac, password});
    ASSERT_EQ(line.exit_code, 0) << line.err;
    database += line.out;
  }
  WriteDatabase(database);
  for (const auto& [mac, password] : records) {
    const DbResult found = Db({"lookup", mac});
    EXPECT_EQ(found.exit_code, 0) << found.err;
    EXPECT_EQ(found.out, "MAC:      " + mac + "\nPassword: " + password.substr(0, 4) + "-" +
                             password.substr(4, 4) + "-" + password.substr(8, 4) + "-" +
                             password.substr(12, 4) + "\n");
  }
}

TEST_F(DbCommandTest, LookupFailuresPrintTheStationsMessage) {
  DbResult result = Db({"lookup", "02A0C5123456"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("Error opening DB"), std::string::npos) << result.err;

  WriteDatabase(EncodeMacRecord("02A0C5123456", "ABCDEFGHIJKLMNOP") + "\n");
  // The lookup is the station's: exact and case-sensitive.
  for (const char* entry : {"02a0c5123456", "02:A0:C5:12:34:56", "02A0C512345", ""}) {
    result = Db({"lookup", entry});
    EXPECT_EQ(result.exit_code, 1) << entry;
    EXPECT_NE(result.err.find("The input MAC is invalid."), std::string::npos) << result.err;
  }
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
    const DbResult result = Db(arguments);
    std::string shown;
    for (const std::string& argument : arguments) shown += argument + " ";
    EXPECT_EQ(result.exit_code, 2) << shown;
    EXPECT_EQ(result.out, "") << shown;
    EXPECT_NE(result.err.find("usage: stampwright-tool db"), std::string::npos) << shown;
  }
  const DbResult help = Db({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("lookup MAC [FILE]"), std::string::npos);
}

}  // namespace
}  // namespace stampwright
