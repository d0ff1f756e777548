// The viewer's settings, each key path named once, so that what a window reads back is what
// it wrote. The texts are those of the settings files users already have: a changed text
// loses the saved value.
#pragma once

#include <string_view>

namespace velloran::SettingsKeys {

// The main window's layout: its placement (ten integers), the list's column captions and
// widths (comma lists), the details pane's width, visibility and two column widths.
inline constexpr std::string_view FormPlacement = "\\Main\\FormPlacement";
inline constexpr std::string_view ViewCaptions = "\\Main\\ViewCaptions";
inline constexpr std::string_view ViewWidths = "\\Main\\ViewWidths";
inline constexpr std::string_view DetailsWidth = "\\Main\\DetailsWidth";
inline constexpr std::string_view DetailsVisible = "\\Main\\DetailsVisible";
inline constexpr std::string_view DetailsColumnsWidths = "\\Main\\DetailsColumnsWidths";
// How values read: exactly as the log holds them (raw), or named and decoded; whether a
// reply's row shows its request's user, station and access point (dimmed) where it has none.
inline constexpr std::string_view ShowRawValues = "\\View\\ShowRawValues";
inline constexpr std::string_view ShowRequestFields = "\\View\\ShowRequestFields";
// Whether the Summary (statistics and the traffic chart) is on show.
inline constexpr std::string_view SummaryVisible = "\\View\\SummaryVisible";
// Whether the log opened last opens again when the program starts.
inline constexpr std::string_view ReopenLastLog = "\\View\\ReopenLastLog";
inline constexpr std::string_view FollowEnd = "\\View\\FollowEnd";
inline constexpr std::string_view FollowNewest = "\\View\\FollowNewest";
// Whether the line index of every opened log is kept in the user's cache folder.
inline constexpr std::string_view KeepLineIndexes = "\\View\\KeepLineIndexes";
// Whether an export writes code names instead of numbers in coded columns.
inline constexpr std::string_view ExportCodeNames = "\\Export\\CodeNames";
// The log opened last, proposed by the next Open.
inline constexpr std::string_view LogFileName = "\\Main\\FileName";
// The time zones stated for logs of a set (Open folder): "path=zone" entries joined by "|".
inline constexpr std::string_view LogTimeZones = "\\Main\\LogTimeZones";
// The file exported to last, proposed by the next Export.
inline constexpr std::string_view ExportFileName = "\\Export\\FileName";
// The column dialog's bounds: "left,top,width,height".
inline constexpr std::string_view ColumnsDialogBounds = "\\CustomizeColumns\\Bounds";
// The section of the recent-file list: keys Item01..Item10, most recent first.
inline constexpr std::string_view RecentSection = "OpenRecent";
// The section of the last queries of filter and find: keys Item01..Item20, most recent first.
inline constexpr std::string_view QueryHistorySection = "QueryHistory";

}  // namespace velloran::SettingsKeys
