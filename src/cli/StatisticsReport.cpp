#include "StatisticsReport.h"

#include <cstdio>
#include <vector>

#include "JsonText.h"
#include "LogTime.h"

namespace velloran {

namespace {

constexpr size_t kShownValueLength = 60;  // characters of a value in the text form

// Characters (UTF-8 code points) of AText.
size_t CharactersOf(std::string_view AText) {
  size_t count = 0;
  for (const char c : AText) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return count;
}

// AText cut to ALength characters with "…" when longer: a 100 KB value never fills a screen.
std::string Shortened(std::string_view AText, size_t ALength) {
  size_t characters = 0;
  for (size_t at = 0; at < AText.size(); ++at) {
    if ((static_cast<unsigned char>(AText[at]) & 0xC0) == 0x80) continue;
    if (characters++ == ALength) return std::string(AText.substr(0, at)) + "…";
  }
  return std::string(AText);
}

// What a text table shows for a value: control characters as spaces, an empty value named.
std::string ShownValue(std::string_view AValue) {
  if (AValue.empty()) return "(empty)";
  std::string shown = Shortened(AValue, kShownValueLength);
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return shown;
}

std::string Share(int64_t ACount, int64_t AOf) {
  if (AOf <= 0) return "";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * static_cast<double>(ACount) / static_cast<double>(AOf));
  return text;
}

double Ratio(int64_t ACount, int64_t AOf) { return AOf > 0 ? static_cast<double>(ACount) / static_cast<double>(AOf) : 0.0; }

std::string TimeText(int64_t ASeconds) { return IsoTimeText(ASeconds * 1000); }

// A table of text cells with aligned columns: numbers to the right, text to the left.
class TTextTable {
 public:
  explicit TTextTable(std::vector<bool> ARightAligned) : FRight(std::move(ARightAligned)) {}
  void Add(std::vector<std::string> ARow) { FRows.push_back(std::move(ARow)); }
  void Write(std::ostream& AOut) const {
    std::vector<size_t> widths(FRight.size(), 0);
    for (const auto& row : FRows) {
      for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], CharactersOf(row[i]));
    }
    for (const auto& row : FRows) {
      std::string line;
      for (size_t i = 0; i < row.size(); ++i) {
        const std::string pad(widths[i] - CharactersOf(row[i]), ' ');
        if (i > 0) line.append("  ");
        // The last column is left unpadded: no trailing spaces.
        line.append(FRight[i] ? pad + row[i] : (i + 1 < row.size() ? row[i] + pad : row[i]));
      }
      AOut << line << '\n';
    }
  }

 private:
  std::vector<bool> FRight;
  std::vector<std::vector<std::string>> FRows;
};

void WriteText(std::ostream& AOut, const TLogStatistics& AStats) {
  AOut << "Records: " << AStats.Records << '\n';
  if (AStats.WithoutPacketType > 0) AOut << "Without a Packet-Type: " << AStats.WithoutPacketType << '\n';
  if (AStats.WithoutTime > 0) AOut << "Without a Timestamp: " << AStats.WithoutTime << '\n';

  AOut << "\nBy Packet-Type\n";
  TTextTable types({true, false, true, true});
  types.Add({"Code", "Packet-Type", "Count", "Share"});
  for (const TCodeCount& type : AStats.PacketTypes)
    types.Add({std::to_string(type.Code), std::string(type.Name), std::to_string(type.Count), Share(type.Count, AStats.Records)});
  types.Write(AOut);

  AOut << "\nRefusals (" << AStats.Refusals << ") by Reason-Code\n";
  TTextTable reasons({true, true, true, false});
  reasons.Add({"Code", "Count", "Share", "Reason"});
  for (const TCodeCount& reason : AStats.RefusalReasons)
    reasons.Add({std::to_string(reason.Code), std::to_string(reason.Count), Share(reason.Count, AStats.Refusals),
                 std::string(reason.Name)});
  if (AStats.RefusalsWithoutReason > 0)
    reasons.Add({"-", std::to_string(AStats.RefusalsWithoutReason), Share(AStats.RefusalsWithoutReason, AStats.Refusals),
                 "(no Reason-Code)"});
  reasons.Write(AOut);

  for (const TRankedValues& ranked : AStats.Ranked) {
    const auto list = [&](const std::vector<TValueCount>& AValues, int64_t ADistinct, const char* AAmong, int64_t AOf) {
      AOut << '\n' << ranked.Field << ": " << AValues.size() << " most frequent of " << ADistinct << " among " << AAmong << '\n';
      if (AValues.empty()) return;
      TTextTable table({true, true, false});
      table.Add({"Count", "Share", "Value"});
      for (const TValueCount& value : AValues) {
        std::string shown = ShownValue(value.Value);
        if (!value.Name.empty()) shown.append(" (").append(value.Name).append(")");
        table.Add({std::to_string(value.Count), Share(value.Count, AOf), shown});
      }
      table.Write(AOut);
    };
    list(ranked.Requests, ranked.DistinctRequests, "requests", AStats.Requests);
    list(ranked.Refusals, ranked.DistinctRefusals, "refusals", AStats.Refusals);
  }

  if (AStats.Series.empty()) {
    AOut << "\nNo record has a Timestamp: no traffic over time.\n";
    return;
  }
  AOut << "\nTraffic per " << IntervalText(AStats.IntervalSeconds) << " (" << AStats.Series.size() << " intervals";
  if (AStats.IntervalWidened) AOut << "; widened to keep at most " << kMaxIntervals;
  AOut << "), times as the log writes them\n";
  TTextTable series({false, true, true, true, true, true, true});
  series.Add({"Start", "Requests", "Accepts", "Refusals", "Challenges", "Accounting", "Other"});
  for (const TTimeInterval& interval : AStats.Series) {
    const TTraffic& t = interval.Traffic;
    series.Add({TimeText(interval.Start), std::to_string(t.Requests), std::to_string(t.Accepts), std::to_string(t.Refusals),
                std::to_string(t.Challenges), std::to_string(t.Accounting), std::to_string(t.Other)});
  }
  series.Write(AOut);
}

// RFC 4180: a field with a comma, a double quote or a line break is quoted.
std::string CsvField(std::string_view AText) {
  if (AText.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(AText);
  std::string field = "\"";
  for (const char c : AText) {
    if (c == '"') field.push_back('"');
    field.push_back(c);
  }
  return field.append(1, '"');
}

std::string CsvShare(int64_t ACount, int64_t AOf) {
  if (AOf <= 0) return "";
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", Ratio(ACount, AOf));
  return text;
}

// One table for every section: section,field,value,name,count,share. Interval rows hold the
// start in value, the width in name, and one row per kind of record in field.
void WriteCsv(std::ostream& AOut, const TLogStatistics& AStats) {
  const auto row = [&](std::string_view ASection, std::string_view AField, std::string_view AValue, std::string_view AName,
                       int64_t ACount, const std::string& AShare) {
    AOut << ASection << ',' << CsvField(AField) << ',' << CsvField(AValue) << ',' << CsvField(AName) << ',' << ACount << ','
         << AShare << "\r\n";
  };
  AOut << "section,field,value,name,count,share\r\n";
  row("records", "", "", "", AStats.Records, "");
  row("without-packet-type", "", "", "", AStats.WithoutPacketType, "");
  row("without-time", "", "", "", AStats.WithoutTime, "");
  for (const TCodeCount& type : AStats.PacketTypes)
    row("packet-type", "Packet-Type", std::to_string(type.Code), type.Name, type.Count, CsvShare(type.Count, AStats.Records));
  for (const TCodeCount& reason : AStats.RefusalReasons)
    row("refusal-reason", "Reason-Code", std::to_string(reason.Code), reason.Name, reason.Count,
        CsvShare(reason.Count, AStats.Refusals));
  if (AStats.RefusalsWithoutReason > 0)
    row("refusal-reason", "Reason-Code", "", "", AStats.RefusalsWithoutReason,
        CsvShare(AStats.RefusalsWithoutReason, AStats.Refusals));
  for (const TRankedValues& ranked : AStats.Ranked) {
    for (const TValueCount& value : ranked.Requests)
      row("top-requests", ranked.Field, value.Value, value.Name, value.Count, CsvShare(value.Count, AStats.Requests));
    for (const TValueCount& value : ranked.Refusals)
      row("top-refusals", ranked.Field, value.Value, value.Name, value.Count, CsvShare(value.Count, AStats.Refusals));
  }
  const std::string width = IntervalText(AStats.IntervalSeconds);
  for (const TTimeInterval& interval : AStats.Series) {
    const std::string start = TimeText(interval.Start);
    const TTraffic& t = interval.Traffic;
    for (const auto& [kind, count] : {std::pair<const char*, int64_t>{"Requests", t.Requests},
                                      {"Accepts", t.Accepts},
                                      {"Refusals", t.Refusals},
                                      {"Challenges", t.Challenges},
                                      {"Accounting", t.Accounting},
                                      {"Other", t.Other}})
      row("interval", kind, start, width, count, "");
  }
}

std::string JsonNumber(double AValue) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", AValue);
  return text;
}

void WriteJson(std::ostream& AOut, const TLogStatistics& AStats) {
  std::string json = "{\"records\":" + std::to_string(AStats.Records) +
                     ",\"without_packet_type\":" + std::to_string(AStats.WithoutPacketType) +
                     ",\"without_time\":" + std::to_string(AStats.WithoutTime) + ",\"packet_types\":[";
  const auto codes = [&](const std::vector<TCodeCount>& ACodes, int64_t AOf) {
    for (size_t i = 0; i < ACodes.size(); ++i) {
      json.append(i == 0 ? "{" : ",{").append("\"code\":").append(std::to_string(ACodes[i].Code)).append(",\"name\":");
      AppendJsonString(json, ACodes[i].Name);
      json.append(",\"count\":").append(std::to_string(ACodes[i].Count));
      json.append(",\"share\":").append(JsonNumber(Ratio(ACodes[i].Count, AOf))).append("}");
    }
  };
  codes(AStats.PacketTypes, AStats.Records);
  json.append("],\"requests\":").append(std::to_string(AStats.Requests));
  json.append(",\"refusals\":").append(std::to_string(AStats.Refusals)).append(",\"refusal_reasons\":[");
  codes(AStats.RefusalReasons, AStats.Refusals);
  json.append("],\"refusals_without_reason\":").append(std::to_string(AStats.RefusalsWithoutReason)).append(",\"top\":[");
  const auto values = [&](const std::vector<TValueCount>& AValues, int64_t ADistinct) {
    json.append("{\"distinct\":").append(std::to_string(ADistinct)).append(",\"values\":[");
    for (size_t i = 0; i < AValues.size(); ++i) {
      json.append(i == 0 ? "{\"value\":" : ",{\"value\":");
      AppendJsonString(json, AValues[i].Value);
      if (!AValues[i].Name.empty()) {
        json.append(",\"name\":");
        AppendJsonString(json, AValues[i].Name);
      }
      json.append(",\"count\":").append(std::to_string(AValues[i].Count)).append("}");
    }
    json.append("]}");
  };
  for (size_t i = 0; i < AStats.Ranked.size(); ++i) {
    const TRankedValues& ranked = AStats.Ranked[i];
    json.append(i == 0 ? "{\"field\":" : ",{\"field\":");
    AppendJsonString(json, ranked.Field);
    json.append(",\"requests\":");
    values(ranked.Requests, ranked.DistinctRequests);
    json.append(",\"refusals\":");
    values(ranked.Refusals, ranked.DistinctRefusals);
    json.append("}");
  }
  json.append("],\"interval_seconds\":").append(std::to_string(AStats.IntervalSeconds));
  json.append(",\"interval_widened\":").append(AStats.IntervalWidened ? "true" : "false").append(",\"series\":[");
  for (size_t i = 0; i < AStats.Series.size(); ++i) {
    const TTraffic& t = AStats.Series[i].Traffic;
    json.append(i == 0 ? "{\"start\":\"" : ",{\"start\":\"").append(TimeText(AStats.Series[i].Start)).append("\"");
    json.append(",\"requests\":").append(std::to_string(t.Requests)).append(",\"accepts\":").append(std::to_string(t.Accepts));
    json.append(",\"refusals\":")
        .append(std::to_string(t.Refusals))
        .append(",\"challenges\":")
        .append(std::to_string(t.Challenges));
    json.append(",\"accounting\":").append(std::to_string(t.Accounting)).append(",\"other\":").append(std::to_string(t.Other));
    json.append("}");
  }
  json.append("]}\n");
  AOut << json;
}

}  // namespace

void WriteStatisticsReport(std::ostream& AOut, const TLogStatistics& AStatistics, TReportFormat AFormat) {
  switch (AFormat) {
    case TReportFormat::rfText:
      WriteText(AOut, AStatistics);
      break;
    case TReportFormat::rfCsv:
      WriteCsv(AOut, AStatistics);
      break;
    case TReportFormat::rfJson:
      WriteJson(AOut, AStatistics);
      break;
  }
}

}  // namespace velloran
