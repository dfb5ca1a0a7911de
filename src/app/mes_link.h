#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "journal/journal.h"
#include "report/mes_outbox.h"
#include "report/mes_publisher.h"

namespace stampwright {

// --mes and its companions.
struct MesSettings {
  std::string url;     // amqp://[user[:password]@]host[:port]/ADDRESS; empty: no MES
  std::string handle;  // the CFX handle
  int heartbeat_seconds = 60;
  bool gzip = false;
};

// The station's tie to the factory's MES: every journal it opens queues the CFX messages of its
// changes in the same transaction, the endpoint's own messages (connected, heartbeat, shutting
// down) are queued beside them, and a publisher on its own thread sends them. Nothing here waits
// for the broker.
class MesLink {
 public:
  // Starts with the outbox in the SQLite file at outbox_path (the journal file): queues
  // EndpointConnected, starts the publisher and the heartbeat. Null with the reason else.
  static std::unique_ptr<MesLink> Start(MesSettings settings, const std::string& outbox_path,
                                        std::string* error);
  // Queues EndpointShuttingDown, gives the publisher a moment to send what waits, and stops.
  ~MesLink();
  MesLink(const MesLink&) = delete;
  MesLink& operator=(const MesLink&) = delete;

  // Has journal queue its changes' messages; bay: the lane of its records (1 without bays).
  std::optional<std::string> Attach(Journal& journal, int bay) const;

 private:
  explicit MesLink(MesSettings settings) : settings_(std::move(settings)) {}
  JournalStatus QueueEndpointMessage(const char* name, cfx::Json body);
  void BeatUntilStopped();

  MesSettings settings_;
  std::unique_ptr<MesOutboxFile> outbox_;  // the endpoint's own messages, on a connection of their own
  std::unique_ptr<MesPublisher> publisher_;
  std::function<std::string()> new_id_;
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::thread heartbeat_;
};

}  // namespace stampwright
