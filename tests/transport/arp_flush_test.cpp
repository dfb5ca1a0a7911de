#include "transport/arp_flush.h"

#include <fcntl.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace stampwright {
namespace {

// --- the dump parser, from datagrams built byte by byte ---

class Datagram {
 public:
  // A neighbour message; the attributes follow as (type, payload) pairs.
  Datagram& Neighbour(uint32_t sequence, uint8_t family, int32_t interface_index, uint16_t state,
                      const std::vector<std::pair<uint16_t, std::vector<uint8_t>>>& attributes,
                      uint8_t flags = 0) {
    const size_t start = bytes_.size();
    Header(0, RTM_NEWNEIGH, sequence);
    Append8(family);
    Append8(0);
    Append16(0);
    Append32(static_cast<uint32_t>(interface_index));
    Append16(state);
    Append8(flags);
    Append8(0);
    for (const auto& [type, payload] : attributes) {
      Append16(static_cast<uint16_t>(4 + payload.size()));
      Append16(type);
      bytes_.insert(bytes_.end(), payload.begin(), payload.end());
      while (bytes_.size() % 4 != 0) bytes_.push_back(0);
    }
    SetLength(start, bytes_.size() - start);
    return *this;
  }
  Datagram& Done(uint32_t sequence) {
    const size_t start = bytes_.size();
    Header(20, NLMSG_DONE, sequence);
    Append32(0);
    SetLength(start, 20);
    return *this;
  }
  Datagram& Error(uint32_t sequence, int32_t error) {
    const size_t start = bytes_.size();
    Header(20, NLMSG_ERROR, sequence);
    Append32(static_cast<uint32_t>(error));
    SetLength(start, 20);
    return *this;
  }
  std::vector<uint8_t>& bytes() { return bytes_; }
  void SetLength(size_t start, size_t length) {
    const auto value = static_cast<uint32_t>(length);
    std::memcpy(bytes_.data() + start, &value, 4);
  }

 private:
  void Header(uint32_t length, uint16_t type, uint32_t sequence) {
    Append32(length);
    Append16(type);
    Append16(NLM_F_MULTI);
    Append32(sequence);
    Append32(0);
  }
  void Append8(uint8_t v) { bytes_.push_back(v); }
  void Append16(uint16_t v) { bytes_.insert(bytes_.end(), (uint8_t*)&v, (uint8_t*)&v + 2); }
  void Append32(uint32_t v) { bytes_.insert(bytes_.end(), (uint8_t*)&v, (uint8_t*)&v + 4); }

  std::vector<uint8_t> bytes_;
};

const std::vector<uint8_t> kAddress2 = {192, 0, 2, 2};
const std::vector<uint8_t> kLinkAddress = {2, 0, 0, 0, 0, 2};

DumpProgress Parse(std::vector<uint8_t>& bytes, std::vector<ArpEntry>& entries) {
  return ParseNeighbourDump(bytes.data(), bytes.size(), 7, entries);
}

TEST(NeighbourDumpParser, KeepsDeletableIpv4EntriesOnly) {
  Datagram datagram;
  datagram.Neighbour(7, AF_INET, 3, NUD_STALE, {{NDA_LLADDR, kLinkAddress}, {NDA_DST, kAddress2}})
      .Neighbour(7, AF_INET, 4, NUD_REACHABLE, {{NDA_DST, {192, 0, 2, 5}}})
      .Neighbour(7, AF_INET, 4, NUD_FAILED, {{NDA_DST, {192, 0, 2, 6}}})
      .Neighbour(7, AF_INET, 3, NUD_PERMANENT, {{NDA_DST, {192, 0, 2, 3}}})
      .Neighbour(7, AF_INET, 3, NUD_NOARP, {{NDA_DST, {192, 0, 2, 4}}})
      .Neighbour(7, AF_INET, 3, NUD_STALE, {{NDA_DST, {192, 0, 2, 7}}}, NTF_PROXY)
      .Neighbour(7, AF_INET6, 3, NUD_STALE, {{NDA_DST, std::vector<uint8_t>(16, 0xFE)}})
      .Neighbour(8, AF_INET, 3, NUD_STALE, {{NDA_DST, {192, 0, 2, 8}}})  // another request's
      .Neighbour(7, AF_INET, 3, NUD_STALE, {{NDA_LLADDR, kLinkAddress}});  // no address
  std::vector<ArpEntry> entries;
  EXPECT_EQ(Parse(datagram.bytes(), entries), DumpProgress::kMore);
  EXPECT_EQ(entries, (std::vector<ArpEntry>{{3, {192, 0, 2, 2}}, {4, {192, 0, 2, 5}},
                                            {4, {192, 0, 2, 6}}}));
}

TEST(NeighbourDumpParser, EndAndErrorOfTheDump) {
  std::vector<ArpEntry> entries;
  Datagram done;
  done.Neighbour(7, AF_INET, 3, NUD_STALE, {{NDA_DST, kAddress2}}).Done(8).Done(7);
  EXPECT_EQ(Parse(done.bytes(), entries), DumpProgress::kDone);
  EXPECT_EQ(entries.size(), 1u);
  Datagram failed;
  failed.Error(7, -EPERM);
  EXPECT_EQ(Parse(failed.bytes(), entries), DumpProgress::kFailed);
}

TEST(NeighbourDumpParser, LengthsThatDoNotFitEndTheDatagram) {
  std::vector<ArpEntry> entries;
  {
    Datagram longer;  // says more than the datagram holds
    longer.Neighbour(7, AF_INET, 3, NUD_STALE, {{NDA_DST, kAddress2}});
    longer.SetLength(0, longer.bytes().size() + 1);
    EXPECT_EQ(Parse(longer.bytes(), entries), DumpProgress::kMore);
  }
  {
    Datagram tiny;  // shorter than a header: no endless loop
    tiny.Neighbour(7, AF_INET, 3, NUD_STALE, {{NDA_DST, kAddress2}}).Done(7);
    tiny.SetLength(0, 3);
    EXPECT_EQ(Parse(tiny.bytes(), entries), DumpProgress::kMore);
  }
  {
    Datagram cut;  // the header alone, the neighbour part cut off
    cut.Neighbour(7, AF_INET, 3, NUD_STALE, {{NDA_DST, kAddress2}});
    cut.SetLength(0, 20);
    cut.bytes().resize(20);
    EXPECT_EQ(Parse(cut.bytes(), entries), DumpProgress::kMore);
  }
  {
    Datagram attribute;  // the address attribute claims more than its message
    attribute.Neighbour(7, AF_INET, 3, NUD_STALE, {{NDA_DST, kAddress2}});
    attribute.bytes()[28] = 200;
    EXPECT_EQ(Parse(attribute.bytes(), entries), DumpProgress::kMore);
  }
  {
    Datagram wide;  // an IPv4 entry whose address is not 4 bytes
    wide.Neighbour(7, AF_INET, 3, NUD_STALE, {{NDA_DST, {192, 0, 2, 2, 9, 9}}});
    EXPECT_EQ(Parse(wide.bytes(), entries), DumpProgress::kMore);
  }
  {
    std::vector<uint8_t> short_datagram = {40, 0, 0, 0, 16, 0};
    EXPECT_EQ(Parse(short_datagram, entries), DumpProgress::kMore);
  }
  EXPECT_TRUE(entries.empty());

  // Random garbage never reads out of bounds (run under the sanitizers) and never loops.
  std::mt19937 random(99);
  for (int round = 0; round < 2000; ++round) {
    Datagram datagram;
    datagram.Neighbour(7, AF_INET, 3, NUD_STALE, {{NDA_DST, kAddress2}}).Done(7);
    auto& bytes = datagram.bytes();
    for (int flips = 0; flips < 4; ++flips) bytes[random() % bytes.size()] = uint8_t(random());
    bytes.resize(random() % (bytes.size() + 1));
    std::vector<ArpEntry> found;
    Parse(bytes, found);
    EXPECT_LE(found.size(), bytes.size() / 28);
  }
}

// --- the flush itself, in a network namespace of the test's own ---

bool RunQuiet(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Output(const std::string& command) {
  std::string out;
  if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) out += chunk;
    ::pclose(pipe);
  }
  return out;
}

class ArpFlushNamespaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) {
      if (std::getenv("CI") != nullptr) FAIL() << "the flush test needs root in CI";
      GTEST_SKIP() << "needs root to create a network namespace";
    }
    name_ = "sw-arp-" + std::to_string(::getpid()) + "-" + std::to_string(std::random_device{}());
    ASSERT_TRUE(RunQuiet("ip netns add " + name_));
    created_ = true;
    // The links stay down: the entries are written straight into the table, nothing is sent.
    for (const std::string& step : {
             std::string("link add swf0 type veth peer name swf1"),
             std::string("addr add 192.0.2.1/24 dev swf0"),
             std::string("neigh add 192.0.2.2 lladdr 02:00:00:00:00:02 dev swf0 nud stale"),
             std::string("neigh add 192.0.2.3 lladdr 02:00:00:00:00:03 dev swf0 nud permanent"),
             std::string("neigh add 192.0.2.4 lladdr 02:00:00:00:00:04 dev swf0 nud noarp"),
             std::string("neigh add 192.0.2.5 lladdr 02:00:00:00:00:05 dev swf1 nud reachable"),
             std::string("neigh add 192.0.2.6 dev swf1 nud failed"),
             std::string("-6 neigh add 2001:db8::2 lladdr 02:00:00:00:00:07 dev swf0 nud stale"),
         }) {
      ASSERT_TRUE(RunQuiet("ip -n " + name_ + " " + step)) << step;
    }
  }
  void TearDown() override {
    if (created_) RunQuiet("ip netns del " + name_);
  }

  // Runs the flush in a child that has joined the namespace; its result, or -100 on trouble.
  int FlushInNamespace() {
    int report[2];
    if (::pipe(report) != 0) return -100;
    const pid_t child = ::fork();
    if (child == 0) {
      ::alarm(20);
      const int ns = ::open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
      int result = -100;
      if (ns >= 0 && ::setns(ns, CLONE_NEWNET) == 0) result = FlushArpCache();
      ::_exit(::write(report[1], &result, sizeof result) == sizeof result ? 0 : 1);
    }
    ::close(report[1]);
    int result = -100;
    pollfd ready{report[0], POLLIN, 0};
    if (::poll(&ready, 1, 10000) != 1 || ::read(report[0], &result, sizeof result) != sizeof result) {
      ::kill(child, SIGKILL);
    }
    ::close(report[0]);
    ::waitpid(child, nullptr, 0);
    return result;
  }

  std::string Table() { return Output("ip -n " + name_ + " -4 neigh show nud all"); }

  std::string name_;
  bool created_ = false;
};

TEST_F(ArpFlushNamespaceTest, DeletesEveryEntryButPermanentAndNoArp) {
  const std::string before = Table();
  ASSERT_NE(before.find("192.0.2.2 "), std::string::npos) << before;
  ASSERT_NE(before.find("192.0.2.5 "), std::string::npos) << before;

  EXPECT_EQ(FlushInNamespace(), 3);
  const std::string after = Table();
  EXPECT_EQ(after.find("192.0.2.2 "), std::string::npos) << after;
  EXPECT_EQ(after.find("192.0.2.5 "), std::string::npos) << after;
  EXPECT_EQ(after.find("192.0.2.6 "), std::string::npos) << after;
  EXPECT_NE(after.find("192.0.2.3 dev swf0 lladdr 02:00:00:00:00:03 PERMANENT"), std::string::npos)
      << after;
  EXPECT_NE(after.find("192.0.2.4 dev swf0 lladdr 02:00:00:00:00:04 NOARP"), std::string::npos)
      << after;
  // Only the ARP cache: the IPv6 neighbour stays.
  EXPECT_NE(Output("ip -n " + name_ + " -6 neigh show").find("2001:db8::2"), std::string::npos);

  EXPECT_EQ(FlushInNamespace(), 0);  // nothing left to delete
}

}  // namespace
}  // namespace stampwright
