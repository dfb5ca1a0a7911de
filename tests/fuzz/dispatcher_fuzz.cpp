// Received frames into the confirmation dispatcher: a station on a virtual adapter, with the
// transfer registers and the dispatcher's state chosen from the first input bytes, takes up to
// eight frames cut from the rest of the input, one dispatch each.
//
// Input: 6 bytes of set-up, then frames, each as [stamp][length, 2 bytes LE][bytes]. Stamp bits
// make the frame one the dispatcher acts on (our adapter as destination, ethertype 0x88E1, the
// confirmation type of the pending request, the unit being programmed as source), so that the
// fuzzer spends its time in the handlers rather than in the frame selection.

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "support/station_harness.h"
#include "fuzz_input.h"
#include "protocol/confirmations.h"
#include "station/dispatcher.h"
#include "transport/adapter_set.h"
#include "transport/frame_exchange.h"

namespace stampwright::fuzz {
namespace {

using station_test::kAdapter0;
using station_test::kUnitMac;
using station_test::StationHarness;

constexpr int kMaxFrames = 8;
constexpr size_t kMaxFrameBytes = 1600;  // past the 1500 a receive slot holds

constexpr std::array<uint16_t, 4> kRequests = {kVsVerQueryReq, kVsWrModReq, kVsRdModReq,
                                               kVsModCommitReq};

uint32_t ChooseOffset(InputReader& in) {
  const uint8_t how = in.Byte();
  switch (how % 4) {
    case 0: return 0;
    case 1: return static_cast<uint32_t>(kChunkSize) * (how / 4 % 8);
    case 2: return static_cast<uint32_t>(kModuleSize);
    default: return in.Le32();
  }
}

void Stamp(uint8_t stamp, uint32_t pending, std::vector<uint8_t>& frame) {
  if (frame.size() < 17) frame.resize(17, 0);
  if (stamp & 0x01) kAdapter0.CopyTo(frame.data());
  if (stamp & 0x02) {
    frame[12] = 0x88;
    frame[13] = 0xE1;
  }
  if (stamp & 0x04) StoreLe16(frame.data() + 15, static_cast<uint16_t>(pending + 1));
  if (stamp & 0x08) kUnitMac.CopyTo(frame.data() + 6);
}

bool HasNul(const char* text, size_t size) { return std::memchr(text, 0, size) != nullptr; }

void Run(InputReader& in) {
  auto h = std::make_unique<StationHarness>();
  h->AddAdapter("eth0", kAdapter0);
  StationCore& station = h->station;
  Require(OpenAllAdapters(station.adapters) == 1 && station.adapters.AdapterCount == 1, "open");

  const uint8_t request = in.Byte();
  const uint8_t flags = in.Byte();
  const uint16_t pending =
      request < 200 ? kRequests[request % kRequests.size()] : static_cast<uint16_t>(in.Le16());
  station.registers.PendingRequestType = pending;
  station.registers.WriteTransferOffset = ChooseOffset(in);
  station.registers.ReadTransferOffset = ChooseOffset(in);
  station.AutoReadDone = flags & 0x01;
  station.CommitConfirmed = (flags >> 1) & 0x01;
  station.VersionAnswered[0] = (flags >> 2) & 0x01;
  if (flags & 0x08) station.summaries[0].AdapterMac = kAdapter0;
  if (flags & 0x10) station.BurnedMac = kUnitMac;
  // The unit being programmed, so that stamp bit 0x08 makes a frame one it sent.
  station.adapters.records[0].DeviceMac = kUnitMac;
  station.registers.PendingChunkLength = (flags & 0x20) ? 696 : static_cast<uint32_t>(kChunkSize);

  for (int i = 0; i < kMaxFrames && !in.empty(); ++i) {
    const uint8_t stamp = in.Byte();
    const uint16_t length = static_cast<uint16_t>(in.Le16() % (kMaxFrameBytes + 1));
    const std::span<const uint8_t> bytes = in.Take(length);
    std::vector<uint8_t> frame(bytes.begin(), bytes.end());
    Stamp(stamp, station.registers.PendingRequestType, frame);
    h->driver.InjectFrame("eth0", frame, h->clock.TickCount());

    // What an outer dispatch may change, to check it changed only that. A version confirmation
    // may run the whole automatic module read nested inside it, so only the others are held to
    // the image's bounds.
    const bool nested_read_possible = station.registers.PendingRequestType == kVsVerQueryReq;
    const ParameterModule before = station.module;
    const uint32_t read_before = station.registers.ReadTransferOffset;
    const uint32_t write_before = station.registers.WriteTransferOffset;

    ReceivePacket* packet = DispatchConfirmation(station, 0);
    if (packet == nullptr) continue;  // filtered out by the adapter's program
    Require(packet->length <= kReceiveCapacity, "a received frame fits its slot");
    RearmReceiveSlot(station.adapters, packet);

    const uint32_t read_after = station.registers.ReadTransferOffset;
    if (!nested_read_possible && read_after != read_before) {
      Require(read_after > read_before && read_after <= kModuleSize,
              "an accepted read confirmation stays inside the image");
      Require(std::memcmp(before.bytes.data(), station.module.bytes.data(), read_before) == 0 &&
                  std::memcmp(before.bytes.data() + read_after,
                              station.module.bytes.data() + read_after,
                              kModuleSize - read_after) == 0,
              "module data lands only at the confirmed offset");
      const size_t copied = read_after - read_before;
      Require(copied == station.registers.PendingChunkLength,
              "a read moves by the length asked for, no more, no less");
      const FrameReader reader(frame.data(), std::min(frame.size(), size_t{kReceiveCapacity}));
      const std::optional<ReadConfirmation> parsed = ParseReadConfirmation(reader);
      Require(parsed && parsed->data_complete && parsed->data.size() == copied,
              "module data comes from inside the received frame");
      Require(std::memcmp(station.module.bytes.data() + read_before, parsed->data.data(),
                          copied) == 0,
              "module data is the frame's data");
    } else if (!nested_read_possible) {
      Require(before.bytes == station.module.bytes, "a refused frame leaves the image alone");
    }
    const uint32_t write_after = station.registers.WriteTransferOffset;
    if (!nested_read_possible && write_after != write_before) {
      Require(write_after - write_before == station.registers.PendingChunkLength,
              "a write moves by the length of the chunk sent, no more, no less");
    }
    for (const AdapterRecord& record : station.adapters.records) {
      Require(HasNul(record.FirmwareVersion, kVersionTextBufferSize),
              "the firmware version keeps its NUL within 80 bytes");
    }
    Require(h->page.open_modals() == 0, "every box is closed again");
  }
}

}  // namespace
}  // namespace stampwright::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  stampwright::fuzz::InputReader in(data, size);
  stampwright::fuzz::Run(in);
  return 0;
}
