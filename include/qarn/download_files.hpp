// The files the downloads read: writing a card list file, and counting the frames a download
// file will take, so that a download can report its progress.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "qarn/result.hpp"
#include "qarn/types.hpp"

namespace qarn {

// The most numbers a list of the kind holds in the terminal's list memory.
constexpr size_t list_capacity(ListKind kind) {
    return kind == ListKind::white ? QARN_LIST_WHITE_CAPACITY : QARN_LIST_BLACK_CAPACITY;
}

constexpr uint64_t kMostCardNumber = 0xFFFFFFFF;

// Writes a list file: the kind's marker, then the numbers in ascending order, each as 10 BCD
// digits. The download sorts only within each frame, so a file sorted as a whole is what lets
// every frame follow the one before. A number above 4294967295, or more numbers than the kind's
// list holds, is refused and nothing is written.
inline Result<void> write_list_file(const std::string& path, ListKind kind,
                                    std::vector<uint64_t> numbers) {
    if (numbers.size() > list_capacity(kind))
        return Error(Failure::argument, -1,
                     "qarn: a " + std::string(kind == ListKind::white ? "white" : "black") +
                         " list holds at most " + std::to_string(list_capacity(kind)) + " numbers");
    std::sort(numbers.begin(), numbers.end());
    std::vector<char> bytes{static_cast<char>(kind)};
    for (uint64_t number : numbers) {
        if (number > kMostCardNumber)
            return Error(Failure::argument, -1,
                         "qarn: card number " + std::to_string(number) + " does not fit 32 bits");
        char digits[QARN_LIST_RECORD_SIZE];
        uint64_t rest = number;
        for (int i = QARN_LIST_RECORD_SIZE - 1; i >= 0; --i) {
            digits[i] = static_cast<char>((rest % 10) | (rest / 10 % 10) << 4);
            rest /= 100;
        }
        bytes.insert(bytes.end(), digits, digits + QARN_LIST_RECORD_SIZE);
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) || !file.flush())
        return Error(Failure::argument, -1, "qarn: cannot write " + path);
    return {};
}

namespace detail {

inline Error FileError(const std::string& path, const std::string& why) {
    return Error(Failure::argument, -1, "qarn: " + path + ": " + why);
}

// The longest download file: a full black list.
constexpr uintmax_t kMostFileBytes = 1 + QARN_LIST_BLACK_CAPACITY * QARN_LIST_RECORD_SIZE;

inline Result<std::vector<uint8_t>> ReadFile(const std::string& path) {
    std::error_code failed;
    if (!std::filesystem::is_regular_file(path, failed)) return FileError(path, "not a file");
    if (std::filesystem::file_size(path, failed) > kMostFileBytes || failed)
        return FileError(path, "too long for a download");
    std::ifstream file(path, std::ios::binary);
    if (!file) return FileError(path, "cannot be read");
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>());
}

// Frames of a list download: 640 numbers in the first, 704 in each further one, then the
// closing frame. A file of another kind, of a size that holds no whole numbers, with more
// numbers than the list holds or a number above 4294967295 is refused.
inline Result<int> ListFrames(const std::string& path, ListKind kind) {
    auto bytes = ReadFile(path);
    if (!bytes) return bytes.error();
    if (bytes->empty() || (bytes->size() - 1) % QARN_LIST_RECORD_SIZE != 0)
        return FileError(path, "not a list file: its size is not a marker and 5 bytes a number");
    if ((*bytes)[0] != static_cast<uint8_t>(kind))
        return FileError(path, kind == ListKind::white ? "not a white list file"
                                                       : "not a black list file");
    size_t count = (bytes->size() - 1) / QARN_LIST_RECORD_SIZE;
    if (count > list_capacity(kind))
        return FileError(path, "more numbers than the list holds (" +
                                   std::to_string(list_capacity(kind)) + ")");
    for (size_t at = 1; at < bytes->size(); at += QARN_LIST_RECORD_SIZE) {
        uint64_t number = 0;
        for (size_t i = 0; i < QARN_LIST_RECORD_SIZE; ++i)
            number = number * 100 + ((*bytes)[at + i] >> 4) * 10 + ((*bytes)[at + i] & 0x0F);
        if (number > kMostCardNumber)
            return FileError(path,
                             "card number " + std::to_string(number) + " does not fit 32 bits");
    }
    auto numbers = static_cast<int>(count);
    int dataFrames = numbers <= 640 ? 1 : 1 + (numbers - 640 + 703) / 704;
    return dataFrames + 1;
}

// Frames of a page download: up to 8 pages of 256 bytes each, then the closing frame.
inline Result<int> PageFrames(const std::string& path) {
    auto bytes = ReadFile(path);
    if (!bytes) return bytes.error();
    if (bytes->empty()) return 0;
    size_t pages = (bytes->size() + 255) / 256;
    return static_cast<int>((pages + 7) / 8) + 1;
}

// Frames of a program download: two lead-in frames, the record frames as the library cuts
// them (every record but the last, at most half of those left and one more per frame, no more
// after 2000 bytes), and the closing frame.
inline Result<int> ProgramFrames(const std::string& path) {
    auto bytes = ReadFile(path);
    if (!bytes) return bytes.error();
    std::vector<size_t> sizes; // each record as sent: address, length, data
    for (size_t i = 0; i < bytes->size(); ++i) {
        if ((*bytes)[i] != ':') continue;
        unsigned length = 0;
        if (i + 2 < bytes->size()) {
            std::string pair(bytes->begin() + static_cast<long>(i) + 1,
                             bytes->begin() + static_cast<long>(i) + 3);
            length = static_cast<unsigned>(std::strtoul(pair.c_str(), nullptr, 16));
        }
        sizes.push_back(3 + length);
    }
    if (sizes.empty()) return FileError(path, "not a program file: it holds no record");
    size_t left = sizes.size() - 1, next = 0;
    int frames = 3;
    while (left > 0) {
        size_t most = left / 2 + 1, taken = 0, output = 0;
        while (left > 0 && taken < most && output <= 2000) {
            output += sizes[next++];
            ++taken;
            --left;
        }
        ++frames;
    }
    return frames;
}

} // namespace detail

} // namespace qarn
