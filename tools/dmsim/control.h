// Control lines that dmsim reads on stdin, so that a program driving it (the Python package's
// simulator wrapper, scripts) can seed a terminal and compare its state with what the host read.
//   show ADDRESS                  one line of JSON: the terminal's state
//   records ADDRESS COUNT [long]  replace the terminal's records with COUNT generated ones
//   online ADDRESS 0|1            take a terminal off the line or put it back
// Every line gets one answer line: the JSON, "ok", or "error: ..." saying what was wrong.
#pragma once

#include "dmsim/simulator.h"

#include <string>

namespace dmsim {

std::string RunControlLine(Simulator& simulator, const std::string& line);

// Record i of a generated set: every field varies, signs and flags included.
Record GeneratedRecord(size_t i);

// The state of one terminal as a JSON object.
std::string TerminalJson(const Terminal& terminal);

} // namespace dmsim
