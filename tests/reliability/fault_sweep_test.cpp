// Runs every scenario of the sweep: each kind of platform call it makes
// fails at its 1st, 2nd, 3rd ... call (and, where the scenario allows it,
// from that call on) until the scenario runs clean.
#include <iostream>

#include "fault_sweep.h"

namespace juxhid::test {
namespace {

constexpr int32_t kMostCallsOfOneKind = 200;

struct RunOutcome {
    int32_t fired = 0;
    bool broken = false;  // a fatal assertion stopped the run
};

class FaultSweep : public SweepBench {
protected:
    void startFresh() {
        juxsim_reset();
        devices.clear();
        answers.clear();
        CallbackLog& log = callbackLog();
        log.dataCalls = 0;
        log.tornReports = 0;
        log.errorCalls = 0;
        log.errorStatus = 0;
    }

    static int32_t arm(const FaultKind& kind, int32_t thread, int32_t skip, int32_t count) {
        JuxsimFault fault{};
        fault.call = kind.call;
        fault.thread = thread;
        fault.skip = skip;
        fault.count = count;
        fault.error = kind.error;
        fault.shortCount = kind.shortCount;
        return juxsim_fault_arm(&fault);
    }

    // Background threads may make the failing call after the scenario's own
    // calls returned; give them a moment before deciding it did not fire.
    static int32_t settledFired(int32_t fault, int32_t thread) {
        if (thread != JUXSIM_THREAD_ARMING && juxsim_fault_fired(fault) == 0)
            eventually([&] { return juxsim_fault_fired(fault) > 0; }, std::chrono::milliseconds(200));
        return juxsim_fault_fired(fault);
    }

    void expectAnswersFromTheirTables(const std::string& where) {
        for (const Answer& answer : answers)
            EXPECT_TRUE(answersFrom(answer.function, answer.status))
                << where << ": " << functionName(answer.function) << " answered "
                << describeStatus(answer.status);
    }

    // Closes every interface and proves the bus counts nothing open.
    void expectNothingLeftOpen(const std::string& where) {
        for (int32_t index = 0; index < JUXHID_MAX_DEVICES; ++index) CloseInterface(index);
        JuxsimCounts counts{};
        const bool clean = eventually([&] {
            juxsim_counts(&counts);
            return nothingOpen(counts);
        });
        EXPECT_TRUE(clean) << where << ": left open after closing every interface: " << describe(counts);
    }

    // After a fault the library must still do its work: list, open, read a
    // report, and send one.
    void expectLibraryStillWorks(const std::string& where) {
        startFresh();
        const int32_t device = attachDevice(0x77);
        ASSERT_EQ(listDevices(), JUXHID_OK) << where;
        ASSERT_EQ(SetupInterface(0), JUXHID_OK) << where;
        // The reader drops a report it cannot store within 100 ms: on a loaded
        // machine this thread's ReadData can hold the lock that long when it is
        // preempted, and the device then sends it again.
        uint8_t buffer[kLength] = {};
        bool read = false;
        for (int sent = 0; sent < 3 && !read; ++sent) {
            deliver(device, numbered(9));
            read = eventually([&] { return ReadData(0, buffer) == JUXHID_OK; }, std::chrono::milliseconds(2000));
        }
        EXPECT_TRUE(read) << where << ": no report read";
        EXPECT_TRUE(isNumbered(buffer, 9)) << where;
        const int32_t written = WriteData(0, numbered(10).data());
        // Queued behind a chain that closing restarted, it may carry an
        // earlier background failure; it must go out all the same.
        EXPECT_TRUE(answersFrom(Function::WriteData, written) && written != JUXHID_WRITE_LOCK_TIMEOUT &&
                    written != JUXHID_WRITE_NOT_OPEN && written != JUXHID_WRITE_QUEUE_FULL)
            << where << ": WriteData answered " << describeStatus(written);
        EXPECT_TRUE(eventually([&] { return juxsim_output_count(device) == 1; })) << where << ": nothing sent";
        expectNothingLeftOpen(where + ", after the check");
    }

    RunOutcome runOnce(const Scenario& scenario, const FaultKind& kind, int32_t skip, int32_t count,
                       const std::string& where) {
        RunOutcome outcome;
        startFresh();
        scenario.prepare(*this);
        if (HasFatalFailure()) return {0, true};
        const int32_t fault = arm(kind, scenario.thread, skip, count);
        EXPECT_GT(fault, 0) << where << ": the fault was refused";
        scenario.act(*this);
        outcome.broken = HasFatalFailure();
        outcome.fired = settledFired(fault, scenario.thread);
        juxsim_fault_clear();
        expectAnswersFromTheirTables(where);
        expectNothingLeftOpen(where);
        return outcome;
    }

    // Sweeps one kind; answers how many faults fired.
    int32_t sweep(const Scenario& scenario, const FaultKind& kind, bool persistent) {
        int32_t injected = 0;
        for (int32_t skip = 0; skip < kMostCallsOfOneKind; ++skip) {
            const std::string where = std::string(scenario.name) + ", " + kind.label() + " on the " +
                                      threadName(scenario.thread) + " thread, " +
                                      (persistent ? "from" : "at") + " call " + std::to_string(skip + 1);
            const RunOutcome outcome = runOnce(scenario, kind, skip, persistent ? -1 : 1, where);
            if (outcome.broken) return injected;
            if (outcome.fired == 0) {
                EXPECT_GT(skip, 0) << where << ": the scenario never makes this call";
                return injected;
            }
            if (persistent) EXPECT_GE(outcome.fired, 1) << where;
            else EXPECT_EQ(outcome.fired, 1) << where << ": a one-call fault fired more than once";
            injected += outcome.fired;
            expectLibraryStillWorks(where);
            if (HasFatalFailure()) return injected;
        }
        ADD_FAILURE() << scenario.name << ", " << kind.label() << ": still failing after "
                      << kMostCallsOfOneKind << " calls";
        return injected;
    }
};

TEST_P(FaultSweep, EveryFailingCallIsAnsweredAndLeavesNothingOpen) {
    const Scenario& scenario = GetParam();
    int32_t injected = 0;
    for (const FaultKind& kind : scenario.kinds) {
        injected += sweep(scenario, kind, false);
        if (scenario.persistent && !kind.transientOnly) injected += sweep(scenario, kind, true);
        if (HasFatalFailure()) return;
    }
    std::cout << "[ sweep    ] " << scenario.name << ": " << scenario.kinds.size() << " call kinds, "
              << injected << " faults injected\n";
    RecordProperty("faults_injected", injected);
    RecordProperty("call_kinds", static_cast<int>(scenario.kinds.size()));
}

// The scenario's list of call kinds is complete: no other kind of call is
// made on its thread.
TEST_P(FaultSweep, MakesNoCallItDoesNotList) {
    const Scenario& scenario = GetParam();
    startFresh();
    scenario.prepare(*this);
    ASSERT_FALSE(HasFatalFailure());
    std::vector<std::pair<int32_t, int32_t>> armed;
    for (int32_t call = JUXSIM_CALL_LIST_OPEN; call < JUXSIM_CALL_END_; ++call) {
        bool listed = false;
        for (const FaultKind& kind : scenario.kinds) listed = listed || kind.call == call;
        if (listed) continue;
        const uint32_t error = call == JUXSIM_CALL_LOCK_WAIT ? 258 : 31;
        armed.emplace_back(call, arm(FaultKind{call, error, 0, false}, scenario.thread, 0, 1));
    }
    scenario.act(*this);
    if (scenario.thread != JUXSIM_THREAD_ARMING) sleepMs(200);
    for (const auto& [call, fault] : armed)
        EXPECT_EQ(juxsim_fault_fired(fault), 0)
            << scenario.name << " makes " << callName(call) << " calls on the " << threadName(scenario.thread)
            << " thread but does not sweep them";
    juxsim_fault_clear();
}

std::string scenarioName(const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultSweep, ::testing::ValuesIn(sweepScenarios()), scenarioName);

}  // namespace
}  // namespace juxhid::test
