#include "progress.h"

#include <algorithm>

namespace qarnctl {

namespace {

constexpr int kBarWidth = 30;

} // namespace

Progress::Progress(std::ostream& err, bool enabled, std::string label, long total)
    : err_(err), enabled_(enabled), label_(std::move(label)), total_(std::max(total, 1L)) {
    Update(0);
}

Progress::~Progress() {
    if (enabled_) err_ << "\n" << std::flush;
}

void Progress::Update(long done) {
    if (!enabled_ || done == shown_) return;
    shown_ = done;
    long filled = std::min<long>(kBarWidth, done * kBarWidth / total_);
    err_ << "\r" << label_ << " [" << std::string(static_cast<size_t>(filled), '#')
         << std::string(static_cast<size_t>(kBarWidth - filled), ' ') << "] " << done << "/"
         << total_ << std::flush;
}

} // namespace qarnctl
