#include "download_files.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "qarn_layouts.h"

namespace qarnctl {

namespace {

// List download frames: 640 numbers in the first, 704 in each further one, then a closing frame.
constexpr size_t kFirstFrameNumbers = 640;
constexpr size_t kFrameNumbers = 704;
// Program download: at most half the records left plus one per frame, and no record more once
// a frame holds over 2000 bytes; two lead-in frames and a closing one around the data.
constexpr size_t kProgramFrameBytes = 2000;
constexpr long kProgramFixedFrames = 3;
constexpr long kPageSize = 256;
constexpr long kPagesPerFrame = 8;

bool ReadAll(const std::string& path, std::string& bytes, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::string ReadCardList(const std::string& path, CardList& list) {
    std::string bytes, error;
    if (!ReadAll(path, bytes, error)) return error;
    auto marker = bytes.empty() ? 0 : static_cast<uint8_t>(bytes[0]);
    if (marker == QARN_LIST_WHITE || marker == QARN_LIST_BLACK) {
        if ((bytes.size() - 1) % QARN_LIST_RECORD_SIZE != 0)
            return path + " is not a list file: its size is not 1 + 5 bytes per number";
        list.fromListFile = true;
        list.white = marker == QARN_LIST_WHITE;
        for (size_t at = 1; at < bytes.size(); at += QARN_LIST_RECORD_SIZE) {
            uint64_t value = 0;
            for (size_t i = 0; i < QARN_LIST_RECORD_SIZE; ++i) {
                auto byte = static_cast<uint8_t>(bytes[at + i]);
                value = value * 100 + (byte >> 4) * 10 + (byte & 0x0F);
            }
            if (value > 0xFFFFFFFFull)
                return path + ": card number " + std::to_string(value) +
                       " does not fit 32 bits (0 to 4294967295)";
            list.numbers.push_back(static_cast<uint32_t>(value));
        }
        return "";
    }
    std::istringstream text(bytes);
    std::string line;
    for (int lineNumber = 1; std::getline(text, line); ++lineNumber) {
        line = line.substr(0, line.find('#'));
        for (char& c : line)
            if (c == ',' || c == ';') c = ' ';
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            if (word.find_first_not_of("0123456789") != std::string::npos || word.size() > 10 ||
                std::stoull(word) > 0xFFFFFFFFull)
                return path + " line " + std::to_string(lineNumber) + ": '" + word +
                       "' is not a card number (0 to 4294967295)";
            list.numbers.push_back(static_cast<uint32_t>(std::stoull(word)));
        }
    }
    return "";
}

bool WriteListFile(const std::string& path, bool white, std::vector<uint32_t> numbers) {
    std::sort(numbers.begin(), numbers.end());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.put(static_cast<char>(white ? QARN_LIST_WHITE : QARN_LIST_BLACK));
    for (uint32_t number : numbers) {
        char record[QARN_LIST_RECORD_SIZE];
        uint64_t rest = number;
        for (size_t i = QARN_LIST_RECORD_SIZE; i-- > 0;) {
            record[i] = static_cast<char>((rest / 10 % 10) << 4 | rest % 10);
            rest /= 100;
        }
        file.write(record, sizeof record);
    }
    return static_cast<bool>(file);
}

size_t ListCapacity(bool white) {
    return white ? QARN_LIST_WHITE_CAPACITY : QARN_LIST_BLACK_CAPACITY;
}

long ListFrames(size_t numbers) {
    size_t data = 1;
    if (numbers > kFirstFrameNumbers)
        data += (numbers - kFirstFrameNumbers + kFrameNumbers - 1) / kFrameNumbers;
    return static_cast<long>(data) + 1;
}

std::string CheckProgramFile(const std::string& path, long& frames) {
    std::string bytes, error;
    if (!ReadAll(path, bytes, error)) return error;
    std::vector<size_t> sizes; // bytes each record takes in a frame
    std::istringstream text(bytes);
    std::string line;
    for (int lineNumber = 1; std::getline(text, line); ++lineNumber) {
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
            line.pop_back();
        if (line.empty()) continue;
        bool wellFormed = line[0] == ':' && line.size() >= 11 && line.size() % 2 == 1;
        for (size_t i = 1; wellFormed && i < line.size(); ++i)
            wellFormed = HexValue(line[i]) >= 0;
        size_t length =
            wellFormed ? static_cast<size_t>(HexValue(line[1]) * 16 + HexValue(line[2])) : 0;
        if (!wellFormed || line.size() != 11 + 2 * length)
            return path + " line " + std::to_string(lineNumber) +
                   " is not a record of the form :LLAAAATT<data>CC";
        sizes.push_back(3 + length);
    }
    if (sizes.empty()) return path + " holds no program records";
    frames = kProgramFixedFrames;
    size_t next = 0, left = sizes.size() - 1; // the end record is not sent
    while (left > 0) {
        size_t most = left / 2 + 1, taken = 0, held = 0;
        while (taken < most && left > 0 && held <= kProgramFrameBytes) {
            held += sizes[next++];
            ++taken;
            --left;
        }
        ++frames;
    }
    return "";
}

std::string CheckPageFile(const std::string& path, long& frames) {
    std::string bytes, error;
    if (!ReadAll(path, bytes, error)) return error;
    long pages = (static_cast<long>(bytes.size()) + kPageSize - 1) / kPageSize;
    frames = pages == 0 ? 0 : (pages + kPagesPerFrame - 1) / kPagesPerFrame + 1;
    return "";
}

} // namespace qarnctl
