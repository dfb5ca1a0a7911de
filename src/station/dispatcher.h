#pragma once

namespace stampwright {

struct StationCore;
struct ReceivePacket;

// Takes at most one received frame of the adapter and acts on it when it is a confirmation of
// the pending request. Write, read and commit confirmations are believed only from the unit
// being programmed (the DeviceMac of the record at CurrentAdapter, addressed to that adapter's
// own MAC); others are counted in ForeignConfirmations and otherwise ignored. Returns the frame's
// record (acted on or not), or nullptr when none waited.
ReceivePacket* DispatchConfirmation(StationCore& station, int adapter);

// The handling half of DispatchConfirmation, for a frame the caller has taken itself.
void HandleReceivedFrame(StationCore& station, int adapter, const ReceivePacket& packet);

}  // namespace stampwright
