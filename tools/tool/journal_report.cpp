// "journal report": the period and stations covered, attempts (those that sent a frame to a
// unit), refusals, units, yield, outcomes (Pareto) and times, per station too when there are
// several and per bay when records carry one; as text, JSON or one self-contained HTML page with
// two inline SVG charts.

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
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

// The figures of one row: the whole report, a bucket or a station.
struct Figures {
  YieldFigures yield;
  // Clock hours (UTC) in which at least one attempt sent a frame to a unit: the hours the line
  // worked, so that a short run is never extrapolated to a full hour.
  int active_hours = 0;
  double UnitsPerHour() const { return active_hours == 0 ? 0.0 : double(yield.units_burned) / active_hours; }
};

// What an outcome says about the attempt, for the bars' colours.
enum class OutcomeKind { kGood, kRefused, kFailed, kOpen };

struct OutcomeCount {
  std::string name;
  int count = 0;
  OutcomeKind kind = OutcomeKind::kOpen;
};

// One bay of one station; records without a bay (a station without gang) are one row of their own.
struct BayFigures {
  std::string station;
  std::optional<int64_t> bay;
  YieldFigures yield;
};

struct Report {
  Figures figures;
  // The first record's start and the last record's end, of every kind; none without records.
  std::optional<int64_t> first, last;
  std::vector<std::string> station_names;
  std::vector<OutcomeCount> outcomes;  // most frequent first
  int64_t burn_median = 0, burn_p95 = 0, return_median = 0, return_p95 = 0;
  int verified_successes = 0;  // burns whose "success" came after a read-back that matched
  std::string by;
  std::vector<std::pair<Bucket, Figures>> buckets;
  std::vector<std::pair<int64_t, int>> units_by_hour;  // hour start, units burned
  // One row per station when the records come from more than one (a line's journal).
  std::vector<std::pair<std::string, Figures>> stations;
  // Per bay, bays in order within each station, only when some record has a bay.
  std::vector<BayFigures> bays;
};

int64_t HourStart(int64_t t) { return t - (((t % kHourMs) + kHourMs) % kHourMs); }

// Shifts are 06-14, 14-22 and 22-06 UTC.
int64_t BucketStart(int64_t t, const std::string& by) {
  if (by == "day") return UtcDayStart(t);
  if (by == "hour") return HourStart(t);
  const int64_t shifted = t - 6 * kHourMs;
  const int64_t eight = 8 * kHourMs;
  return shifted - (((shifted % eight) + eight) % eight) + 6 * kHourMs;
}

Figures FiguresOf(const std::vector<JournalRecord>& records) {
  Figures figures;
  figures.yield = ComputeYield(records);
  std::set<int64_t> hours;
  for (const JournalRecord& r : records) {
    if (r.kind == RecordKind::kBurn && !(r.outcome && IsRefusal(*r.outcome))) hours.insert(HourStart(r.started));
  }
  figures.active_hours = static_cast<int>(hours.size());
  return figures;
}

OutcomeKind KindOf(std::optional<Outcome> outcome) {
  if (!outcome) return OutcomeKind::kOpen;
  if (IsGoodOutcome(*outcome)) return OutcomeKind::kGood;
  return IsRefusal(*outcome) ? OutcomeKind::kRefused : OutcomeKind::kFailed;
}

// The per-bay rows of the burns among attempts; none when no burn has a bay.
std::vector<BayFigures> BayRows(const std::vector<JournalRecord>& attempts) {
  using Key = std::pair<std::string, std::optional<int64_t>>;
  // Bays in number order within a station, records without a bay after them.
  const auto order = [](const Key& a, const Key& b) {
    if (a.first != b.first) return a.first < b.first;
    if (a.second.has_value() != b.second.has_value()) return a.second.has_value();
    return a.second < b.second;
  };
  std::map<Key, std::vector<JournalRecord>, decltype(order)> by_bay(order);
  bool any_bay = false;
  for (const JournalRecord& r : attempts) {
    if (r.kind != RecordKind::kBurn) continue;  // yield counts burns only
    by_bay[{r.station, r.bay}].push_back(r);
    any_bay = any_bay || r.bay.has_value();
  }
  std::vector<BayFigures> rows;
  if (!any_bay) return rows;
  for (const auto& [key, records] : by_bay) rows.push_back({key.first, key.second, ComputeYield(records)});
  return rows;
}

Report Build(const std::vector<JournalRecord>& records, const std::string& by) {
  Report report;
  report.by = by;
  std::vector<JournalRecord> attempts;
  std::set<std::string> names;
  for (const JournalRecord& r : records) {
    if (r.kind == RecordKind::kBurn || r.kind == RecordKind::kFirmware) attempts.push_back(r);
    names.insert(r.station);
    const int64_t end = r.finished.value_or(r.started);
    report.first = report.first ? std::min(*report.first, r.started) : r.started;
    report.last = report.last ? std::max(*report.last, end) : end;
  }
  report.station_names.assign(names.begin(), names.end());
  report.figures = FiguresOf(attempts);
  std::map<std::string, OutcomeCount> counts;
  std::vector<int64_t> burn, back;
  std::map<int64_t, Bucket> buckets;
  std::map<int64_t, int> hours;
  for (const JournalRecord& r : attempts) {
    const std::string name = r.outcome ? std::string(OutcomeName(*r.outcome)) : std::string("(open)");
    OutcomeCount& count = counts[name];
    count.name = name;
    count.kind = KindOf(r.outcome);
    ++count.count;
    // A refusal's time is the lookup's or the guard's, not a burn's.
    const bool refused = r.outcome && IsRefusal(*r.outcome);
    if (r.burn_ms && !refused) burn.push_back(*r.burn_ms);
    if (r.return_ms) back.push_back(*r.return_ms);
    if (r.outcome == Outcome::kSuccess && r.verified == true) ++report.verified_successes;
    Bucket& bucket = buckets[BucketStart(r.started, by)];
    bucket.start = BucketStart(r.started, by);
    bucket.records.push_back(r);
    if (r.outcome == Outcome::kSuccess) hours[HourStart(r.finished.value_or(r.started))]++;
  }
  for (auto& [name, count] : counts) report.outcomes.push_back(count);
  std::stable_sort(report.outcomes.begin(), report.outcomes.end(),
                   [](const auto& a, const auto& b) { return a.count > b.count; });
  report.burn_median = Percentile(burn, 50);
  report.burn_p95 = Percentile(burn, 95);
  report.return_median = Percentile(back, 50);
  report.return_p95 = Percentile(back, 95);
  for (auto& [start, bucket] : buckets) report.buckets.emplace_back(bucket, FiguresOf(bucket.records));
  report.units_by_hour.assign(hours.begin(), hours.end());
  std::map<std::string, std::vector<JournalRecord>> by_station;
  for (const JournalRecord& r : attempts) by_station[r.station].push_back(r);
  if (by_station.size() > 1) {
    for (const auto& [station, rows] : by_station) report.stations.emplace_back(station, FiguresOf(rows));
  }
  report.bays = BayRows(attempts);
  return report;
}

std::string Percent(double fraction) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", 100.0 * fraction);
  return text;
}

std::string Fixed(double value, const char* format) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Period(const Report& r) {
  if (!r.first) return "none";
  return FormatUtcSeconds(*r.first) + " to " + FormatUtcSeconds(*r.last) + " UTC";
}

// "bay 2", or "no bay"; when the bays are of several stations, the station's name first
// ("line-1 bay 2"): each station numbers its own bays.
std::string BayLabel(const Report& r, const BayFigures& row) {
  const std::string bay = row.bay ? "bay " + std::to_string(*row.bay) : "no bay";
  const bool several = std::any_of(r.bays.begin(), r.bays.end(),
                                   [&](const BayFigures& other) { return other.station != row.station; });
  return several ? row.station + " " + bay : bay;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
  return out.empty() ? "none" : out;
}

void PrintText(const Report& r) {
  const YieldFigures& y = r.figures.yield;
  std::printf("period: %s\nstations: %s\n", Period(r).c_str(), Joined(r.station_names).c_str());
  std::printf("attempts: %d\nrefused: %d\nunits: %d\nsuccesses: %d\nunits burned: %d\n"
              "first-pass yield: %s\n",
              y.attempts, y.refused, y.units, y.successes, y.units_burned,
              Percent(y.FirstPassYield()).c_str());
  std::printf("burn_ms: median %lld, p95 %lld\nreturn_ms: median %lld, p95 %lld\n",
              static_cast<long long>(r.burn_median), static_cast<long long>(r.burn_p95),
              static_cast<long long>(r.return_median), static_cast<long long>(r.return_p95));
  std::printf("units per hour: %.1f\nhours with attempts: %d\n", r.figures.UnitsPerHour(),
              r.figures.active_hours);
  std::printf("verified successes: %d of %d\n", r.verified_successes, y.successes);
  std::printf("outcomes:\n");
  for (const OutcomeCount& o : r.outcomes) std::printf("  %-20s %d\n", o.name.c_str(), o.count);
  std::printf("by %s:\n", r.by.c_str());
  for (const auto& [bucket, f] : r.buckets) {
    std::printf("  %s  attempts %d  refused %d  units burned %d  first-pass yield %s\n",
                FormatUtcSeconds(bucket.start).c_str(), f.yield.attempts, f.yield.refused,
                f.yield.units_burned, Percent(f.yield.FirstPassYield()).c_str());
  }
  if (!r.stations.empty()) {
    std::printf("by station:\n");
    for (const auto& [station, f] : r.stations) {
      std::printf("  %s  attempts %d  refused %d  units burned %d  first-pass yield %s  units per hour %.1f\n",
                  station.c_str(), f.yield.attempts, f.yield.refused, f.yield.units_burned,
                  Percent(f.yield.FirstPassYield()).c_str(), f.UnitsPerHour());
    }
  }
  if (r.bays.empty()) return;
  std::printf("by bay:\n");
  for (const BayFigures& row : r.bays) {
    std::printf("  %s  attempts %d  units %d  first-pass yield %s\n", BayLabel(r, row).c_str(),
                row.yield.attempts, row.yield.units, Percent(row.yield.FirstPassYield()).c_str());
  }
}

using Json = nlohmann::ordered_json;

// The figures every row shares, added to row.
void AddFigures(Json& row, const Figures& f) {
  row["attempts"] = f.yield.attempts;
  row["refused"] = f.yield.refused;
  row["units_burned"] = f.yield.units_burned;
  row["first_pass_yield"] = Fixed(f.yield.FirstPassYield(), "%.4f");
  row["units_per_hour"] = Fixed(f.UnitsPerHour(), "%.2f");
  row["hours_with_attempts"] = f.active_hours;
}

std::string JsonReport(const Report& r) {
  const YieldFigures& y = r.figures.yield;
  Json out = Json::object();
  out["period"] = r.first ? Json{{"first", FormatIso8601(*r.first)}, {"last", FormatIso8601(*r.last)}}
                          : Json(nullptr);
  out["station_names"] = r.station_names;
  AddFigures(out, r.figures);
  out["units"] = y.units;
  out["successes"] = y.successes;
  Json& outcomes = out["outcomes"] = Json::array();
  for (const OutcomeCount& outcome : r.outcomes) {
    outcomes.push_back({{"outcome", outcome.name}, {"count", outcome.count}});
  }
  out["burn_ms"] = {{"median", r.burn_median}, {"p95", r.burn_p95}};
  out["return_ms"] = {{"median", r.return_median}, {"p95", r.return_p95}};
  out["verified_successes"] = r.verified_successes;
  out["by"] = r.by;
  Json& buckets = out["buckets"] = Json::array();
  for (const auto& [bucket, f] : r.buckets) {
    Json row = {{"start", FormatIso8601(bucket.start)}};
    AddFigures(row, f);
    buckets.push_back(std::move(row));
  }
  if (!r.stations.empty()) {
    Json& stations = out["stations"] = Json::array();
    for (const auto& [station, f] : r.stations) {
      Json row = {{"station", station}};
      AddFigures(row, f);
      stations.push_back(std::move(row));
    }
  }
  if (!r.bays.empty()) {
    Json& bays = out["bays"] = Json::array();
    for (const BayFigures& row : r.bays) {
      bays.push_back({{"station", row.station},
                      {"bay", row.bay ? Json(*row.bay) : Json(nullptr)},
                      {"attempts", row.yield.attempts},
                      {"units", row.yield.units},
                      {"first_pass_yield", Fixed(row.yield.FirstPassYield(), "%.4f")}});
    }
  }
  return WriteJson(out, {"first_pass_yield", "units_per_hour"});
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

struct Bar {
  std::string label;
  int value = 0;
  OutcomeKind kind = OutcomeKind::kGood;
};

// Success green, refusals amber, failures red: the window's verdict colours.
const char* KindName(OutcomeKind kind) {
  switch (kind) {
    case OutcomeKind::kGood: return "success";
    case OutcomeKind::kRefused: return "refused";
    case OutcomeKind::kFailed: return "failed";
    case OutcomeKind::kOpen: break;
  }
  return "open";
}

const char* KindColour(OutcomeKind kind) {
  switch (kind) {
    case OutcomeKind::kGood: return "#1e9e3a";
    case OutcomeKind::kRefused: return "#ffb300";
    case OutcomeKind::kFailed: return "#c62828";
    case OutcomeKind::kOpen: break;
  }
  return "#9e9e9e";
}

// A bar chart as inline SVG: one labelled bar per item, scaled to the largest value, coloured by
// the item's kind.
std::string BarChart(const std::string& id, const std::string& title, const std::vector<Bar>& bars) {
  constexpr int kBarHeight = 22, kLabelWidth = 170, kPlotWidth = 360;
  const int height = 30 + kBarHeight * static_cast<int>(std::max<size_t>(bars.size(), 1));
  int largest = 1;
  for (const Bar& bar : bars) largest = std::max(largest, bar.value);
  std::string svg = "<svg id=\"" + id + "\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    std::to_string(kLabelWidth + kPlotWidth + 60) + "\" height=\"" +
                    std::to_string(height) + "\" role=\"img\" aria-label=\"" + Escape(title) + "\">";
  svg += "<text x=\"0\" y=\"16\" font-weight=\"bold\">" + Escape(title) + "</text>";
  int y = 26;
  for (const Bar& bar : bars) {
    const int width = std::max(1, bar.value * kPlotWidth / largest);
    svg += "<text x=\"0\" y=\"" + std::to_string(y + 15) + "\">" + Escape(bar.label) + "</text>";
    svg += "<rect class=\"bar\" data-kind=\"" + std::string(KindName(bar.kind)) + "\" x=\"" +
           std::to_string(kLabelWidth) + "\" y=\"" + std::to_string(y + 3) + "\" width=\"" +
           std::to_string(width) + "\" height=\"" + std::to_string(kBarHeight - 6) + "\" fill=\"" +
           KindColour(bar.kind) + "\"/>";
    svg += "<text x=\"" + std::to_string(kLabelWidth + width + 6) + "\" y=\"" +
           std::to_string(y + 15) + "\">" + std::to_string(bar.value) + "</text>";
    y += kBarHeight;
  }
  if (bars.empty()) svg += "<text x=\"0\" y=\"42\">no data</text>";
  return svg + "</svg>";
}

std::string HtmlRow(const std::string& head, const Figures& f) {
  return "<tr><th>" + Escape(head) + "</th><td>" + std::to_string(f.yield.attempts) + "</td><td>" +
         std::to_string(f.yield.refused) + "</td><td>" + std::to_string(f.yield.units_burned) +
         "</td><td>" + Percent(f.yield.FirstPassYield()) + "</td><td>" + Fixed(f.UnitsPerHour(), "%.1f") +
         "</td></tr>";
}

std::string HtmlTable(const std::string& first_column, const std::string& rows) {
  return "<table><tr><th>" + first_column + "</th><th>attempts</th><th>refused</th><th>units "
         "burned</th><th>first-pass yield</th><th>units per hour</th></tr>" + rows + "</table>";
}

std::string HtmlReport(const Report& r) {
  const YieldFigures& y = r.figures.yield;
  std::vector<Bar> outcomes, hours;
  for (const OutcomeCount& o : r.outcomes) outcomes.push_back({o.name, o.count, o.kind});
  for (const auto& [start, units] : r.units_by_hour) {
    hours.push_back({FormatUtcSeconds(start).substr(0, 16), units, OutcomeKind::kGood});
  }
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Production journal "
      "report</title><style>body{font-family:sans-serif;margin:2em}table{border-collapse:collapse}"
      "td,th{border:1px solid #999;padding:2px 8px;text-align:right}th{text-align:left}"
      "text{font-size:13px}</style></head><body>\n<h1>Production journal report</h1>\n<p id=\"period\">"
      "Period: " + Escape(Period(r)) + "<br>Stations: " + Escape(Joined(r.station_names)) + "</p>\n<table>";
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"attempts", std::to_string(y.attempts)},
      {"refused", std::to_string(y.refused)},
      {"units", std::to_string(y.units)},
      {"successes", std::to_string(y.successes)},
      {"verified successes", std::to_string(r.verified_successes)},
      {"units burned", std::to_string(y.units_burned)},
      {"first-pass yield", Percent(y.FirstPassYield())},
      {"burn_ms median / p95", std::to_string(r.burn_median) + " / " + std::to_string(r.burn_p95)},
      {"return_ms median / p95", std::to_string(r.return_median) + " / " + std::to_string(r.return_p95)},
      {"units per hour", Fixed(r.figures.UnitsPerHour(), "%.1f")},
      {"hours with attempts", std::to_string(r.figures.active_hours)},
  };
  for (const auto& [name, value] : rows) html += "<tr><th>" + name + "</th><td>" + value + "</td></tr>";
  html += "</table>\n<h2>Outcomes</h2>\n" + BarChart("pareto", "Outcomes (Pareto)", outcomes) +
          "\n<p>Green: success; amber: refused, nothing sent to a unit; red: failed.</p>" +
          "\n<h2>Units per hour</h2>\n" + BarChart("units-per-hour", "Units burned per hour (UTC)", hours);
  if (!r.stations.empty()) {
    std::string station_rows;
    for (const auto& [station, f] : r.stations) station_rows += HtmlRow(station, f);
    html += "\n<h2>By station</h2>\n" + HtmlTable("station", station_rows);
  }
  if (!r.bays.empty()) {
    std::string bay_rows;
    for (const BayFigures& row : r.bays) {
      bay_rows += "<tr><th>" + Escape(BayLabel(r, row)) + "</th><td>" + std::to_string(row.yield.attempts) +
                  "</td><td>" + std::to_string(row.yield.units) + "</td><td>" +
                  Percent(row.yield.FirstPassYield()) + "</td></tr>";
    }
    html += "\n<h2>By bay</h2>\n<table id=\"bays\"><tr><th>bay</th><th>attempts</th><th>units</th>"
            "<th>first-pass yield</th></tr>" + bay_rows + "</table>";
  }
  std::string bucket_rows;
  for (const auto& [bucket, f] : r.buckets) bucket_rows += HtmlRow(FormatUtcSeconds(bucket.start), f);
  html += "\n<h2>By " + Escape(r.by) + "</h2>\n" + HtmlTable("from (UTC)", bucket_rows);
  return html + "\n</body></html>\n";
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
