#include "transport/capturing_driver.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "base/byte_order.h"

namespace stampwright {
namespace {

constexpr size_t kEtherTypeOffset = 12;
constexpr uint16_t kEtherTypeManagement = 0x88E1;

bool IsManagementFrame(const uint8_t* frame, size_t length) {
  return frame != nullptr && length >= kEtherTypeOffset + 2 &&
         LoadBe16(frame + kEtherTypeOffset) == kEtherTypeManagement;
}

uint64_t WallClockMicroseconds() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(now).count());
}

}  // namespace

PacketDriver::Handle CapturingDriver::OpenAdapter(const std::string& name) {
  const Handle handle = inner_.OpenAdapter(name);
  if (handle != kInvalidHandle) interface_of_[handle] = capture_.InterfaceId(name);
  return handle;
}

void CapturingDriver::CloseAdapter(Handle handle) {
  interface_of_.erase(handle);
  inner_.CloseAdapter(handle);
}

bool CapturingDriver::SendPacket(Handle handle, const uint8_t* frame, size_t length) {
  const bool sent = inner_.SendPacket(handle, frame, length);
  if (sent) Capture(handle, frame, length, PcapngFile::Direction::kOutbound);
  return sent;
}

size_t CapturingDriver::ReceivePacket(Handle handle, uint8_t* buffer, size_t capacity) {
  if (buffer == nullptr) return 0;
  const size_t length = inner_.ReceivePacket(handle, frame_.data(), frame_.size());
  if (length == 0) return 0;
  Capture(handle, frame_.data(), length, PcapngFile::Direction::kInbound);
  const size_t stored = std::min(length, capacity);
  std::memcpy(buffer, frame_.data(), stored);
  return stored;
}

std::string CapturingDriver::Diagnostic() const {
  std::string inner = inner_.Diagnostic();
  return inner.empty() ? capture_.Error() : inner;
}

void CapturingDriver::Capture(Handle handle, const uint8_t* frame, size_t length,
                              PcapngFile::Direction direction) {
  if (!IsManagementFrame(frame, length)) return;
  const auto found = interface_of_.find(handle);
  if (found == interface_of_.end()) return;
  capture_.WriteFrame(found->second, WallClockMicroseconds(), frame, length, direction);
}

}  // namespace stampwright
