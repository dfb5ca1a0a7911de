#include "report/cfx/envelope.h"

#include <cstdio>
#include <ctime>

namespace stampwright::cfx {

std::string FormatTimeStamp(int64_t utc_ms) {
  // Floor division, so that a time before 1970 still splits into a second and its fraction.
  int64_t seconds = utc_ms / 1000;
  int64_t millis = utc_ms % 1000;
  if (millis < 0) {
    millis += 1000;
    --seconds;
  }
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d0000+00:00", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(millis));
  return text;
}

std::string FormatTimeSpan(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const int64_t days = seconds / 86400;
  char text[40];
  if (days > 0) {
    std::snprintf(text, sizeof text, "%lld.%02d:%02d:%02d", static_cast<long long>(days),
                  static_cast<int>(seconds / 3600 % 24), static_cast<int>(seconds / 60 % 60),
                  static_cast<int>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  }
  return text;
}

Json EnvelopeJson(const Envelope& envelope) {
  Json json;
  json["MessageName"] = envelope.message_name;
  json["Version"] = kVersion;
  json["TimeStamp"] = FormatTimeStamp(envelope.time_ms);
  json["UniqueID"] = envelope.unique_id;
  json["Source"] = envelope.source;
  json["Target"] = nullptr;
  json["RequestID"] = nullptr;
  json["MessageBody"] = envelope.body;
  return json;
}

// A unit may report bytes that are not UTF-8 (its firmware text): replaced, never thrown on.
std::string EnvelopeText(const Envelope& envelope) {
  return EnvelopeJson(envelope).dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string_view Topic(std::string_view message_name) {
  const size_t dot = message_name.rfind('.');
  return dot == std::string_view::npos ? message_name : message_name.substr(0, dot);
}

}  // namespace stampwright::cfx
