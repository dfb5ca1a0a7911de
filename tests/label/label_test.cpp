#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "label/label_template.h"
#include "label/printer.h"

namespace stampwright {
namespace {

using namespace std::chrono_literals;

const LabelFields kFields{"02A0C5100001", "ABCD-EFGH-IJKL-MNOP", "line-3", 2,
                          1796774400000 /* 2026-12-09 */, "PX300"};

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A loopback socket listening on a port the kernel picked.
struct Listener {
  int fd = -1;
  uint16_t port = 0;
  explicit Listener(int backlog) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, backlog);
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
  }
  ~Listener() { ::close(fd); }
  std::string Target() const { return "tcp://127.0.0.1:" + std::to_string(port); }
};

PrinterTarget Parsed(const std::string& text) {
  auto parsed = ParsePrinterTarget(text);
  EXPECT_TRUE(std::holds_alternative<PrinterTarget>(parsed)) << text;
  return std::get<PrinterTarget>(parsed);
}

TEST(LabelTemplateTest, FillsEveryFieldAndRefusesUnknownFieldsAndCommandCharacters) {
  const auto parsed = LabelTemplate::Parse(
      "^XA${MAC}|${MAC_COLONS}|${PASSWORD}|${STATION}|${BAY}|${DATE}|${CHIP}|$5 {x}^XZ");
  ASSERT_TRUE(std::holds_alternative<LabelTemplate>(parsed));
  std::string reason;
  EXPECT_EQ(std::get<LabelTemplate>(parsed).Filled(kFields, &reason),
            "^XA02A0C5100001|02:A0:C5:10:00:01|ABCD-EFGH-IJKL-MNOP|line-3|2|2026-12-09|PX300|$5 "
            "{x}^XZ");

  const auto unknown = LabelTemplate::Parse("^XA^FD${MAC}^FS^FD${SERIAL}^FS^XZ");
  ASSERT_TRUE(std::holds_alternative<std::string>(unknown));
  EXPECT_NE(std::get<std::string>(unknown).find("${SERIAL}"), std::string::npos);
  EXPECT_TRUE(std::holds_alternative<std::string>(LabelTemplate::Parse("^FD${MAC^FS")));

  // A station name with a caret would open a ZPL command of its own.
  LabelFields hostile = kFields;
  hostile.station = "x^FS^XZ^XA^FDforged";
  EXPECT_FALSE(LabelTemplate::Default().Filled(hostile, &reason));
  EXPECT_NE(reason.find("STATION"), std::string::npos);

  const std::optional<std::string> label = LabelTemplate::Default().Filled(kFields, &reason);
  ASSERT_TRUE(label);
  EXPECT_TRUE(label->starts_with("^XA") && label->ends_with("^XZ\n"));
  EXPECT_NE(label->find("^BCN,70,N,N,N^FD02A0C5100001^FS"), std::string::npos);
  EXPECT_NE(label->find("^BXN,5,200^FD02A0C5100001 ABCD-EFGH-IJKL-MNOP^FS"), std::string::npos);
}

TEST(PrinterTargetTest, ParsesTheThreeKindsAndRefusesTheRest) {
  EXPECT_EQ(Parsed("tcp://printer-7").port, kRawPrinterPort);
  EXPECT_EQ(Parsed("tcp://10.0.0.9:6101").port, 6101);
  EXPECT_EQ(Parsed("tcp://[::1]:9101").host, "::1");
  EXPECT_EQ(Parsed("cups:labels2").queue, "labels2");
  EXPECT_EQ(Parsed("dir:labels").directory, "labels");
  for (const char* bad : {"tcp://", "tcp://h:", "tcp://h:0", "tcp://h:70000", "tcp://h:9x",
                          "tcp://[::1", "cups:", "cups:-o", "dir:", "lpt1", "file:/x"}) {
    EXPECT_TRUE(std::holds_alternative<std::string>(ParsePrinterTarget(bad))) << bad;
  }
}

TEST(PrinterTest, LoopbackPrinterGetsExactlyTheFilledBytes) {
  Listener printer(4);
  std::string reason;
  const std::string label = *LabelTemplate::Default().Filled(kFields, &reason);
  std::future<std::string> received = std::async(std::launch::async, [&printer] {
    const int connection = ::accept(printer.fd, nullptr, nullptr);
    std::string bytes;
    char buffer[256];
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    timeval limit{5, 0};
    ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    while (std::chrono::steady_clock::now() < deadline) {
      const ssize_t got = ::read(connection, buffer, sizeof buffer);
      if (got <= 0) break;
      bytes.append(buffer, static_cast<size_t>(got));
    }
    ::close(connection);
    return bytes;
  });
  EXPECT_EQ(PrintLabel(Parsed(printer.Target()), kFields.mac, label), std::nullopt);
  EXPECT_EQ(received.get(), label);
}

TEST(PrinterTest, RefusingAndSilentPrintersGiveTheirReasonWithinTheLimit) {
  uint16_t closed_port = 0;
  {
    Listener gone(1);
    closed_port = gone.port;
  }
  const std::optional<std::string> refused =
      PrintLabel(Parsed("tcp://127.0.0.1:" + std::to_string(closed_port)), "x", "^XA^XZ");
  ASSERT_TRUE(refused);
  EXPECT_NE(refused->find("refused"), std::string::npos) << *refused;

  // A listener whose queue of connections is full drops further connection requests unanswered,
  // as a printer that is off the network does.
  Listener silent(0);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(silent.port);
    ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  std::this_thread::sleep_for(100ms);
  const auto start = std::chrono::steady_clock::now();
  const std::optional<std::string> timed_out =
      PrintLabel(Parsed(silent.Target()), "x", "^XA^XZ", {}, 400ms);
  const auto took = std::chrono::steady_clock::now() - start;
  for (const int fd : fillers) ::close(fd);
  ASSERT_TRUE(timed_out);
  EXPECT_NE(timed_out->find("within 0.4 s"), std::string::npos) << *timed_out;
  EXPECT_GE(took, 350ms);
  EXPECT_LT(took, 3s);
}

TEST(PrinterTest, DirectoryAndCupsTargets) {
  const std::filesystem::path work =
      std::filesystem::temp_directory_path() / ("label-test-" + std::to_string(::getpid()));
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work);
  const auto every = LabelTemplate::Parse(
      "^XA^FD${MAC} ${MAC_COLONS} ${PASSWORD} ${STATION} ${BAY} ${DATE} ${CHIP}^FS^XZ");
  std::string reason;
  const std::string label = *std::get<LabelTemplate>(every).Filled(kFields, &reason);
  EXPECT_EQ(PrintLabel(Parsed("dir:out/labels"), kFields.mac, label, work.string()), std::nullopt);
  EXPECT_EQ(ReadFile(work / "out/labels/02A0C5100001.zpl"),
            "^XA^FD02A0C5100001 02:A0:C5:10:00:01 ABCD-EFGH-IJKL-MNOP line-3 2 2026-12-09 "
            "PX300^FS^XZ");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(work / "out/labels"), {}), 1);
  EXPECT_TRUE(PrintLabel(Parsed("dir:out"), "../escape", label, work.string()));

  // lp as CUPS runs it: the queue and the raw option on its command line, the label on stdin;
  // its complaint becomes the reason.
  std::ofstream(work / "lp") << "#!/bin/sh\n"
                                "[ \"$2\" = missing ] && { echo 'lp: The printer or class does "
                                "not exist.' >&2; exit 1; }\n"
                                "echo \"$@\" > \"$(dirname \"$0\")/lp-args\"\n"
                                "cat > \"$(dirname \"$0\")/lp-input\"\n";
  std::filesystem::permissions(work / "lp", std::filesystem::perms::owner_all);
  const std::string path = std::getenv("PATH");
  ::setenv("PATH", (work.string() + ":" + path).c_str(), 1);
  EXPECT_EQ(PrintLabel(Parsed("cups:shipping"), kFields.mac, label), std::nullopt);
  EXPECT_EQ(ReadFile(work / "lp-args"), "-d shipping -o raw\n");
  EXPECT_EQ(ReadFile(work / "lp-input"), label);
  EXPECT_EQ(PrintLabel(Parsed("cups:missing"), kFields.mac, label),
            "lp: lp: The printer or class does not exist.");
  ::setenv("PATH", path.c_str(), 1);
  std::filesystem::remove_all(work);
}

}  // namespace
}  // namespace stampwright
