#include "station/station_host.h"

#include <future>
#include <utility>

#include "station/page_procedure.h"
#include "station/scan_cycle.h"
#include "station/station_core.h"

namespace stampwright {
namespace {

// Waits for the answer the front end gives; one never given (the front end went away) is the
// fallback.
template <typename T>
T AwaitAnswer(std::future<T> answer, T fallback) {
  try {
    return answer.get();
  } catch (const std::future_error&) {
    return fallback;
  }
}

}  // namespace

StationHost::StationHost(StationParts parts, Outlet outlet)
    : bay_(parts.bay),
      outlet_(std::move(outlet)),
      station_(page_, parts.driver, parts.clock, loop_, parts.arp_flush,
               std::move(parts.preferences), std::move(parts.settings)),
      core_(CoreOf(station_)) {
  core_.journal = std::move(parts.journal);
  page_.SetSink([this](const PageChange& change) { Publish(change); });
  const bool waits = parts.operator_answers;
  page_.SetBoxHandler([this, waits](std::string_view text, std::string_view caption,
                                    uint32_t type) {
    Notice notice{std::string(text), std::string(caption), type, nullptr};
    if (!waits) {
      Publish(std::move(notice));
      return kIdOk;
    }
    notice.answer = std::make_shared<std::promise<int>>();
    std::future<int> answer = notice.answer->get_future();
    Publish(std::move(notice));
    return AwaitAnswer(std::move(answer), kIdOk);
  });
  if (waits) {
    page_.SetFileDialogHandler([this](const FileDialogRequest& request) {
      FileDialogAsked asked{request,
                            std::make_shared<std::promise<std::optional<std::string>>>()};
      std::future<std::optional<std::string>> answer = asked.answer->get_future();
      Publish(std::move(asked));
      return AwaitAnswer(std::move(answer), std::optional<std::string>());
    });
  }
  page_.SetDirectory(core_.settings.workdir);
  core_.on_activity = [this](StationActivity activity, const std::string& mac) {
    Publish(ActivityEvent{activity, mac});
  };
  core_.on_phase = [this](StationPhase phase) { Publish(PhaseEvent{phase}); };
  core_.on_module_identified = [this] {
    Publish(ModuleReadEvent{core_.shown.chip, core_.shown.module_class});
  };
  core_.on_unit = [this](bool present) {
    if (!present) return Publish(UnitEvent{});
    // The unit's own MAC: the field shows it only after the connection does.
    const int adapter = core_.adapters.CurrentAdapter;
    const MacAddress mac = adapter >= 0 && adapter < kMaxAdapters
                               ? core_.summaries[static_cast<size_t>(adapter)].DeviceMac
                               : MacAddress{};
    Publish(UnitEvent{true, mac.ToString(), core_.shown.chip, core_.shown.firmware});
  };
  core_.on_refused = [this](Outcome reason) { Publish(RefusedEvent{reason}); };
  core_.journal.on_outcome = [this](const JournalRecord& record) {
    Publish(RecordEvent{record});
  };
  const auto observe = [this](Journal& journal) {
    journal.SetConnectionObserver([this](bool connected, const std::string& text) {
      Publish(JournalConnectionEvent{connected, text});
    });
  };
  core_.journal.on_reopened = [this, observe](Journal& journal) {
    observe(journal);
    Publish(JournalReopenedEvent{});
  };
  if (core_.journal.journal != nullptr) observe(*core_.journal.journal);
}

StationHost::~StationHost() {
  if (started_) {
    Close();
    loop_.Join();
  }
}

void StationHost::Publish(StationEventBody body) {
  if (outlet_) outlet_(StationEvent{bay_, std::move(body)});
}

void StationHost::Start(std::function<void()> after_created) {
  started_ = true;
  loop_.Start([this] {
    OnScanTimer(core_);
    if (after_tick_) after_tick_();
  });
  loop_.Post([this, after_created = std::move(after_created)] {
    OnPageCreated(core_);
    if (after_created) after_created();
    OnPageActivated(core_);
    Publish(StartedEvent{});
  });
}

void StationHost::Post(std::function<void(Station&, PageModel&)> command) {
  loop_.Post([this, command = std::move(command)] {
    if (!closed_) command(station_, page_);
  });
}

void StationHost::Close() {
  loop_.Post([this] { CloseNow(); });
}

void StationHost::CloseNow() {
  if (closed_) return;
  closed_ = true;
  // Nothing may tick between the close and the end of the thread.
  loop_.Stop();
  OnPageDeactivated(core_);
  OnPageDestroyed(core_);
  Publish(ClosedEvent{});
  loop_.RequestEnd();
}

}  // namespace stampwright
