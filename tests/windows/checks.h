// Results of the Windows test program: one line per check, and the totals at the end.
#pragma once

#include <cstdio>

namespace wintest {

class Checks {
  public:
    bool Expect(bool holds, const char* what) {
        std::printf("%s %s\n", holds ? "ok  " : "FAIL", what);
        std::fflush(stdout);
        ++(holds ? passed_ : failed_);
        return holds;
    }
    bool ExpectEqual(long actual, long expected, const char* what) {
        if (actual != expected) std::printf("     got %ld, expected %ld\n", actual, expected);
        return Expect(actual == expected, what);
    }
    int Finish() const {
        std::printf("%d passed, %d failed\n", passed_, failed_);
        return failed_ == 0 ? 0 : 1;
    }

  private:
    int passed_ = 0;
    int failed_ = 0;
};

} // namespace wintest
