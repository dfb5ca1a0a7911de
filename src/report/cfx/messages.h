#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "report/cfx/envelope.h"

namespace stampwright::cfx {

// The message names this station sends, as the CFX SDK names its classes.
inline constexpr const char* kEndpointConnected = "CFX.EndpointConnected";
inline constexpr const char* kHeartbeat = "CFX.Heartbeat";
inline constexpr const char* kEndpointShuttingDown = "CFX.EndpointShuttingDown";
inline constexpr const char* kWorkStarted = "CFX.Production.WorkStarted";
inline constexpr const char* kWorkCompleted = "CFX.Production.WorkCompleted";
inline constexpr const char* kUnitsPersonalized = "CFX.Production.Assembly.UnitsPersonalized";
inline constexpr const char* kUnitsTested = "CFX.Production.TestAndInspection.UnitsTested";
inline constexpr const char* kFaultOccurred = "CFX.ResourcePerformance.FaultOccurred";
inline constexpr const char* kFaultCleared = "CFX.ResourcePerformance.FaultCleared";

// CFX enumerations are written as their names.
enum class WorkResult { kCompleted, kFailed, kAborted };
enum class TestResult { kPassed, kFailed, kSkipped };
const char* WorkResultName(WorkResult result);
const char* TestResultName(TestResult result);

// The message bodies. Every property the SDK writes is written, null where unknown, in the
// SDK's order and spelling (TransactionID in the work messages, TransactionId in the others).
Json EndpointConnectedBody(const std::string& handle);
Json HeartbeatBody(const std::string& handle, int64_t frequency_seconds);
Json EndpointShuttingDownBody(const std::string& handle);

// One unit in one position: the station's bay is its lane and its position.
struct WorkUnit {
  std::string identifier;  // the label's MAC
  int position = 1;
};
Json WorkStartedBody(const std::string& transaction_id, const WorkUnit& unit);
Json WorkCompletedBody(const std::string& transaction_id, const WorkUnit& unit, WorkResult result);

// Name and value; an empty value is written as null.
using Characteristic = std::pair<std::string, std::string>;
Json UnitsPersonalizedBody(const std::string& transaction_id, const WorkUnit& unit,
                           const std::vector<Characteristic>& characteristics);

// One test of a unit; a measurement in ms when measured_ms is set.
struct UnitTest {
  std::string unique_id;
  std::string name;
  TestResult result = TestResult::kSkipped;
  std::optional<int64_t> measured_ms;
  std::string measurement_id;    // with measured_ms
  std::string measurement_name;  // with measured_ms
};
Json UnitsTestedBody(const std::string& transaction_id, const std::string& tester, const WorkUnit& unit,
                     TestResult overall, const std::vector<UnitTest>& tests);

// What went wrong, in CFX's words (FaultCause, FaultSeverity) and the station's own code.
struct Fault {
  std::string occurrence_id;
  std::string cause;     // "ServicesFailure", "ElectricalFailure", ...
  std::string severity;  // "Error", "Warning", ...
  std::string code;
  std::string description;
  std::optional<int> lane;
  int64_t occurred_ms = 0;
};
Json FaultOccurredBody(const Fault& fault);
Json FaultClearedBody(const std::string& occurrence_id);

}  // namespace stampwright::cfx
