// Control lines that dmsim reads on stdin, so that a program driving it (the Python package's
// simulator wrapper, scripts) can seed a terminal and compare its state with what the host read.
//   show ADDRESS                  one line of JSON: the terminal's state
//   records ADDRESS COUNT [long]  replace the terminal's records with COUNT generated ones
//   online ADDRESS 0|1            take a terminal off the line or put it back
// Every line gets one answer line: the JSON, "ok", or "error: ..." saying what was wrong.
#pragma once

#include "dmsim/simulator.h"

#include <string>
#include <vector>

namespace dmsim {

// The longest control line taken, without its line end.
constexpr size_t kMaxControlLine = 4096;
// The longest control-pty request: it may carry a whole terminal's state in hex, the largest
// black list (4,181,760 numbers) among it.
constexpr size_t kMaxControlRequest = size_t{64} << 20;

// The pause between reads while a too-long line is dropped.
constexpr int kSkippingPauseMilliseconds = 20;

// Cuts the bytes arriving on a control input into lines. A line that grows past the longest
// taken without ending comes out once as too long, and its bytes up to its end are dropped: the
// input held stays bounded whatever arrives.
class LineSplitter {
  public:
    explicit LineSplitter(size_t longest = kMaxControlLine) : longest_(longest) {}

    struct Line {
        bool tooLong = false;
        std::string text; // without the line end ("\n" or "\r\n")
    };
    std::vector<Line> Add(const char* bytes, size_t count);
    // Inside a line already answered as too long: the caller reads on at a slower pace, so an
    // input that never ends a line costs little processor time.
    bool Skipping() const { return skipping_; }

  private:
    size_t longest_;
    std::string pending_;
    bool skipping_ = false; // inside a line already answered as too long
};

// The answer to a line that was too long.
extern const char kTooLongAnswer[];

std::string RunControlLine(Simulator& simulator, const std::string& line);

// Record i of a generated set: every field varies, signs and flags included.
Record GeneratedRecord(size_t i);

// The state of one terminal as a JSON object.
std::string TerminalJson(const Terminal& terminal);

} // namespace dmsim
