// Accounts for one device's numbered reports as they come out of the
// library: each number skipped is a lost report, each number at or below
// one already seen is a duplicate or a report out of order.
#pragma once

#include <cstdint>

namespace juxhid::bench {

class SequenceCheck {
public:
    void see(uint32_t sequence) {
        ++received_;
        if (sequence < next_) {
            ++outOfOrder_;
            return;
        }
        lost_ += sequence - next_;
        next_ = sequence + 1;
    }

    // Reports numbered below `delivered` that never came are lost as well.
    void finish(uint32_t delivered) {
        if (delivered > next_) {
            lost_ += delivered - next_;
            next_ = delivered;
        }
    }

    // True once every report up to `delivered` has been seen or given up.
    bool reached(uint32_t delivered) const { return next_ >= delivered; }

    uint64_t received() const { return received_; }
    uint64_t lost() const { return lost_; }
    uint64_t outOfOrder() const { return outOfOrder_; }

private:
    uint32_t next_ = 0;
    uint64_t received_ = 0;
    uint64_t lost_ = 0;
    uint64_t outOfOrder_ = 0;
};

}  // namespace juxhid::bench
