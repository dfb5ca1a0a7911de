#include "report/mes_publisher.h"

#include <map>
#include <vector>

#include <proton/connection.hpp>
#include <proton/connection_options.hpp>
#include <proton/container.hpp>
#include <proton/delivery_mode.hpp>
#include <proton/error_condition.hpp>
#include <proton/messaging_handler.hpp>
#include <proton/sender.hpp>
#include <proton/sender_options.hpp>
#include <proton/session.hpp>
#include <proton/ssl.hpp>
#include <proton/target.hpp>
#include <proton/tracker.hpp>
#include <proton/transport.hpp>
#include <proton/work_queue.hpp>

#include "journal/record.h"
#include "report/amqp_message.h"
#include "report/amqp_url.h"
#include "report/mes_outbox.h"

namespace stampwright {
namespace {

proton::binary SeqTag(int64_t seq) {
  std::string tag(8, '\0');
  for (size_t i = 0; i < 8; ++i) tag[i] = static_cast<char>(static_cast<uint64_t>(seq) >> (8 * i));
  return proton::binary(tag);
}

int64_t TagSeq(const proton::binary& tag) {
  uint64_t seq = 0;
  for (size_t i = 0; i < tag.size() && i < 8; ++i) seq |= static_cast<uint64_t>(tag[i]) << (8 * i);
  return static_cast<int64_t>(seq);
}

proton::duration Duration(std::chrono::milliseconds ms) {
  return proton::duration(static_cast<proton::duration::numeric_type>(ms.count()));
}

std::string ConditionText(const proton::error_condition& condition, const char* fallback) {
  return condition.empty() ? std::string(fallback) : condition.what();
}

}  // namespace

class MesPublisher::Handler : public proton::messaging_handler {
 public:
  Handler(MesPublisher& owner, AmqpUrl url, std::unique_ptr<MesOutboxReader> reader)
      : owner_(owner), url_(std::move(url)), reader_(std::move(reader)), container_(*this) {}

  void Run() {
    try {
      container_.run();
    } catch (const std::exception& error) {
      SetState({false, error.what()});
    }
    // What the broker accepted leaves the outbox even when the end came between two polls.
    Flush();
  }
  // Thread-safe: the container's stop may be called from any thread.
  void StopSoon() {
    stopping_ = true;
    container_.stop();
  }

  void on_container_start(proton::container&) override {
    Connect();
    Poll();
  }

  void on_connection_open(proton::connection& connection) override {
    proton::sender_options options;
    options.delivery_mode(proton::delivery_mode::AT_LEAST_ONCE);
    connection.open_sender(url_.address, options);
  }

  void on_sender_open(proton::sender& sender) override {
    // A broker that refuses the address attaches without a target and detaches with the
    // reason: not connected, the detach says why.
    if (sender.target().address().empty()) return;
    sender_ = sender;
    connected_ = true;
    SetState({true, UrlWithoutPassword(owner_.options_.url)});
    Fill();
    PollConnection(sender.connection());
  }

  // While connected, the outbox is looked at through the connection's own work queue: work the
  // container schedules is only run when its event loop wakes for another reason, which left
  // messages queued meanwhile waiting seconds.
  void PollConnection(proton::connection connection) {
    connection.work_queue().schedule(Duration(owner_.options_.poll), proton::work([this, connection] {
      if (!connected_ || stopping_) return;
      Flush();
      Fill();
      PollConnection(connection);
    }));
  }

  void on_sendable(proton::sender&) override { Fill(); }

  void on_tracker_accept(proton::tracker& tracker) override {
    const int64_t seq = TagSeq(tracker.tag());
    const auto sent = in_flight_.find(seq);
    if (sent == in_flight_.end()) return;
    accepted_seqs_.push_back(seq);
    last_name_ = sent->second;
    in_flight_.erase(sent);
    owner_.in_flight_ = static_cast<int64_t>(in_flight_.size());
    ++owner_.accepted_;
    if (accepted_seqs_.size() >= 500) Flush();
    Fill();
  }
  void on_tracker_reject(proton::tracker& tracker) override { Refused(tracker, "rejected"); }
  void on_tracker_release(proton::tracker& tracker) override { Refused(tracker, "released"); }

  void on_transport_error(proton::transport& transport) override {
    Lost(ConditionText(transport.error(), "the connection failed"));
  }
  void on_connection_error(proton::connection& connection) override {
    Lost(ConditionText(connection.error(), "the broker closed the connection"));
  }
  void on_connection_close(proton::connection&) override {
    if (connected_) Lost("the broker closed the connection");
  }
  void on_sender_error(proton::sender& sender) override {
    Lost(ConditionText(sender.error(), ("the broker refused the address " + url_.address).c_str()));
    sender.connection().close();
  }
  // RabbitMQ ends the whole session when it refuses an attach.
  void on_session_error(proton::session& session) override {
    Lost(ConditionText(session.error(), ("the broker refused the address " + url_.address).c_str()));
    session.connection().close();
  }
  void on_sender_close(proton::sender& sender) override {
    if (connected_) {
      Lost("the broker closed the link to " + url_.address);
      sender.connection().close();
    }
  }
  void on_transport_close(proton::transport&) override {
    connected_ = false;
    if (stopping_ || reconnect_pending_) return;
    reconnect_pending_ = true;
    container_.schedule(Duration(owner_.options_.retry), proton::work([this] {
      reconnect_pending_ = false;
      Connect();
    }));
  }
  // Every error is handled above; the default would throw out of run().
  void on_error(const proton::error_condition&) override {}

 private:
  void Connect() {
    if (stopping_) return;
    ++owner_.attempts_;
    proton::connection_options options;
    options.sasl_enabled(true);
    if (url_.user.empty()) {
      options.sasl_allowed_mechs("ANONYMOUS");
    } else {
      // PLAIN over a plain TCP connection too: the site chose amqp:// over amqps://.
      options.user(url_.user).password(url_.password).sasl_allowed_mechs("PLAIN").sasl_allow_insecure_mechs(true);
    }
    if (url_.tls) options.ssl_client_options(proton::ssl_client_options());
    options.idle_timeout(proton::duration(20000));
    try {
      container_.connect(url_.HostPort(), options);
    } catch (const std::exception& error) {
      SetState({false, error.what()});
    }
  }

  void Poll() {
    if (stopping_) return;
    container_.schedule(Duration(owner_.options_.poll), proton::work([this] {
      Flush();
      Fill();
      Poll();
    }));
  }

  void Fill() {
    while (connected_ && !stopping_ && sender_.credit() > 0 &&
           static_cast<int>(in_flight_.size()) < owner_.options_.window) {
      if (next_ >= rows_.size()) {
        rows_.clear();
        next_ = 0;
        if (reader_->Next(last_queued_seq_, 256, &rows_) || rows_.empty()) break;
      }
      const MesOutboxRow& row = rows_[next_++];
      sender_.send(CfxAmqpMessage(row, owner_.options_.gzip), SeqTag(row.seq));
      in_flight_.emplace(row.seq, row.message_name);
      last_queued_seq_ = row.seq;
    }
    owner_.in_flight_ = static_cast<int64_t>(in_flight_.size());
  }

  void Flush() {
    if (!accepted_seqs_.empty() &&
        !reader_->Remove(accepted_seqs_, last_name_, UtcNowMs())) {
      accepted_seqs_.clear();
    }
    MesOutboxStatus status;
    if (!reader_->Status(&status)) owner_.backlog_ = status.backlog;
    ++owner_.looks_;
  }

  void Refused(proton::tracker& tracker, const char* what) {
    const auto sent = in_flight_.find(TagSeq(tracker.tag()));
    const std::string name = sent == in_flight_.end() ? std::string("a message") : sent->second;
    Lost("the broker " + std::string(what) + " " + name + "; it stays in the outbox");
    tracker.connection().close();
  }

  // The connection is gone or going: what was accepted leaves the outbox, what was in flight
  // is sent again, from the oldest, on the next connection.
  void Lost(const std::string& text) {
    connected_ = false;
    Flush();
    in_flight_.clear();
    owner_.in_flight_ = 0;
    rows_.clear();
    next_ = 0;
    last_queued_seq_ = 0;
    SetState({false, text});
  }

  void SetState(const MesConnectionState& state) {
    // The publisher's own end closes the connection: no fault to report.
    if (stopping_ && !state.connected) return;
    if (state_known_ && state.connected == state_.connected && state.text == state_.text) return;
    state_known_ = true;
    state_ = state;
    if (!state.connected) reader_->NoteError(state.text, UtcNowMs());
    if (owner_.observer_) owner_.observer_(state);
  }

  MesPublisher& owner_;
  AmqpUrl url_;
  std::unique_ptr<MesOutboxReader> reader_;
  proton::container container_;
  proton::sender sender_;
  std::atomic<bool> stopping_{false};
  bool connected_ = false;
  bool reconnect_pending_ = false;
  std::vector<MesOutboxRow> rows_;
  size_t next_ = 0;
  int64_t last_queued_seq_ = 0;
  std::map<int64_t, std::string> in_flight_;  // seq -> message name
  std::vector<int64_t> accepted_seqs_;
  std::string last_name_;
  bool state_known_ = false;
  MesConnectionState state_;
};

MesPublisher::MesPublisher(MesPublisherOptions options, StateObserver observer)
    : options_(std::move(options)), observer_(std::move(observer)) {}

MesPublisher::~MesPublisher() { Stop(); }

bool MesPublisher::Start(std::string* error) {
  std::optional<AmqpUrl> url = ParseAmqpUrl(options_.url, error);
  if (!url) return false;
  std::unique_ptr<MesOutboxReader> reader = MesOutboxReader::Open(options_.outbox_path, error);
  if (!reader) {
    *error = "MES outbox " + *error;
    return false;
  }
  handler_ = std::make_unique<Handler>(*this, std::move(*url), std::move(reader));
  thread_ = std::thread([this] { handler_->Run(); });
  return true;
}

void MesPublisher::Stop() {
  if (!thread_.joinable()) return;
  handler_->StopSoon();
  thread_.join();
  handler_.reset();
}

bool MesPublisher::WaitDrained(std::chrono::milliseconds timeout) const {
  const auto end = std::chrono::steady_clock::now() + timeout;
  // A backlog counted before the call may miss what was queued just before it.
  const int64_t looked = looks_.load();
  while (true) {
    if (looks_.load() > looked + 1 && backlog_.load() == 0 && in_flight_.load() == 0) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace stampwright
