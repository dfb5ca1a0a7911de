#include "station/dispatcher.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>

#include "station/attempts.h"
#include "station/burn_verify.h"
#include "station/module_read.h"
#include "station/scan_cycle.h"
#include "station/station_core.h"
#include "base/text.h"
#include "protocol/confirmations.h"
#include "protocol/management_message.h"
#include "station/station_wait.h"
#include "resources/controls.h"
#include "transport/frame_exchange.h"

namespace stampwright {
namespace {

void ShowUnitMac(StationCore& station, const MacAddress& mac) {
  station.shown.mac = mac.ToString();
  station.page.SetText(kMacField, station.shown.mac);
}

constexpr const char* kWriteCaption = "VS_WR_MOD::eMMTypeReq";
constexpr const char* kReadCaption = "VS_RD_MOD::eMMTypeReq";

// How long a unit's answer to a query is held back to hear whether another unit answers the
// same query on the same adapter. Units answer a broadcast within a few milliseconds of each
// other; the margin covers a loaded PC or a slow second unit, at the scale of the first query
// try's own wait.
constexpr uint32_t kSecondAnswerWindowMs = 50;

// Counts, for the query pass in progress, the distinct units answering on the adapter: any
// version confirmation addressed to the adapter's own MAC, whatever request is pending, so an
// answer taken inside a nested read counts too.
void NoteAnsweringUnit(StationCore& station, int a, const MessageHeader& header) {
  if (!station.query_pass_active) return;
  if (header.destination != station.adapters.records[a].AdapterMac) return;
  if (header.source == header.destination) return;
  AnsweringUnits& units = station.answering[a];
  if (units.count == 0) {
    units.first = header.source;
    units.count = 1;
  } else if (units.count == 1 && header.source != units.first) {
    units.second = header.source;
    units.count = 2;
  }
}

// Listens a moment longer on the adapter before a unit is taken, so that a second unit
// answering the same query is known before anything is read from or written to either.
// Confirmations taken meanwhile count for presence and units only.
bool SeveralUnitsAfterListening(StationCore& station, int a) {
  if (!station.query_pass_active || station.listening_for_units) {
    return SeveralUnitsAnswer(station, a);
  }
  station.listening_for_units = true;
  WaitForResponses(station, a, kSecondAnswerWindowMs);
  station.listening_for_units = false;
  return SeveralUnitsAnswer(station, a);
}

// The unit is back under the burned MAC: its module, read into a buffer of its own, must hold
// the burned fields as written. A mismatch ends the attempt with the box and no "Success".
bool VerifyReturnedModule(StationCore& station) {
  station.verify_return = false;  // once per return; the read below dispatches nested
  const PhaseScope verifying(station, StationPhase::kVerifying);
  ParameterModule read_back = station.written_module;
  std::optional<BurnedFieldDifference> difference;
  // Quiet: a clean burn shows "Waiting..." and then "Success", as without the verify.
  const bool read_complete = ReadModuleImage(station, read_back, true);
  if (read_complete) {
    difference = FirstBurnedFieldDifference(station.written_module, read_back);
  } else {
    // A read that stopped short proves nothing about the unit's flash: say where it stopped.
    difference = BurnedFieldDifference{station.registers.ReadTransferOffset, ""};
  }
  // The unit is back under the burned MAC: a watch that saw it go away took Burn away meanwhile.
  // It may burn again, the image meant for it (after a mismatch) or what it holds now.
  if (!station.page.IsEnabled(kBurnButton)) station.page.Enable(kBurnButton, true);
  // Bytes a unit may change by itself are counted, not judged; unknown after a short read.
  const int64_t other_bytes =
      read_complete ? static_cast<int64_t>(CountOtherDifferingBytes(station.written_module, read_back))
                    : -1;
  if (!difference) {
    station.module = read_back;
    NoteReturnVerified(station, other_bytes);
    return true;
  }
  RecordVerifyFailed(station, other_bytes);
  station.verify_failed = true;
  station.page.SetText(kStatusLine, "Verify failed");
  TellActivity(station, StationActivity::kVerifyFailed);
  station.page.MessageBox(
      FormatText("Verify failed: the unit's module differs from the image written at offset %d.",
                 static_cast<int>(difference->offset)),
      "Mac Burn", kMbIconError);
  return false;
}

void HandleVersionConfirmation(StationCore& station, int a, const MessageHeader& header,
                               const FrameReader& frame) {
  AdapterRecord& record = station.adapters.records[a];
  DeviceSummary& summary = station.summaries[a];

  station.adapters.CurrentAdapter = a;
  record.DevicePresent = 1;
  summary.Present = 1;
  // The listen for a second unit runs its whole window: an answer left over from the pass
  // before, or a unit's second answer, must not end it before the other unit is heard.
  if (station.listening_for_units) return;
  NoteAwaitedAccepted(station);

  const MacAddress& destination = header.destination;
  const MacAddress& source = header.source;
  if (summary.AdapterMac != destination) return;
  if (source == destination) return;
  if (station.VersionAnswered[a] != 0) return;
  // Too short to carry the chip type and the text: it counts for presence, nothing is taken.
  const std::optional<VersionConfirmation> version = ParseVersionConfirmation(frame);
  if (!version) return;
  if (SeveralUnitsAfterListening(station, a)) return;

  record.DeviceMac = source;
  summary.DeviceMac = source;

  if (version->chip_type == kChipTypePx300) {
    station.shown.chip = "PX300";
    station.page.SetText(kChipModelField, station.shown.chip);
  } else if (version->chip_type == kChipTypePx100) {
    station.shown.chip = "PX100";
    station.page.SetText(kChipModelField, station.shown.chip);
  }

  std::memset(record.FirmwareVersion, 0, sizeof record.FirmwareVersion);
  std::memcpy(record.FirmwareVersion, version->text.data(), version->text.size());
  station.shown.firmware = version->text;
  station.page.SetText(kFirmwareVersionField, version->text);

  const bool success = station.CommitConfirmed == 1 && station.AutoReadDone != 0 &&
                       source == station.BurnedMac;
  if (success && station.verify_return && !VerifyReturnedModule(station)) {
    station.CommitConfirmed = 0;
    station.VersionAnswered[a] += 1;
    ShowUnitMac(station, source);
    return;
  }
  // The journal has the outcome before the operator sees the verdict.
  NoteUnitAnswered(station, source, success);
  if (success) {
    station.page.SetText(kStatusLine, "Success");
    TellActivity(station, StationActivity::kPassed);
    station.CommitConfirmed = 0;
  }

  // May run the automatic module read, whose waits dispatch nested on this same adapter.
  RefreshConnection(station);

  station.VersionAnswered[a] += 1;
  ShowUnitMac(station, source);
}

void HandleWriteConfirmation(StationCore& station, const FrameReader& frame) {
  const std::optional<WriteConfirmation> confirmation = ParseWriteConfirmation(frame);
  if (!confirmation) return;
  TransferRegisters& registers = station.registers;
  if (confirmation->offset != registers.WriteTransferOffset) {
    station.page.MessageBox("Write Module response offset not match", kWriteCaption, kMbOk);
    return;
  }
  // A length other than the chunk's would move the transfer past bytes the unit did not take.
  if (confirmation->status != 0 || confirmation->length != registers.PendingChunkLength) {
    station.page.MessageBox("Write Module response failed", kWriteCaption, kMbOk);
    return;
  }
  station.page.SetText(kStatusLine, FormatText("Write Module - offset: %d",
                                               static_cast<int>(registers.WriteTransferOffset)));
  registers.WriteTransferOffset += confirmation->length;
  NoteAwaitedAccepted(station);
}

void HandleReadConfirmation(StationCore& station, const FrameReader& frame) {
  const std::optional<ReadConfirmation> confirmation = ParseReadConfirmation(frame);
  if (!confirmation) return;
  TransferRegisters& registers = station.registers;
  // The unit is trusted with the offset and status, not with the bounds of our buffers, nor
  // with a length other than the one asked for.
  const bool fits_image = size_t{confirmation->offset} + confirmation->length <= kModuleSize;
  if (confirmation->offset != registers.ReadTransferOffset || confirmation->status != 0 ||
      !confirmation->data_complete || !fits_image ||
      confirmation->length != registers.PendingChunkLength) {
    station.page.MessageBox("Read Module response failed", kReadCaption, kMbOk);
    return;
  }
  if (!station.quiet_read) {
    station.page.SetText(kStatusLine, FormatText("response Read Module (%x) - offset: %d",
                                                 registers.PendingRequestType,
                                                 static_cast<int>(confirmation->offset)));
  }
  std::copy(confirmation->data.begin(), confirmation->data.end(),
            station.module.bytes.begin() + confirmation->offset);
  registers.ReadTransferOffset += confirmation->length;
  NoteAwaitedAccepted(station);
}

void HandleCommitConfirmation(StationCore& station, const FrameReader& frame) {
  const std::optional<CommitConfirmation> confirmation = ParseCommitConfirmation(frame);
  if (!confirmation || !confirmation->accepted()) return;
  station.CommitConfirmed = 1;
  station.commit_answered = true;
  station.page.SetText(kStatusLine, "Waiting...");
  NoteAwaitedAccepted(station);
}

// Only the unit being programmed, talking to our adapter, may move a transfer or a commit.
bool FromUnitBeingProgrammed(StationCore& station, int adapter, const MessageHeader& header) {
  const int current = station.adapters.CurrentAdapter;
  bool trusted = false;
  if (current >= 0 && current < kMaxAdapters) {
    const AdapterRecord& record = station.adapters.records[current];
    trusted = !record.DeviceMac.IsZero() && header.source == record.DeviceMac &&
              header.destination == record.AdapterMac;
  }
  if (!trusted) station.ForeignConfirmations[adapter] += 1;
  return trusted;
}

}  // namespace

ReceivePacket* DispatchConfirmation(StationCore& station, int adapter) {
  ReceivePacket* packet = TakeReceivedFrame(station.adapters, station.summaries, adapter);
  if (packet != nullptr) HandleReceivedFrame(station, adapter, *packet);
  return packet;
}

void HandleReceivedFrame(StationCore& station, int adapter, const ReceivePacket& packet) {
  const FrameReader frame(packet.frame, std::min<size_t>(packet.length, sizeof packet.frame));
  // Header present, ethertype 0x88E1, and not a broadcast (our own query among them).
  const std::optional<MessageHeader> header = ReadMessageHeader(frame);
  if (!header || header->destination.IsBroadcast()) return;

  const uint16_t mmtype = header->mmtype;
  if (mmtype == kVsVerQueryCnf) NoteAnsweringUnit(station, adapter, *header);
  switch (station.registers.PendingRequestType) {
    case kVsVerQueryReq:
      if (mmtype == kVsVerQueryCnf) HandleVersionConfirmation(station, adapter, *header, frame);
      break;
    case kVsWrModReq:
      if (mmtype == kVsWrModCnf && FromUnitBeingProgrammed(station, adapter, *header)) {
        HandleWriteConfirmation(station, frame);
      }
      break;
    case kVsRdModReq:
      if (mmtype == kVsRdModCnf && FromUnitBeingProgrammed(station, adapter, *header)) {
        HandleReadConfirmation(station, frame);
      }
      break;
    case kVsModCommitReq:
      if (mmtype == kVsModCommitCnf && FromUnitBeingProgrammed(station, adapter, *header)) {
        HandleCommitConfirmation(station, frame);
      }
      break;
    default:
      break;
  }
}

}  // namespace stampwright
