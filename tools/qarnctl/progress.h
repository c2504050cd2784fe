// A progress bar on stderr: "label [#####     ] done/total". Draws nothing when disabled.
#pragma once

#include <ostream>
#include <string>

namespace qarnctl {

class Progress {
  public:
    Progress(std::ostream& err, bool enabled, std::string label, long total);
    ~Progress(); // ends the bar's line
    void Update(long done);

  private:
    std::ostream& err_;
    bool enabled_;
    std::string label_;
    long total_;
    long shown_ = -1;
};

} // namespace qarnctl
