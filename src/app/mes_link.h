#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "journal/journal.h"
#include "report/mes_outbox.h"
#include "report/mes_publisher.h"
#include "station/station_events.h"

namespace stampwright {

// --mes and its companions.
struct MesSettings {
  std::string url;     // amqp://[user[:password]@]host[:port]/ADDRESS; empty: no MES
  std::string handle;  // the CFX handle
  int heartbeat_seconds = 60;
  bool gzip = false;
};

// A condition the MES hears of as a fault: raised once when it begins, cleared once when it ends.
// One occurrence at a time per what and bay.
enum class MesFaultKind { kJournalUnavailable, kAdapterMissing };
struct MesFaultChange {
  MesFaultKind kind = MesFaultKind::kJournalUnavailable;
  int bay = 1;
  bool active = false;
  std::string text;  // why, in the station's words
};

// The fault change an event of a station means, if any.
std::optional<MesFaultChange> MesFaultOf(const StationEvent& event);

// The station's tie to the factory's MES: every journal it opens queues the CFX messages of its
// changes in the same transaction, the endpoint's own messages (connected, heartbeat, faults,
// shutting down) are queued beside them on a thread of the link's own, and a publisher on its
// own thread sends them. Nothing here waits for the broker, and nothing a front end calls waits
// for the disk.
class MesLink {
 public:
  // Starts with the outbox in the SQLite file at outbox_path (the journal file, or a line
  // station's local outbox): queues EndpointConnected, starts the publisher and the heartbeat.
  // Null with the reason else.
  static std::unique_ptr<MesLink> Start(MesSettings settings, const std::string& outbox_path,
                                        std::string* error);
  // Queues EndpointShuttingDown, gives the publisher a moment to send what waits, and stops.
  ~MesLink();
  MesLink(const MesLink&) = delete;
  MesLink& operator=(const MesLink&) = delete;

  // Has journal queue its changes' messages in its local file; bay: the lane of its records (1
  // without bays).
  std::optional<std::string> Attach(Journal& journal, int bay) const;

  // Hands a fault's start or end to the link's thread; returns at once.
  void Report(MesFaultChange change);

  // Told, on the publisher's thread, of the broker connection's state: the last one known at
  // once, then each change. Replaces the one before.
  using ConnectionListener = std::function<void(const MesConnectionState& state)>;
  void SetConnectionListener(ConnectionListener listener);

 private:
  explicit MesLink(MesSettings settings) : settings_(std::move(settings)) {}
  JournalStatus QueueEndpointMessage(const char* name, cfx::Json body);
  void QueueFault(const MesFaultChange& change);
  void RunUntilStopped();
  void ConnectionChanged(const MesConnectionState& state);

  MesSettings settings_;
  std::unique_ptr<MesOutboxFile> outbox_;  // the endpoint's own messages, on a connection of their own
  std::unique_ptr<MesPublisher> publisher_;
  std::function<std::string()> new_id_;
  // Owned by the link's thread: the occurrence id of each fault raised and not yet cleared.
  std::map<std::pair<MesFaultKind, int>, std::string> open_faults_;

  std::mutex mutex_;  // guards what follows
  std::condition_variable wake_;
  bool stopping_ = false;
  std::deque<MesFaultChange> faults_;
  std::optional<MesConnectionState> connection_;
  ConnectionListener listener_;
  std::thread thread_;
};

}  // namespace stampwright
