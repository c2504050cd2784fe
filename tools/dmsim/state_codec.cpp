#include "dmsim/state_codec.h"

#include <type_traits>

namespace dmsim {

namespace {

// Numbers go as 32 bits, flags as one byte, containers as a count and their elements; fixed
// arrays without a count. One field list per structure serves both directions.
class Encoder {
  public:
    Bytes bytes;

    template <class... Items> void operator()(Items&... items) { (Put(items), ...); }

  private:
    void Put(bool value) { bytes.push_back(value ? 1 : 0); }
    template <class T> std::enable_if_t<std::is_integral_v<T>> Put(T value) {
        AppendBe32(bytes, static_cast<uint32_t>(value));
    }
    template <class T> std::enable_if_t<std::is_class_v<T>> Put(T& value);
    void Put(std::string& text) {
        Put(text.size());
        bytes.insert(bytes.end(), text.begin(), text.end());
    }
    template <class T> void Put(std::vector<T>& items) {
        Put(items.size());
        for (T& item : items)
            Put(item);
    }
    template <class T, size_t N> void Put(std::array<T, N>& items) {
        for (T& item : items)
            Put(item);
    }
    template <class V> void Put(std::map<int, V>& items) {
        Put(items.size());
        for (auto& item : items) {
            Put(item.first);
            Put(item.second);
        }
    }
};

class Decoder {
  public:
    explicit Decoder(const Bytes& input) : bytes_(input) {}
    bool Finished() const { return good_ && at_ == bytes_.size(); }

    template <class... Items> void operator()(Items&... items) { (Get(items), ...); }

  private:
    bool Take(size_t count) {
        good_ = good_ && bytes_.size() - at_ >= count;
        return good_;
    }
    void Get(bool& value) {
        if (Take(1)) value = bytes_[at_++] != 0;
    }
    template <class T> std::enable_if_t<std::is_integral_v<T>> Get(T& value) {
        if (!Take(4)) return;
        value = static_cast<T>(GetBe32(bytes_.data() + at_));
        at_ += 4;
    }
    template <class T> std::enable_if_t<std::is_class_v<T>> Get(T& value);
    // A count can claim no more elements than bytes remain, so a bad one allocates nothing.
    size_t Count() {
        uint32_t count = 0;
        Get(count);
        if (count > bytes_.size() - at_) good_ = false;
        return good_ ? count : 0;
    }
    void Get(std::string& text) {
        size_t count = Count();
        text.assign(bytes_.begin() + at_, bytes_.begin() + at_ + count);
        at_ += count;
    }
    template <class T> void Get(std::vector<T>& items) {
        items.assign(Count(), T());
        for (T& item : items)
            Get(item);
    }
    template <class T, size_t N> void Get(std::array<T, N>& items) {
        for (T& item : items)
            Get(item);
    }
    template <class V> void Get(std::map<int, V>& items) {
        items.clear();
        for (size_t count = Count(); good_ && count > 0; --count) {
            int key = 0;
            Get(key);
            Get(items[key]);
        }
    }

    const Bytes& bytes_;
    size_t at_ = 0;
    bool good_ = true;
};

template <class C> void Fields(C& c, Clock& x) {
    c(x.year, x.month, x.day, x.hour, x.minute, x.second, x.weekday);
}

template <class C> void Fields(C& c, Record& x) {
    c(x.identifier, x.code, x.year, x.month, x.day, x.hour, x.minute, x.second, x.flagA, x.flagB,
      x.value24, x.value32, x.value16, x.value8);
}

template <class C> void Fields(C& c, TimeSlot& x) {
    c(x.minuteOfDay, x.value);
}

template <class C> void Fields(C& c, TimeWindow& x) {
    c(x.start, x.end);
}

template <class C> void Fields(C& c, Card& x) {
    c(x.present, x.number, x.recordCode, x.attribute1, x.attribute2, x.attribute3, x.attribute4,
      x.password, x.name, x.year, x.month, x.day, x.writtenYear, x.writtenMonth, x.writtenDay,
      x.value16, x.balance, x.moneyAttribute, x.moneyYear, x.moneyMonth, x.moneyDay, x.moneyCount,
      x.idType, x.id);
}

template <class C> void Fields(C& c, KeySet& x) {
    c(x.lead, x.trailing, x.keys);
}

template <class C> void Fields(C& c, Terminal& x) {
    c(x.address, x.serialNumber, x.online, x.ackStatus, x.rejectStatus, x.clock, x.property,
      x.systemProperty, x.statusValue, x.longRecords, x.records, x.backupRecords, x.realtimeRecords,
      x.recordIndex, x.pendingDelete, x.whiteBlocks, x.blackBlocks, x.blackCards, x.card, x.keys,
      x.lcdTitle, x.timeSlots, x.cardTimeLead, x.cardTimes, x.beeps, x.lastBeep, x.lockOpenings,
      x.lastLock, x.gradeFlag, x.grades, x.innerSetting, x.acknowledgeLeadIn, x.programMode,
      x.programMemory, x.programLoads, x.pages, x.pageLoads);
}

template <class C> void Fields(C& c, Faults& x) {
    c(x.dropReplies, x.corruptReplies, x.delayMilliseconds, x.splitPieces, x.splitGapMilliseconds,
      x.wrongDestination, x.echoDownlink, x.noise, x.silent, x.wrongSource, x.dropPercent,
      x.dropSeed);
}

template <class T> std::enable_if_t<std::is_class_v<T>> Encoder::Put(T& value) {
    Fields(*this, value);
}

template <class T> std::enable_if_t<std::is_class_v<T>> Decoder::Get(T& value) {
    Fields(*this, value);
}

template <class T> bool Decode(const Bytes& bytes, T& value) {
    T decoded;
    Decoder decoder(bytes);
    Fields(decoder, decoded);
    if (!decoder.Finished()) return false;
    value = std::move(decoded);
    return true;
}

} // namespace

Bytes EncodeTerminal(Terminal terminal) {
    Encoder encoder;
    Fields(encoder, terminal);
    return encoder.bytes;
}

bool DecodeTerminal(const Bytes& bytes, Terminal& terminal) {
    return Decode(bytes, terminal);
}

Bytes EncodeFaults(Faults faults) {
    Encoder encoder;
    Fields(encoder, faults);
    return encoder.bytes;
}

bool DecodeFaults(const Bytes& bytes, Faults& faults) {
    return Decode(bytes, faults);
}

} // namespace dmsim
