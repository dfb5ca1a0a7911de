#include "report/mes_listener.h"

#include <atomic>
#include <chrono>

#include <proton/connection.hpp>
#include <proton/connection_options.hpp>
#include <proton/container.hpp>
#include <proton/delivery.hpp>
#include <proton/error_condition.hpp>
#include <proton/message.hpp>
#include <proton/message_id.hpp>
#include <proton/messaging_handler.hpp>
#include <proton/receiver.hpp>
#include <proton/receiver_options.hpp>
#include <proton/scalar.hpp>
#include <proton/session.hpp>
#include <proton/ssl.hpp>
#include <proton/timestamp.hpp>
#include <proton/transport.hpp>
#include <proton/work_queue.hpp>

#include "report/amqp_message.h"
#include "report/amqp_url.h"

namespace stampwright {
namespace {

std::string Property(const proton::message& message, const char* name) {
  const proton::scalar value = message.properties().get(name);
  return value.type() == proton::STRING ? proton::get<std::string>(value) : std::string();
}

}  // namespace

class MesListener::Handler : public proton::messaging_handler {
 public:
  Handler(MesListener& owner, AmqpUrl url) : owner_(owner), url_(std::move(url)), container_(*this) {}

  void Run() {
    try {
      container_.run();
    } catch (const std::exception& error) {
      State(false, error.what());
    }
  }
  void StopSoon() {
    stopping_ = true;
    container_.stop();
  }

  void on_container_start(proton::container&) override { Connect(); }
  void on_connection_open(proton::connection& connection) override {
    // With a limit, credit for what is still wanted only: the broker sends no more than that.
    const long limit = owner_.limit_;
    connection.open_receiver(url_.address, proton::receiver_options().credit_window(limit > 0 ? 0 : 100));
  }
  void on_receiver_open(proton::receiver& receiver) override {
    if (owner_.limit_ > 0 && owner_.limit_ > received_) receiver.add_credit(static_cast<int>(owner_.limit_ - received_));
    State(true, url_.address);
  }
  void on_message(proton::delivery&, proton::message& message) override {
    ReceivedCfxMessage received;
    if (auto text = CfxEnvelopeText(message, &received.error)) received.envelope = std::move(*text);
    received.message_id = proton::to_string(message.id());
    received.subject = message.subject();
    received.content_type = message.content_type();
    received.content_encoding = message.content_encoding();
    received.creation_time = message.creation_time().milliseconds();
    received.durable = message.durable();
    received.cfx_topic = Property(message, "cfx-topic");
    received.cfx_message = Property(message, "cfx-message");
    received.cfx_handle = Property(message, "cfx-handle");
    ++received_;
    if (owner_.on_message_) owner_.on_message_(received);
  }
  void on_transport_error(proton::transport& transport) override { State(false, transport.error().what()); }
  void on_connection_error(proton::connection& connection) override { State(false, connection.error().what()); }
  void on_receiver_error(proton::receiver& receiver) override {
    State(false, receiver.error().what());
    receiver.connection().close();
  }
  void on_session_error(proton::session& session) override {
    State(false, session.error().what());
    session.connection().close();
  }
  void on_transport_close(proton::transport&) override {
    if (stopping_) return;
    container_.schedule(proton::duration(1000), proton::work([this] { Connect(); }));
  }
  void on_error(const proton::error_condition&) override {}

 private:
  void Connect() {
    if (stopping_) return;
    proton::connection_options options;
    options.sasl_enabled(true);
    if (url_.user.empty()) {
      options.sasl_allowed_mechs("ANONYMOUS");
    } else {
      options.user(url_.user).password(url_.password).sasl_allowed_mechs("PLAIN").sasl_allow_insecure_mechs(true);
    }
    if (url_.tls) options.ssl_client_options(proton::ssl_client_options());
    container_.connect(url_.HostPort(), options);
  }
  void State(bool connected, const std::string& text) {
    if (owner_.on_state_) owner_.on_state_(connected, text);
  }

  MesListener& owner_;
  AmqpUrl url_;
  proton::container container_;
  std::atomic<bool> stopping_{false};
  long received_ = 0;
};

MesListener::MesListener(std::string url, MessageObserver on_message, StateObserver on_state, long limit)
    : url_(std::move(url)), on_message_(std::move(on_message)), on_state_(std::move(on_state)), limit_(limit) {}

MesListener::~MesListener() { Stop(); }

bool MesListener::Start(std::string* error) {
  std::optional<AmqpUrl> url = ParseAmqpUrl(url_, error);
  if (!url) return false;
  handler_ = std::make_unique<Handler>(*this, std::move(*url));
  thread_ = std::thread([this] { handler_->Run(); });
  return true;
}

void MesListener::Stop() {
  if (!thread_.joinable()) return;
  handler_->StopSoon();
  thread_.join();
  handler_.reset();
}

}  // namespace stampwright
