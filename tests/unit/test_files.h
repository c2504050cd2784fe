// Test files: a fresh temporary directory that is the current one while it lives, and helpers
// that write and read files and make program files.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace qarn::test {

class ScratchDir {
  public:
    ScratchDir() : previous_(std::filesystem::current_path()) {
        char name[] = "/tmp/qarn-test-XXXXXX";
        if (!mkdtemp(name)) throw std::runtime_error("no temporary directory");
        std::filesystem::current_path(path_ = name);
    }
    ~ScratchDir() {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(path_);
    }

  private:
    std::filesystem::path previous_, path_;
};

inline void WriteFile(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Text records of size data bytes at 0x0100, 0x0100 + size, ...; record i holds the bytes
// i + j; odd records in lower case. The check values are not verified, so any value serves.
inline std::string ProgramFile(int records, int size) {
    std::string text;
    char pair[3];
    auto put = [&](int value, bool lower) {
        std::snprintf(pair, sizeof pair, lower ? "%02x" : "%02X", value & 0xFF);
        text += pair;
    };
    for (int i = 0; i < records; ++i) {
        int address = 0x0100 + i * size;
        text += ':';
        for (int value : {size, address >> 8, address, 0})
            put(value, i % 2);
        for (int j = 0; j < size; ++j)
            put(i + j, i % 2);
        text += "5A\r\n";
    }
    return text;
}

} // namespace qarn::test
