#include "app/mes_link.h"

#include <cstdio>
#include <type_traits>
#include <utility>
#include <variant>

#include "journal/sqlite_journal.h"
#include "report/amqp_url.h"
#include "report/cfx/messages.h"

namespace stampwright {
namespace {

// What each fault is called, and what it is in CFX's terms.
struct FaultText {
  const char* code;
  const char* cause;
  const char* severity;
};
FaultText TextOf(MesFaultKind kind) {
  switch (kind) {
    case MesFaultKind::kJournalUnavailable:
      return {"JournalUnavailable", "ServicesFailure", "Error"};
    case MesFaultKind::kAdapterMissing:
      return {"AdapterMissing", "ElectricalFailure", "Error"};
  }
  return {"", "", ""};
}

}  // namespace

std::optional<MesFaultChange> MesFaultOf(const StationEvent& event) {
  if (const auto* journal = std::get_if<JournalConnectionEvent>(&event.body)) {
    return MesFaultChange{MesFaultKind::kJournalUnavailable, event.bay, !journal->connected,
                          journal->connected ? std::string() : "Journal unavailable: " + journal->text};
  }
  if (const auto* adapter = std::get_if<AdapterEvent>(&event.body)) {
    std::string text;
    if (!adapter->present) {
      // One station without bays scans every adapter there is, and now there is none.
      text = adapter->adapter.empty() ? "No adapter to scan"
                                      : "Adapter " + adapter->adapter + " of bay " +
                                            std::to_string(event.bay) + " is missing";
    }
    return MesFaultChange{MesFaultKind::kAdapterMissing, event.bay, !adapter->present, text};
  }
  return std::nullopt;
}

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
  link->publisher_ = std::make_unique<MesPublisher>(
      options, [raw = link.get()](const MesConnectionState& state) { raw->ConnectionChanged(state); });
  if (!link->publisher_->Start(error)) return nullptr;
  link->thread_ = std::thread([raw = link.get()] { raw->RunUntilStopped(); });
  return link;
}

MesLink::~MesLink() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (outbox_) QueueEndpointMessage("CFX.EndpointShuttingDown", cfx::EndpointShuttingDownBody(settings_.handle));
  // A broker that is there takes the goodbye; one that is away gets it after the next start.
  if (publisher_) {
    publisher_->WaitDrained(std::chrono::seconds(2));
    publisher_->Stop();
  }
}

std::optional<std::string> MesLink::Attach(Journal& journal, int bay) const {
  SqliteJournal* file = journal.LocalFile();
  if (file == nullptr) return "--mes needs a journal with a file on this station";
  MesEndpoint endpoint;
  endpoint.handle = settings_.handle;
  endpoint.bay = [bay](const JournalRecord&) { return bay; };
  return AttachMesOutbox(*file, std::move(endpoint));
}

void MesLink::Report(MesFaultChange change) {
  {
    const std::lock_guard lock(mutex_);
    faults_.push_back(std::move(change));
  }
  wake_.notify_all();
}

void MesLink::SetConnectionListener(ConnectionListener listener) {
  // Under the lock, so that a listener taken away is never called after this returns.
  const std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
  if (listener_ && connection_) listener_(*connection_);
}

void MesLink::ConnectionChanged(const MesConnectionState& state) {
  // One line on stderr per change of the broker connection; the URL never with its password.
  std::fprintf(stderr, "stampwright: MES %s: %s\n", state.connected ? "connected" : "not connected",
               state.text.c_str());
  const std::lock_guard lock(mutex_);
  connection_ = state;
  if (listener_) listener_(state);
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

void MesLink::QueueFault(const MesFaultChange& change) {
  const auto key = std::make_pair(change.kind, change.bay);
  const auto open = open_faults_.find(key);
  JournalStatus status;
  if (change.active) {
    if (open != open_faults_.end()) return;  // told already; it has not ended
    const FaultText text = TextOf(change.kind);
    cfx::Fault fault;
    fault.occurrence_id = new_id_();
    fault.cause = text.cause;
    fault.severity = text.severity;
    fault.code = text.code;
    fault.description = change.text;
    fault.lane = change.bay;
    fault.occurred_ms = UtcNowMs();
    status = QueueEndpointMessage(cfx::kFaultOccurred, cfx::FaultOccurredBody(fault));
    if (status.ok()) open_faults_.emplace(key, fault.occurrence_id);
  } else {
    if (open == open_faults_.end()) return;  // never raised
    status = QueueEndpointMessage(cfx::kFaultCleared, cfx::FaultClearedBody(open->second));
    if (status.ok()) open_faults_.erase(open);
  }
  if (!status.ok()) std::fprintf(stderr, "stampwright: MES: %s\n", status.error.c_str());
}

void MesLink::RunUntilStopped() {
  const auto period = std::chrono::seconds(settings_.heartbeat_seconds);
  auto next_beat = std::chrono::steady_clock::now() + period;
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait_until(lock, next_beat, [this] { return stopping_ || !faults_.empty(); });
    const bool stopping = stopping_;
    std::deque<MesFaultChange> faults;
    faults.swap(faults_);
    lock.unlock();
    // A fault told just before the close is still queued, ahead of the goodbye.
    for (const MesFaultChange& change : faults) QueueFault(change);
    if (stopping) return;
    if (std::chrono::steady_clock::now() >= next_beat) {
      QueueEndpointMessage(cfx::kHeartbeat, cfx::HeartbeatBody(settings_.handle, settings_.heartbeat_seconds));
      next_beat += period;
    }
    lock.lock();
  }
}

}  // namespace stampwright
