// Calls in any order: seeded random sequences of listing, attaching,
// unplugging, opening, closing, cleaning up and every other call with any
// index, checked against a model of what each index is. Where the model
// knows the answer it is asserted exactly; elsewhere the answer must come
// from the function's own table. At the end nothing may be left open.
#include <iostream>
#include <random>

#include "status_families.h"
#include "support/sim_fixture.h"

namespace juxhid::test {
namespace {

constexpr uint32_t kLength = 8;

int32_t JUXHID_CALL keepData(uint8_t*) { return 1; }
int32_t JUXHID_CALL ignoreError(intptr_t) { return 0; }

struct Device {
    int32_t id;
    uint32_t input, output;
};

enum class Slot { Closed, Open, Gone, PartlyOpen, CleanedWhileAttached };

struct Row {
    Device device;
    Slot slot = Slot::Closed;
    bool stored = false;  // a report is in its ring: ReadLast answers at once
};

class CallOrder : public SimTest {
protected:
    int32_t pick(int32_t low, int32_t high) { return std::uniform_int_distribution<int32_t>(low, high - 1)(random_); }

    Row* row(int32_t index) {
        return index >= 0 && index < static_cast<int32_t>(rows_.size()) ? &rows_[static_cast<size_t>(index)] : nullptr;
    }
    bool attached(int32_t id) const {
        for (const Device& d : attached_)
            if (d.id == id) return true;
        return false;
    }

    void attach() {
        if (attached_.size() >= 6) return;
        const uint32_t input = pick(0, 4) == 0 ? 0 : kLength;
        const uint32_t output = input == 0 || pick(0, 4) != 0 ? kLength : 0;
        JuxsimDeviceInfo info = deviceInfo(static_cast<uint32_t>(attached_.size() + 1), input, output);
        attached_.push_back({juxsim_attach(&info), input, output});
    }

    void unplug() {
        if (attached_.empty()) return;
        const size_t which = static_cast<size_t>(pick(0, static_cast<int32_t>(attached_.size())));
        const int32_t id = attached_[which].id;
        juxsim_detach(id);
        attached_.erase(attached_.begin() + static_cast<long>(which));
        for (size_t i = 0; i < rows_.size(); ++i) {
            Row& r = rows_[i];
            if (r.device.id != id || r.slot != Slot::Open) continue;
            r.slot = Slot::Gone;
            if (r.device.input == 0) continue;
            uint8_t buffer[kLength];
            ASSERT_TRUE(eventually([&] { return ReadData(static_cast<int32_t>(i), buffer) == JUXHID_READ_DEVICE_GONE; }));
        }
    }

    // The caller closes everything before listing again.
    void listAgain() {
        for (int32_t i = 0; i < JUXHID_MAX_DEVICES; ++i) CloseInterface(i);
        const int32_t status = list();
        if (attached_.empty()) {
            ASSERT_EQ(status, JUXHID_LIST_NO_DEVICE);
            rows_.clear();
            return;
        }
        ASSERT_EQ(status, JUXHID_OK);
        ASSERT_EQ(count_, static_cast<int32_t>(attached_.size()));
        rows_.clear();
        for (const Device& d : attached_) rows_.push_back(Row{d});
    }

    void open(int32_t index) {
        const int32_t status = SetupInterface(index);
        Row* r = row(index);
        if (r == nullptr) return expectCode(status, JUXHID_OPEN_BAD_INDEX);
        r->stored = false;
        if (attached(r->device.id)) {
            EXPECT_EQ(status, JUXHID_OK) << where();
            r->slot = Slot::Open;
        } else {
            EXPECT_EQ(status, r->device.input != 0 ? JUXHID_OPEN_READ_NOT_FOUND : JUXHID_OPEN_WRITE_NOT_FOUND)
                << where();
            r->slot = Slot::PartlyOpen;
        }
    }

    void close(int32_t index, bool cleanup) {
        Row* r = row(index);
        // Cleaning up waits half a second for a device that is not known to
        // be gone, and then keeps its error signal: only now and then.
        const bool waits = r != nullptr && r->device.input != 0 &&
                           (r->slot == Slot::Open || r->slot == Slot::PartlyOpen ||
                            r->slot == Slot::CleanedWhileAttached);
        if (cleanup && waits && pick(0, 3) != 0) cleanup = false;
        if (cleanup) CleanupInterface(index);
        else CloseInterface(index);
        if (r == nullptr) return;
        r->slot = cleanup && waits ? Slot::CleanedWhileAttached : Slot::Closed;
        r->stored = false;
    }

    void feed(int32_t index) {
        Row* r = row(index);
        if (r == nullptr || r->slot != Slot::Open || r->device.input == 0) return;
        deliver(r->device.id, report(kLength, 0, 3));
        uint8_t buffer[kLength];
        ASSERT_TRUE(eventually([&] { return ReadLast(index, buffer) == JUXHID_OK; })) << where();
        r->stored = true;
    }

    void readData(int32_t index) {
        uint8_t buffer[kLength];
        const bool null = pick(0, 10) == 0;
        const int32_t status = ReadData(index, null ? nullptr : buffer);
        const Row* r = row(index);
        ++visited_[r == nullptr ? 5 : static_cast<int>(r->slot)];
        if (r == nullptr) return expectCode(status, JUXHID_READ_NOT_OPEN);
        if (null) return expectCode(status, JUXHID_READ_BAD_POINTER);
        if (r->device.input == 0) return expectCode(status, JUXHID_READ_NO_INPUT);
        switch (r->slot) {
            case Slot::Closed: return expectCode(status, JUXHID_READ_NOT_OPEN);
            case Slot::Gone: return expectCode(status, JUXHID_READ_DEVICE_GONE);
            case Slot::CleanedWhileAttached: return expectCode(status, JUXHID_READ_NO_LOCK);
            case Slot::PartlyOpen: return expectCode(status, JUXHID_READ_EMPTY);
            case Slot::Open:
                EXPECT_TRUE(status == JUXHID_OK || status == JUXHID_READ_EMPTY) << where() << describeStatus(status);
        }
    }

    void readLast(int32_t index) {
        const Row* r = row(index);
        // An open ring without a report would keep ReadLast waiting half a second.
        const bool slow = r != nullptr && r->device.input != 0 && !r->stored &&
                          (r->slot == Slot::Open || r->slot == Slot::PartlyOpen);
        if (slow) return;
        uint8_t buffer[kLength];
        const int32_t status = ReadLast(index, buffer);
        if (r == nullptr) return expectCode(status, JUXHID_LAST_NOT_OPEN);
        if (r->device.input == 0) return expectCode(status, JUXHID_LAST_NO_INPUT);
        switch (r->slot) {
            case Slot::Closed: return expectCode(status, JUXHID_LAST_NOT_OPEN);
            case Slot::Gone: return expectCode(status, JUXHID_LAST_DEVICE_GONE);
            case Slot::CleanedWhileAttached: return expectCode(status, JUXHID_LAST_LOCK_FAILED);
            default: return expectCode(status, JUXHID_OK);
        }
    }

    // ClearBuffer and the setters need the interface's lock.
    static bool hasLock(const Row* r) {
        return r != nullptr && r->device.input != 0 &&
               (r->slot == Slot::Open || r->slot == Slot::Gone || r->slot == Slot::PartlyOpen);
    }

    void clear(int32_t index) {
        const int32_t status = ClearBuffer(index);
        Row* r = row(index);
        EXPECT_EQ(status, hasLock(r) ? JUXHID_OK : JUXHID_CLEAR_NOT_OPEN) << where();
        if (r != nullptr) r->stored = false;
    }

    void setCallback(int32_t index) {
        const int32_t status = pick(0, 2) == 0 ? SetDataCallback(index, static_cast<uint32_t>(pick(0, 3)), keepData)
                                               : SetErrorCallback(index, ignoreError);
        EXPECT_EQ(status, hasLock(row(index)) ? JUXHID_OK : JUXHID_CALLBACK_NOT_OPEN) << where();
    }

    void write(int32_t index) {
        const bool fast = pick(0, 2) == 0, null = pick(0, 10) == 0;
        const std::vector<uint8_t> bytes = report(kLength, 0, 5);
        const void* data = null ? nullptr : bytes.data();
        const int32_t status = fast ? FastWrite(index, data) : WriteData(index, data);
        const Row* r = row(index);
        EXPECT_TRUE(answersFrom(fast ? Function::FastWrite : Function::WriteData, status)) << where();
        if (r == nullptr) return expectCode(status, JUXHID_WRITE_NOT_OPEN);
        if (r->device.output == 0) return expectCode(status, JUXHID_WRITE_NO_OUTPUT);
        const bool writable = r->slot == Slot::Open || r->slot == Slot::Gone;
        if (!writable) return expectCode(status, JUXHID_WRITE_NOT_OPEN);
        if (null) return expectCode(status, JUXHID_WRITE_BAD_POINTER);
        EXPECT_NE(status, JUXHID_WRITE_NOT_OPEN) << where();
    }

    void lengths(int32_t index) {
        const Row* r = row(index);
        EXPECT_EQ(GetReadLength(index), r != nullptr ? static_cast<int32_t>(r->device.input) : -1) << where();
        EXPECT_EQ(GetWriteLength(index), r != nullptr ? static_cast<int32_t>(r->device.output) : -1) << where();
    }

    void expectCode(int32_t actual, int32_t expected) const {
        EXPECT_EQ(actual, expected) << where() << "answered " << describeStatus(actual) << ", expected "
                                    << describeStatus(expected);
    }

    std::string where() const { return "seed " + std::to_string(seed_) + ", step " + std::to_string(step_) + ": "; }

    void runOneStep() {
        const int32_t listed = static_cast<int32_t>(rows_.size());
        const int32_t index = pick(0, 8) == 0 ? pick(-2, JUXHID_MAX_DEVICES + 3) : pick(0, listed + 1);
        const int32_t choice = pick(0, 100);
        if (choice < 6) return attach();
        if (choice < 11) return listAgain();
        if (choice < 14) return unplug();
        if (choice < 28) return open(index);
        if (choice < 36) return close(index, pick(0, 2) == 0);
        if (choice < 44) return feed(index);
        if (choice < 56) return readData(index);
        if (choice < 62) return readLast(index);
        if (choice < 67) return clear(index);
        if (choice < 77) return setCallback(index);
        if (choice < 92) return write(index);
        return lengths(index);
    }

    uint32_t seed_ = 0;
    std::mt19937 random_;
    std::vector<Device> attached_;
    std::vector<Row> rows_;
    int step_ = 0;
    int visited_[6] = {};  // ReadData calls by slot state, 5: unlisted
};

TEST_F(CallOrder, AnySequenceAnswersWhatEachIndexIsAndLeavesNothingOpen) {
    for (seed_ = 1; seed_ <= 8 && !HasFatalFailure(); ++seed_) {
        random_.seed(seed_);
        // An empty listing starts the library over for each sequence.
        juxsim_reset();
        attached_.clear();
        listAgain();
        for (step_ = 0; step_ < 500 && !HasFatalFailure(); ++step_) runOneStep();
    }
    std::cout << "[ order    ] ReadData in each state (closed, open, gone, partly open, cleaned while attached, "
                 "unlisted):";
    for (const int n : visited_) std::cout << " " << n;
    std::cout << "\n";
    // The sequences really reached every state the model knows.
    for (const int n : visited_) EXPECT_GT(n, 0);
}

}  // namespace
}  // namespace juxhid::test
