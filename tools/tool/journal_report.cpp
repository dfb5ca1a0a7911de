// "journal report": attempts, units, yield, outcomes (Pareto) and times, as text, JSON or one
// self-contained HTML page with two inline SVG charts.

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"
#include "journal/export.h"
#include "journal/statistics.h"
#include "journal_common.h"

namespace stampwright::tool {
namespace {

constexpr const char* kCommand = "journal";
constexpr int64_t kHourMs = 3600000;

struct Bucket {
  int64_t start = 0;
  std::vector<JournalRecord> records;
};

struct Report {
  YieldFigures yield;
  std::vector<std::pair<std::string, int>> outcomes;  // most frequent first
  int64_t burn_median = 0, burn_p95 = 0, return_median = 0, return_p95 = 0;
  int verified_successes = 0;  // burns whose "success" came after a read-back that matched
  double units_per_hour = 0;
  std::string by;
  std::vector<std::pair<Bucket, YieldFigures>> buckets;
  std::vector<std::pair<int64_t, int>> units_by_hour;  // hour start, units burned
  // One row per station when the records come from more than one (a line's journal).
  std::vector<std::pair<std::string, YieldFigures>> stations;
};

// Shifts are 06-14, 14-22 and 22-06 UTC.
int64_t BucketStart(int64_t t, const std::string& by) {
  if (by == "day") return UtcDayStart(t);
  if (by == "hour") return t - (((t % kHourMs) + kHourMs) % kHourMs);
  const int64_t shifted = t - 6 * kHourMs;
  const int64_t eight = 8 * kHourMs;
  return shifted - (((shifted % eight) + eight) % eight) + 6 * kHourMs;
}

Report Build(const std::vector<JournalRecord>& records, const std::string& by) {
  Report report;
  report.by = by;
  std::vector<JournalRecord> attempts;
  for (const JournalRecord& r : records) {
    if (r.kind == RecordKind::kBurn || r.kind == RecordKind::kFirmware) attempts.push_back(r);
  }
  report.yield = ComputeYield(attempts);
  std::map<std::string, int> counts;
  std::vector<int64_t> burn, back;
  std::map<int64_t, Bucket> buckets;
  std::map<int64_t, int> hours;
  int64_t first = 0, last = 0;
  for (const JournalRecord& r : attempts) {
    counts[r.outcome ? std::string(OutcomeName(*r.outcome)) : std::string("(open)")]++;
    if (r.burn_ms) burn.push_back(*r.burn_ms);
    if (r.return_ms) back.push_back(*r.return_ms);
    if (r.outcome == Outcome::kSuccess && r.verified == true) ++report.verified_successes;
    Bucket& bucket = buckets[BucketStart(r.started, by)];
    bucket.start = BucketStart(r.started, by);
    bucket.records.push_back(r);
    if (r.outcome == Outcome::kSuccess) hours[BucketStart(r.finished.value_or(r.started), "hour")]++;
    first = first == 0 ? r.started : std::min(first, r.started);
    last = std::max(last, r.finished.value_or(r.started));
  }
  report.outcomes.assign(counts.begin(), counts.end());
  std::stable_sort(report.outcomes.begin(), report.outcomes.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  report.burn_median = Percentile(burn, 50);
  report.burn_p95 = Percentile(burn, 95);
  report.return_median = Percentile(back, 50);
  report.return_p95 = Percentile(back, 95);
  // Over the time the attempts span, at least a minute.
  const double hours_spanned = std::max<double>(double(last - first), 60000.0) / double(kHourMs);
  report.units_per_hour = attempts.empty() ? 0.0 : report.yield.units_burned / hours_spanned;
  for (auto& [start, bucket] : buckets) report.buckets.emplace_back(bucket, ComputeYield(bucket.records));
  report.units_by_hour.assign(hours.begin(), hours.end());
  std::map<std::string, std::vector<JournalRecord>> by_station;
  for (const JournalRecord& r : attempts) by_station[r.station].push_back(r);
  if (by_station.size() > 1) {
    for (const auto& [station, rows] : by_station) report.stations.emplace_back(station, ComputeYield(rows));
  }
  return report;
}

std::string Percent(double fraction) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", 100.0 * fraction);
  return text;
}

void PrintText(const Report& r) {
  std::printf("attempts: %d\nunits: %d\nsuccesses: %d\nunits burned: %d\nfirst-pass yield: %s\n",
              r.yield.attempts, r.yield.units, r.yield.successes, r.yield.units_burned,
              Percent(r.yield.FirstPassYield()).c_str());
  std::printf("burn_ms: median %lld, p95 %lld\nreturn_ms: median %lld, p95 %lld\nunits per hour: %.1f\n",
              static_cast<long long>(r.burn_median), static_cast<long long>(r.burn_p95),
              static_cast<long long>(r.return_median), static_cast<long long>(r.return_p95),
              r.units_per_hour);
  std::printf("verified successes: %d of %d\n", r.verified_successes, r.yield.successes);
  std::printf("outcomes:\n");
  for (const auto& [name, count] : r.outcomes) std::printf("  %-20s %d\n", name.c_str(), count);
  std::printf("by %s:\n", r.by.c_str());
  for (const auto& [bucket, y] : r.buckets) {
    std::printf("  %s  attempts %d  units burned %d  first-pass yield %s\n",
                FormatUtcSeconds(bucket.start).c_str(), y.attempts, y.units_burned,
                Percent(y.FirstPassYield()).c_str());
  }
  if (r.stations.empty()) return;
  std::printf("by station:\n");
  for (const auto& [station, y] : r.stations) {
    std::printf("  %s  attempts %d  units burned %d  first-pass yield %s\n", station.c_str(),
                y.attempts, y.units_burned, Percent(y.FirstPassYield()).c_str());
  }
}

std::string JsonReport(const Report& r) {
  std::string out = "{\"attempts\":" + std::to_string(r.yield.attempts) +
                    ",\"units\":" + std::to_string(r.yield.units) +
                    ",\"successes\":" + std::to_string(r.yield.successes) +
                    ",\"units_burned\":" + std::to_string(r.yield.units_burned);
  char number[64];
  std::snprintf(number, sizeof number, "%.4f", r.yield.FirstPassYield());
  out += ",\"first_pass_yield\":" + std::string(number) + ",\"outcomes\":[";
  for (size_t i = 0; i < r.outcomes.size(); ++i) {
    out += (i ? "," : "") + std::string("{\"outcome\":") + JsonString(r.outcomes[i].first) +
           ",\"count\":" + std::to_string(r.outcomes[i].second) + "}";
  }
  std::snprintf(number, sizeof number, "%.2f", r.units_per_hour);
  out += "],\"burn_ms\":{\"median\":" + std::to_string(r.burn_median) + ",\"p95\":" +
         std::to_string(r.burn_p95) + "},\"return_ms\":{\"median\":" + std::to_string(r.return_median) +
         ",\"p95\":" + std::to_string(r.return_p95) + "},\"units_per_hour\":" + number +
         ",\"verified_successes\":" + std::to_string(r.verified_successes) +
         ",\"by\":" + JsonString(r.by) + ",\"buckets\":[";
  for (size_t i = 0; i < r.buckets.size(); ++i) {
    const auto& [bucket, y] = r.buckets[i];
    std::snprintf(number, sizeof number, "%.4f", y.FirstPassYield());
    out += (i ? "," : "") + std::string("{\"start\":") + JsonString(FormatIso8601(bucket.start)) +
           ",\"attempts\":" + std::to_string(y.attempts) + ",\"units_burned\":" +
           std::to_string(y.units_burned) + ",\"first_pass_yield\":" + number + "}";
  }
  out += "]";
  if (!r.stations.empty()) {
    out += ",\"stations\":[";
    for (size_t i = 0; i < r.stations.size(); ++i) {
      const auto& [station, y] = r.stations[i];
      std::snprintf(number, sizeof number, "%.4f", y.FirstPassYield());
      out += (i ? "," : "") + std::string("{\"station\":") + JsonString(station) +
             ",\"attempts\":" + std::to_string(y.attempts) + ",\"units_burned\":" +
             std::to_string(y.units_burned) + ",\"first_pass_yield\":" + number + "}";
    }
    out += "]";
  }
  return out + "}";
}

std::string Escape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// A bar chart as inline SVG: one labelled bar per item, scaled to the largest value.
std::string BarChart(const std::string& id, const std::string& title,
                     const std::vector<std::pair<std::string, int>>& bars) {
  constexpr int kBarHeight = 22, kLabelWidth = 170, kPlotWidth = 360;
  const int height = 30 + kBarHeight * static_cast<int>(std::max<size_t>(bars.size(), 1));
  int largest = 1;
  for (const auto& bar : bars) largest = std::max(largest, bar.second);
  std::string svg = "<svg id=\"" + id + "\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    std::to_string(kLabelWidth + kPlotWidth + 60) + "\" height=\"" +
                    std::to_string(height) + "\" role=\"img\" aria-label=\"" + Escape(title) + "\">";
  svg += "<text x=\"0\" y=\"16\" font-weight=\"bold\">" + Escape(title) + "</text>";
  int y = 26;
  for (const auto& [label, value] : bars) {
    const int width = std::max(1, value * kPlotWidth / largest);
    svg += "<text x=\"0\" y=\"" + std::to_string(y + 15) + "\">" + Escape(label) + "</text>";
    svg += "<rect class=\"bar\" x=\"" + std::to_string(kLabelWidth) + "\" y=\"" + std::to_string(y + 3) +
           "\" width=\"" + std::to_string(width) + "\" height=\"" + std::to_string(kBarHeight - 6) +
           "\" fill=\"#3b6ea5\"/>";
    svg += "<text x=\"" + std::to_string(kLabelWidth + width + 6) + "\" y=\"" +
           std::to_string(y + 15) + "\">" + std::to_string(value) + "</text>";
    y += kBarHeight;
  }
  if (bars.empty()) svg += "<text x=\"0\" y=\"42\">no data</text>";
  return svg + "</svg>";
}

std::string HtmlReport(const Report& r) {
  std::vector<std::pair<std::string, int>> hours;
  for (const auto& [start, units] : r.units_by_hour) hours.emplace_back(FormatUtcSeconds(start).substr(0, 16), units);
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Production journal "
      "report</title><style>body{font-family:sans-serif;margin:2em}table{border-collapse:collapse}"
      "td,th{border:1px solid #999;padding:2px 8px;text-align:right}th{text-align:left}"
      "text{font-size:13px}</style></head><body>\n<h1>Production journal report</h1>\n<table>";
  char figure[64];
  std::snprintf(figure, sizeof figure, "%.1f", r.units_per_hour);
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"attempts", std::to_string(r.yield.attempts)},
      {"units", std::to_string(r.yield.units)},
      {"successes", std::to_string(r.yield.successes)},
      {"verified successes", std::to_string(r.verified_successes)},
      {"units burned", std::to_string(r.yield.units_burned)},
      {"first-pass yield", Percent(r.yield.FirstPassYield())},
      {"burn_ms median / p95", std::to_string(r.burn_median) + " / " + std::to_string(r.burn_p95)},
      {"return_ms median / p95", std::to_string(r.return_median) + " / " + std::to_string(r.return_p95)},
      {"units per hour", figure},
  };
  for (const auto& [name, value] : rows) html += "<tr><th>" + name + "</th><td>" + value + "</td></tr>";
  html += "</table>\n<h2>Outcomes</h2>\n" + BarChart("pareto", "Outcomes (Pareto)", r.outcomes) +
          "\n<h2>Units per hour</h2>\n" + BarChart("units-per-hour", "Units burned per hour (UTC)", hours) +
          "\n<h2>By " + Escape(r.by) + "</h2>\n<table><tr><th>from (UTC)</th><th>attempts</th><th>units "
          "burned</th><th>first-pass yield</th></tr>";
  for (const auto& [bucket, y] : r.buckets) {
    html += "<tr><th>" + FormatUtcSeconds(bucket.start) + "</th><td>" + std::to_string(y.attempts) +
            "</td><td>" + std::to_string(y.units_burned) + "</td><td>" + Percent(y.FirstPassYield()) +
            "</td></tr>";
  }
  return html + "</table>\n</body></html>\n";
}

}  // namespace

int RunJournalReport(const JournalArguments& arguments) {
  RecordFilter filter;
  std::string error;
  if (!TakeTimeWindow(arguments, &filter, &error)) return UsageError(kCommand, error.c_str());
  const std::string by = arguments.Get("--by", "hour");
  if (by != "hour" && by != "shift" && by != "day") return UsageError(kCommand, "--by is hour, shift or day");
  const std::string format = arguments.Get("--format", "text");
  if (format != "text" && format != "json" && format != "html") {
    return UsageError(kCommand, "--format is text, json or html");
  }
  auto journal = OpenToolJournal(arguments);
  if (!journal) return kExitFailure;
  std::vector<JournalRecord> records;
  if (const JournalStatus status = journal->Read(filter, &records); !status.ok()) {
    return Failure(kCommand, status.error.c_str());
  }
  const Report report = Build(records, by);
  if (format == "text") {
    PrintText(report);
  } else {
    const std::string out = format == "json" ? JsonReport(report) + "\n" : HtmlReport(report);
    std::fwrite(out.data(), 1, out.size(), stdout);
  }
  return kExitOk;
}

}  // namespace stampwright::tool
