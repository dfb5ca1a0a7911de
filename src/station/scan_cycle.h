#pragma once

#include <cstdint>
#include <string_view>

namespace stampwright {

struct Station;

constexpr uint32_t kScanIntervalMs = 3000;

// AutoScanSuspended is the inverse of the AutoScan preference: 0 gives 1, anything else 0.
void DeriveAutoScanSuspended(Station& station, int16_t auto_scan);
void SetAutoScanSuspended(Station& station);

void StartScanTimer(Station& station);
void ScanTick(Station& station);
bool ScanNow(Station& station);
bool RescanDevices(Station& station, int16_t auto_scan);
void RefreshConnection(Station& station);
void ShowConnection(Station& station);
void SetScanText(Station& station, std::string_view text);
void SetConnectionText(Station& station, std::string_view text);

// The scan timer's expiry as the front end delivers it. A tick that comes due while a device
// operation is under way (a message box runs its own loop) is held back until the outermost
// operation has returned, so the adapter set is never rebuilt under a wait.
void OnScanTimer(Station& station);
// What one expiry runs: a scan tick, or a step of the return watch while it is on.
void TimerExpired(Station& station);

// Marks a device operation in progress for its lifetime; the outermost one runs a held-back tick
// when it ends.
class DeviceOperation {
 public:
  explicit DeviceOperation(Station& station);
  ~DeviceOperation();
  DeviceOperation(const DeviceOperation&) = delete;
  DeviceOperation& operator=(const DeviceOperation&) = delete;

 private:
  Station& station_;
};

}  // namespace stampwright
