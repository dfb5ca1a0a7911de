#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace stampwright {

// One CFX message as it arrived: the envelope's JSON text and the AMQP fields the CFX SDK sets.
struct ReceivedCfxMessage {
  std::string envelope;  // the JSON text, inflated when it came gzip-encoded
  std::string message_id;
  std::string subject;
  std::string content_type;
  std::string content_encoding;
  int64_t creation_time = 0;  // UTC ms
  bool durable = false;
  std::string cfx_topic, cfx_message, cfx_handle;
  std::string error;  // set, with envelope empty, when the body could not be read
};

// Subscribes to a source address (amqp://[user[:password]@]host[:port]/ADDRESS) on a thread of
// its own and hands over each message, accepted, in the order the broker delivers them; tries
// again every second while the broker is away. For `mes listen` and the tests.
class MesListener {
 public:
  using MessageObserver = std::function<void(const ReceivedCfxMessage& message)>;
  // Told of each change of the connection: connected or why not.
  using StateObserver = std::function<void(bool connected, const std::string& text)>;

  // limit: take at most that many messages from the broker (0: no limit); what is not taken
  // stays there for others.
  MesListener(std::string url, MessageObserver on_message, StateObserver on_state = {}, long limit = 0);
  MesListener(const MesListener&) = delete;
  MesListener& operator=(const MesListener&) = delete;
  ~MesListener();

  // false with the reason in *error (a bad URL).
  bool Start(std::string* error);
  void Stop();

 private:
  class Handler;
  std::string url_;
  MessageObserver on_message_;
  StateObserver on_state_;
  long limit_ = 0;
  std::unique_ptr<Handler> handler_;
  std::thread thread_;
};

}  // namespace stampwright
