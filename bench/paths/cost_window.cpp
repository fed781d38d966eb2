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
                         uint64_t items, uint64_t samplingCpuNs) {
    CostWindow window;
    window.wallNs = wallNs;
    window.process = costBetween(processBefore, processAfter);
    window.process.cpuNs -= std::min(window.process.cpuNs, samplingCpuNs);
    window.server = costBetween(serverBefore, serverAfter);
    window.items = items;
    return window;
}

CostWindow measureWindow(double warmupSeconds, double windowSeconds, const std::function<uint64_t()>& itemsSoFar) {
    std::this_thread::sleep_for(std::chrono::duration<double>(warmupSeconds));
    const uint64_t itemsBefore = itemsSoFar();
    const ProcessCost serverBefore = sampleWineServerCost();
    const ProcessCost sampled = sampleProcessCost();
    const ProcessCost processBefore = sampleProcessCost();
    const uint64_t samplingCpuNs = costBetween(sampled, processBefore).cpuNs;
    const uint64_t start = nowNs();
    std::this_thread::sleep_for(std::chrono::duration<double>(windowSeconds));
    const uint64_t end = nowNs();
    const ProcessCost processAfter = sampleProcessCost();
    const ProcessCost serverAfter = sampleWineServerCost();
    const uint64_t itemsAfter = itemsSoFar();
    return windowBetween(processBefore, processAfter, serverBefore, serverAfter, end - start,
                         itemsAfter - itemsBefore, samplingCpuNs);
}

}  // namespace juxhid::bench
