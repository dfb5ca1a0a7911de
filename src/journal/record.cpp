#include "journal/record.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>

namespace stampwright {
namespace {

constexpr std::array<std::string_view, 5> kKindNames = {"burn", "firmware", "scrap", "release",
                                                         "label"};

std::tm UtcTm(int64_t utc_ms) {
  const auto seconds = static_cast<std::time_t>(utc_ms >= 0 ? utc_ms / 1000 : (utc_ms - 999) / 1000);
  std::tm tm{};
  ::gmtime_r(&seconds, &tm);
  return tm;
}

// Days since 1970-01-01 of a civil date (the proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool TakeNumber(std::string_view& text, size_t digits, int& value) {
  if (text.size() < digits) return false;
  value = 0;
  for (size_t i = 0; i < digits; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  text.remove_prefix(digits);
  return true;
}

bool TakeChar(std::string_view& text, char c) {
  if (text.empty() || text[0] != c) return false;
  text.remove_prefix(1);
  return true;
}

}  // namespace

std::string_view RecordKindName(RecordKind kind) { return kKindNames[static_cast<size_t>(kind)]; }

std::optional<RecordKind> ParseRecordKind(std::string_view name) {
  for (size_t i = 0; i < kKindNames.size(); ++i) {
    if (kKindNames[i] == name) return static_cast<RecordKind>(i);
  }
  return std::nullopt;
}

std::string NewRecordId() {
  std::random_device device;
  std::array<uint8_t, 16> bytes{};
  for (size_t i = 0; i < bytes.size(); i += 4) {
    const uint32_t word = device();
    for (size_t k = 0; k < 4; ++k) bytes[i + k] = static_cast<uint8_t>(word >> (8 * k));
  }
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    text += pair;
  }
  return text;
}

int64_t UtcNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string FormatIso8601(int64_t utc_ms) {
  const std::tm tm = UtcTm(utc_ms);
  const int64_t ms = ((utc_ms % 1000) + 1000) % 1000;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return text;
}

std::string FormatUtcSeconds(int64_t utc_ms) {
  const std::tm tm = UtcTm(utc_ms);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

std::optional<int64_t> ParseUtcTime(std::string_view text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
  if (!TakeNumber(text, 4, year) || !TakeChar(text, '-') || !TakeNumber(text, 2, month) ||
      !TakeChar(text, '-') || !TakeNumber(text, 2, day)) {
    return std::nullopt;
  }
  if (!text.empty() && (text[0] == 'T' || text[0] == ' ')) {
    text.remove_prefix(1);
    if (!TakeNumber(text, 2, hour) || !TakeChar(text, ':') || !TakeNumber(text, 2, minute)) {
      return std::nullopt;
    }
    if (TakeChar(text, ':')) {
      if (!TakeNumber(text, 2, second)) return std::nullopt;
      if (TakeChar(text, '.') && !TakeNumber(text, 3, ms)) return std::nullopt;
    }
  }
  TakeChar(text, 'Z');
  if (!text.empty() || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
      minute > 59 || second > 60) {
    return std::nullopt;
  }
  const int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  return ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + ms;
}

}  // namespace stampwright
