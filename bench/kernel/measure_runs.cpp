#include "kernel/measure_runs.h"

#include <cstdio>
#include <memory>
#include <thread>

#include "kernel/consumers.h"
#include "kernel/run_tally.h"
#include "support/process_cost.h"

namespace juxhid::bench::kernel {
namespace {

// Long enough for every reader to be back in its blocking call before the
// first report, and for an opening's own start-up to pass.
constexpr auto kSettle = std::chrono::milliseconds(200);
// After the device side's last write: the stack delivers within this even
// in the slowest emulated guest.
constexpr auto kLastReportLimit = std::chrono::seconds(5);

// Reports of an earlier run still in a ring or a node are told apart by this.
uint8_t nextRun() {
    static uint8_t run = 0;
    if (++run == 0) ++run;
    return run;
}

std::unique_ptr<Consumer> makeConsumer(const RunSpec& spec, const std::vector<std::string>& nodes,
                                       const std::vector<int32_t>& indices, RunTally& tally) {
    switch (spec.way) {
        case Way::BareRead:
            return std::make_unique<BareReaders>(
                std::vector<std::string>(nodes.begin(), nodes.begin() + spec.devices), tally);
        case Way::Callback:
            return std::make_unique<CallbackConsumer>(
                std::vector<int32_t>(indices.begin(), indices.begin() + spec.devices), tally);
        case Way::ReadData:
            return std::make_unique<PollingConsumer>(
                std::vector<int32_t>(indices.begin(), indices.begin() + spec.devices), tally);
    }
    return nullptr;
}

}  // namespace

RunFigures measureRun(DeviceSide& devices, const std::vector<std::string>& nodes, const std::vector<int32_t>& indices,
                      const RunSpec& spec) {
    RunFigures figures;
    if (spec.devices > nodes.size() || spec.devices > indices.size()) return figures;
    const uint8_t run = nextRun();
    RunTally tally(run, spec.devices, spec.rounds);
    std::unique_ptr<Consumer> consumer = makeConsumer(spec, nodes, indices, tally);
    if (!consumer || !consumer->ok()) return figures;
    std::this_thread::sleep_for(kSettle);

    const ProcessCost before = sampleProcessCost();
    const SendResult sent = devices.send(spec.devices, spec.rate, spec.rounds, run);
    if (sent.ok) tally.waitForLast(kLastReportLimit);
    const ProcessCost after = sampleProcessCost();
    const bool consumerOk = consumer->ok();
    consumer.reset();  // nothing records from here on

    figures.sent = sent.rounds * spec.devices;
    figures.delivery = tally.delivery();
    figures.latency = summarize(tally.latenciesSorted());
    figures.usCpuPerReport = usCpuPerReport(costBetween(before, after).cpuNs, figures.sent);
    figures.achievedRate = achievedRate(sent.rounds, sent.firstNs, sent.lastNs);
    figures.measured = sent.ok && consumerOk && figures.delivery.arrived > 0;
    if (!figures.measured)
        std::fprintf(stderr, "measure: run %u could not measure (sent %s, taking %s, %llu arrived)\n", run,
                     sent.ok ? "ok" : "failed", consumerOk ? "ok" : "failed",
                     static_cast<unsigned long long>(figures.delivery.arrived));
    return figures;
}

IdleFigures measureIdle(std::chrono::milliseconds window) {
    std::this_thread::sleep_for(kSettle);
    const ProcessCost before = sampleProcessCost();
    const uint64_t start = monotonicNs();
    std::this_thread::sleep_for(window);
    const ProcessCost after = sampleProcessCost();
    const uint64_t wall = monotonicNs() - start;
    const ProcessCost cost = costBetween(before, after);
    IdleFigures figures;
    figures.measured = cost.wakeupsKnown;
    figures.percentOfCore = percentOfCore(cost.cpuNs, wall);
    figures.wakeupsPerSecond = perSecond(cost.wakeups, wall);
    return figures;
}

}  // namespace juxhid::bench::kernel
