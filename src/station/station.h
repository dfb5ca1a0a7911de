#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "base/mac_address.h"
#include "programming/parameter_module.h"
#include "protocol/management_message.h"
#include "protocol/requests.h"
#include "resources/page.h"
#include "settings/device_summary.h"
#include "settings/preferences.h"
#include "transport/adapter_set.h"
#include "transport/arp_flush.h"
#include "transport/clock.h"
#include "transport/packet_driver.h"
#include "station/journal_link.h"
#include "station/timer.h"

namespace stampwright {

// Choices made on the command line that the core needs.
struct StationSettings {
  bool full_waits = false;  // keep the fixed-length waits instead of ending once answered
  std::array<uint8_t, 3> oui = kDefaultVendorOui;
  std::string mac_prefix;  // empty: the compiled-in MacPrefix
  std::string database_file = "cam.dbr";
};

constexpr size_t kPathBufferSize = 256;

// All state of one station: what the original kept in process-wide variables, owned here so a
// test can build a fresh one. Field names follow the station's vocabulary.
struct Station {
  Station(Page& page, PacketDriver& driver, Clock& clock, Timer& timer, ArpFlush& arp_flush,
          Preferences preferences, StationSettings settings = {});
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  MessageContext Messages();

  Page& page;
  PacketDriver& driver;
  Clock& clock;
  Timer& timer;
  ArpFlush& arp_flush;
  Preferences preferences;
  StationSettings settings;

  AdapterSet adapters;
  DeviceSummaries summaries{};
  TransferRegisters registers;
  ParameterModule module{};

  // Confirmation dispatcher.
  std::array<uint32_t, kMaxAdapters> VersionAnswered{};
  uint8_t CommitConfirmed = 0;

  // Scan cycle.
  uint32_t AutoScanSuspended = 0;
  uint8_t AutoReadDone = 0;

  // Module read and burn.
  bool WarningShown = false;
  MacAddress BurnedMac;

  // Page buffers.
  std::array<char, kPathBufferSize> database_path{};
  std::array<char, kPathBufferSize> firmware_path{};

  // Where the waits copy what they take; nobody reads it back.
  std::array<uint8_t, 1500> response_buffer{};

  // The early-end flag of the innermost wait in progress; nested waits each have their own.
  bool* awaited_accepted = nullptr;

  // Device operations in progress on the UI thread, and a scan tick held back meanwhile.
  int operation_depth = 0;
  bool tick_pending = false;

  // The production journal (off unless the front end links one).
  JournalLink journal;
};

// Marks the awaited confirmation of the innermost wait as accepted.
inline void NoteAwaitedAccepted(Station& station) {
  if (station.awaited_accepted != nullptr) *station.awaited_accepted = true;
}

}  // namespace stampwright
