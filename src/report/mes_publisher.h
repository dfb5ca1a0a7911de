#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace stampwright {

// The broker connection as the publisher sees it. text: the URL without its password when
// connected, else why not (the library's or the broker's words).
struct MesConnectionState {
  bool connected = false;
  std::string text;
};

struct MesPublisherOptions {
  std::string url;          // amqp://[user[:password]@]host[:port]/ADDRESS
  std::string outbox_path;  // the SQLite file that holds the MES outbox
  bool gzip = false;
  std::chrono::milliseconds retry{5000};  // between attempts to reach the broker
  std::chrono::milliseconds poll{50};     // how soon a newly queued message is seen
  int window = 200;                       // messages sent and not yet settled, at most
};

// Sends the outbox to the broker on a thread of its own (Qpid Proton), oldest first, and removes
// each message once the broker has accepted it. A broker that is away, refuses the login or the
// address, or refuses a message is tried again every `retry`; nothing is lost meanwhile and
// nothing waits on it. A message whose acceptance was not heard before the connection dropped
// is sent again: the receiver knows it by its message-id, the envelope's UniqueID.
class MesPublisher {
 public:
  // Told, on the publisher's thread, of every change of the connection's state.
  using StateObserver = std::function<void(const MesConnectionState& state)>;

  MesPublisher(MesPublisherOptions options, StateObserver observer);
  MesPublisher(const MesPublisher&) = delete;
  MesPublisher& operator=(const MesPublisher&) = delete;
  ~MesPublisher();

  // Checks the URL and the outbox, then starts the thread; false with the reason (never the
  // password) in *error.
  bool Start(std::string* error);
  // Ends the thread; what the broker accepted is removed from the outbox first.
  void Stop();
  // Waits up to timeout for the outbox to be empty with nothing in flight (before EndpointShuttingDown
  // is left behind at close, say); whether it is.
  bool WaitDrained(std::chrono::milliseconds timeout) const;

  // Messages waiting in the outbox as last seen (-1 before the first look); accepted by the
  // broker since the start.
  int64_t backlog() const { return backlog_.load(); }
  int64_t accepted() const { return accepted_.load(); }
  // Attempts to connect since the start.
  int64_t attempts() const { return attempts_.load(); }

 private:
  class Handler;
  MesPublisherOptions options_;
  StateObserver observer_;
  std::unique_ptr<Handler> handler_;
  std::thread thread_;
  std::atomic<int64_t> backlog_{-1}, accepted_{0}, attempts_{0}, in_flight_{0};
  std::atomic<int64_t> looks_{0};  // times the outbox was looked at
};

}  // namespace stampwright
