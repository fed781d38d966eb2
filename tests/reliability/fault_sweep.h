// The fault sweep: every scenario names the platform calls it makes on one
// thread; the sweep fails the 1st, 2nd, 3rd ... of each kind in turn until
// the scenario runs clean, and checks each time that the functions answer
// from their own tables and that closing every interface leaves nothing open.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "status_families.h"
#include "support/sim_fixture.h"

namespace juxhid::test {

inline const char* callName(int32_t call) {
    switch (call) {
        case JUXSIM_CALL_LIST_OPEN: return "LIST_OPEN";
        case JUXSIM_CALL_LIST_INTERFACE: return "LIST_INTERFACE";
        case JUXSIM_CALL_DETAIL_SIZE: return "DETAIL_SIZE";
        case JUXSIM_CALL_DETAIL_FETCH: return "DETAIL_FETCH";
        case JUXSIM_CALL_OPEN_QUERY: return "OPEN_QUERY";
        case JUXSIM_CALL_ATTRIBUTES: return "ATTRIBUTES";
        case JUXSIM_CALL_PREPARSED: return "PREPARSED";
        case JUXSIM_CALL_CAPS: return "CAPS";
        case JUXSIM_CALL_OPEN_READ: return "OPEN_READ";
        case JUXSIM_CALL_OPEN_WRITE: return "OPEN_WRITE";
        case JUXSIM_CALL_READ: return "READ";
        case JUXSIM_CALL_WRITE: return "WRITE";
        case JUXSIM_CALL_LOCK_CREATE: return "LOCK_CREATE";
        case JUXSIM_CALL_SIGNAL_CREATE: return "SIGNAL_CREATE";
        case JUXSIM_CALL_THREAD_START: return "THREAD_START";
        case JUXSIM_CALL_LOCK_WAIT: return "LOCK_WAIT";
        case JUXSIM_CALL_LOCK_RELEASE: return "LOCK_RELEASE";
        case JUXSIM_CALL_TIMER_SCHEDULE: return "TIMER_SCHEDULE";
        case JUXSIM_CALL_ALLOCATE: return "ALLOCATE";
        default: return "?";
    }
}

inline const char* threadName(int32_t thread) {
    switch (thread) {
        case JUXSIM_THREAD_ARMING: return "caller";
        case JUXSIM_THREAD_READER: return "reader";
        case JUXSIM_THREAD_CALLBACK: return "callback";
        case JUXSIM_THREAD_TIMER: return "timer";
        default: return "any";
    }
}

// One way of failing one kind of platform call.
struct FaultKind {
    int32_t call;
    uint32_t error;       // what the failing call reports (0 with a short count: a short transfer)
    uint32_t shortCount;  // bytes a short transfer moves
    // A fault that never ends would keep the library waiting without limit
    // by design (writeLock timing out for ever in a teardown): swept only as
    // a transient fault.
    bool transientOnly;

    std::string label() const {
        std::string text = callName(call);
        if ((call == JUXSIM_CALL_READ || call == JUXSIM_CALL_WRITE) && error == 0)
            return text + " short " + std::to_string(shortCount);
        if (call == JUXSIM_CALL_LOCK_WAIT)
            return text + (error == 258 ? " timeout" : " failed");
        return error == 0 ? text : text + " error " + std::to_string(error);
    }
};

inline FaultKind failing(int32_t call, uint32_t error = 0) { return FaultKind{call, error, 0, false}; }
inline FaultKind shortTransfer(int32_t call, uint32_t bytes) { return FaultKind{call, 0, bytes, false}; }
inline FaultKind lockWaitTimeout(bool transientOnly = false) {
    return FaultKind{JUXSIM_CALL_LOCK_WAIT, 258, 0, transientOnly};
}
inline FaultKind lockWaitFailure() { return FaultKind{JUXSIM_CALL_LOCK_WAIT, 0xFFFFFFFFu, 0, false}; }

struct Answer {
    Function function;
    int32_t status;
};

class SweepBench;

struct Scenario {
    const char* name;
    int32_t thread;  // JuxsimThread whose calls fail
    std::vector<FaultKind> kinds;
    // Runs before any fault is armed.
    std::function<void(SweepBench&)> prepare;
    // The calls under test; answers go through SweepBench::record.
    std::function<void(SweepBench&)> act;
    // Also sweep faults that stay on from the Nth call.
    bool persistent;
};

const std::vector<Scenario>& sweepScenarios();

// gtest prints a scenario by its name, not its bytes.
inline void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

// What a scenario's callbacks saw. The callbacks are plain functions, so
// they reach it through one global.
struct CallbackLog {
    std::atomic<int> dataCalls{0};
    std::atomic<int> tornReports{0};
    std::atomic<int> errorCalls{0};
    std::atomic<intptr_t> errorStatus{0};
    uint32_t payload = 0;
};
CallbackLog& callbackLog();

int32_t JUXHID_CALL logData(uint8_t* bytes);
int32_t JUXHID_CALL logError(intptr_t status);

// The fixture: the shared simulated-bus ground plus what scenarios need.
class SweepBench : public SimTest, public ::testing::WithParamInterface<Scenario> {
public:
    static constexpr uint32_t kLength = 8;

    int32_t attachDevice(uint32_t product, uint32_t input = kLength, uint32_t output = kLength,
                         uint32_t vendor = kVendor) {
        JuxsimDeviceInfo info = deviceInfo(product, input, output, vendor);
        const int32_t id = juxsim_attach(&info);
        devices.push_back(id);
        return id;
    }
    int32_t listDevices() { return list(); }
    void record(Function function, int32_t status) { answers.push_back({function, status}); }

    // Report `n` of the numbered series: every byte follows from n, so a
    // torn or foreign report is recognised.
    static std::vector<uint8_t> numbered(uint32_t n, uint32_t length = kLength) {
        std::vector<uint8_t> bytes(length);
        for (uint32_t i = 0; i < length; ++i) bytes[i] = i == 0 ? 0 : static_cast<uint8_t>(n * 31 + i * 7);
        return bytes;
    }
    static bool isNumbered(const uint8_t* bytes, uint32_t n, uint32_t length = kLength) {
        return numbered(n, length) == std::vector<uint8_t>(bytes, bytes + length);
    }
    void deliverNumbered(size_t device, uint32_t n) { deliver(devices.at(device), numbered(n)); }

    // Report `n` goes to device `device`, and the interface at `index` must
    // have stored it. The reader drops a report it cannot store within 100 ms,
    // and on a loaded machine this thread can be preempted for that long while
    // a look of ReadLast holds the lock: the device then sends it again.
    bool deliverAndWaitForStoredReport(size_t device, int32_t index, uint32_t n) {
        uint8_t buffer[kLength];
        for (int sent = 0; sent < 3; ++sent) {
            if (deliver(devices.at(device), numbered(n)) != 1) return false;
            if (eventually([&] { return ReadLast(index, buffer) == JUXHID_OK; }, std::chrono::milliseconds(2000)))
                return true;
        }
        return false;
    }

    std::vector<int32_t> devices;
    std::vector<Answer> answers;
};

}  // namespace juxhid::test
