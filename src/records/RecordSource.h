// What the readers of records above the log (exchanges, scans, exports) need of it: a count,
// the raw line of a record and its parse. One log is a source; a set of logs read as one
// will be another.
//
// Threading: a source belongs to the thread that uses it.
#pragma once

#include <cstdint>
#include <string_view>

#include "Rows.h"

namespace velloran {

class TRecordSource {
 public:
  virtual ~TRecordSource() = default;
  virtual int64_t RecordCount() const = 0;
  // The bytes of record AIndex (0 <= AIndex < RecordCount()) as the log holds them, valid
  // until the next call on the source. Throws what the log's line store throws.
  virtual std::string_view RawRecord(int64_t AIndex) = 0;
  // Record AIndex parsed into ARow, bypassing any row cache; false outside the records.
  virtual bool ParseRecord(int64_t AIndex, TrdlDataRow& ARow) = 0;
  // Records of different groups come from different servers: no exchange joins them (a set
  // of several servers' logs). One log is one group.
  virtual int ServerGroupOf(int64_t /*AIndex*/) const { return 0; }
};

}  // namespace velloran
