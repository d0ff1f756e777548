// The statistics of `velloran stats` as a person reads them (aligned columns of plain digits,
// which awk and sort -n read too) or as scripts read them (CSV, JSON).
#pragma once

#include <ostream>
#include <string>

#include "Statistics.h"

namespace velloran {

enum class TReportFormat { rfText, rfCsv, rfJson };

void WriteStatisticsReport(std::ostream& AOut, const TLogStatistics& AStatistics, TReportFormat AFormat);

}  // namespace velloran
