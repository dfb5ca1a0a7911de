#include "report/cfx/messages.h"

namespace stampwright::cfx {
namespace {

Json TextOrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

// CFX.Structures.UnitPosition, placed nowhere in particular: one unit alone in its bay.
Json UnitPosition(const WorkUnit& unit, const char* status) {
  Json json;
  json["UnitIdentifier"] = unit.identifier;
  json["PositionNumber"] = unit.position;
  json["PositionName"] = nullptr;
  json["X"] = 0.0;
  json["Y"] = 0.0;
  json["Z"] = nullptr;
  json["Rotation"] = 0.0;
  json["FlipX"] = false;
  json["FlipY"] = false;
  json["Status"] = status;
  return json;
}

Json Measurement(const UnitTest& test) {
  Json value;
  value["Value"] = static_cast<double>(*test.measured_ms);
  value["ValueUnits"] = "ms";
  value["ExpectedValue"] = nullptr;
  value["ExpectedValueUnits"] = nullptr;
  value["MinimumAcceptableValue"] = nullptr;
  value["MinimumAcceptableValueUnits"] = nullptr;
  value["MaximumAcceptableValue"] = nullptr;
  value["MaximumAcceptableValueUnits"] = nullptr;
  Json json;
  // Measurement is abstract in the SDK: the concrete type travels with it.
  json["$type"] = "CFX.Structures.NumericMeasurement, CFX";
  json["MeasuredValue"] = std::move(value);
  json["UniqueIdentifier"] = test.measurement_id;
  json["MeasurementName"] = test.measurement_name;
  json["TimeRecorded"] = nullptr;
  json["Sequence"] = 0;
  json["Result"] = TestResultName(test.result);
  json["CRDs"] = nullptr;
  return json;
}

Json Test(const UnitTest& test) {
  Json json;
  json["UniqueIdentifier"] = test.unique_id;
  json["TestName"] = test.name;
  json["TestStartTime"] = nullptr;
  json["TestEndTime"] = nullptr;
  json["TestConditions"] = Json::array();
  json["TestProcedure"] = nullptr;
  json["Comments"] = nullptr;
  json["Result"] = TestResultName(test.result);
  json["Error"] = nullptr;
  json["SymptomsFound"] = Json::array();
  json["DefectsFound"] = Json::array();
  json["Measurements"] = Json::array();
  if (test.measured_ms) json["Measurements"].push_back(Measurement(test));
  return json;
}

}  // namespace

const char* WorkResultName(WorkResult result) {
  switch (result) {
    case WorkResult::kCompleted: return "Completed";
    case WorkResult::kFailed: return "Failed";
    case WorkResult::kAborted: return "Aborted";
  }
  return "Failed";
}

const char* TestResultName(TestResult result) {
  switch (result) {
    case TestResult::kPassed: return "Passed";
    case TestResult::kFailed: return "Failed";
    case TestResult::kSkipped: return "Skipped";
  }
  return "Failed";
}

Json EndpointConnectedBody(const std::string& handle) {
  Json json;
  json["CFXHandle"] = handle;
  // The station takes no requests: no address to send them to.
  json["RequestNetworkUri"] = nullptr;
  json["RequestTargetAddress"] = nullptr;
  return json;
}

Json HeartbeatBody(const std::string& handle, int64_t frequency_seconds) {
  Json json;
  json["CFXHandle"] = handle;
  json["HeartbeatFrequency"] = FormatTimeSpan(frequency_seconds);
  json["ActiveFaults"] = nullptr;
  json["ActiveRecipes"] = nullptr;
  return json;
}

Json EndpointShuttingDownBody(const std::string& handle) {
  Json json;
  json["CFXHandle"] = handle;
  return json;
}

Json WorkStartedBody(const std::string& transaction_id, const WorkUnit& unit) {
  Json json;
  json["PrimaryIdentifier"] = unit.identifier;
  json["HermesIdentifier"] = nullptr;
  json["TransactionID"] = transaction_id;
  json["Lane"] = unit.position;
  json["UnitCount"] = 1;
  json["Units"] = Json::array({UnitPosition(unit, "Pass")});
  json["RecipeName"] = nullptr;
  json["Revision"] = nullptr;
  json["RelevantSurface"] = "Unspecified";
  json["WorkOrderIdentifier"] = nullptr;
  return json;
}

Json WorkCompletedBody(const std::string& transaction_id, const WorkUnit& unit, WorkResult result) {
  Json json;
  json["TransactionID"] = transaction_id;
  json["Result"] = WorkResultName(result);
  json["PrimaryIdentifier"] = unit.identifier;
  json["HermesIdentifier"] = nullptr;
  json["UnitCount"] = 1;
  json["Units"] = Json::array({UnitPosition(unit, result == WorkResult::kCompleted ? "Pass" : "Fail")});
  json["PerformanceImpacts"] = nullptr;
  return json;
}

Json UnitsPersonalizedBody(const std::string& transaction_id, const WorkUnit& unit,
                           const std::vector<Characteristic>& characteristics) {
  Json list = Json::array();
  for (const auto& [name, value] : characteristics) {
    Json characteristic;
    characteristic["Name"] = name;
    characteristic["Value"] = TextOrNull(value);
    list.push_back(std::move(characteristic));
  }
  Json personalized;
  personalized["UnitIdentifier"] = unit.identifier;
  personalized["UnitPositionNumber"] = unit.position;
  personalized["Characteristics"] = std::move(list);
  Json json;
  json["TransactionId"] = transaction_id;
  json["PersonalizedUnits"] = Json::array({std::move(personalized)});
  return json;
}

Json UnitsTestedBody(const std::string& transaction_id, const std::string& tester, const WorkUnit& unit,
                     TestResult overall, const std::vector<UnitTest>& tests) {
  Json actor;
  actor["OperatorIdentifier"] = tester;
  actor["ActorType"] = "Robot";
  actor["LastName"] = nullptr;
  actor["FirstName"] = nullptr;
  actor["LoginName"] = nullptr;
  Json sampling;
  sampling["SamplingMethod"] = "NoSampling";
  sampling["LotSize"] = nullptr;
  sampling["SampleSize"] = nullptr;
  Json tested;
  tested["UnitIdentifier"] = unit.identifier;
  tested["UnitPositionNumber"] = unit.position;
  tested["OverallResult"] = TestResultName(overall);
  tested["Tests"] = Json::array();
  for (const UnitTest& test : tests) tested["Tests"].push_back(Test(test));
  Json json;
  json["TransactionId"] = transaction_id;
  json["TestMethod"] = "Automated";
  json["Tester"] = std::move(actor);
  json["SamplingInformation"] = std::move(sampling);
  json["TestedUnits"] = Json::array({std::move(tested)});
  return json;
}

Json FaultOccurredBody(const Fault& fault) {
  Json json;
  json["TransactionID"] = nullptr;
  json["Cause"] = fault.cause;
  json["Severity"] = fault.severity;
  json["FaultCode"] = TextOrNull(fault.code);
  json["FaultOccurrenceId"] = fault.occurrence_id;
  json["Lane"] = fault.lane ? Json(*fault.lane) : Json(nullptr);
  json["Stage"] = nullptr;
  json["SideLocation"] = "Unknown";
  json["AccessType"] = "Unknown";
  json["Description"] = TextOrNull(fault.description);
  json["DescriptionTranslations"] = Json::object();
  json["OccurredAt"] = FormatTimeStamp(fault.occurred_ms);
  json["DueDateTime"] = nullptr;
  Json body;
  body["Fault"] = std::move(json);
  return body;
}

Json FaultClearedBody(const std::string& occurrence_id) {
  Json json;
  json["FaultOccurrenceId"] = occurrence_id;
  json["Operator"] = nullptr;
  return json;
}

}  // namespace stampwright::cfx
