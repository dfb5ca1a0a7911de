#include "transport/pcap/pcap_driver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "transport/adapter_set.h"
#include "support/virtual_wire.h"

namespace stampwright {
namespace {

using transport_test::MakeFrame;

constexpr const char* kFix =
    "run as root or grant the binary the capabilities: setcap cap_net_raw,cap_net_admin+eip ";

std::string SelfPath() {
  std::array<char, 4096> path{};
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  return length > 0 ? std::string(path.data(), static_cast<size_t>(length)) : std::string();
}

bool HaveProgram(const char* name) {
  for (const char* dir : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"}) {
    if (::access((std::string(dir) + name).c_str(), X_OK) == 0) return true;
  }
  return false;
}

// Runs a shell command, returns its output and exit status.
std::pair<std::string, int> RunShell(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return {"", -1};
  std::array<char, 512> chunk{};
  while (std::fgets(chunk.data(), chunk.size(), pipe) != nullptr) output += chunk.data();
  const int status = ::pclose(pipe);
  return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(PcapDriverEnumeration, LoopbackIsNeverKept) {
  PcapDriver driver({"lo"});
  const auto names = driver.EnumerateAdapters();
  ASSERT_TRUE(names.has_value()) << driver.Diagnostic();
  EXPECT_TRUE(names->empty());
}

TEST(PcapDriverOpen, NonexistentInterfaceFailsCleanly) {
  PcapDriver driver;
  EXPECT_EQ(driver.OpenAdapter("swt-absent0"), PacketDriver::kInvalidHandle);
  EXPECT_NE(driver.Diagnostic().find("swt-absent0"), std::string::npos) << driver.Diagnostic();
  std::array<uint8_t, 64> frame{};
  MacAddress address;
  EXPECT_FALSE(driver.SendPacket(1, frame.data(), frame.size()));
  EXPECT_EQ(driver.ReceivePacket(1, frame.data(), frame.size()), 0u);
  EXPECT_FALSE(driver.QueryCurrentAddress(1, &address));
  EXPECT_FALSE(driver.WaitReadable(1, 5));
  EXPECT_FALSE(driver.SetBpfProgram(1, FrameFilterProgram));
  driver.CloseAdapter(1);
}

// Opens loopback (which any user may name) and prints the diagnostic for the parent test.
void ReportUnprivilegedOpen() {
  PcapDriver driver;
  const auto handle = driver.OpenAdapter("lo");
  std::printf("OPENED=%d\nDIAGNOSTIC<<%s>>\n", handle != PacketDriver::kInvalidHandle ? 1 : 0,
              driver.Diagnostic().c_str());
}

TEST(PcapDriverPermission, UnprivilegedChildReport) {
  if (std::getenv("STAMPWRIGHT_PCAP_UNPRIVILEGED_CHILD") == nullptr) GTEST_SKIP() << "run by the test below";
  ReportUnprivilegedOpen();
}

TEST(PcapDriverPermission, DiagnosticNamesTheFixWithoutPermission) {
  std::string output;
  if (::geteuid() != 0) {
    PcapDriver driver;
    if (driver.OpenAdapter("lo") != PacketDriver::kInvalidHandle) GTEST_SKIP() << "this binary may capture";
    output = driver.Diagnostic();
  } else {
    if (!HaveProgram("setpriv")) GTEST_SKIP() << "setpriv is not installed";
    const auto [text, status] =
        RunShell("STAMPWRIGHT_PCAP_UNPRIVILEGED_CHILD=1 timeout 60 setpriv --reuid=65534 --regid=65534 "
            "--clear-groups " + SelfPath() + " --gtest_filter=PcapDriverPermission.UnprivilegedChildReport");
    ASSERT_EQ(status, 0) << text;
    ASSERT_NE(text.find("OPENED=0"), std::string::npos) << text;
    output = text;
  }
  EXPECT_NE(output.find(kFix), std::string::npos) << output;
  EXPECT_NE(output.find("no permission to capture on lo"), std::string::npos) << output;
}

// --- Over a veth pair in a network namespace of the test's own. ---

std::optional<MacAddress> SysfsAddress(const std::string& name) {
  std::ifstream file("/sys/class/net/" + name + "/address");
  std::string text;
  if (!(file >> text)) return std::nullopt;
  return MacAddress::Parse(text);
}

// Collects what arrives on the handle for `ms` milliseconds of real time.
std::vector<std::vector<uint8_t>> Collect(PcapDriver& driver, PacketDriver::Handle handle, int ms,
                                          size_t capacity = 1600) {
  std::vector<std::vector<uint8_t>> frames;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  std::vector<uint8_t> buffer(capacity);
  while (std::chrono::steady_clock::now() < deadline) {
    while (const size_t n = driver.ReceivePacket(handle, buffer.data(), buffer.size())) {
      frames.emplace_back(buffer.begin(), buffer.begin() + static_cast<long>(n));
    }
    driver.WaitReadable(handle, 20);
  }
  return frames;
}

TEST(PcapDriverWire, InNamespaceChild) {
  if (std::getenv("STAMPWRIGHT_PCAP_WIRE_CHILD") == nullptr) GTEST_SKIP() << "run by the test below";
  PcapDriver driver({"swa", "swb", "lo"});
  const auto names = driver.EnumerateAdapters();
  ASSERT_TRUE(names.has_value()) << driver.Diagnostic();
  std::vector<std::string> sorted = *names;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::vector<std::string>{"swa", "swb"}));

  const auto a = driver.OpenAdapter("swa");
  const auto b = driver.OpenAdapter("swb");
  ASSERT_NE(a, PacketDriver::kInvalidHandle) << driver.Diagnostic();
  ASSERT_NE(b, PacketDriver::kInvalidHandle) << driver.Diagnostic();
  for (auto handle : {a, b}) {
    ASSERT_TRUE(driver.SetBpfProgram(handle, FrameFilterProgram)) << driver.Diagnostic();
    ASSERT_TRUE(driver.SetPacketFilter(handle, kPacketFilterPromiscuous));
  }
  MacAddress mac_a, mac_b;
  ASSERT_TRUE(driver.QueryCurrentAddress(a, &mac_a));
  ASSERT_TRUE(driver.QueryCurrentAddress(b, &mac_b));
  EXPECT_EQ(SysfsAddress("swa"), mac_a);
  EXPECT_EQ(SysfsAddress("swb"), mac_b);

  const auto ip = MakeFrame(mac_b, mac_a, 0x0800, 46);
  const auto broadcast = MakeFrame(MacAddress::Broadcast(), mac_a, 0x88E1, 46, 1);
  const auto large = MakeFrame(mac_b, mac_a, 0x88E1, 1500, 2);
  // Promiscuous: a frame for a third station is seen too.
  const auto other = MakeFrame({{0x02, 0x99, 0x99, 0x99, 0x99, 0x99}}, mac_a, 0x88E1, 46, 3);
  for (const auto* frame : {&ip, &broadcast, &large, &other}) {
    ASSERT_TRUE(driver.SendPacket(a, frame->data(), frame->size())) << driver.Diagnostic();
  }
  const auto at_b = Collect(driver, b, 300);
  ASSERT_EQ(at_b.size(), 3u);
  EXPECT_EQ(at_b[0], broadcast);
  EXPECT_EQ(at_b[1], large);
  EXPECT_EQ(at_b[2], other);
  EXPECT_TRUE(Collect(driver, a, 100).empty()) << "the sender read back its own frames";

  ASSERT_TRUE(driver.SendPacket(b, large.data(), large.size()));
  const auto cut = Collect(driver, a, 200, 100);
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_EQ(cut[0], std::vector<uint8_t>(large.begin(), large.begin() + 100));

  // With reception switched off nothing is handed over.
  ASSERT_TRUE(driver.SetPacketFilter(a, kPacketFilterNone));
  ASSERT_TRUE(driver.SendPacket(b, broadcast.data(), broadcast.size()));
  EXPECT_TRUE(Collect(driver, a, 100).empty());
  driver.CloseAdapter(a);
  driver.CloseAdapter(b);

  // A closed capture is parked; the next opening takes it back with what came meanwhile dropped,
  // as a fresh capture would have it, under a new handle.
  const auto b2 = driver.OpenAdapter("swb");
  ASSERT_NE(b2, PacketDriver::kInvalidHandle) << driver.Diagnostic();
  EXPECT_NE(b2, b);
  ASSERT_TRUE(driver.SetBpfProgram(b2, FrameFilterProgram));
  ASSERT_TRUE(driver.SetPacketFilter(b2, kPacketFilterPromiscuous));
  ASSERT_TRUE(driver.SendPacket(b2, broadcast.data(), broadcast.size()));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto a2 = driver.OpenAdapter("swa");
  ASSERT_NE(a2, PacketDriver::kInvalidHandle) << driver.Diagnostic();
  ASSERT_TRUE(driver.SetBpfProgram(a2, FrameFilterProgram));
  ASSERT_TRUE(driver.SetPacketFilter(a2, kPacketFilterPromiscuous));
  EXPECT_TRUE(Collect(driver, a2, 100).empty()) << "a frame from before the opening";

  // One wait over both: nothing comes, it lasts its time; a frame on either ends it.
  const std::vector<PacketDriver::Handle> both = {b2, a2};
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(driver.WaitReadableAny(both, 100));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(95));
  ASSERT_TRUE(driver.SendPacket(b2, other.data(), other.size()));
  start = std::chrono::steady_clock::now();
  EXPECT_TRUE(driver.WaitReadableAny(both, 5000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4000));
  EXPECT_EQ(Collect(driver, a2, 50), std::vector<std::vector<uint8_t>>{other});
  driver.CloseAdapter(a2);
  driver.CloseAdapter(b2);
}

TEST(PcapDriverWire, FilterDirectionAndAddressesOverAVethPair) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to create a network namespace";
  if (!HaveProgram("ip")) GTEST_SKIP() << "iproute2 is not installed";
  const std::string ns = "swt-pcap-" + std::to_string(::getpid());
  struct NamespaceGuard {
    std::string name;
    ~NamespaceGuard() { RunShell("ip netns del " + name); }
  } guard{ns};
  const auto [added, add_status] = RunShell("ip netns add " + ns);
  ASSERT_EQ(add_status, 0) << added;
  for (const std::string command : {"link add swa type veth peer name swb", "link set swa up",
                                    "link set swb up"}) {
    const auto [text, status] = RunShell("ip -n " + ns + " " + command);
    ASSERT_EQ(status, 0) << command << ": " << text;
  }
  const auto [text, status] = RunShell("STAMPWRIGHT_PCAP_WIRE_CHILD=1 timeout 60 ip netns exec " + ns + " " +
                                  SelfPath() + " --gtest_filter=PcapDriverWire.InNamespaceChild");
  EXPECT_EQ(status, 0) << text;
  EXPECT_NE(text.find("[  PASSED  ] 1 test"), std::string::npos) << text;
}

}  // namespace
}  // namespace stampwright
