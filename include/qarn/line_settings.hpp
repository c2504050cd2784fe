// qarn::LineSettings: the serial line's speed and frame, turned into the library's settings text.
#pragma once

#include <string>

#include "qarn/result.hpp"

namespace qarn {

struct LineSettings {
    int baud = 9600;
    char parity = 'E';      // N, E, O, M or S
    int data_bits = 8;      // 5 to 8
    double stop_bits = 1.0; // 1, 1.5 or 2

    // "PATH:baud=9600,parity=E,data=8,stop=1". The path is a device path ("/dev/ttyUSB0") or a
    // port name "COM1" to "COM256"; a device path cannot hold ':', which ends it in the text.
    Result<std::string> text(const std::string& path) const {
        std::string number = path.size() > 3 ? path.substr(3) : std::string();
        bool comName = path.compare(0, 3, "COM") == 0 && !number.empty() && number.size() <= 3 &&
                       number[0] != '0' &&
                       number.find_first_not_of("0123456789") == std::string::npos &&
                       std::stoi(number) <= 256;
        bool devicePath = path.size() > 1 && path[0] == '/' &&
                          path.find_first_of(std::string(":\0", 2)) == std::string::npos;
        // tcp://HOST:PORT and rfc2217://HOST:PORT: the library checks the rest as it connects.
        bool networkName =
            (path.compare(0, 6, "tcp://") == 0 || path.compare(0, 10, "rfc2217://") == 0) &&
            path.find('\0') == std::string::npos;
        if (!comName && !devicePath && !networkName)
            return Bad("the port \"" + path +
                       "\" is neither a device path, COM1 to COM256, tcp://HOST:PORT nor "
                       "rfc2217://HOST:PORT");
        if (baud <= 0) return Bad("the line speed must be above 0");
        if (std::string("NEOMS").find(parity) == std::string::npos || parity == '\0')
            return Bad("the parity must be N, E, O, M or S");
        if (data_bits < 5 || data_bits > 8) return Bad("data bits must be 5 to 8");
        const char* stop = stop_bits == 1.0   ? "1"
                           : stop_bits == 1.5 ? "1.5"
                           : stop_bits == 2.0 ? "2"
                                              : nullptr;
        if (!stop) return Bad("stop bits must be 1, 1.5 or 2");
        return path + ":baud=" + std::to_string(baud) + ",parity=" + parity +
               ",data=" + std::to_string(data_bits) + ",stop=" + stop;
    }

  private:
    static Error Bad(const std::string& what) {
        return Error(Failure::argument, -1, "qarn: " + what);
    }
};

} // namespace qarn
