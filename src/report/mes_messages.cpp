#include "report/mes_messages.h"

#include <cctype>
#include <cstdio>
#include <memory>
#include <random>

#include "report/cfx/messages.h"

namespace stampwright {
namespace {

using cfx::Envelope;
using cfx::TestResult;
using cfx::WorkResult;

bool IsAttempt(const JournalRecord& record) {
  return record.kind == RecordKind::kBurn || record.kind == RecordKind::kFirmware;
}

struct Builder {
  const JournalRecord& record;
  const MesEndpoint& endpoint;
  std::vector<Envelope>& out;

  cfx::WorkUnit Unit() const { return {record.mac, endpoint.bay ? endpoint.bay(record) : 1}; }

  void Add(const char* name, int64_t time_ms, cfx::Json body) {
    out.push_back({name, endpoint.new_id(), time_ms, endpoint.handle, std::move(body)});
  }

  void WorkStarted() { Add(cfx::kWorkStarted, record.started, cfx::WorkStartedBody(record.id, Unit())); }

  void Personalized(int64_t time_ms) {
    std::vector<cfx::Characteristic> characteristics = {{"MAC Address", CfxMacText(record.mac)}};
    if (record.kind == RecordKind::kFirmware) {
      characteristics.push_back({"Firmware File", record.firmware_name});
      characteristics.push_back({"Firmware SHA-256", record.firmware_sha256});
    } else {
      characteristics.push_back({"Chip", record.chip});
      characteristics.push_back({"Module Class", record.module_class});
      characteristics.push_back({"Firmware Version", record.firmware_version});
      characteristics.push_back({"Image Checksum", record.image_checksum});
    }
    Add(cfx::kUnitsPersonalized, time_ms, cfx::UnitsPersonalizedBody(record.id, Unit(), characteristics));
  }

  void Tested(Outcome outcome, int64_t time_ms) {
    cfx::UnitTest returned;
    returned.unique_id = endpoint.new_id();
    returned.name = "Return under new MAC";
    if (record.return_ms) {
      returned.result = TestResult::kPassed;
      returned.measured_ms = record.return_ms;
      returned.measurement_id = endpoint.new_id();
      returned.measurement_name = "Return time";
    } else if (outcome == Outcome::kWrongReturn || outcome == Outcome::kNoReturn ||
               outcome == Outcome::kReturnedOnOtherBay) {
      returned.result = TestResult::kFailed;
    }
    cfx::UnitTest read_back;
    read_back.unique_id = endpoint.new_id();
    read_back.name = "Module read-back";
    if (record.verified) read_back.result = *record.verified ? TestResult::kPassed : TestResult::kFailed;
    const TestResult overall = IsGoodOutcome(outcome) ? TestResult::kPassed : TestResult::kFailed;
    Add(cfx::kUnitsTested, time_ms,
        cfx::UnitsTestedBody(record.id, record.station, Unit(), overall, {returned, read_back}));
  }

  void Completed(Outcome outcome, int64_t time_ms) {
    const WorkResult result = IsGoodOutcome(outcome)            ? WorkResult::kCompleted
                              : outcome == Outcome::kInterrupted ? WorkResult::kAborted
                                                                 : WorkResult::kFailed;
    Add(cfx::kWorkCompleted, time_ms, cfx::WorkCompletedBody(record.id, Unit(), result));
  }

  // The attempt's end: a firmware written is personalized then; a burn's return is tested.
  void Ended() {
    const Outcome outcome = *record.outcome;
    const int64_t at = record.finished.value_or(record.started);
    if (record.kind == RecordKind::kFirmware) {
      if (outcome == Outcome::kFirmwareOk) Personalized(at);
    } else {
      Tested(outcome, at);
    }
    Completed(outcome, at);
  }
};

}  // namespace

std::function<std::string()> MesEndpoint::RandomGuids() {
  std::random_device device;
  std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
  auto engine = std::make_shared<std::mt19937_64>(seed);
  return [engine] {
    const uint64_t high = (*engine)();
    const uint64_t low = (*engine)();
    char text[40];
    std::snprintf(text, sizeof text, "%08llx-%04llx-4%03llx-%04llx-%012llx",
                  static_cast<unsigned long long>(high >> 32), static_cast<unsigned long long>((high >> 16) & 0xFFFF),
                  static_cast<unsigned long long>(high & 0x0FFF),
                  static_cast<unsigned long long>(0x8000 | ((low >> 48) & 0x3FFF)),
                  static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFULL));
    return std::string(text);
  };
}

std::string DefaultCfxHandle(const std::string& station) { return "Stampwright.Station." + station; }

std::string CfxMacText(const std::string& mac) {
  if (mac.size() != 12) return mac;
  std::string text;
  for (size_t i = 0; i < mac.size(); ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(mac[i]))) return mac;
    if (i > 0 && i % 2 == 0) text += '-';
    text += static_cast<char>(std::toupper(static_cast<unsigned char>(mac[i])));
  }
  return text;
}

std::vector<Envelope> MessagesForChange(JournalChange change, const JournalRecord& record,
                                        const MesEndpoint& endpoint) {
  std::vector<Envelope> out;
  if (!IsAttempt(record)) return out;
  Builder builder{record, endpoint, out};
  switch (change) {
    case JournalChange::kAppended:
      if (!record.outcome) {
        builder.WorkStarted();
      } else if (!IsRefusal(*record.outcome)) {
        // Written late (the journal was away while it ran): the whole transaction at once.
        builder.WorkStarted();
        if (record.committed && record.kind == RecordKind::kBurn) builder.Personalized(*record.committed);
        builder.Ended();
      }
      break;
    case JournalChange::kCommitNoted:
      if (record.kind == RecordKind::kBurn && record.committed) builder.Personalized(*record.committed);
      break;
    case JournalChange::kFinished:
      if (record.outcome) builder.Ended();
      break;
  }
  return out;
}

}  // namespace stampwright
