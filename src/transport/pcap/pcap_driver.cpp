#include "transport/pcap/pcap_driver.h"

#include <net/if.h>
#include <net/if_arp.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <optional>
#include <string_view>

namespace stampwright {
namespace {

constexpr int kSnapLength = 1518;  // a whole Ethernet frame, with room for a VLAN tag
constexpr int kDrainLimit = 4096;  // frames dropped per call while reception is switched off
constexpr int kUnparkDrainLimit = 65536;  // frames dropped when a parked capture is taken back
constexpr size_t kMaxPolled = 64;

// Capture sources that libpcap lists but that are no Ethernet adapter.
constexpr std::array<std::string_view, 8> kPseudoDevicePrefixes = {
    "bluetooth", "dbus", "nflog", "nfqueue", "usbmon", "dag", "vcan", "can"};

bool IsPseudoDevice(std::string_view name) {
  if (name == "any") return true;
  return std::any_of(kPseudoDevicePrefixes.begin(), kPseudoDevicePrefixes.end(),
                     [&](std::string_view prefix) { return name.starts_with(prefix); });
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::optional<MacAddress> ReadAddressFromSysfs(const std::string& name) {
  if (name.find('/') != std::string::npos || name == "." || name == "..") return std::nullopt;
  std::ifstream type_file("/sys/class/net/" + name + "/type");
  int type = -1;
  if (!(type_file >> type) || type != ARPHRD_ETHER) return std::nullopt;
  std::ifstream address_file("/sys/class/net/" + name + "/address");
  std::string text;
  if (!(address_file >> text)) return std::nullopt;
  return MacAddress::Parse(text);
}

// The interface's Ethernet address, or nothing when it has none (not an Ethernet interface).
std::optional<MacAddress> ReadEthernetAddress(const std::string& name) {
  if (name.empty() || name.size() >= IFNAMSIZ) return std::nullopt;
  FileDescriptor socket_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (socket_fd.get() < 0) return ReadAddressFromSysfs(name);
  ifreq request{};
  std::memcpy(request.ifr_name, name.data(), name.size());
  if (::ioctl(socket_fd.get(), SIOCGIFHWADDR, &request) != 0) return std::nullopt;
  if (request.ifr_hwaddr.sa_family != ARPHRD_ETHER) return std::nullopt;
  return MacAddress::FromBytes(reinterpret_cast<const uint8_t*>(request.ifr_hwaddr.sa_data));
}

bool IsPermissionError(int status, const char* text) {
  if (status == PCAP_ERROR_PERM_DENIED) return true;
  const std::string_view message(text != nullptr ? text : "");
  return message.find("Operation not permitted") != std::string_view::npos ||
         message.find("Permission denied") != std::string_view::npos;
}

}  // namespace

void PcapHandle::Closer::operator()(pcap* handle) const { pcap_close(handle); }

PcapDriver::PcapDriver(std::vector<std::string> only_interfaces)
    : only_interfaces_(std::move(only_interfaces)) {}

std::string PcapDriver::PermissionAdvice() {
  std::array<char, 4096> path{};
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  const std::string binary = length > 0 ? std::string(path.data(), static_cast<size_t>(length))
                                        : std::string("<path>");
  return "run as root or grant the binary the capabilities: setcap cap_net_raw,cap_net_admin+eip " +
         binary;
}

void PcapDriver::Report(std::string text, bool permission) {
  // The permission text names what the operator must do; a later, lesser error must not hide it.
  if (permission_reported_ && !permission) return;
  diagnostic_ = std::move(text);
  permission_reported_ = permission_reported_ || permission;
}

void PcapDriver::SetReuseHandles(bool reuse) {
  reuse_handles_ = reuse;
  if (!reuse) parked_.clear();
}

std::optional<PcapDriver::Open> PcapDriver::Unpark(const std::string& name) {
  auto it = parked_.find(name);
  if (it == parked_.end()) return std::nullopt;
  Open open = std::move(it->second);
  parked_.erase(it);
  // An interface unplugged and plugged in again under the same name is another interface.
  const unsigned index = ::if_nametoindex(name.c_str());
  if (index == 0 || index != open.interface_index) return std::nullopt;
  for (int frames = 0; frames < kUnparkDrainLimit; ++frames) {
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int status = pcap_next_ex(open.capture.get(), &header, &data);
    if (status == 0) break;
    if (status < 0) return std::nullopt;  // the capture broke while parked: open a fresh one
  }
  open.accepting = true;
  return open;
}

PcapDriver::Open* PcapDriver::Find(Handle handle) {
  auto it = open_.find(handle);
  return it == open_.end() ? nullptr : &it->second;
}

std::optional<std::vector<std::string>> PcapDriver::EnumerateAdapters() {
  diagnostic_.clear();
  permission_reported_ = false;
  char error[PCAP_ERRBUF_SIZE] = {};
  pcap_if_t* devices = nullptr;
  if (pcap_findalldevs(&devices, error) != 0) {
    Report(std::string("cannot list the network adapters: ") + error);
    return std::nullopt;
  }
  std::vector<std::string> names;
  for (const pcap_if_t* device = devices; device != nullptr; device = device->next) {
    if (device->name == nullptr) continue;
    const std::string name = device->name;
    if (!only_interfaces_.empty() &&
        std::find(only_interfaces_.begin(), only_interfaces_.end(), name) == only_interfaces_.end()) {
      continue;
    }
    if ((device->flags & PCAP_IF_LOOPBACK) != 0 || (device->flags & PCAP_IF_UP) == 0) continue;
    if (IsPseudoDevice(name)) continue;
    const auto address = ReadEthernetAddress(name);
    if (!address || address->IsZero()) continue;
    names.push_back(name);
  }
  pcap_freealldevs(devices);
  std::erase_if(parked_, [&names](const auto& entry) {
    return std::find(names.begin(), names.end(), entry.first) == names.end();
  });
  return names;
}

PacketDriver::Handle PcapDriver::OpenAdapter(const std::string& name) {
  if (std::optional<Open> parked = Unpark(name)) {
    const Handle handle = next_handle_++;
    open_.emplace(handle, std::move(*parked));
    return handle;
  }
  char error[PCAP_ERRBUF_SIZE] = {};
  PcapHandle capture(pcap_create(name.c_str(), error));
  if (!capture) {
    Report(name + ": " + error);
    return kInvalidHandle;
  }
  pcap* p = capture.get();
  pcap_set_snaplen(p, kSnapLength);
  pcap_set_promisc(p, 1);
  pcap_set_immediate_mode(p, 1);  // a timed wait must see each frame as it comes
  const int status = pcap_activate(p);
  if (status < 0) {
    const char* text = pcap_geterr(p);
    if (IsPermissionError(status, text)) {
      Report("no permission to capture on " + name + ": " + PermissionAdvice(), true);
    } else {
      Report(name + ": " + pcap_statustostr(status) + " (" + text + ")");
    }
    return kInvalidHandle;
  }
  if (pcap_datalink(p) != DLT_EN10MB) {
    Report(name + ": not an Ethernet adapter");
    return kInvalidHandle;
  }
  // The station must never read back its own requests.
  if (pcap_setdirection(p, PCAP_D_IN) != 0) {
    Report(name + ": cannot capture inbound frames only (" + pcap_geterr(p) + ")");
    return kInvalidHandle;
  }
  if (pcap_setnonblock(p, 1, error) != 0) {
    Report(name + ": " + error);
    return kInvalidHandle;
  }
  const int fd = pcap_get_selectable_fd(p);
  if (fd < 0) {
    Report(name + ": no selectable descriptor to wait on");
    return kInvalidHandle;
  }
  const Handle handle = next_handle_++;
  open_.emplace(handle, Open{name, std::move(capture), fd, true, ::if_nametoindex(name.c_str()), {}});
  return handle;
}

void PcapDriver::CloseAdapter(Handle handle) {
  auto it = open_.find(handle);
  if (it == open_.end()) return;
  if (reuse_handles_ && it->second.interface_index != 0) {
    it->second.accepting = false;
    parked_.insert_or_assign(it->second.name, std::move(it->second));
  }
  open_.erase(it);
}

bool PcapDriver::QueryCurrentAddress(Handle handle, MacAddress* address) {
  const Open* open = Find(handle);
  if (open == nullptr || address == nullptr) return false;
  const auto current = ReadEthernetAddress(open->name);
  if (!current) return false;
  *address = *current;
  return true;
}

bool PcapDriver::SetPacketFilter(Handle handle, uint32_t filter) {
  Open* open = Find(handle);
  if (open == nullptr) return false;
  open->accepting = filter == kPacketFilterPromiscuous;
  return true;
}

bool PcapDriver::SetBpfProgram(Handle handle, std::span<const BpfInstruction> program) {
  Open* open = Find(handle);
  if (open == nullptr || program.empty()) return false;
  const bool same = open->program.size() == program.size() &&
                    std::equal(program.begin(), program.end(), open->program.begin(),
                               [](const BpfInstruction& a, const BpfInstruction& b) {
                                 return a.code == b.code && a.jt == b.jt && a.jf == b.jf &&
                                        a.k == b.k;
                               });
  if (same) return true;
  std::vector<bpf_insn> instructions;
  instructions.reserve(program.size());
  for (const BpfInstruction& instruction : program) {
    instructions.push_back(bpf_insn{instruction.code, instruction.jt, instruction.jf, instruction.k});
  }
  bpf_program compiled{static_cast<u_int>(instructions.size()), instructions.data()};
  if (pcap_setfilter(open->capture.get(), &compiled) != 0) {
    Report(open->name + ": cannot install the frame filter (" + pcap_geterr(open->capture.get()) + ")");
    open->program.clear();
    return false;
  }
  open->program.assign(program.begin(), program.end());
  return true;
}

bool PcapDriver::SendPacket(Handle handle, const uint8_t* frame, size_t length) {
  Open* open = Find(handle);
  if (open == nullptr || frame == nullptr) return false;
  const int sent = pcap_inject(open->capture.get(), frame, length);
  if (sent < 0) {
    const char* text = pcap_geterr(open->capture.get());
    if (IsPermissionError(0, text)) {
      Report("no permission to send on " + open->name + ": " + PermissionAdvice(), true);
    } else {
      Report(open->name + ": cannot send (" + text + ")");
    }
    return false;
  }
  return static_cast<size_t>(sent) == length;
}

size_t PcapDriver::ReceivePacket(Handle handle, uint8_t* buffer, size_t capacity) {
  Open* open = Find(handle);
  if (open == nullptr || buffer == nullptr) return 0;
  for (int frames = 0; frames < kDrainLimit; ++frames) {
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int status = pcap_next_ex(open->capture.get(), &header, &data);
    if (status == 0) return 0;
    if (status < 0) {
      Report(open->name + ": " + pcap_geterr(open->capture.get()));
      return 0;
    }
    if (!open->accepting || header->caplen == 0) continue;
    const size_t stored = std::min<size_t>(header->caplen, capacity);
    std::memcpy(buffer, data, stored);
    return stored;
  }
  return 0;
}

bool PcapDriver::WaitReadable(Handle handle, uint32_t timeout_ms) {
  const Open* open = Find(handle);
  if (open == nullptr) return false;
  pollfd descriptor{open->fd, POLLIN, 0};
  const int timeout = static_cast<int>(std::min<uint32_t>(timeout_ms, INT_MAX));
  const int ready = ::poll(&descriptor, 1, timeout);
  return ready > 0;
}

bool PcapDriver::WaitReadableAny(std::span<const Handle> handles, uint32_t timeout_ms) {
  std::array<pollfd, kMaxPolled> descriptors{};
  size_t count = 0;
  for (const Handle handle : handles) {
    const Open* open = Find(handle);
    if (open == nullptr || count == descriptors.size()) continue;
    descriptors[count++] = pollfd{open->fd, POLLIN, 0};
  }
  if (count == 0) return false;
  const int timeout = static_cast<int>(std::min<uint32_t>(timeout_ms, INT_MAX));
  return ::poll(descriptors.data(), count, timeout) > 0;
}

}  // namespace stampwright
