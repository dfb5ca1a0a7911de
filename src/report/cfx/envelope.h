#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace stampwright::cfx {

// CFX's JSON keeps its properties in the order the SDK writes them.
using Json = nlohmann::ordered_json;

// The CFX version every envelope carries.
inline constexpr const char* kVersion = "2.1";

// One CFX message in its envelope: what goes into the outbox and onto the wire.
struct Envelope {
  std::string message_name;  // "CFX.Production.WorkStarted"
  std::string unique_id;     // a lower-case GUID, also the AMQP message-id
  int64_t time_ms = 0;       // UTC milliseconds
  std::string source;        // the endpoint's CFX handle
  Json body = Json::object();
};

// "2026-12-09T07:40:12.3450000+00:00": the SDK's round-trip form, seven fractional digits and
// an offset; always UTC here, so that a line's stations compare without a time zone.
std::string FormatTimeStamp(int64_t utc_ms);

// "00:01:00": a .NET TimeSpan as CFX writes it ("d.hh:mm:ss" from one day).
std::string FormatTimeSpan(int64_t seconds);

// The envelope as CFX writes it: MessageName, Version, TimeStamp, UniqueID, Source, Target
// (null), RequestID (null), MessageBody.
Json EnvelopeJson(const Envelope& envelope);
std::string EnvelopeText(const Envelope& envelope);

// The namespace of a message, its AMQP cfx-topic: "CFX.Production" for
// "CFX.Production.WorkStarted".
std::string_view Topic(std::string_view message_name);

}  // namespace stampwright::cfx
