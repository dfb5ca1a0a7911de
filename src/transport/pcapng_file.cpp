#include "transport/pcapng_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace stampwright {
namespace {

constexpr uint32_t kSectionHeaderType = 0x0A0D0D0A;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint32_t kInterfaceDescriptionType = 0x00000001;
constexpr uint32_t kEnhancedPacketType = 0x00000006;
constexpr uint16_t kLinkTypeEthernet = 1;
constexpr uint32_t kSnapLength = 65535;
constexpr uint16_t kOptionEnd = 0;
constexpr uint16_t kOptionShbUserApplication = 4;
constexpr uint16_t kOptionIfName = 2;
constexpr uint16_t kOptionIfTsResolution = 9;
constexpr uint16_t kOptionEpbFlags = 2;
constexpr uint8_t kMicroseconds = 6;  // if_tsresol: 10^-6 s
constexpr size_t kBlockReserve = 2048;

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}
void PutPadded(std::vector<uint8_t>& out, const uint8_t* data, size_t length) {
  out.insert(out.end(), data, data + length);
  while (out.size() % 4 != 0) out.push_back(0);
}
void PutOption(std::vector<uint8_t>& out, uint16_t code, const void* value, size_t length) {
  Put16(out, code);
  Put16(out, static_cast<uint16_t>(length));
  PutPadded(out, static_cast<const uint8_t*>(value), length);
}
void PutEndOfOptions(std::vector<uint8_t>& out) {
  Put16(out, kOptionEnd);
  Put16(out, 0);
}

// Type and a length placeholder; FinishBlock fills the length at both ends.
void StartBlock(std::vector<uint8_t>& out, uint32_t type) {
  out.clear();
  Put32(out, type);
  Put32(out, 0);
}
void FinishBlock(std::vector<uint8_t>& out) {
  const auto total = static_cast<uint32_t>(out.size() + 4);
  Put32(out, total);
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(total >> (8 * i));
}

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

std::unique_ptr<PcapngFile> PcapngFile::Open(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) {
    *error = SystemError("cannot open the capture file", path);
    return nullptr;
  }
  std::unique_ptr<PcapngFile> file(new PcapngFile(fd, path));
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    *error = "the capture file " + path + " is not a regular file";
    return nullptr;
  }
  if (status.st_size > 0) {
    uint8_t head[4] = {};
    if (::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head) ||
        (head[0] | head[1] << 8 | head[2] << 16 | static_cast<uint32_t>(head[3]) << 24) !=
            kSectionHeaderType) {
      *error = "the capture file " + path + " holds something else than a pcapng capture";
      return nullptr;
    }
  }
  std::vector<uint8_t>& out = file->block_;
  out.reserve(kBlockReserve);
  StartBlock(out, kSectionHeaderType);
  Put32(out, kByteOrderMagic);
  Put16(out, 1);  // version 1.0
  Put16(out, 0);
  Put32(out, 0xFFFFFFFF);  // section length not given
  Put32(out, 0xFFFFFFFF);
  static constexpr char kApplication[] = "stampwright";
  PutOption(out, kOptionShbUserApplication, kApplication, sizeof kApplication - 1);
  PutEndOfOptions(out);
  FinishBlock(out);
  if (!file->WriteBlock()) {
    *error = file->error_;
    return nullptr;
  }
  return file;
}

PcapngFile::~PcapngFile() {
  if (fd_ >= 0) ::close(fd_);
}

uint32_t PcapngFile::InterfaceId(const std::string& name) {
  const auto found = interfaces_.find(name);
  if (found != interfaces_.end()) return found->second;
  const auto id = static_cast<uint32_t>(interfaces_.size());
  interfaces_.emplace(name, id);
  std::vector<uint8_t>& out = block_;
  StartBlock(out, kInterfaceDescriptionType);
  Put16(out, kLinkTypeEthernet);
  Put16(out, 0);
  Put32(out, kSnapLength);
  PutOption(out, kOptionIfName, name.data(), name.size());
  PutOption(out, kOptionIfTsResolution, &kMicroseconds, 1);
  PutEndOfOptions(out);
  FinishBlock(out);
  WriteBlock();
  return id;
}

bool PcapngFile::WriteFrame(uint32_t interface_id, uint64_t microseconds, const uint8_t* frame,
                            size_t length, Direction direction) {
  if (!error_.empty()) return false;
  std::vector<uint8_t>& out = block_;
  StartBlock(out, kEnhancedPacketType);
  Put32(out, interface_id);
  Put32(out, static_cast<uint32_t>(microseconds >> 32));
  Put32(out, static_cast<uint32_t>(microseconds));
  Put32(out, static_cast<uint32_t>(length));
  Put32(out, static_cast<uint32_t>(length));
  PutPadded(out, frame, length);
  uint8_t flags[4] = {};
  flags[0] = static_cast<uint8_t>(direction);
  PutOption(out, kOptionEpbFlags, flags, sizeof flags);
  PutEndOfOptions(out);
  FinishBlock(out);
  return WriteBlock();
}

bool PcapngFile::WriteBlock() {
  if (!error_.empty()) return false;
  size_t done = 0;
  while (done < block_.size()) {
    const ssize_t n = ::write(fd_, block_.data() + done, block_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = SystemError("cannot write the capture file", path_);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace stampwright
