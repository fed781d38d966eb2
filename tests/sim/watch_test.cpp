// Device watches over the simulated bus: what arrives and goes, in what
// order, how stopping ends the callbacks, and that a watch leaves listing and
// open interfaces alone.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "juxhid_watch.h"
#include "support/sim_fixture.h"

namespace juxhid::test {
namespace {

struct Seen {
    int32_t kind;
    std::string path;
    uint32_t product;
};

// Collects a watch's events; a test may make the callback wait on a gate.
class Recorder {
public:
    static void JUXHID_CALL onEvent(const JuxhidWatchEvent* event, void* context) {
        static_cast<Recorder*>(context)->take(*event);
    }

    void take(const JuxhidWatchEvent& event) {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            seen_.push_back({event.Kind, event.Path, event.ProductID});
            last_ = event;
            last_.Path = nullptr;
            insideCallback_ = true;
        }
        if (onEach) onEach(event);
        std::unique_lock<std::mutex> hold(mutex_);
        gateWake_.wait(hold, [&] { return gateOpen_; });
        insideCallback_ = false;
    }

    std::vector<Seen> seen() {
        std::lock_guard<std::mutex> hold(mutex_);
        return seen_;
    }
    size_t count() { return seen().size(); }
    JuxhidWatchEvent last() {
        std::lock_guard<std::mutex> hold(mutex_);
        return last_;
    }
    bool inside() {
        std::lock_guard<std::mutex> hold(mutex_);
        return insideCallback_;
    }
    void closeGate() {
        std::lock_guard<std::mutex> hold(mutex_);
        gateOpen_ = false;
    }
    void openGate() {
        std::lock_guard<std::mutex> hold(mutex_);
        gateOpen_ = true;
        gateWake_.notify_all();
    }

    std::function<void(const JuxhidWatchEvent&)> onEach;
    int32_t watchId = 0;  // where StartDeviceWatch may write the id

private:
    std::mutex mutex_;
    std::condition_variable gateWake_;
    bool gateOpen_ = true;
    bool insideCallback_ = false;
    std::vector<Seen> seen_;
    JuxhidWatchEvent last_{};
};

class Watch : public SimTest {
protected:
    int32_t start(Recorder& recorder, uint32_t flags = 0, uint32_t vendor = kVendor) {
        int32_t id = 0;
        EXPECT_EQ(StartDeviceWatch(vendor, flags, Recorder::onEvent, &recorder, &id), JUXHID_OK);
        EXPECT_GT(id, 0);
        return id;
    }

    static int32_t attach(uint32_t product, uint32_t vendor = kVendor, const char* path = nullptr) {
        JuxsimDeviceInfo info = deviceInfo(product, 9, 5, vendor);
        info.path = path;
        return juxsim_attach(&info);
    }
};

TEST_F(Watch, ArrivalsAndRemovalsComeInOrderWithTheDeviceDescription) {
    Recorder recorder;
    const int32_t id = start(recorder);
    const int32_t first = attach(0x10, kVendor, "/sim/first");
    const int32_t second = attach(0x20, kVendor, "/sim/second");
    ASSERT_EQ(juxsim_detach(first), 0);
    ASSERT_EQ(juxsim_detach(second), 0);
    ASSERT_TRUE(eventually([&] { return recorder.count() >= 4; }));
    EXPECT_EQ(StopDeviceWatch(id), JUXHID_OK);

    const std::vector<Seen> seen = recorder.seen();
    ASSERT_EQ(seen.size(), 4u);
    const Seen expected[] = {{JUXHID_WATCH_ARRIVED, "/sim/first", 0x10},
                             {JUXHID_WATCH_ARRIVED, "/sim/second", 0x20},
                             {JUXHID_WATCH_REMOVED, "/sim/first", 0x10},
                             {JUXHID_WATCH_REMOVED, "/sim/second", 0x20}};
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].kind, expected[i].kind) << "event " << i;
        EXPECT_EQ(seen[i].path, expected[i].path) << "event " << i;
        EXPECT_EQ(seen[i].product, expected[i].product) << "event " << i;
    }
    // A removal carries what the arrival did.
    const JuxhidWatchEvent last = recorder.last();
    EXPECT_EQ(last.VendorID, kVendor);
    EXPECT_EQ(last.UsagePage, 0xFF00u);
    EXPECT_EQ(last.Usage, 1u);
    EXPECT_EQ(last.InputReportByteLength, 9u);
    EXPECT_EQ(last.OutputReportByteLength, 5u);
}

TEST_F(Watch, PresentInterfacesArriveFirstOnlyWhenAskedAndOnlyOfTheVendor) {
    struct Case {
        uint32_t flags;
        uint32_t vendor;
        std::vector<std::string> paths;  // expected, in order
    };
    const Case cases[] = {
        {JUXHID_WATCH_PRESENT, kVendor, {"/sim/a", "/sim/c", "/sim/later"}},
        {0, kVendor, {"/sim/later"}},
        {JUXHID_WATCH_PRESENT, 0x10000 + kVendor, {}},
        {JUXHID_WATCH_PRESENT, 0x7777, {"/sim/b"}},
    };
    for (const Case& c : cases) {
        juxsim_reset();
        attach(1, kVendor, "/sim/a");
        attach(2, 0x7777, "/sim/b");
        attach(3, kVendor, "/sim/c");
        Recorder recorder;
        const int32_t id = start(recorder, c.flags, c.vendor);
        attach(4, kVendor, "/sim/later");
        attach(5, 0x7777, "/sim/end");
        const size_t expected = c.paths.size() + (c.vendor == 0x7777 ? 1 : 0);
        EXPECT_TRUE(eventually([&] { return recorder.count() >= expected; }));
        sleepMs(100);  // anything more would be one too many
        ASSERT_EQ(StopDeviceWatch(id), JUXHID_OK);
        std::vector<std::string> arrived;
        for (const Seen& s : recorder.seen()) {
            EXPECT_EQ(s.kind, JUXHID_WATCH_ARRIVED);
            if (s.path != "/sim/end") arrived.push_back(s.path);
        }
        EXPECT_EQ(arrived, c.paths) << "flags " << c.flags << " vendor " << c.vendor;
    }
}

TEST_F(Watch, NothingIsAnnouncedTwiceNorRemovedBeforeItArrived) {
    Recorder recorder;
    attach(1, kVendor, "/sim/before");  // present, not asked for: its removal is not news
    const int32_t id = start(recorder);
    std::vector<std::thread> pluggers;
    for (int t = 0; t < 2; ++t) {
        pluggers.emplace_back([t] {
            for (int round = 0; round < 50; ++round) {
                const std::string path = "/sim/t" + std::to_string(t) + "-" + std::to_string(round % 3);
                juxsim_detach(attach(10 + static_cast<uint32_t>(t), kVendor, path.c_str()));
            }
        });
    }
    for (std::thread& plugger : pluggers) plugger.join();
    juxsim_reset();
    ASSERT_TRUE(eventually([&] { return recorder.count() >= 200; }));
    sleepMs(100);
    ASSERT_EQ(StopDeviceWatch(id), JUXHID_OK);

    std::map<std::string, int32_t> state;  // last kind per path
    for (const Seen& s : recorder.seen()) {
        EXPECT_NE(s.path, "/sim/before");
        const int32_t previous = state.count(s.path) ? state[s.path] : JUXHID_WATCH_REMOVED;
        EXPECT_NE(previous, s.kind) << s.path << " announced " << s.kind << " twice in a row";
        state[s.path] = s.kind;
    }
    EXPECT_EQ(recorder.count(), 200u);
}

TEST_F(Watch, ADeviceThatComesAndGoesWhileACallbackRunsIsStillAnnounced) {
    Recorder recorder;
    const int32_t id = start(recorder);
    recorder.closeGate();
    attach(1, kVendor, "/sim/held");
    ASSERT_TRUE(eventually([&] { return recorder.inside(); }));
    juxsim_detach(attach(2, kVendor, "/sim/brief"));
    recorder.openGate();
    ASSERT_TRUE(eventually([&] { return recorder.count() >= 3; }));
    ASSERT_EQ(StopDeviceWatch(id), JUXHID_OK);
    const std::vector<Seen> seen = recorder.seen();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1].path, "/sim/brief");
    EXPECT_EQ(seen[1].kind, JUXHID_WATCH_ARRIVED);
    EXPECT_EQ(seen[2].path, "/sim/brief");
    EXPECT_EQ(seen[2].kind, JUXHID_WATCH_REMOVED);
}

TEST_F(Watch, StopIsBoundedAndNoCallbackStartsAfterIt) {
    Recorder idle;
    int32_t id = start(idle);
    auto begun = std::chrono::steady_clock::now();
    EXPECT_EQ(StopDeviceWatch(id), JUXHID_OK);
    EXPECT_LT(msSince(begun), 1000.0);

    // A callback that does not return: the stop gives up after its bound and
    // says so, and the watch announces nothing more.
    Recorder stuck;
    id = start(stuck);
    stuck.closeGate();
    attach(1, kVendor, "/sim/stuck");
    ASSERT_TRUE(eventually([&] { return stuck.inside(); }));
    attach(2, kVendor, "/sim/queued");
    begun = std::chrono::steady_clock::now();
    EXPECT_EQ(StopDeviceWatch(id), JUXHID_WATCH_CALLBACK_RUNNING);
    const double stopMs = msSince(begun);
    EXPECT_GE(stopMs, 400.0);
    EXPECT_LT(stopMs, 2000.0);
    stuck.openGate();
    sleepMs(150);
    EXPECT_EQ(stuck.count(), 1u);
    EXPECT_EQ(StopDeviceWatch(id), JUXHID_WATCH_NOT_RUNNING);
}

TEST_F(Watch, ACallbackCanStopItsOwnWatch) {
    Recorder recorder;
    std::atomic<int32_t> stopStatus{-1};
    recorder.onEach = [&](const JuxhidWatchEvent&) {
        if (stopStatus.load() == -1) stopStatus = StopDeviceWatch(recorder.watchId);
    };
    // With present devices the first callback comes at once: the id is
    // written before any callback runs, so the callback can name its watch.
    attach(1, kVendor, "/sim/one");
    attach(2, kVendor, "/sim/two");
    ASSERT_EQ(StartDeviceWatch(kVendor, JUXHID_WATCH_PRESENT, Recorder::onEvent, &recorder,
                               &recorder.watchId),
              JUXHID_OK);
    ASSERT_TRUE(eventually([&] { return stopStatus.load() != -1; }));
    EXPECT_EQ(stopStatus.load(), JUXHID_OK);
    attach(3, kVendor, "/sim/three");
    sleepMs(150);
    EXPECT_EQ(recorder.count(), 1u);
    EXPECT_EQ(StopDeviceWatch(recorder.watchId), JUXHID_WATCH_NOT_RUNNING);
}

TEST_F(Watch, ManyWatchersEachSeeEveryEventAndTheTableHasALimit) {
    std::vector<Recorder> recorders(JUXHID_MAX_WATCHES);
    std::vector<int32_t> ids;
    for (Recorder& recorder : recorders) ids.push_back(start(recorder));
    Recorder extra;
    int32_t none = 0;
    EXPECT_EQ(StartDeviceWatch(kVendor, 0, Recorder::onEvent, &extra, &none), JUXHID_WATCH_TOO_MANY);
    EXPECT_EQ(none, 0);

    juxsim_detach(attach(1, kVendor, "/sim/shared"));
    for (Recorder& recorder : recorders) {
        ASSERT_TRUE(eventually([&] { return recorder.count() >= 2; }));
    }
    for (int32_t id : ids) EXPECT_EQ(StopDeviceWatch(id), JUXHID_OK);
    for (Recorder& recorder : recorders) EXPECT_EQ(recorder.count(), 2u);
    // A stopped watch's slot serves again, under a new id.
    const int32_t again = start(extra);
    for (int32_t id : ids) EXPECT_NE(again, id);
    EXPECT_EQ(StopDeviceWatch(again), JUXHID_OK);
}

TEST_F(Watch, BadArgumentsAndUnknownIdsAreRefused) {
    Recorder recorder;
    int32_t id = -7;
    struct StartCase {
        uint32_t flags;
        JuxhidWatchCallback callback;
        int32_t* out;
    };
    const StartCase starts[] = {{0, nullptr, &id},
                                {0, Recorder::onEvent, nullptr},
                                {2, Recorder::onEvent, &id},
                                {0x80000000u, Recorder::onEvent, &id}};
    for (const StartCase& c : starts) {
        EXPECT_EQ(StartDeviceWatch(kVendor, c.flags, c.callback, &recorder, c.out),
                  JUXHID_WATCH_BAD_ARGUMENT);
        EXPECT_EQ(id, -7);
    }
    const int32_t running = start(recorder);
    ASSERT_EQ(StopDeviceWatch(running), JUXHID_OK);
    for (int32_t bad : {0, -1, running, running + JUXHID_MAX_WATCHES, INT32_MAX, INT32_MIN})
        EXPECT_EQ(StopDeviceWatch(bad), JUXHID_WATCH_NOT_RUNNING) << bad;
}

TEST_F(Watch, EveryStartFailureIsReportedAndLeavesNothingBehind) {
    struct Case {
        int32_t call;
        int32_t status;
    };
    const Case cases[] = {{JUXSIM_CALL_LIST_OPEN, JUXHID_WATCH_NO_EVENTS},
                          {JUXSIM_CALL_SIGNAL_CREATE, JUXHID_WATCH_NO_THREAD},
                          {JUXSIM_CALL_THREAD_START, JUXHID_WATCH_NO_THREAD}};
    for (const Case& c : cases) {
        Recorder recorder;
        const int32_t fault = armFault(c.call, 0, 1, JUXSIM_THREAD_ARMING);
        int32_t id = -7;
        EXPECT_EQ(StartDeviceWatch(kVendor, JUXHID_WATCH_PRESENT, Recorder::onEvent, &recorder, &id),
                  c.status)
            << "call " << c.call;
        EXPECT_EQ(juxsim_fault_fired(fault), 1) << "call " << c.call;
        EXPECT_EQ(id, -7);
        juxsim_fault_clear();
        JuxsimCounts counts{};
        juxsim_counts(&counts);
        EXPECT_TRUE(nothingOpen(counts)) << "call " << c.call << ": " << describe(counts);
    }
    // Every slot a failed start took is free again.
    std::vector<Recorder> recorders(JUXHID_MAX_WATCHES);
    std::vector<int32_t> ids;
    for (Recorder& recorder : recorders) ids.push_back(start(recorder));
    for (int32_t id : ids) EXPECT_EQ(StopDeviceWatch(id), JUXHID_OK);
}

TEST_F(Watch, LeavesTheDeviceTableAndOpenInterfacesAlone) {
    ASSERT_EQ(attachAndOpen(9, 5), JUXHID_OK);
    Recorder recorder;
    const int32_t id = start(recorder, JUXHID_WATCH_PRESENT);
    const int32_t other = attach(0x200);
    ASSERT_TRUE(eventually([&] { return recorder.count() >= 2; }));
    JuxsimCounts counts{};
    juxsim_counts(&counts);
    // Only the open interface's read and write handles: the watch opened nothing.
    EXPECT_EQ(counts.handles, 2);
    EXPECT_EQ(counts.deviceLists, 0);
    EXPECT_EQ(GetReadLength(0), 9);
    EXPECT_EQ(GetReadLength(1), -1);
    ASSERT_EQ(deliver(device_, report(9, 0, 0x5A)), 1);
    std::vector<uint8_t> buffer(9);
    EXPECT_TRUE(eventually([&] { return ReadData(0, buffer.data()) == JUXHID_OK; }));
    EXPECT_EQ(buffer[1], 0x5A);
    EXPECT_EQ(StopDeviceWatch(id), JUXHID_OK);
    juxsim_detach(other);
}

}  // namespace
}  // namespace juxhid::test
