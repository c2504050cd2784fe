// Every record of every terminal on a line into one CSV file.
//   records_to_csv PORT OUT.csv [--baud 9600] [--parity E] [--host 1]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "qarn.hpp"

namespace {

// The columns of qarnctl's records --csv.
const char kHeader[] =
    "terminal,number,form,identifier,code,time,value24,value32,value16,value8,flag_a,flag_b\n";

// Terminals report their stamps unchecked, so the time is written from its fields.
std::string Row(const qarn::Record& r) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "%d,%s,%s,%s,%s,%04d-%02d-%02dT%02d:%02d:%02d,%s,%s,%s,%s,%d,%d\n", r.terminal,
                  r.number ? std::to_string(*r.number).c_str() : "", r.long_form ? "long" : "short",
                  r.long_form ? "" : std::to_string(static_cast<uint32_t>(r.identifier)).c_str(),
                  r.code.c_str(), r.year, r.month, r.day, r.hour, r.minute, r.second,
                  r.long_form ? std::to_string(r.value24).c_str() : "",
                  r.long_form ? std::to_string(r.value32).c_str() : "",
                  r.long_form ? std::to_string(r.value16).c_str() : "",
                  r.long_form ? std::to_string(r.value8).c_str() : "", r.flag_a, r.flag_b);
    return line;
}

int Usage() {
    std::fprintf(stderr, "usage: records_to_csv PORT OUT.csv [--baud N] [--parity E] [--host A]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    qarn::LineSettings settings;
    int host = qarn::Device::kDefaultHost;
    for (int i = 3; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--baud")
            settings.baud = std::atoi(argv[i + 1]);
        else if (option == "--parity" && std::strlen(argv[i + 1]) == 1)
            settings.parity = argv[i + 1][0];
        else if (option == "--host")
            host = static_cast<int>(std::strtol(argv[i + 1], nullptr, 0));
        else
            return Usage();
    }
    if (argc % 2 == 0) return Usage();

    try {
        qarn::Device device(host);
        device.connect(argv[1], settings).value();
        std::ofstream out(argv[2]);
        if (!out) {
            std::fprintf(stderr, "records_to_csv: cannot write %s\n", argv[2]);
            return 1;
        }
        out << kHeader;
        for (int terminal : device.search_online().value()) {
            std::vector<qarn::Record> records = device.records(terminal).value();
            for (const qarn::Record& record : records)
                out << Row(record);
            std::fprintf(stderr, "terminal 0x%04X: %zu records\n", terminal, records.size());
        }
        if (!out.flush()) {
            std::fprintf(stderr, "records_to_csv: cannot write %s\n", argv[2]);
            return 1;
        }
    } catch (const qarn::Error& error) {
        std::fprintf(stderr, "records_to_csv: %s\n", error.what());
        return 1;
    }
    return 0;
}
