#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace stampwright {

// A capture file in the pcapng format, written block by block with one write(2) per block and
// no buffering of our own, so that a crash loses at most the frame being written. Little-endian,
// one interface description per adapter name (with its if_name and a microsecond if_tsresol),
// one enhanced packet block per frame with its direction in epb_flags.
class PcapngFile {
 public:
  enum class Direction : uint32_t { kInbound = 1, kOutbound = 2 };

  // Opens path for appending (creating it when missing) and starts a new section: an existing
  // capture keeps what it holds. A file that is not empty and does not start with a pcapng
  // section is refused, as is anything but a regular file. nullptr and *error on failure.
  static std::unique_ptr<PcapngFile> Open(const std::string& path, std::string* error);

  PcapngFile(const PcapngFile&) = delete;
  PcapngFile& operator=(const PcapngFile&) = delete;
  ~PcapngFile();

  // The interface id of the adapter name in this section; its description is written on first use.
  uint32_t InterfaceId(const std::string& name);

  // One frame, stamped with microseconds since the epoch. False once a write has failed; the
  // capture then stops and Error() says why.
  bool WriteFrame(uint32_t interface_id, uint64_t microseconds, const uint8_t* frame,
                  size_t length, Direction direction);

  const std::string& Error() const { return error_; }
  const std::string& path() const { return path_; }

 private:
  PcapngFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  bool WriteBlock();

  int fd_;
  std::string path_;
  std::string error_;
  std::map<std::string, uint32_t> interfaces_;
  std::vector<uint8_t> block_;  // the block being built; its capacity is kept between frames
};

}  // namespace stampwright
