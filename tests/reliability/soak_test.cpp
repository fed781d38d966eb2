// The concurrency soak: simulated devices deliver numbered reports at a high
// rate, in floods now and then, while worker threads call every per-interface
// function at random and an owner thread unplugs and re-attaches devices,
// stalls their writes, closes, cleans up, reopens, lists again and injects
// faults into the library's threads, keeping the caller's duties; data
// callbacks now and then close or reopen their own interface. Every report is
// checked wherever it comes out; a watchdog turns a deadlock into a failure.
//
// JUXHID_SOAK_SECONDS sets the length (default 30 s, 10 s in sanitizer
// builds); JUXHID_SOAK_SEED repeats a run.
#include <array>
#include <cinttypes>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <shared_mutex>

#include "caller_duty_lock.h"
#include "frame/lifecycle.h"
#include "soak_ledger.h"
#include "soak_reports.h"
#include "status_families.h"
#include "support/sim_fixture.h"
#include "watchdog.h"

namespace juxhid::test::soak {
namespace {

constexpr int kDevices = 4;  // tags 1 to 4; tag 1 is never unplugged
constexpr int kWorkers = 4;
constexpr uint32_t kInputLength = 32;
constexpr uint32_t kOutputLength = 16;
constexpr int64_t kStallLimitMs = 30000;
constexpr uint32_t kCallbackTeardownEvery = 400;  // data callbacks per thread
constexpr uint32_t kFloodEvery = 3000;             // deliveries per producer
constexpr int kFloodReports = 400;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kDefaultSeconds = 10;
#else
constexpr int kDefaultSeconds = 30;
#endif

int soakSeconds() {
    const char* text = std::getenv("JUXHID_SOAK_SECONDS");
    const int seconds = text != nullptr ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : kDefaultSeconds;
}

uint32_t soakSeed() {
    const char* text = std::getenv("JUXHID_SOAK_SEED");
    if (text != nullptr) return static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
    return std::random_device{}();
}

// ---- The shared world ---------------------------------------------------------------

struct Tally {
    std::atomic<uint64_t> delivered{0}, operations{0}, polled{0}, peeked{0}, called{0}, blankCalls{0}, outputs{0};
    std::atomic<uint64_t> errorCalls{0}, unplugs{0}, closes{0}, cleanups{0}, relists{0};
    std::atomic<uint64_t> stalls{0}, floods{0}, faults{0}, callbackTeardowns{0};
    // Broken invariants; the first of each kind is described.
    std::atomic<uint64_t> torn{0}, foreign{0}, duplicates{0}, disorder{0}, badStatus{0}, badErrorStatus{0};
    std::mutex problemMutex;
    std::string firstProblem;

    void problem(std::atomic<uint64_t>& counter, const std::string& what) {
        if (counter.fetch_add(1) != 0) return;
        std::lock_guard<std::mutex> hold(problemMutex);
        if (firstProblem.empty()) firstProblem = what;
    }
};

struct LogicalDevice {
    uint8_t tag = 0;
    std::atomic<int32_t> busId{0};  // 0 while unplugged
    std::atomic<uint32_t> nextInput{1};
    std::atomic<uint32_t> lastCalledBack{0};
    bool stable = false;
    bool gone = false;        // owner only
    bool cleanedUp = false;   // owner only
    std::mutex idsMutex;
    std::vector<int32_t> everyId;  // for taking what was written to it, also after the unplug
};

struct World {
    std::array<LogicalDevice, kDevices + 1> devices;  // by tag; 0 unused
    std::atomic<uint8_t> tagAt[JUXHID_MAX_DEVICES]{};
    std::atomic<int32_t> listed{0};
    CallerDutyLock listing;
    CallerDutyLock perIndex[JUXHID_MAX_DEVICES];
    TakenReports taken;
    OutputLedger outputs;
    Tally tally;
    std::atomic<bool> stopWorkers{false}, stopProducers{false}, stopCollector{false};
    std::atomic<bool> callbacksReopen{false};  // workers install reopeningData
    int64_t startMs = 0, endMs = 0;

    // Pacing is one chain for all interfaces: while WriteData keeps a slow
    // chain going, every FastWrite is refused. Writers take turns: two
    // seconds of slow writes, four of fast ones.
    bool fastPhase() const { return (nowMs() - startMs) / 1000 % 6 >= 2; }
    // In the last quarter the first device's interface stays open, so that
    // what it accepted then is held to exactly once.
    bool calm() const { return nowMs() > endMs - (endMs - startMs) / 4; }
};

World* world = nullptr;  // the callbacks are plain functions

std::mutex answersMutex;
std::map<std::pair<int, int32_t>, uint64_t> answerCounts;  // (function, status) -> how often

void checkStatus(Function function, int32_t status) {
    {
        std::lock_guard<std::mutex> hold(answersMutex);
        ++answerCounts[{static_cast<int>(function), status}];
    }
    if (!answersFrom(function, status))
        world->tally.problem(world->tally.badStatus,
                             std::string(functionName(function)) + " answered " + describeStatus(status));
}

// ---- Callbacks ----------------------------------------------------------------------

int32_t indexOfTag(uint8_t tag) {
    for (int32_t i = 0; i < world->listed.load(); ++i)
        if (world->tagAt[i].load() == tag) return i;
    return -1;
}

// A callback closes or reopens its own interface and opens it again, under the
// caller's duties, but only where it can have them at once: a callback must
// not wait for a thread that may be closing its interface and waiting for it.
void tearDownFromCallback(uint8_t tag, uint32_t turn) {
    if ((tag == 1 && world->calm()) || world->devices[tag].busId.load() == 0) return;
    if (!world->listing.try_lock_shared()) return;
    const int32_t index = indexOfTag(tag);
    if (index >= 0 && world->perIndex[index].try_lock()) {
        world->outputs.disrupt(tag);
        if (turn % 2 == 0) CloseInterface(index);
        checkStatus(Function::SetupInterface, SetupInterface(index));
        world->tally.callbackTeardowns.fetch_add(1);
        world->perIndex[index].unlock();
    }
    world->listing.unlock_shared();
}

int32_t JUXHID_CALL soakData(uint8_t* bytes) {
    Tally& tally = world->tally;
    const Decoded report = decodeReport(bytes, kInputLength - 1, 1);
    if (report.blank) {
        tally.blankCalls.fetch_add(1);
        return 1;
    }
    tally.called.fetch_add(1);
    if (!report.intact || report.tag == 0 || report.tag > kDevices) {
        tally.problem(tally.torn, "a data callback saw a torn report");
        return 1;
    }
    std::atomic<uint32_t>& last = world->devices[report.tag].lastCalledBack;
    if (report.number < last.load())
        tally.problem(tally.disorder, "a data callback went back from report " + std::to_string(last.load()) +
                                          " to " + std::to_string(report.number));
    else
        last = report.number;
    thread_local uint32_t calls = 0;
    if (++calls % kCallbackTeardownEvery == 0) tearDownFromCallback(report.tag, calls / kCallbackTeardownEvery);
    return 1;
}

int32_t JUXHID_CALL soakError(intptr_t status) {
    world->tally.errorCalls.fetch_add(1);
    if (status != JUXHID_DEVICE_GONE_STATUS)
        world->tally.problem(world->tally.badErrorStatus, "the error callback got " + std::to_string(status));
    return 0;
}

// Checks its report as soakData does and, every few calls, closes and reopens
// its own interface and installs itself on the new opening, as long as the
// library lets it: the callbacks an unload meets.
constexpr uint32_t kReopenEvery = 10;

int32_t JUXHID_CALL reopeningData(uint8_t* bytes) {
    soakData(bytes);
    const Decoded report = decodeReport(bytes, kInputLength - 1, 1);
    thread_local uint32_t calls = 0;
    if (report.blank || !report.intact || ++calls % kReopenEvery != 0) return 1;
    const int32_t index = indexOfTag(report.tag);
    if (index < 0 || !world->perIndex[index].try_lock()) return 1;
    world->outputs.disrupt(report.tag);
    CloseInterface(index);
    const int32_t opened = SetupInterface(index);
    checkStatus(Function::SetupInterface, opened);
    if (opened == JUXHID_OK) checkStatus(Function::SetDataCallback, SetDataCallback(index, 1, reopeningData));
    world->tally.callbackTeardowns.fetch_add(1);
    world->perIndex[index].unlock();
    return 1;
}

// ---- Producers and the collector ---------------------------------------------------

void deliverNext(LogicalDevice& device, int32_t id) {
    uint8_t bytes[kInputLength];
    fillReport(bytes, kInputLength, device.tag, device.nextInput.fetch_add(1));
    if (juxsim_deliver(id, bytes, kInputLength) > 0) world->tally.delivered.fetch_add(1);
}

// Now and then a flood: reports back to back, far above any device's pace;
// the oldest unread ones are lost, the rest keep their order.
void produce(LogicalDevice& device, Heartbeat& heart) {
    for (uint32_t turn = 1; !world->stopProducers; ++turn) {
        heart.beat("delivering");
        if (const int32_t id = device.busId.load()) {
            const bool flood = turn % kFloodEvery == 0;
            for (int n = flood ? kFloodReports : 1; n > 0; --n) deliverNext(device, id);
            if (flood) world->tally.floods.fetch_add(1);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(150));
    }
    heart.done = true;
}

void takeOutputs(int32_t busId) {
    uint8_t bytes[64];
    uint32_t length = 0;
    uint64_t at = 0;
    Tally& tally = world->tally;
    while (juxsim_take_output(busId, bytes, sizeof bytes, &length, &at) == 1) {
        tally.outputs.fetch_add(1);
        const Decoded report = decodeReport(bytes, length);
        if (length != kOutputLength || !report.intact)
            tally.problem(tally.torn, "a device received a torn output report");
        else if (!world->outputs.reachedDevice(report.tag, report.number))
            tally.problem(tally.foreign, "a device received a report that was never offered");
    }
}

void takeEveryOutput() {
    for (int tag = 1; tag <= kDevices; ++tag) {
        LogicalDevice& device = world->devices[tag];
        std::vector<int32_t> ids;
        {
            std::lock_guard<std::mutex> hold(device.idsMutex);
            ids = device.everyId;
        }
        for (const int32_t id : ids) takeOutputs(id);
    }
}

void collect(Heartbeat& heart) {
    while (!world->stopCollector) {
        heart.beat("taking outputs");
        takeEveryOutput();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    takeEveryOutput();
    heart.done = true;
}

// ---- Workers: random calls under the caller's duties -------------------------------

class Worker {
public:
    Worker(uint32_t seed, Heartbeat& heart) : random_(seed), heart_(heart) {}

    struct Timing {
        uint64_t calls = 0;
        double totalMs = 0, longestMs = 0;
    };
    std::map<std::string, Timing> timings;

    void run() {
        while (!world->stopWorkers) {
            const auto began = std::chrono::steady_clock::now();
            const int32_t index = pick(0, kDevices + 1) == 0 ? badIndex() : pick(0, kDevices);
            std::shared_lock<CallerDutyLock> listing(world->listing);
            if (index >= 0 && index < JUXHID_MAX_DEVICES) {
                std::shared_lock<CallerDutyLock> calls(world->perIndex[index]);
                callOnce(index);
            } else {
                callOnce(index);
            }
            world->tally.operations.fetch_add(1);
            Timing& timing = timings[heart_.doing.load()];
            const double ms = msSince(began);
            ++timing.calls;
            timing.totalMs += ms;
            timing.longestMs = std::max(timing.longestMs, ms);
        }
        heart_.done = true;
    }

private:
    int32_t pick(int32_t low, int32_t high) {  // [low, high)
        return std::uniform_int_distribution<int32_t>(low, high - 1)(random_);
    }
    int32_t badIndex() {
        static constexpr int32_t kBad[] = {-1, JUXHID_MAX_DEVICES, INT32_MIN, INT32_MAX, kDevices + 3};
        return kBad[pick(0, 5)];
    }
    uint8_t tagAt(int32_t index) {
        return index >= 0 && index < JUXHID_MAX_DEVICES ? world->tagAt[index].load() : 0;
    }

    void callOnce(int32_t index) {
        const int32_t choice = pick(0, 100);
        if (choice < 30) return readData(index);
        if (choice < 34) return readLast(index);
        if (choice < 37) return clearBuffer(index);
        if (choice < 43) return setDataCallback(index);
        if (choice < 46) return setErrorCallback(index);
        if (choice < 96) {
            if (world->fastPhase()) return write(index, true);
            // Slow writes are paced to about what a slow chain sends (one
            // report per interface every 50 ms), so that the queues are
            // short when the fast turn begins.
            if (nowMs() - lastSlowWriteMs_ < 50) return readData(index);
            lastSlowWriteMs_ = nowMs();
            return write(index, false);
        }
        return lengths(index);
    }
    void heartbeat(const char* what) { heart_.beat(what); }

    void readData(int32_t index) {
        heartbeat("ReadData");
        uint8_t bytes[kInputLength];
        const int32_t status = ReadData(index, bytes);
        checkStatus(Function::ReadData, status);
        if (status != JUXHID_OK && status != JUXHID_READ_RELEASE_FAILED) return;
        Tally& tally = world->tally;
        tally.polled.fetch_add(1);
        const Decoded report = decodeReport(bytes, kInputLength);
        if (!report.intact) return tally.problem(tally.torn, "ReadData handed out a torn report");
        if (report.tag != tagAt(index))
            return tally.problem(tally.foreign, "ReadData on index " + std::to_string(index) +
                                                    " handed out a report of another device");
        if (!world->taken.takeOnce(report.tag, report.number))
            tally.problem(tally.duplicates, "ReadData handed out report " + std::to_string(report.number) + " twice");
        uint32_t& last = lastTaken_[report.tag];
        if (report.number <= last)
            tally.problem(tally.disorder, "ReadData went from report " + std::to_string(last) + " to " +
                                              std::to_string(report.number));
        last = report.number;
    }

    void clearBuffer(int32_t index) {
        heartbeat("ClearBuffer");
        checkStatus(Function::ClearBuffer, ClearBuffer(index));
    }

    void readLast(int32_t index) {
        heartbeat("ReadLast");
        uint8_t bytes[kInputLength];
        const int32_t status = ReadLast(index, bytes);
        checkStatus(Function::ReadLast, status);
        if (status != JUXHID_OK) return;
        Tally& tally = world->tally;
        tally.peeked.fetch_add(1);
        const Decoded report = decodeReport(bytes, kInputLength);
        if (!report.intact) return tally.problem(tally.torn, "ReadLast handed out a torn report");
        if (report.tag != tagAt(index))
            return tally.problem(tally.foreign, "ReadLast handed out a report of another device");
        uint32_t& last = lastPeeked_[report.tag];
        if (report.number < last)
            tally.problem(tally.disorder, "ReadLast went back from report " + std::to_string(last) + " to " +
                                              std::to_string(report.number));
        last = report.number;
    }

    void setDataCallback(int32_t index) {
        heartbeat("SetDataCallback");
        static constexpr uint32_t kModes[] = {0, 1, 1, 2, 255, 0xFFFFFFFFu};
        const uint32_t mode = kModes[pick(0, 6)];
        // Now and then no function: the worker then ends at its next data
        // wake-up, for the rest of this opening.
        // In the unload run no function is left out: a worker that ended would
        // end its interface's chain of reopenings.
        const bool reopen = world->callbacksReopen;
        const JuxhidDataCallback function = reopen ? reopeningData : pick(0, 25) == 0 ? nullptr : soakData;
        checkStatus(Function::SetDataCallback, SetDataCallback(index, mode, function));
    }

    void setErrorCallback(int32_t index) {
        heartbeat("SetErrorCallback");
        const JuxhidErrorCallback function = pick(0, 10) == 0 ? nullptr : soakError;
        checkStatus(Function::SetErrorCallback, SetErrorCallback(index, function));
    }

    void write(int32_t index, bool fast) {
        heartbeat(fast ? "FastWrite" : "WriteData");
        const uint8_t tag = tagAt(index);
        uint8_t bytes[kOutputLength];
        const uint32_t number = tag != 0 ? world->outputs.offer(tag) : 0;
        fillReport(bytes, kOutputLength, tag, number);
        const int32_t status = fast ? FastWrite(index, bytes) : WriteData(index, bytes);
        checkStatus(fast ? Function::FastWrite : Function::WriteData, status);
        if (tag != 0) world->outputs.answered(tag, number, status);
    }

    void lengths(int32_t index) {
        heartbeat("lengths");
        const bool known = tagAt(index) != 0;
        const int32_t in = GetReadLength(index), out = GetWriteLength(index);
        if (in != (known ? static_cast<int32_t>(kInputLength) : -1) ||
            out != (known ? static_cast<int32_t>(kOutputLength) : -1))
            world->tally.problem(world->tally.badStatus, "a length query answered " + std::to_string(in) + "/" +
                                                             std::to_string(out) + " on index " + std::to_string(index));
    }

    std::mt19937 random_;
    Heartbeat& heart_;
    std::array<uint32_t, kMaxTags> lastTaken_{};
    std::array<uint32_t, kMaxTags> lastPeeked_{};
    int64_t lastSlowWriteMs_ = 0;
};

// ---- The owner: devices come and go, interfaces close and reopen --------------------

class Owner {
public:
    Owner(uint32_t seed, Heartbeat& heart) : random_(seed), heart_(heart) {}

    void attachAll() {
        for (int tag = 1; tag <= kDevices; ++tag) {
            LogicalDevice& device = world->devices[tag];
            device.tag = static_cast<uint8_t>(tag);
            device.stable = tag == 1;
            attach(device);
        }
        relist();
    }

    void run() {
        int64_t lastRelist = nowMs();
        while (!world->stopWorkers) {
            heart_.beat("resting");
            std::this_thread::sleep_for(std::chrono::milliseconds(pick(10, 60)));
            const bool relistDue = nowMs() - lastRelist > (needRelist_ ? 800 : 4000);
            if (relistDue && !world->calm()) {
                relist();
                lastRelist = nowMs();
                continue;
            }
            const int32_t choice = pick(0, 100);
            const int32_t index = pick(0, kDevices);
            if (world->calm() && index == indexOf(1)) continue;
            if (choice < 42) closeAndReopen(index);
            else if (choice < 56) reopenOver(index);
            else if (choice < 68) unplug(pick(2, kDevices + 1));
            else if (choice < 73) stallThenUnplug(pick(2, kDevices + 1));
            else if (choice < 90) cleanUpGone();
            else if (choice < 93) cleanupWhileAttached(index);
            else if (!world->calm()) injectFault();
        }
        finish();
        heart_.done = true;
    }

private:
    int32_t pick(int32_t low, int32_t high) { return std::uniform_int_distribution<int32_t>(low, high - 1)(random_); }

    static int32_t indexOf(uint8_t tag) { return indexOfTag(tag); }

    void attach(LogicalDevice& device) {
        JuxsimDeviceInfo info = deviceInfo(0x500 + device.tag, kInputLength, kOutputLength);
        const int32_t id = juxsim_attach(&info);
        {
            std::lock_guard<std::mutex> hold(device.idsMutex);
            device.everyId.push_back(id);
        }
        device.busId = id;
        device.gone = false;
        device.cleanedUp = false;
    }

    void open(int32_t index) {
        // An interface opened on an unplugged device is left partly open,
        // and every ReadLast on it waits half a second in vain: only now and
        // then, so that the workers keep busy.
        const uint8_t unpluggedTag = world->tagAt[index].load();
        if (unpluggedTag != 0 && world->devices[unpluggedTag].gone && pick(0, 4) != 0) return;
        const int32_t status = SetupInterface(index);
        checkStatus(Function::SetupInterface, status);
        // An unplugged device cannot be opened; anything else must open.
        const uint8_t tag = world->tagAt[index].load();
        if (status != JUXHID_OK && !(tag != 0 && world->devices[tag].gone))
            world->tally.problem(world->tally.badStatus, "SetupInterface answered " + describeStatus(status));
    }

    void closeAndReopen(int32_t index) {
        heart_.beat("closing and reopening");
        std::shared_lock<CallerDutyLock> listing(world->listing);
        if (index >= world->listed.load()) return;
        std::lock_guard<CallerDutyLock> alone(world->perIndex[index]);
        world->outputs.disrupt(world->tagAt[index].load());
        CloseInterface(index);
        world->tally.closes.fetch_add(1);
        open(index);
    }

    void reopenOver(int32_t index) {
        heart_.beat("reopening an open interface");
        std::shared_lock<CallerDutyLock> listing(world->listing);
        if (index >= world->listed.load()) return;
        std::lock_guard<CallerDutyLock> alone(world->perIndex[index]);
        world->outputs.disrupt(world->tagAt[index].load());
        open(index);
    }

    void cleanupWhileAttached(int32_t index) {
        heart_.beat("cleaning up an attached device");
        std::shared_lock<CallerDutyLock> listing(world->listing);
        if (index >= world->listed.load()) return;
        std::lock_guard<CallerDutyLock> alone(world->perIndex[index]);
        world->outputs.disrupt(world->tagAt[index].load());
        CleanupInterface(index);
        world->tally.cleanups.fetch_add(1);
        open(index);
    }

    void unplug(int32_t tag) {
        heart_.beat("unplugging");
        LogicalDevice& device = world->devices[tag];
        if (device.gone) return;
        std::shared_lock<CallerDutyLock> listing(world->listing);
        const int32_t index = indexOf(device.tag);
        if (index < 0) return;
        std::lock_guard<CallerDutyLock> alone(world->perIndex[index]);
        world->outputs.disrupt(device.tag);
        juxsim_detach(device.busId.exchange(0));
        device.gone = true;
        world->tally.unplugs.fetch_add(1);
    }

    // A device stops taking output reports: its writers block with the write
    // lock held (every other writer gives up after 250 ms, a tick after
    // 400 ms), until the device is unplugged, which ends the stalled write.
    void stallThenUnplug(int32_t tag) {
        heart_.beat("stalling a device's writes");
        LogicalDevice& device = world->devices[tag];
        if (device.gone || world->calm()) return;
        juxsim_set_write_delay(device.busId.load(), JUXSIM_WRITE_STALL);
        std::this_thread::sleep_for(std::chrono::milliseconds(pick(50, 300)));
        world->outputs.disrupt(device.tag);
        juxsim_detach(device.busId.exchange(0));
        std::shared_lock<CallerDutyLock> listing(world->listing);
        device.gone = true;
        world->tally.stalls.fetch_add(1);
        world->tally.unplugs.fetch_add(1);
    }

    // A few failing calls in the library's own threads: reads that fail or
    // come short, lock waits that give up. Each is answered by the library's
    // usual handling (a pause, a dropped report, a skipped wake-up).
    void injectFault() {
        heart_.beat("injecting a fault");
        JuxsimFault fault{};
        switch (pick(0, 4)) {
            case 0: fault = {JUXSIM_CALL_READ, JUXSIM_THREAD_READER, 0, pick(0, 50), pick(1, 4), 31, 0}; break;
            case 1: fault = {JUXSIM_CALL_READ, JUXSIM_THREAD_READER, 0, pick(0, 50), pick(1, 4), 0, 3}; break;
            case 2: fault = {JUXSIM_CALL_LOCK_WAIT, JUXSIM_THREAD_READER, 0, pick(0, 50), pick(1, 3), 258, 0}; break;
            default: fault = {JUXSIM_CALL_LOCK_WAIT, JUXSIM_THREAD_CALLBACK, 0, pick(0, 50), pick(1, 3), 258, 0}; break;
        }
        if (juxsim_fault_arm(&fault) > 0) world->tally.faults.fetch_add(1);
    }

    // The interfaces of unplugged devices are cleaned up (or closed) a while
    // after the unplug; the workers meet the gone device meanwhile.
    void cleanUpGone() {
        heart_.beat("cleaning up after an unplug");
        std::shared_lock<CallerDutyLock> listing(world->listing);
        for (int tag = 2; tag <= kDevices; ++tag) {
            LogicalDevice& device = world->devices[tag];
            const int32_t index = indexOf(device.tag);
            if (!device.gone || device.cleanedUp || index < 0) continue;
            std::lock_guard<CallerDutyLock> alone(world->perIndex[index]);
            world->outputs.disrupt(device.tag);
            if (pick(0, 2) == 0) CleanupInterface(index);
            else CloseInterface(index);
            world->tally.cleanups.fetch_add(1);
            device.cleanedUp = true;
            needRelist_ = true;
            return;
        }
    }

    // Listing again: nothing else runs, every interface is closed first, the
    // unplugged devices come back, and the indices are learned anew.
    void relist() {
        heart_.beat("listing");
        std::lock_guard<CallerDutyLock> alone(world->listing);
        for (int32_t i = 0; i < JUXHID_MAX_DEVICES; ++i) CloseInterface(i);
        for (int tag = 1; tag <= kDevices; ++tag) {
            world->outputs.disrupt(static_cast<uint8_t>(tag));
            if (world->devices[tag].gone) attach(world->devices[tag]);
        }
        DeviceSummary summaries[JUXHID_MAX_DEVICES];
        int32_t count = 0;
        const int32_t status = EnumerateJUX(kVendor, summaries, &count);
        checkStatus(Function::EnumerateJUX, status);
        if (status != JUXHID_OK || count != kDevices) {
            world->tally.problem(world->tally.badStatus, "listing answered " + describeStatus(status) + " with " +
                                                             std::to_string(count) + " devices");
            count = 0;
        }
        for (int32_t i = 0; i < JUXHID_MAX_DEVICES; ++i)
            world->tagAt[i] = i < count ? static_cast<uint8_t>(summaries[i].ProductID - 0x500) : 0;
        world->listed = count;
        for (int32_t i = 0; i < count; ++i) open(i);
        needRelist_ = false;
        world->tally.relists.fetch_add(1);
    }

    // What is still unplugged at the end is closed, so that only intact
    // openings are held to delivering every accepted report.
    void finish() {
        heart_.beat("finishing");
        juxsim_fault_clear();
        std::lock_guard<CallerDutyLock> alone(world->listing);
        for (int tag = 2; tag <= kDevices; ++tag) {
            LogicalDevice& device = world->devices[tag];
            const int32_t index = indexOf(device.tag);
            if (!device.gone || index < 0) continue;
            world->outputs.disrupt(device.tag);
            CloseInterface(index);
        }
    }

    std::mt19937 random_;
    Heartbeat& heart_;
    bool needRelist_ = false;
};

// ---- The test ---------------------------------------------------------------------------

class Soak : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        world = &world_;
    }
    void TearDown() override {
        SimTest::TearDown();
        world = nullptr;
    }
    World world_;
};

TEST_F(Soak, ConcurrentCallsUnplugsAndReopeningsKeepEveryInvariant) {
    const int seconds = soakSeconds();
    const uint32_t seed = soakSeed();
    std::cout << "[ soak     ] " << seconds << " s, seed " << seed << " (JUXHID_SOAK_SEED repeats it)\n";

    std::vector<std::unique_ptr<Heartbeat>> hearts;
    auto heart = [&](const std::string& name) -> Heartbeat& {
        hearts.push_back(std::make_unique<Heartbeat>());
        hearts.back()->name = name;
        return *hearts.back();
    };
    Heartbeat& ownerHeart = heart("owner");
    Heartbeat& collectorHeart = heart("collector");
    std::vector<Heartbeat*> workerHearts, producerHearts;
    for (int i = 0; i < kWorkers; ++i) workerHearts.push_back(&heart("worker " + std::to_string(i)));
    for (int tag = 1; tag <= kDevices; ++tag) producerHearts.push_back(&heart("producer " + std::to_string(tag)));
    Heartbeat& mainHeart = heart("test thread");
    std::vector<Heartbeat*> watched;
    for (auto& h : hearts) watched.push_back(h.get());
    Watchdog watchdog(watched, kStallLimitMs);

    world_.startMs = nowMs();
    world_.endMs = world_.startMs + seconds * 1000;
    Owner owner(seed, ownerHeart);
    owner.attachAll();
    std::vector<std::thread> producers, workers;
    for (int tag = 1; tag <= kDevices; ++tag)
        producers.emplace_back(produce, std::ref(world_.devices[tag]), std::ref(*producerHearts[tag - 1]));
    std::thread collector(collect, std::ref(collectorHeart));
    std::vector<std::unique_ptr<Worker>> workerStates;
    for (int i = 0; i < kWorkers; ++i) {
        workerStates.push_back(std::make_unique<Worker>(seed + 1 + i, *workerHearts[i]));
        workers.emplace_back(&Worker::run, workerStates.back().get());
    }
    std::thread ownerThread(&Owner::run, &owner);

    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(seconds)) {
        mainHeart.beat("waiting for the soak to end");
        sleepMs(100);
    }
    world_.stopWorkers = true;
    mainHeart.beat("joining the workers and the owner");
    for (std::thread& t : workers) t.join();
    ownerThread.join();
    const double elapsed = msSince(start) / 1000.0;
    world_.stopProducers = true;
    for (std::thread& t : producers) t.join();

    // Quiet: whatever is still queued on intact openings goes out now.
    mainHeart.beat("waiting for the queues to drain");
    const bool drained = eventually([&] {
        mainHeart.beat("waiting for the queues to drain");
        return world_.outputs.outstanding() == 0;
    }, std::chrono::milliseconds(20000));
    world_.stopCollector = true;
    collector.join();
    mainHeart.done = true;

    const Tally& t = world_.tally;
    const OutputVerdict out = world_.outputs.verdict();
    std::cout << "[ soak     ] " << t.operations << " calls in " << elapsed << " s ("
              << static_cast<uint64_t>(static_cast<double>(t.operations) / elapsed) << " per second); "
              << t.relists << " listings, " << t.closes << " close-and-reopens, " << t.unplugs << " unplugs, "
              << t.cleanups << " cleanups, " << t.stalls << " stalled devices, " << t.floods << " floods, "
              << t.faults << " injected faults, " << t.callbackTeardowns << " reopenings from callbacks\n"
              << "[ soak     ] " << t.delivered << " input reports delivered to open interfaces\n"
              << "[ soak     ] reports checked: " << t.polled << " polled, " << t.peeked << " newest, "
              << t.called << " in callbacks (" << t.blankCalls << " blank copies), " << t.outputs
              << " on the devices; " << t.errorCalls << " error callbacks\n"
              << "[ soak     ] output: " << out.offered << " offered, " << out.accepted << " accepted with 0, "
              << out.sent << " sent, " << out.required << " held to exactly once, " << out.excused
              << " excused by a close or unplug\n";

    std::map<std::string, Worker::Timing> timings;
    for (const auto& w : workerStates)
        for (const auto& [name, timing] : w->timings) {
            Worker::Timing& sum = timings[name];
            sum.calls += timing.calls;
            sum.totalMs += timing.totalMs;
            sum.longestMs = std::max(sum.longestMs, timing.longestMs);
        }
    for (const auto& [name, timing] : timings)
        std::cout << "[ soak     ]   " << name << ": " << timing.calls << " calls, mean "
                  << timing.totalMs / static_cast<double>(timing.calls) << " ms, longest " << timing.longestMs
                  << " ms (lock waits included)\n";

    {
        std::lock_guard<std::mutex> hold(answersMutex);
        int shown = -1;
        for (const auto& [key, count] : answerCounts) {
            if (key.first != shown) std::cout << "\n[ soak     ]   " << functionName(static_cast<Function>(key.first)) << ":";
            shown = key.first;
            std::cout << " " << key.second << " x" << count;
        }
        std::cout << "\n";
        answerCounts.clear();
    }

    EXPECT_TRUE(t.firstProblem.empty()) << t.firstProblem;
    EXPECT_EQ(t.torn.load(), 0u);
    EXPECT_EQ(t.foreign.load(), 0u);
    EXPECT_EQ(t.duplicates.load(), 0u);
    EXPECT_EQ(t.disorder.load(), 0u);
    EXPECT_EQ(t.badStatus.load(), 0u);
    EXPECT_EQ(t.badErrorStatus.load(), 0u);
    EXPECT_TRUE(drained) << out.lost << " accepted reports never went out";
    EXPECT_TRUE(out.firstProblem.empty()) << out.firstProblem;
    EXPECT_EQ(out.duplicates, 0u);
    EXPECT_EQ(out.phantoms, 0u);
    EXPECT_EQ(out.lost, 0u);
    // The soak must really have exercised the paths it claims to.
    EXPECT_GT(t.polled.load(), 0u);
    EXPECT_GT(t.called.load(), 0u);
    EXPECT_GT(out.required, 0u);
    EXPECT_GT(t.unplugs.load(), 0u);
    EXPECT_GT(t.stalls.load() + t.floods.load() + t.faults.load() + t.callbackTeardowns.load(), 0u);
}

// The end of the chaos: the library is unloaded while devices stream, workers
// call everything at random and callbacks reopen their own interfaces. The
// unload must end within its bound and leave nothing behind; every call made
// meanwhile answers from its own table; the library then loads again.
TEST_F(Soak, UnloadingWhileCallbacksReopenStopsEverything) {
    const uint32_t seed = soakSeed();
    std::cout << "[ soak     ] unload under load, seed " << seed << " (JUXHID_SOAK_SEED repeats it)\n";
    std::vector<std::unique_ptr<Heartbeat>> hearts;
    auto heart = [&](const std::string& name) -> Heartbeat& {
        hearts.push_back(std::make_unique<Heartbeat>());
        hearts.back()->name = name;
        return *hearts.back();
    };
    Heartbeat& ownerHeart = heart("owner");
    std::vector<Heartbeat*> watched{&ownerHeart};
    std::vector<std::thread> producers, workers;
    std::vector<std::unique_ptr<Worker>> workerStates;
    world_.startMs = nowMs();
    world_.endMs = world_.startMs + 60000;
    world_.callbacksReopen = true;
    Owner owner(seed, ownerHeart);
    owner.attachAll();
    ownerHeart.done = true;
    for (int32_t index = 0; index < kDevices; ++index)
        ASSERT_EQ(SetDataCallback(index, 1, reopeningData), JUXHID_OK);
    for (int tag = 1; tag <= kDevices; ++tag) {
        Heartbeat& beat = heart("producer " + std::to_string(tag));
        watched.push_back(&beat);
        producers.emplace_back(produce, std::ref(world_.devices[tag]), std::ref(beat));
    }
    for (int i = 0; i < kWorkers; ++i) {
        Heartbeat& beat = heart("worker " + std::to_string(i));
        watched.push_back(&beat);
        workerStates.push_back(std::make_unique<Worker>(seed + 1 + i, beat));
        workers.emplace_back(&Worker::run, workerStates.back().get());
    }
    Heartbeat& mainHeart = heart("test thread");
    watched.push_back(&mainHeart);
    Watchdog watchdog(watched, kStallLimitMs);

    mainHeart.beat("letting callbacks reopen");
    const bool reopening = eventually([&] { return world_.tally.callbackTeardowns.load() >= 20; },
                                      std::chrono::milliseconds(30000));
    mainHeart.beat("unloading");
    const auto unloadStart = std::chrono::steady_clock::now();
    frame::libraryUnload();
    const double unloadMs = msSince(unloadStart);
    mainHeart.beat("calling into the unloaded library");
    sleepMs(300);
    world_.stopWorkers = true;
    world_.stopProducers = true;
    for (std::thread& t : workers) t.join();
    for (std::thread& t : producers) t.join();
    mainHeart.done = true;
    // A call still in progress when the library went (a ReadLast waiting
    // for a report) held its opening until it returned; now none is.
    JuxsimCounts afterUnload{};
    juxsim_counts(&afterUnload);
    frame::libraryLoad();

    const Tally& t = world_.tally;
    std::cout << "[ soak     ] " << t.callbackTeardowns << " reopenings from callbacks, " << t.operations
              << " calls, " << t.called << " callbacks; the unload took " << unloadMs << " ms\n";
    EXPECT_TRUE(reopening) << "the callbacks never reopened their interfaces";
    EXPECT_LT(unloadMs, 5000.0) << "the unload's own bound is about 2.5 s";
    EXPECT_EQ(afterUnload.threads, 0) << "threads running after the unload";
    EXPECT_EQ(afterUnload.handles, 0) << "device handles open after the unload";
    EXPECT_EQ(afterUnload.signals, 0) << "signals left after the unload";
    EXPECT_EQ(afterUnload.locks, 0) << "locks left after the unload";
    EXPECT_EQ(afterUnload.timers, 0) << "pacing ticks left after the unload";
    EXPECT_TRUE(t.firstProblem.empty()) << t.firstProblem;
    EXPECT_EQ(t.badStatus.load(), 0u);
    EXPECT_EQ(t.torn.load(), 0u);
    EXPECT_EQ(t.disorder.load(), 0u);
}

}  // namespace
}  // namespace juxhid::test::soak
