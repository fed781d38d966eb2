#include "paths/cost_window.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "support/pacer.h"

namespace juxhid::bench {
namespace {

double perSecond(uint64_t count, uint64_t wallNs) {
    return wallNs == 0 ? 0.0 : static_cast<double>(count) * 1e9 / static_cast<double>(wallNs);
}

ProcessCost withoutSampling(ProcessCost cost, const ProcessCost& sampling) {
    cost.cpuNs -= std::min(cost.cpuNs, sampling.cpuNs);
    cost.wakeups -= std::min(cost.wakeups, sampling.wakeups);
    return cost;
}

}  // namespace

double CostWindow::cpuUsPerItem() const {
    return items == 0 ? 0.0 : static_cast<double>(process.cpuNs) / 1e3 / static_cast<double>(items);
}

double CostWindow::wakeupsPerItem() const {
    return items == 0 ? 0.0 : static_cast<double>(process.wakeups) / static_cast<double>(items);
}

double CostWindow::percentOfCore() const { return bench::percentOfCore(process.cpuNs, wallNs); }

double CostWindow::wakeupsPerSecond() const { return perSecond(process.wakeups, wallNs); }

double CostWindow::serverPercentOfCore() const { return bench::percentOfCore(server.cpuNs, wallNs); }

double CostWindow::serverWakeupsPerSecond() const { return perSecond(server.wakeups, wallNs); }

double CostWindow::itemsPerSecond() const { return perSecond(items, wallNs); }

CostWindow windowBetween(const ProcessCost& processBefore, const ProcessCost& processAfter,
                         const ProcessCost& serverBefore, const ProcessCost& serverAfter, uint64_t wallNs,
                         uint64_t items, const ProcessCost& processSampling, const ProcessCost& serverSampling) {
    CostWindow window;
    window.wallNs = wallNs;
    window.process = withoutSampling(costBetween(processBefore, processAfter), processSampling);
    window.server = withoutSampling(costBetween(serverBefore, serverAfter), serverSampling);
    window.items = items;
    return window;
}

// Samples in the same order at both ends of the window and once more before
// it, so that each window holds what one round of samples costs, as the
// round before it does.
CostWindow measureWindow(double warmupSeconds, double windowSeconds, const std::function<uint64_t()>& itemsSoFar) {
    std::this_thread::sleep_for(std::chrono::duration<double>(warmupSeconds));
    const ProcessCost processEarlier = sampleProcessCost();
    const ProcessCost serverEarlier = sampleWineServerCost();
    const ProcessCost processBefore = sampleProcessCost();
    const ProcessCost serverBefore = sampleWineServerCost();
    const uint64_t itemsBefore = itemsSoFar();
    const uint64_t start = nowNs();
    std::this_thread::sleep_for(std::chrono::duration<double>(windowSeconds));
    const uint64_t end = nowNs();
    const uint64_t itemsAfter = itemsSoFar();
    const ProcessCost processAfter = sampleProcessCost();
    const ProcessCost serverAfter = sampleWineServerCost();
    return windowBetween(processBefore, processAfter, serverBefore, serverAfter, end - start,
                         itemsAfter - itemsBefore, costBetween(processEarlier, processBefore),
                         costBetween(serverEarlier, serverBefore));
}

}  // namespace juxhid::bench
