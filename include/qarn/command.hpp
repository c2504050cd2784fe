// qarn::ParamBlock, the parameter block a command takes, and qarn::Command, one command's
// handle with its result and data.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "qarn.h"
#include "qarn/result.hpp"

namespace qarn {

// A parameter block: host-order 32-bit integers and fixed-width texts at given offsets.
class ParamBlock {
  public:
    ParamBlock() = default;
    explicit ParamBlock(size_t size) : bytes_(size, 0) {}

    ParamBlock& put_int(size_t at, int64_t value) {
        auto host = static_cast<int32_t>(static_cast<uint32_t>(value));
        return put_bytes(at, &host, sizeof host);
    }
    // The text, then fill up to width; the caller has checked that it fits.
    ParamBlock& put_text(size_t at, std::string_view text, size_t width, char fill = ' ') {
        Grow(at + width);
        std::memset(&bytes_[at], fill, width);
        std::memcpy(&bytes_[at], text.data(), text.size() < width ? text.size() : width);
        return *this;
    }
    ParamBlock& put_bytes(size_t at, const void* bytes, size_t count) {
        Grow(at + count);
        if (count) std::memcpy(&bytes_[at], bytes, count);
        return *this;
    }

    void* data() { return bytes_.empty() ? nullptr : bytes_.data(); }
    size_t size() const { return bytes_.size(); }

  private:
    void Grow(size_t size) {
        if (bytes_.size() < size) bytes_.resize(size, 0);
    }
    std::vector<uint8_t> bytes_;
};

// One command from its start to its end: EndQARNCommand runs when the Command goes, and only
// then can the device start the next one. It keeps the parameter block, which some replies are
// decoded against, for as long. Move-only.
class Command {
  public:
    Command() = default;
    Command(int handle, ParamBlock params) : handle_(handle), params_(std::move(params)) {}
    ~Command() { end(); }
    Command(Command&& other) noexcept
        : handle_(std::exchange(other.handle_, 0)), params_(std::move(other.params_)) {}
    Command& operator=(Command&& other) noexcept {
        if (this != &other) {
            end();
            handle_ = std::exchange(other.handle_, 0);
            params_ = std::move(other.params_);
        }
        return *this;
    }

    int handle() const { return handle_; }
    // GetCmdResult: the result code (names in qarn_layouts.h, qarn_result_text).
    int result() const { return GetCmdResult(handle_); }
    int size() const { return GetSizeOfData(handle_); }
    // GetRecordForm: QARN_RECORDS_SHORT or QARN_RECORDS_LONG, 0 when the data holds no records.
    int record_form() const { return GetRecordForm(handle_); }

    std::vector<uint8_t> bytes() const {
        int size = GetSizeOfData(handle_);
        std::vector<uint8_t> bytes(size > 0 ? static_cast<size_t>(size) : 0);
        if (GetData(handle_, bytes.data(), static_cast<int>(bytes.size())) != 1) bytes.clear();
        return bytes;
    }

    // The data as one entry of a layout of qarn_layouts.h; an error unless its size is exact.
    template <class Layout> Result<Layout> data() const {
        static_assert(std::is_trivially_copyable<Layout>::value, "a layout struct is needed");
        std::vector<uint8_t> raw = bytes();
        if (raw.size() != sizeof(Layout)) return SizeError(raw.size(), sizeof(Layout));
        Layout entry;
        std::memcpy(&entry, raw.data(), sizeof entry);
        return entry;
    }

    // The data as an array of entries; an error unless its size is a whole number of them.
    template <class Layout> Result<std::vector<Layout>> entries() const {
        static_assert(std::is_trivially_copyable<Layout>::value, "a layout struct is needed");
        std::vector<uint8_t> raw = bytes();
        if (raw.size() % sizeof(Layout) != 0) return SizeError(raw.size(), sizeof(Layout));
        std::vector<Layout> list(raw.size() / sizeof(Layout));
        if (!raw.empty()) std::memcpy(list.data(), raw.data(), raw.size());
        return list;
    }

    // Ends the command now (EndQARNCommand): 0 when released, non-zero when the quit message
    // ended the wait first. A Command without a handle gives 0.
    int end() { return handle_ ? EndQARNCommand(std::exchange(handle_, 0)) : 0; }

  private:
    Error SizeError(size_t got, size_t layout) const {
        return Error(Failure::data, -1,
                     "qarn: " + std::to_string(got) + " bytes of data do not make entries of " +
                         std::to_string(layout) + " bytes (result " + std::to_string(result()) +
                         ")");
    }

    int handle_ = 0;
    ParamBlock params_;
};

} // namespace qarn
