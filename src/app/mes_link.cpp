#include "app/mes_link.h"

#include <cstdio>
#include <utility>

#include "journal/sqlite_journal.h"
#include "report/amqp_url.h"
#include "report/cfx/messages.h"

namespace stampwright {

std::unique_ptr<MesLink> MesLink::Start(MesSettings settings, const std::string& outbox_path,
                                        std::string* error) {
  std::unique_ptr<MesLink> link(new MesLink(std::move(settings)));
  link->new_id_ = MesEndpoint::RandomGuids();
  link->outbox_ = MesOutboxFile::Open(outbox_path, error);
  if (!link->outbox_) return nullptr;
  if (JournalStatus status = link->QueueEndpointMessage(
          "CFX.EndpointConnected", cfx::EndpointConnectedBody(link->settings_.handle));
      !status.ok()) {
    *error = status.error;
    return nullptr;
  }
  MesPublisherOptions options;
  options.url = link->settings_.url;
  options.outbox_path = outbox_path;
  options.gzip = link->settings_.gzip;
  // One line on stderr per change of the broker connection; the URL never with its password.
  link->publisher_ = std::make_unique<MesPublisher>(options, [](const MesConnectionState& state) {
    std::fprintf(stderr, "stampwright: MES %s: %s\n", state.connected ? "connected" : "not connected",
                 state.text.c_str());
  });
  if (!link->publisher_->Start(error)) return nullptr;
  link->heartbeat_ = std::thread([raw = link.get()] { raw->BeatUntilStopped(); });
  return link;
}

MesLink::~MesLink() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  if (heartbeat_.joinable()) heartbeat_.join();
  if (outbox_) QueueEndpointMessage("CFX.EndpointShuttingDown", cfx::EndpointShuttingDownBody(settings_.handle));
  // A broker that is there takes the goodbye; one that is away gets it after the next start.
  if (publisher_) {
    publisher_->WaitDrained(std::chrono::seconds(2));
    publisher_->Stop();
  }
}

std::optional<std::string> MesLink::Attach(Journal& journal, int bay) const {
  auto* file = dynamic_cast<SqliteJournal*>(&journal);
  if (file == nullptr) return "--mes needs the journal of one station (a file), not a line's database";
  MesEndpoint endpoint;
  endpoint.handle = settings_.handle;
  endpoint.bay = [bay](const JournalRecord&) { return bay; };
  return AttachMesOutbox(*file, std::move(endpoint));
}

JournalStatus MesLink::QueueEndpointMessage(const char* name, cfx::Json body) {
  cfx::Envelope envelope;
  envelope.message_name = name;
  envelope.unique_id = new_id_();
  envelope.time_ms = UtcNowMs();
  envelope.source = settings_.handle;
  envelope.body = std::move(body);
  return outbox_->writer->Queue(envelope);
}

void MesLink::BeatUntilStopped() {
  std::unique_lock lock(mutex_);
  const auto period = std::chrono::seconds(settings_.heartbeat_seconds);
  while (!stop_.wait_for(lock, period, [this] { return stopping_; })) {
    lock.unlock();
    QueueEndpointMessage("CFX.Heartbeat",
                         cfx::HeartbeatBody(settings_.handle, settings_.heartbeat_seconds));
    lock.lock();
  }
}

}  // namespace stampwright
