// Which of the two record forms a record reply carries: 9-byte short records or 19-byte long
// ones. The payload length alone tells only where one size divides it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qarn {

// The values GetRecordForm reports.
enum RecordForm : int { kNoRecordForm = 0, kShortRecordForm = 1, kLongRecordForm = 2 };

// The request asked for no particular number of records (the realtime query).
constexpr int kCountNotAsked = -1;

// The form of a payload of size bytes; kNoRecordForm when neither record size divides it.
// Where both do (171, 342, ... bytes), the long form when `asked` records are fewer than the
// short reading makes, or else when every record read as long has a valid time stamp and some
// record read as short has not; otherwise the short form.
RecordForm ChooseRecordForm(const uint8_t* payload, size_t size, int asked);

} // namespace qarn
