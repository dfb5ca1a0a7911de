#include "transport/arp_flush.h"

#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <utility>

namespace stampwright {
namespace {

// Netlink headers are in the host's byte order.
constexpr size_t kHeaderSize = 16;      // nlmsghdr
constexpr size_t kNeighbourSize = 12;   // ndmsg
constexpr size_t kAttributeHeader = 4;  // rtattr
constexpr size_t kErrorSize = 4;        // the error code that opens an nlmsgerr
constexpr size_t kDumpRequestSize = kHeaderSize + kNeighbourSize;
constexpr size_t kDeleteRequestSize = kHeaderSize + kNeighbourSize + kAttributeHeader + 4;
static_assert(kHeaderSize == sizeof(nlmsghdr) && kNeighbourSize == sizeof(ndmsg));
static_assert(kHeaderSize == NLMSG_HDRLEN && kAttributeHeader == RTA_LENGTH(0));

constexpr size_t kReceiveBufferSize = 64 * 1024;
// The neighbour table holds about a thousand entries by default; this bounds what one flush keeps.
constexpr size_t kMaxEntries = 65536;
constexpr auto kFlushTimeLimit = std::chrono::seconds(2);
constexpr long kReceiveTimeoutMicroseconds = 200'000;
constexpr uint32_t kDumpSequence = 1;

uint16_t Get16(const uint8_t* p) {
  uint16_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}
uint32_t Get32(const uint8_t* p) {
  uint32_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}
void Put16(uint8_t* p, uint16_t value) { std::memcpy(p, &value, sizeof value); }
void Put32(uint8_t* p, uint32_t value) { std::memcpy(p, &value, sizeof value); }

size_t Align4(size_t length) { return (length + 3) & ~size_t{3}; }

void PutHeader(uint8_t* p, size_t length, uint16_t type, uint16_t flags, uint32_t sequence) {
  Put32(p + 0, static_cast<uint32_t>(length));
  Put16(p + 4, type);
  Put16(p + 6, flags);
  Put32(p + 8, sequence);
  Put32(p + 12, 0);  // port id: the kernel fills in ours
}

class Socket {
 public:
  Socket() : fd_(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

bool Send(int fd, const uint8_t* data, size_t size) {
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  ssize_t sent;
  do {
    sent = ::sendto(fd, data, size, 0, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(size);
}

// One datagram from the kernel, or 0 bytes on timeout or error. Datagrams from other senders
// are dropped.
size_t Receive(int fd, std::vector<uint8_t>& buffer) {
  for (;;) {
    sockaddr_nl from{};
    socklen_t from_size = sizeof from;
    const ssize_t got = ::recvfrom(fd, buffer.data(), buffer.size(), 0,
                                   reinterpret_cast<sockaddr*>(&from), &from_size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return 0;
    if (from.nl_pid != 0) continue;
    return std::min(static_cast<size_t>(got), buffer.size());
  }
}

// Waits for the acknowledgement of the request with this sequence number; true when the kernel
// reports success.
bool AwaitAck(int fd, uint32_t sequence, std::vector<uint8_t>& buffer,
              std::chrono::steady_clock::time_point deadline) {
  while (std::chrono::steady_clock::now() < deadline) {
    const size_t size = Receive(fd, buffer);
    if (size == 0) return false;
    for (size_t offset = 0; size - offset >= kHeaderSize;) {
      const uint8_t* message = buffer.data() + offset;
      const size_t length = Get32(message);
      if (length < kHeaderSize || length > size - offset) break;
      if (Get16(message + 4) == NLMSG_ERROR && Get32(message + 8) == sequence) {
        if (length < kHeaderSize + kErrorSize) return false;
        return Get32(message + kHeaderSize) == 0;
      }
      offset += std::min(Align4(length), size - offset);
    }
  }
  return false;
}

// The IPv4 address attribute of a neighbour message of `length` bytes.
std::optional<std::array<uint8_t, 4>> FindDestination(const uint8_t* message, size_t length) {
  size_t at = Align4(kHeaderSize + kNeighbourSize);
  while (at < length && length - at >= kAttributeHeader) {
    const uint8_t* attribute = message + at;
    const size_t attribute_length = Get16(attribute);
    if (attribute_length < kAttributeHeader || attribute_length > length - at) break;
    const uint16_t type = Get16(attribute + 2) & NLA_TYPE_MASK;
    if (type == NDA_DST) {
      if (attribute_length != kAttributeHeader + 4) return std::nullopt;
      std::array<uint8_t, 4> address;
      std::memcpy(address.data(), attribute + kAttributeHeader, address.size());
      return address;
    }
    at += Align4(attribute_length);
  }
  return std::nullopt;
}

}  // namespace

DumpProgress ParseNeighbourDump(const uint8_t* data, size_t size, uint32_t sequence,
                                std::vector<ArpEntry>& entries) {
  for (size_t offset = 0; size - offset >= kHeaderSize;) {
    const uint8_t* message = data + offset;
    const size_t length = Get32(message);
    if (length < kHeaderSize || length > size - offset) break;
    offset += std::min(Align4(length), size - offset);
    if (Get32(message + 8) != sequence) continue;

    const uint16_t type = Get16(message + 4);
    if (type == NLMSG_DONE) return DumpProgress::kDone;
    if (type == NLMSG_ERROR) return DumpProgress::kFailed;
    if (type != RTM_NEWNEIGH || length < kHeaderSize + kNeighbourSize) continue;

    const uint8_t* neighbour = message + kHeaderSize;
    const uint8_t family = neighbour[0];
    int32_t interface_index;
    std::memcpy(&interface_index, neighbour + 4, sizeof interface_index);
    const uint16_t state = Get16(neighbour + 8);
    const uint8_t flags = neighbour[10];
    if (family != AF_INET || (state & (NUD_PERMANENT | NUD_NOARP)) != 0) continue;
    if ((flags & NTF_PROXY) != 0) continue;

    if (std::optional<std::array<uint8_t, 4>> address = FindDestination(message, length)) {
      if (entries.size() < kMaxEntries) entries.push_back(ArpEntry{interface_index, *address});
    }
  }
  return DumpProgress::kMore;
}

int FlushArpCache() {
  const auto deadline = std::chrono::steady_clock::now() + kFlushTimeLimit;
  Socket socket;
  if (socket.get() < 0) return -1;
  timeval timeout{0, kReceiveTimeoutMicroseconds};
  ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

  uint8_t dump[kDumpRequestSize] = {};
  PutHeader(dump, sizeof dump, RTM_GETNEIGH, NLM_F_REQUEST | NLM_F_DUMP, kDumpSequence);
  dump[kHeaderSize + 0] = AF_INET;  // ndm_family; the rest of ndmsg stays zero
  if (!Send(socket.get(), dump, sizeof dump)) return -1;

  std::vector<uint8_t> buffer(kReceiveBufferSize);
  std::vector<ArpEntry> entries;
  DumpProgress progress = DumpProgress::kMore;
  while (progress == DumpProgress::kMore && std::chrono::steady_clock::now() < deadline) {
    const size_t size = Receive(socket.get(), buffer);
    if (size == 0) break;
    progress = ParseNeighbourDump(buffer.data(), size, kDumpSequence, entries);
  }
  if (progress != DumpProgress::kDone) return -1;

  int deleted = 0;
  uint32_t sequence = kDumpSequence;
  for (const ArpEntry& entry : entries) {
    if (std::chrono::steady_clock::now() >= deadline) break;
    uint8_t request[kDeleteRequestSize] = {};
    PutHeader(request, sizeof request, RTM_DELNEIGH, NLM_F_REQUEST | NLM_F_ACK, ++sequence);
    uint8_t* neighbour = request + kHeaderSize;
    neighbour[0] = AF_INET;
    std::memcpy(neighbour + 4, &entry.interface_index, sizeof entry.interface_index);
    uint8_t* attribute = neighbour + kNeighbourSize;
    Put16(attribute, static_cast<uint16_t>(kAttributeHeader + entry.address.size()));
    Put16(attribute + 2, NDA_DST);
    std::memcpy(attribute + kAttributeHeader, entry.address.data(), entry.address.size());
    if (Send(socket.get(), request, sizeof request) &&
        AwaitAck(socket.get(), sequence, buffer, deadline)) {
      ++deleted;
    }
  }
  return deleted;
}

}  // namespace stampwright
