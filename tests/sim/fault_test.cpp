// Faults fire on the calls they aim at (kind, thread class, device, skip,
// count) and on no other.
#include <cstring>

#include "bus_test_support.h"

namespace juxhid::test {
namespace {

using platform::Access;

constexpr uint32_t kError = 31;

// The device a probe makes its call about.
struct Target {
    int32_t id;
    std::string path;
    uint32_t member;  // its position in a fresh list
};

// One platform call of a kind, made about a device; true when it failed the
// way a fault of that kind makes it fail. Everything obtained is given back.
struct Probe {
    JuxsimCall call;
    bool concernsDevice;
    uint32_t error;  // what the fault makes the call report
    std::function<bool(const Target&)> failed;
};

bool memberFails(const Target& target,
                 const std::function<bool(platform::DeviceList*, platform::InterfaceRef&)>& step) {
    platform::DeviceList* list = platform::deviceListOpen();
    platform::InterfaceRef ref{};
    uint32_t error = 0;
    const bool failed = !platform::deviceListMember(list, target.member, &ref, &error)
                            ? error == kError
                            : step(list, ref);
    platform::deviceListClose(list);
    return failed;
}

bool openFails(const Target& target, Access access) {
    uint32_t error = 0;
    platform::Device* handle = platform::deviceOpen(target.path.c_str(), access, &error);
    platform::deviceClose(handle);
    return handle == nullptr && error == kError;
}

bool queryFails(const Target& target, const std::function<bool(platform::Device*)>& step) {
    uint32_t error = 0;
    platform::Device* handle = platform::deviceOpen(target.path.c_str(), Access::Query, &error);
    const bool failed = step(handle);
    platform::deviceClose(handle);
    return failed;
}

// A report is delivered first, so an unfaulted read returns at once.
bool readFails(const Target& target) {
    uint32_t error = 0;
    platform::Device* handle = platform::deviceOpen(target.path.c_str(), Access::Read, &error);
    const uint8_t report[8] = {1};
    juxsim_deliver(target.id, report, sizeof report);
    uint8_t bytes[8];
    const platform::Transfer result = platform::deviceRead(handle, bytes, sizeof bytes);
    platform::deviceClose(handle);
    return !result.ok && result.error == kError;
}

bool writeFails(const Target& target) {
    uint32_t error = 0;
    platform::Device* handle = platform::deviceOpen(target.path.c_str(), Access::Write, &error);
    const uint8_t report[8] = {1};
    const platform::Transfer result = platform::deviceWrite(handle, report, sizeof report);
    platform::deviceClose(handle);
    while (juxsim_take_output(target.id, nullptr, 0, nullptr, nullptr) == 1) {
    }
    return !result.ok && result.error == kError;
}

void noTick(uint32_t) {}
void noWork(void*) {}

bool lockCallFails(JuxsimCall call) {
    platform::Lock* lock = platform::lockCreate();
    bool failed = false;
    if (call == JUXSIM_CALL_LOCK_WAIT) {
        const int32_t outcome = platform::lockWait(lock, 0);
        failed = outcome == platform::kWaitTimeout;
        if (outcome == platform::kWaitAcquired) platform::lockRelease(lock);
    } else {
        platform::lockWait(lock, 0);
        failed = !platform::lockRelease(lock);
    }
    platform::lockClose(lock);
    return failed;
}

std::vector<Probe> probes() {
    std::vector<Probe> all;
    all.push_back({JUXSIM_CALL_LIST_OPEN, false, kError, [](const Target&) {
                       platform::DeviceList* list = platform::deviceListOpen();
                       platform::deviceListClose(list);
                       return list == nullptr;
                   }});
    all.push_back({JUXSIM_CALL_LIST_INTERFACE, true, kError,
                   [](const Target& t) { return memberFails(t, [](auto*, auto&) { return false; }); }});
    all.push_back({JUXSIM_CALL_DETAIL_SIZE, true, kError, [](const Target& t) {
                       return memberFails(t, [](platform::DeviceList* list, platform::InterfaceRef& ref) {
                           uint32_t size = 0, error = 0;
                           return !platform::deviceDetailSize(list, ref, &size, &error) && error == kError;
                       });
                   }});
    all.push_back({JUXSIM_CALL_DETAIL_FETCH, true, kError, [](const Target& t) {
                       return memberFails(t, [](platform::DeviceList* list, platform::InterfaceRef& ref) {
                           char record[512];
                           uint32_t error = 0;
                           return !platform::deviceDetailFetch(list, ref, record, sizeof record, &error) &&
                                  error == kError;
                       });
                   }});
    all.push_back({JUXSIM_CALL_OPEN_QUERY, true, kError, [](const Target& t) { return openFails(t, Access::Query); }});
    all.push_back({JUXSIM_CALL_OPEN_READ, true, kError, [](const Target& t) { return openFails(t, Access::Read); }});
    all.push_back({JUXSIM_CALL_OPEN_WRITE, true, kError, [](const Target& t) { return openFails(t, Access::Write); }});
    all.push_back({JUXSIM_CALL_ATTRIBUTES, true, kError, [](const Target& t) {
                       return queryFails(t, [](platform::Device* handle) {
                           platform::DeviceAttributes attributes{};
                           uint32_t error = 0;
                           return !platform::deviceAttributes(handle, &attributes, &error) && error == kError;
                       });
                   }});
    all.push_back({JUXSIM_CALL_PREPARSED, true, kError, [](const Target& t) {
                       return queryFails(t, [](platform::Device* handle) {
                           uint32_t error = 0;
                           platform::Preparsed* preparsed = platform::devicePreparsed(handle, &error);
                           platform::preparsedFree(preparsed);
                           return preparsed == nullptr && error == kError;
                       });
                   }});
    all.push_back({JUXSIM_CALL_CAPS, true, kError, [](const Target& t) {
                       return queryFails(t, [](platform::Device* handle) {
                           uint32_t error = 0;
                           platform::Preparsed* preparsed = platform::devicePreparsed(handle, &error);
                           platform::DeviceCaps caps{};
                           const bool failed = !platform::deviceCaps(preparsed, &caps);
                           platform::preparsedFree(preparsed);
                           return failed;
                       });
                   }});
    all.push_back({JUXSIM_CALL_READ, true, kError, readFails});
    all.push_back({JUXSIM_CALL_WRITE, true, kError, writeFails});
    all.push_back({JUXSIM_CALL_LOCK_CREATE, false, kError, [](const Target&) {
                       platform::Lock* lock = platform::lockCreate();
                       platform::lockClose(lock);
                       return lock == nullptr;
                   }});
    all.push_back({JUXSIM_CALL_SIGNAL_CREATE, false, kError, [](const Target&) {
                       platform::Signal* signal = platform::signalCreate();
                       platform::signalClose(signal);
                       return signal == nullptr;
                   }});
    all.push_back({JUXSIM_CALL_THREAD_START, false, kError, [](const Target&) {
                       platform::Thread* thread = platform::threadStart(noWork, nullptr, platform::ThreadRole::Reader);
                       if (thread != nullptr) {
                           platform::threadWait(thread, 10000);
                           platform::threadRelease(thread);
                       }
                       return thread == nullptr;
                   }});
    all.push_back({JUXSIM_CALL_LOCK_WAIT, false, static_cast<uint32_t>(platform::kWaitTimeout),
                   [](const Target&) { return lockCallFails(JUXSIM_CALL_LOCK_WAIT); }});
    all.push_back({JUXSIM_CALL_LOCK_RELEASE, false, kError,
                   [](const Target&) { return lockCallFails(JUXSIM_CALL_LOCK_RELEASE); }});
    all.push_back({JUXSIM_CALL_TIMER_SCHEDULE, false, kError, [](const Target&) {
                       const uint32_t id = platform::timerSchedule(10000, 0, noTick);
                       platform::timerCancel(id);
                       return id == 0;
                   }});
    all.push_back({JUXSIM_CALL_ALLOCATE, false, kError, [](const Target&) {
                       void* block = platform::allocate(16);
                       platform::release(block);
                       return block == nullptr;
                   }});
    return all;
}

class BusFaults : public BusTest {
protected:
    void SetUp() override {
        BusTest::SetUp();
        aimed_ = {attach(busDevice(1, 8, 8, "aimed")), "aimed", 0};
        spared_ = {attach(busDevice(2, 8, 8, "spared")), "spared", 1};
    }
    Target aimed_;
    Target spared_;
};

std::string nameOf(const ::testing::TestParamInfo<size_t>& info) {
    static const char* const names[] = {"",           "ListOpen",     "ListInterface", "DetailSize",
                                        "DetailFetch", "OpenQuery",   "OpenRead",      "OpenWrite",
                                        "Attributes", "Preparsed",    "Caps",          "Read",
                                        "Write",      "LockCreate",   "SignalCreate",  "ThreadStart",
                                        "LockWait",   "LockRelease",  "TimerSchedule", "Allocate"};
    return names[probes()[info.param].call];
}

class EveryCallKind : public BusFaults, public ::testing::WithParamInterface<size_t> {};

TEST_P(EveryCallKind, FailsWhereAimedAndNowhereElse) {
    const Probe probe = probes()[GetParam()];
    ASSERT_FALSE(probe.failed(aimed_)) << "fails before any fault is armed";
    const int32_t device = probe.concernsDevice ? aimed_.id : 0;
    const int32_t id = arm(fault(probe.call, probe.error, 1, JUXSIM_THREAD_ANY, device));
    ASSERT_GT(id, 0);
    if (probe.concernsDevice) {
        EXPECT_FALSE(probe.failed(spared_)) << "hit another device";
        EXPECT_EQ(juxsim_fault_fired(id), 0);
    }
    EXPECT_TRUE(probe.failed(aimed_));
    EXPECT_EQ(juxsim_fault_fired(id), 1);
    EXPECT_FALSE(probe.failed(aimed_)) << "a count of 1 is spent";
    EXPECT_EQ(juxsim_fault_fired(id), 1);
}

INSTANTIATE_TEST_SUITE_P(Kinds, EveryCallKind, ::testing::Range<size_t>(0, probes().size()), nameOf);

// A fault aimed at a device never hits a call that concerns no device.
TEST_F(BusFaults, AimedAtADeviceSparesCallsThatConcernNone) {
    for (const Probe& probe : probes()) {
        if (probe.concernsDevice) continue;
        juxsim_fault_clear();
        const int32_t id = arm(fault(probe.call, probe.error, -1, JUXSIM_THREAD_ANY, aimed_.id));
        EXPECT_FALSE(probe.failed(aimed_)) << "call " << probe.call;
        EXPECT_EQ(juxsim_fault_fired(id), 0) << "call " << probe.call;
    }
}

TEST_F(BusFaults, SkipLetsCallsThroughThenCountFailsThatMany) {
    const int32_t id = arm(fault(JUXSIM_CALL_ALLOCATE, 0, 2, JUXSIM_THREAD_ANY, 0, 2));
    std::vector<bool> failed;
    for (int call = 0; call < 5; ++call) {
        void* block = platform::allocate(8);
        failed.push_back(block == nullptr);
        platform::release(block);
    }
    EXPECT_EQ(failed, (std::vector<bool>{false, false, true, true, false}));
    EXPECT_EQ(juxsim_fault_fired(id), 2);

    const int32_t forever = arm(fault(JUXSIM_CALL_ALLOCATE, 0, -1));
    for (int call = 0; call < 4; ++call) EXPECT_EQ(platform::allocate(8), nullptr);
    EXPECT_EQ(juxsim_fault_fired(forever), 4);
    juxsim_fault_clear();
    void* block = platform::allocate(8);
    EXPECT_NE(block, nullptr) << "cleared";
    platform::release(block);
    EXPECT_EQ(juxsim_fault_fired(forever), 4) << "a disarmed fault keeps its count";
}

TEST_F(BusFaults, EarlierArmedFaultTakesTheCallFirst) {
    const int32_t first = arm(fault(JUXSIM_CALL_ALLOCATE, 0, 1));
    const int32_t second = arm(fault(JUXSIM_CALL_ALLOCATE, 0, 1));
    EXPECT_EQ(platform::allocate(8), nullptr);
    EXPECT_EQ(juxsim_fault_fired(first), 1);
    EXPECT_EQ(juxsim_fault_fired(second), 0);
    EXPECT_EQ(platform::allocate(8), nullptr);
    EXPECT_EQ(juxsim_fault_fired(second), 1);
}

TEST_F(BusFaults, ArmingThreadFaultSparesOtherThreads) {
    const int32_t id = arm(fault(JUXSIM_CALL_ALLOCATE, 0, -1, JUXSIM_THREAD_ARMING));
    void* elsewhere = nullptr;
    std::thread([&] { elsewhere = platform::allocate(8); }).join();
    EXPECT_NE(elsewhere, nullptr);
    platform::release(elsewhere);
    EXPECT_EQ(platform::allocate(8), nullptr);
    EXPECT_EQ(juxsim_fault_fired(id), 1);
}

// Where an allocation failed: on the test's thread, a reader, a callback
// worker, the timer thread.
enum Context { kTestThread, kReader, kCallback, kTimer, kContexts };
std::atomic<bool> failedIn[kContexts];
std::atomic<int> timerRuns{0};

bool allocationFails() {
    void* block = platform::allocate(8);
    platform::release(block);
    return block == nullptr;
}
void allocateAsReaderOrCallback(void* context) {
    failedIn[*static_cast<Context*>(context)] = allocationFails();
}
void allocateOnTimer(uint32_t) {
    failedIn[kTimer] = allocationFails();
    ++timerRuns;
}

void runAs(platform::ThreadRole role, Context context) {
    platform::Thread* thread = platform::threadStart(allocateAsReaderOrCallback, &context, role);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(platform::threadWait(thread, 10000), platform::kWaitAcquired);
    platform::threadRelease(thread);
}

TEST_F(BusFaults, ReaderCallbackAndTimerFaultsHitOnlyThoseThreads) {
    const std::pair<JuxsimThread, Context> aims[] = {
        {JUXSIM_THREAD_READER, kReader}, {JUXSIM_THREAD_CALLBACK, kCallback}, {JUXSIM_THREAD_TIMER, kTimer}};
    for (const auto& [aimed, context] : aims) {
        juxsim_fault_clear();
        const int32_t id = arm(fault(JUXSIM_CALL_ALLOCATE, 0, -1, aimed));
        failedIn[kTestThread] = allocationFails();
        runAs(platform::ThreadRole::Reader, kReader);
        runAs(platform::ThreadRole::Callback, kCallback);
        const int runsBefore = timerRuns;
        ASSERT_NE(platform::timerSchedule(1, 0, allocateOnTimer), 0u);
        ASSERT_TRUE(eventually([&] { return timerRuns == runsBefore + 1; }));
        for (int place = 0; place < kContexts; ++place)
            EXPECT_EQ(failedIn[place], place == context) << "aimed at " << aimed << ", context " << place;
        EXPECT_EQ(juxsim_fault_fired(id), 1);
    }
}

// A faulted read fails or "succeeds" short at once and takes no report.
TEST_F(BusFaults, FaultedReadReturnsAtOnceAndConsumesNothing) {
    platform::Device* handle = open("aimed", Access::Read);
    const int32_t failing = arm(fault(JUXSIM_CALL_READ, 6, 1, JUXSIM_THREAD_ANY, aimed_.id));
    uint8_t bytes[8] = {};
    const auto start = std::chrono::steady_clock::now();
    platform::Transfer result = platform::deviceRead(handle, bytes, 8);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, 6u);
    const int32_t shortened = arm(fault(JUXSIM_CALL_READ, 0, 1, JUXSIM_THREAD_ANY, aimed_.id, 0, 3));
    result = platform::deviceRead(handle, bytes, 8);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.count, 3u);
    EXPECT_LT(msSince(start), 1000.0) << "nothing was delivered, yet neither call blocked";
    EXPECT_EQ(juxsim_fault_fired(failing), 1);
    EXPECT_EQ(juxsim_fault_fired(shortened), 1);
    const uint8_t report[8] = {5, 6, 7, 8, 9, 10, 11, 12};
    juxsim_deliver(aimed_.id, report, 8);
    result = platform::deviceRead(handle, bytes, 8);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.count, 8u);
    EXPECT_EQ(std::memcmp(bytes, report, 8), 0);
    platform::deviceClose(handle);
}

TEST_F(BusFaults, FaultedWriteRecordsNothing) {
    platform::Device* handle = open("aimed", Access::Write);
    arm(fault(JUXSIM_CALL_WRITE, 1167, 1, JUXSIM_THREAD_ANY, aimed_.id));
    arm(fault(JUXSIM_CALL_WRITE, 0, 1, JUXSIM_THREAD_ANY, aimed_.id, 0, 2));
    const uint8_t report[8] = {};
    platform::Transfer result = platform::deviceWrite(handle, report, 8);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, 1167u);
    result = platform::deviceWrite(handle, report, 8);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.count, 2u);
    EXPECT_EQ(juxsim_output_count(aimed_.id), 0);
    EXPECT_TRUE(platform::deviceWrite(handle, report, 8).ok);
    EXPECT_EQ(juxsim_output_count(aimed_.id), 1);
    platform::deviceClose(handle);
}

TEST_F(BusFaults, FaultedReleaseStillReleasesTheLock) {
    platform::Lock* lock = platform::lockCreate();
    ASSERT_EQ(platform::lockWait(lock, 0), platform::kWaitAcquired);
    arm(fault(JUXSIM_CALL_LOCK_RELEASE, 0));
    EXPECT_FALSE(platform::lockRelease(lock));
    std::atomic<int32_t> elsewhere{-2};
    std::thread([&] {
        elsewhere = platform::lockWait(lock, 0);
        if (elsewhere == platform::kWaitAcquired) platform::lockRelease(lock);
    }).join();
    EXPECT_EQ(elsewhere, platform::kWaitAcquired);
    platform::lockClose(lock);
}

// A faulted lock wait neither waits nor acquires.
TEST_F(BusFaults, FaultedLockWaitAnswersAtOnceWithoutAcquiring) {
    platform::Lock* lock = platform::lockCreate();
    for (const uint32_t outcome : {uint32_t{258}, uint32_t{0xFFFFFFFF}}) {
        arm(fault(JUXSIM_CALL_LOCK_WAIT, outcome));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(platform::lockWait(lock, 5000), static_cast<int32_t>(outcome));
        EXPECT_LT(msSince(start), 1000.0);
        EXPECT_FALSE(platform::lockRelease(lock)) << "not acquired";
    }
    platform::lockClose(lock);
}

TEST_F(BusFaults, MalformedFaultsAndUnknownIdsAreRefused) {
    EXPECT_EQ(juxsim_fault_arm(nullptr), -1);
    EXPECT_EQ(arm(fault(static_cast<JuxsimCall>(0))), -1);
    EXPECT_EQ(arm(fault(JUXSIM_CALL_END_)), -1);
    EXPECT_EQ(arm(fault(JUXSIM_CALL_READ, 31, 0)), -1) << "a count of 0";
    EXPECT_EQ(arm(fault(JUXSIM_CALL_READ, 31, -2)), -1);
    EXPECT_EQ(arm(fault(JUXSIM_CALL_READ, 31, 1, static_cast<JuxsimThread>(5))), -1);
    EXPECT_EQ(arm(fault(JUXSIM_CALL_READ, 31, 1, JUXSIM_THREAD_ANY, -1)), -1);
    EXPECT_EQ(arm(fault(JUXSIM_CALL_READ, 31, 1, JUXSIM_THREAD_ANY, 0, -1)), -1);
    EXPECT_EQ(arm(fault(JUXSIM_CALL_LOCK_WAIT, 128)), -1) << "a lock-wait outcome is 258 or -1";
    EXPECT_EQ(juxsim_fault_fired(0), -1);
    EXPECT_EQ(juxsim_fault_fired(1 << 30), -1);
}

}  // namespace
}  // namespace juxhid::test
