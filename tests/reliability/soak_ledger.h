// What the soak checks its invariants against: which input reports the
// polled reads have handed out (each at most once), and every output report
// the writers offered, what the library answered, and how often each one
// reached its device.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "juxhid_status.h"

namespace juxhid::test::soak {

inline constexpr int kMaxTags = 8;

// Input reports taken by ReadData: none may come out twice.
class TakenReports {
public:
    // False when the report had been taken before.
    bool takeOnce(uint8_t tag, uint32_t number) {
        std::lock_guard<std::mutex> hold(mutex_);
        std::vector<bool>& taken = taken_[tag % kMaxTags];
        if (taken.size() <= number) taken.resize(number + 4096);
        if (taken[number]) return false;
        taken[number] = true;
        return true;
    }

private:
    std::mutex mutex_;
    std::vector<bool> taken_[kMaxTags];
};

// Statuses after which the report was neither written nor queued.
inline bool neverSent(int32_t status) {
    return status == JUXHID_WRITE_NOT_OPEN || status == JUXHID_WRITE_NO_OUTPUT ||
           status == JUXHID_WRITE_BAD_POINTER || status == JUXHID_WRITE_LOCK_TIMEOUT ||
           status == JUXHID_WRITE_QUEUE_FULL || status == JUXHID_WRITE_SLOW_CHAIN;
}

struct OutputVerdict {
    uint64_t offered = 0, accepted = 0, sent = 0, required = 0, excused = 0;
    uint64_t duplicates = 0, phantoms = 0, lost = 0;
    std::string firstProblem;
};

// Every output report offered, by tag and number. An opening of a tag's
// interface is "intact" until the owner closes, cleans up or reopens it or
// unplugs its device; a report accepted with 0 in an opening that is still
// intact at the end must have reached the device exactly once.
class OutputLedger {
public:
    static constexpr int32_t kPending = -100000;

    uint32_t offer(uint8_t tag) {
        std::lock_guard<std::mutex> hold(mutex_);
        std::vector<Offer>& offers = offers_[tag % kMaxTags];
        offers.push_back(Offer{kPending, opening_[tag % kMaxTags].load(), 0});
        return static_cast<uint32_t>(offers.size() - 1);
    }
    void answered(uint8_t tag, uint32_t number, int32_t status) {
        std::lock_guard<std::mutex> hold(mutex_);
        offers_[tag % kMaxTags].at(number).status = status;
    }
    // False for a report that was never offered.
    bool reachedDevice(uint8_t tag, uint32_t number) {
        std::lock_guard<std::mutex> hold(mutex_);
        std::vector<Offer>& offers = offers_[tag % kMaxTags];
        if (number >= offers.size()) return false;
        ++offers[number].arrivals;
        return true;
    }
    // The tag's current opening ends (closed, reopened, cleaned up, unplugged).
    void disrupt(uint8_t tag) { opening_[tag % kMaxTags].fetch_add(1); }

    // Reports that must still arrive before the verdict can be given.
    uint64_t outstanding() {
        std::lock_guard<std::mutex> hold(mutex_);
        uint64_t missing = 0;
        for (int tag = 0; tag < kMaxTags; ++tag)
            for (const Offer& offer : offers_[tag])
                if (isRequired(tag, offer) && offer.arrivals == 0) ++missing;
        return missing;
    }

    OutputVerdict verdict() {
        std::lock_guard<std::mutex> hold(mutex_);
        OutputVerdict v;
        for (int tag = 0; tag < kMaxTags; ++tag) {
            for (uint32_t number = 0; number < offers_[tag].size(); ++number) {
                const Offer& offer = offers_[tag][number];
                ++v.offered;
                v.sent += offer.arrivals;
                if (offer.status == JUXHID_OK) ++v.accepted;
                const std::string which = "tag " + std::to_string(tag) + " report " + std::to_string(number) +
                                          " (answered " + std::to_string(offer.status) + ")";
                if (offer.arrivals > 1) note(v, v.duplicates, which + " reached its device " +
                                                                std::to_string(offer.arrivals) + " times");
                if (offer.arrivals > 0 && (neverSent(offer.status) || offer.status == kPending))
                    note(v, v.phantoms, which + " reached its device although it was refused");
                if (isRequired(tag, offer)) {
                    ++v.required;
                    if (offer.arrivals == 0) note(v, v.lost, which + " was accepted but never sent");
                } else if (offer.status == JUXHID_OK && offer.arrivals == 0) {
                    ++v.excused;
                }
            }
        }
        return v;
    }

private:
    struct Offer {
        int32_t status;
        uint32_t opening;
        uint32_t arrivals;
    };

    bool isRequired(int tag, const Offer& offer) const {
        return offer.status == JUXHID_OK && offer.opening == opening_[tag].load();
    }
    static void note(OutputVerdict& v, uint64_t& counter, const std::string& problem) {
        if (counter++ == 0 && v.firstProblem.empty()) v.firstProblem = problem;
    }

    std::mutex mutex_;
    std::vector<Offer> offers_[kMaxTags];
    std::atomic<uint32_t> opening_[kMaxTags]{};
};

}  // namespace juxhid::test::soak
