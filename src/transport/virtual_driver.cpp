#include "transport/virtual_driver.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "transport/bpf_filter.h"

namespace stampwright {
namespace {

// Tick comparisons that stay right across a wrap of the 32-bit count.
bool Reached(uint32_t tick, uint32_t now) { return static_cast<int32_t>(now - tick) >= 0; }
bool Before(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0; }

// A hostile or confused peer must not keep a pump going for ever.
constexpr int kPumpStepLimit = 100000;

template <typename Frame>
void InsertByTime(std::deque<Frame>& queue, Frame frame) {
  auto at = std::find_if(queue.begin(), queue.end(),
                         [&](const Frame& queued) { return Before(frame.due, queued.due); });
  queue.insert(at, std::move(frame));
}

}  // namespace

VirtualDriver::VirtualDriver(Clock& clock, uint32_t latency_ms)
    : clock_(clock), latency_ms_(latency_ms) {}

void VirtualDriver::AddAdapter(const std::string& name, const MacAddress& mac) {
  Adapter adapter;
  adapter.name = name;
  adapter.mac = mac;
  adapters_.push_back(std::move(adapter));
}

VirtualDriver::Adapter* VirtualDriver::FindAdapter(const std::string& name) {
  for (Adapter& adapter : adapters_) {
    if (adapter.name == name) return &adapter;
  }
  return nullptr;
}

const VirtualDriver::Adapter* VirtualDriver::FindAdapter(const std::string& name) const {
  for (const Adapter& adapter : adapters_) {
    if (adapter.name == name) return &adapter;
  }
  return nullptr;
}

VirtualDriver::OpenHandle* VirtualDriver::FindHandle(Handle handle) {
  auto it = handles_.find(handle);
  return it == handles_.end() ? nullptr : &it->second;
}

const VirtualDriver::OpenHandle* VirtualDriver::FindHandleOf(size_t adapter) const {
  for (const auto& [handle, open] : handles_) {
    if (open.adapter == adapter) return &open;
  }
  return nullptr;
}

bool VirtualDriver::AttachPeer(const std::string& name, WirePeer* peer) {
  Adapter* adapter = FindAdapter(name);
  if (adapter == nullptr) return false;
  const auto index = static_cast<size_t>(adapter - adapters_.data());
  Pump(index);
  if (adapter->peer != peer) DetachPeer(name);
  adapter->peer = peer;
  // What the peer sent while no cable was in went nowhere.
  const uint32_t now = clock_.TickCount();
  std::vector<uint8_t> lost;
  for (int step = 0; step < kPumpStepLimit && peer != nullptr; ++step) {
    const auto due = peer->NextFrameDue();
    if (!due || !Reached(*due, now) || !peer->TakeFrame(*due, &lost)) break;
  }
  return true;
}

void VirtualDriver::DetachPeer(const std::string& name) {
  Adapter* adapter = FindAdapter(name);
  if (adapter == nullptr) return;
  Pump(static_cast<size_t>(adapter - adapters_.data()));
  adapter->peer = nullptr;
  adapter->to_peer.clear();
  std::erase_if(adapter->to_adapter, [](const TimedFrame& frame) { return frame.from_peer; });
}

void VirtualDriver::SetOpenFails(const std::string& name, bool fails) {
  if (Adapter* adapter = FindAdapter(name)) adapter->open_fails = fails;
}

void VirtualDriver::SetAdapterPresent(const std::string& name, bool present) {
  Adapter* adapter = FindAdapter(name);
  if (adapter == nullptr) return;
  adapter->gone = !present;
  if (!present) {
    const auto index = static_cast<size_t>(adapter - adapters_.data());
    for (auto& [handle, open] : handles_) {
      if (open.adapter == index) open.received.clear();
    }
  }
}

void VirtualDriver::InjectFrame(const std::string& name, std::vector<uint8_t> frame,
                                uint32_t arrival_tick) {
  if (Adapter* adapter = FindAdapter(name)) {
    InsertByTime(adapter->to_adapter, TimedFrame{arrival_tick, std::move(frame), false});
  }
}

size_t VirtualDriver::FramesSent(const std::string& name) const {
  const Adapter* adapter = FindAdapter(name);
  return adapter == nullptr ? 0 : adapter->frames_sent;
}

std::vector<std::vector<uint8_t>> VirtualDriver::SentFrames(const std::string& name) const {
  const Adapter* adapter = FindAdapter(name);
  if (adapter == nullptr) return {};
  return {adapter->sent.begin(), adapter->sent.end()};
}

std::optional<uint32_t> VirtualDriver::PacketFilterOf(const std::string& name) const {
  const Adapter* adapter = FindAdapter(name);
  if (adapter == nullptr) return std::nullopt;
  const OpenHandle* open = FindHandleOf(static_cast<size_t>(adapter - adapters_.data()));
  if (open == nullptr) return std::nullopt;
  return open->packet_filter;
}

std::optional<std::vector<BpfInstruction>> VirtualDriver::ProgramOf(const std::string& name) const {
  const Adapter* adapter = FindAdapter(name);
  if (adapter == nullptr) return std::nullopt;
  const OpenHandle* open = FindHandleOf(static_cast<size_t>(adapter - adapters_.data()));
  if (open == nullptr) return std::nullopt;
  return open->program;
}

std::optional<std::vector<std::string>> VirtualDriver::EnumerateAdapters() {
  if (enumeration_fails_) return std::nullopt;
  std::vector<std::string> names;
  for (const Adapter& adapter : adapters_) {
    if (!adapter.gone) names.push_back(adapter.name);
  }
  return names;
}

PacketDriver::Handle VirtualDriver::OpenAdapter(const std::string& name) {
  const Adapter* adapter = FindAdapter(name);
  if (adapter == nullptr || adapter->open_fails || adapter->gone) return kInvalidHandle;
  const auto index = static_cast<size_t>(adapter - adapters_.data());
  Pump(index);  // what was due before the adapter opened is not seen by it
  const Handle handle = next_handle_++;
  handles_.emplace(handle, OpenHandle{index, kPacketFilterNone, {}, {}});
  return handle;
}

void VirtualDriver::CloseAdapter(Handle handle) { handles_.erase(handle); }

bool VirtualDriver::QueryCurrentAddress(Handle handle, MacAddress* address) {
  const OpenHandle* open = FindHandle(handle);
  if (open == nullptr || address == nullptr) return false;
  *address = adapters_[open->adapter].mac;
  return true;
}

bool VirtualDriver::SetPacketFilter(Handle handle, uint32_t filter) {
  OpenHandle* open = FindHandle(handle);
  if (open == nullptr) return false;
  Pump(open->adapter);  // frames that arrived under the old filter were judged by it
  open->packet_filter = filter;
  return true;
}

bool VirtualDriver::SetBpfProgram(Handle handle, std::span<const BpfInstruction> program) {
  OpenHandle* open = FindHandle(handle);
  if (open == nullptr) return false;
  Pump(open->adapter);
  open->program.assign(program.begin(), program.end());
  return true;
}

bool VirtualDriver::SendPacket(Handle handle, const uint8_t* frame, size_t length) {
  OpenHandle* open = FindHandle(handle);
  if (open == nullptr || frame == nullptr) return false;
  const size_t index = open->adapter;
  if (adapters_[index].gone) return false;
  Pump(index);
  Adapter& adapter = adapters_[index];
  std::vector<uint8_t> bytes(frame, frame + length);
  adapter.frames_sent += 1;
  adapter.sent.push_back(bytes);
  if (adapter.sent.size() > kSentHistory) adapter.sent.pop_front();
  // An adapter never hears its own frames: they go only toward the peer.
  if (adapter.peer != nullptr) {
    InsertByTime(adapter.to_peer, TimedFrame{clock_.TickCount() + latency_ms_, std::move(bytes), true});
  }
  return true;
}

size_t VirtualDriver::ReceivePacket(Handle handle, uint8_t* buffer, size_t capacity) {
  OpenHandle* open = FindHandle(handle);
  if (open == nullptr || buffer == nullptr) return 0;
  Pump(open->adapter);
  if (open->received.empty()) return 0;
  const std::vector<uint8_t> frame = std::move(open->received.front());
  open->received.pop_front();
  const size_t stored = std::min(frame.size(), capacity);
  std::memcpy(buffer, frame.data(), stored);
  return stored;
}

bool VirtualDriver::WaitReadable(Handle handle, uint32_t timeout_ms) {
  if (FindHandle(handle) == nullptr) {
    clock_.Sleep(timeout_ms);
    return false;
  }
  const uint32_t deadline = clock_.TickCount() + timeout_ms;
  for (;;) {
    // Looked up again each time: a peer's OnFrame cannot close it, but stay safe if it ever does.
    OpenHandle* open = FindHandle(handle);
    if (open == nullptr) return false;
    Pump(open->adapter);
    if (!open->received.empty()) return true;
    const uint32_t now = clock_.TickCount();
    if (Reached(deadline, now)) return false;
    uint32_t step = deadline - now;
    if (const auto next = NextEvent(open->adapter); next && Before(*next, deadline)) {
      step = Reached(*next, now) ? 1 : *next - now;  // a due event the pump could not move: creep
    }
    clock_.Sleep(step);
  }
}

std::optional<uint32_t> VirtualDriver::NextEvent(size_t index) const {
  const Adapter& adapter = adapters_[index];
  std::optional<uint32_t> next;
  auto consider = [&](uint32_t tick) {
    if (!next || Before(tick, *next)) next = tick;
  };
  if (!adapter.to_peer.empty()) consider(adapter.to_peer.front().due);
  if (!adapter.to_adapter.empty()) consider(adapter.to_adapter.front().due);
  if (adapter.peer != nullptr) {
    if (const auto due = adapter.peer->NextFrameDue()) consider(*due);
  }
  return next;
}

void VirtualDriver::Pump(size_t index) {
  Adapter& adapter = adapters_[index];
  const uint32_t now = clock_.TickCount();
  // The peer sees the station's frames and sends its own in time order.
  for (int step = 0; step < kPumpStepLimit; ++step) {
    std::optional<uint32_t> to_peer;
    if (!adapter.to_peer.empty() && Reached(adapter.to_peer.front().due, now)) {
      to_peer = adapter.to_peer.front().due;
    }
    std::optional<uint32_t> from_peer;
    if (adapter.peer != nullptr) {
      from_peer = adapter.peer->NextFrameDue();
      if (from_peer && !Reached(*from_peer, now)) from_peer.reset();
    }
    if (!to_peer && !from_peer) break;
    if (to_peer && (!from_peer || !Before(*from_peer, *to_peer))) {
      TimedFrame frame = std::move(adapter.to_peer.front());
      adapter.to_peer.pop_front();
      if (adapter.peer != nullptr) adapter.peer->OnFrame(frame.bytes.data(), frame.bytes.size(), frame.due);
    } else {
      std::vector<uint8_t> bytes;
      if (!adapter.peer->TakeFrame(*from_peer, &bytes)) break;
      InsertByTime(adapter.to_adapter, TimedFrame{*from_peer + latency_ms_, std::move(bytes), true});
    }
  }
  while (!adapter.to_adapter.empty() && Reached(adapter.to_adapter.front().due, now)) {
    const TimedFrame frame = std::move(adapter.to_adapter.front());
    adapter.to_adapter.pop_front();
    Deliver(index, frame.bytes);
  }
}

bool VirtualDriver::WaitReadableAny(std::span<const Handle> handles, uint32_t timeout_ms) {
  const uint32_t deadline = clock_.TickCount() + timeout_ms;
  for (;;) {
    std::optional<uint32_t> next;
    bool any_open = false;
    for (const Handle handle : handles) {
      OpenHandle* open = FindHandle(handle);
      if (open == nullptr) continue;
      any_open = true;
      Pump(open->adapter);
      if (!open->received.empty()) return true;
      if (const auto due = NextEvent(open->adapter); due && (!next || Before(*due, *next))) {
        next = due;
      }
    }
    const uint32_t now = clock_.TickCount();
    if (Reached(deadline, now)) return false;
    uint32_t step = deadline - now;
    if (any_open && next && Before(*next, deadline)) step = Reached(*next, now) ? 1 : *next - now;
    clock_.Sleep(step);
  }
}

void VirtualDriver::Deliver(size_t index, const std::vector<uint8_t>& frame) {
  if (frame.empty() || adapters_[index].gone) return;
  for (auto& [handle, open] : handles_) {
    if (open.adapter != index || open.packet_filter != kPacketFilterPromiscuous) continue;
    uint32_t keep = static_cast<uint32_t>(std::min<size_t>(frame.size(), UINT32_MAX));
    if (!open.program.empty()) keep = std::min(keep, RunBpfProgram(open.program, frame.data(), frame.size()));
    if (keep == 0 || open.received.size() >= kReceiveQueueLimit) continue;
    open.received.emplace_back(frame.begin(), frame.begin() + keep);
  }
}

}  // namespace stampwright
