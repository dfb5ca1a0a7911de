#pragma once

#include <cstdint>
#include <string_view>

namespace stampwright {

struct StationCore;

constexpr uint32_t kScanIntervalMs = 3000;

// AutoScanSuspended is the inverse of the AutoScan preference: 0 gives 1, anything else 0.
void DeriveAutoScanSuspended(StationCore& station, int16_t auto_scan);
void SetAutoScanSuspended(StationCore& station);

void StartScanTimer(StationCore& station);
void ScanTick(StationCore& station);
bool ScanNow(StationCore& station);
bool RescanDevices(StationCore& station, int16_t auto_scan);
void RefreshConnection(StationCore& station);
void ShowConnection(StationCore& station);
void SetScanText(StationCore& station, std::string_view text);
void SetConnectionText(StationCore& station, std::string_view text);

// The scan timer's expiry as the front end delivers it. A tick that comes due while a device
// operation is under way (a message box runs its own loop) is held back until the outermost
// operation has returned, so the adapter set is never rebuilt under a wait.
void OnScanTimer(StationCore& station);
// What one expiry runs: a scan tick, or a step of the return watch while it is on.
void TimerExpired(StationCore& station);

// Marks a device operation in progress for its lifetime; the outermost one runs a held-back tick
// when it ends.
class DeviceOperation {
 public:
  explicit DeviceOperation(StationCore& station);
  ~DeviceOperation();
  DeviceOperation(const DeviceOperation&) = delete;
  DeviceOperation& operator=(const DeviceOperation&) = delete;

 private:
  StationCore& station_;
};

}  // namespace stampwright
