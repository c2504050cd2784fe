#include "protocol/uplink/record_forms.h"

#include "protocol/uplink/record_decoders.h"

namespace qarn {

namespace {

bool ValidTimeStamp(const uint8_t* record) {
    TimeStamp stamp = UnpackTimeStamp(record + kTimeStampOffset);
    return stamp.month >= 1 && stamp.month <= 12 && stamp.day >= 1 && stamp.day <= 31 &&
           stamp.hour <= 23 && stamp.minute <= 59 && stamp.second <= 59;
}

bool AllValid(const uint8_t* payload, size_t size, size_t recordSize) {
    for (size_t at = 0; at < size; at += recordSize)
        if (!ValidTimeStamp(payload + at)) return false;
    return true;
}

} // namespace

RecordForm ChooseRecordForm(const uint8_t* payload, size_t size, int asked) {
    bool isShort = size > 0 && size % kShortRecordSize == 0;
    bool isLong = size > 0 && size % kLongRecordSize == 0;
    if (!isShort || !isLong)
        return isShort ? kShortRecordForm : isLong ? kLongRecordForm : kNoRecordForm;
    // A terminal sends at most the records asked for.
    size_t shortCount = size / kShortRecordSize, longCount = size / kLongRecordSize;
    if (asked >= 0 && static_cast<size_t>(asked) < shortCount &&
        static_cast<size_t>(asked) >= longCount)
        return kLongRecordForm;
    if (AllValid(payload, size, kLongRecordSize) && !AllValid(payload, size, kShortRecordSize))
        return kLongRecordForm;
    return kShortRecordForm;
}

} // namespace qarn
