// The simulated bus's measuring pass for the Windows build, run under Wine:
// the library's real threads on Windows' own waits and timers, each figure
// beside the floor measured on the same stack in the same run (two event
// wake-ups for the callback path, a bare re-armed multimedia timer for
// pacing, the process with nothing open for the idle costs). It prints its
// figures and writes them as a sheet; it asserts no timing, and fails only
// when it could not measure at all.
//
//   juxhid_bench_wine [--short] [--json PATH]
//
//   --short   every measurement briefly (the CI pass: about half a minute)
//   --json    also write the sheet there
#include <cstdio>
#include <cstring>
#include <string>

#include "paths/callback_latency.h"
#include "paths/delivery_cost.h"
#include "paths/idle_cost.h"
#include "paths/pacing.h"
#include "support/figures.h"
#include "support/process_cost.h"
#include "support/samples.h"
#include "support/sim_devices.h"
#include "wine/event_relay.h"
#include "wine/timer_floor.h"

namespace juxhid::bench {
namespace {

constexpr uint32_t kReportLength = 64;
const char* const kServerNote =
    "the Wine server beside the process; it also serves the prefix's own service processes";
const char* const kEventFloor = "floor: two event wake-ups (SetEvent, WaitForSingleObject)";

struct Lengths {
    double latencySeconds;
    CostSettings cost;
    double idleSettle;
    double idleWindow;
    uint32_t slowAlone;  // reports in a 50 ms chain of one interface
    uint32_t slowEach;   // of 25 interfaces, to each
    uint32_t fastAlone;  // in a 5 ms chain of one interface (its queue holds 128)
    uint32_t fastEach;
};

constexpr Lengths kFull{2.0, {0.5, 3.0}, 0.5, 5.0, 101, 41, 128, 128};
constexpr Lengths kShort{0.5, {0.2, 0.5}, 0.2, 1.0, 8, 3, 40, 5};

double us(uint64_t ns) { return static_cast<double>(ns) / 1e3; }

std::string rateText(double rate) {
    char text[32];
    const auto whole = static_cast<long long>(rate + 0.5);
    if (whole >= 1000)
        std::snprintf(text, sizeof text, "%lld,%03lld/s", whole / 1000, whole % 1000);
    else
        std::snprintf(text, sizeof text, "%lld/s", whole);
    return text;
}

std::string interfacesText(int32_t count) {
    return std::to_string(count) + (count == 1 ? " interface" : " interfaces");
}

// Where the design wakes when nothing happens: a callback thread that looks
// for a stop every 50 ms adds 20 wake-ups/s per interface.
std::string idleWhy(const CostWindow& window, const CostWindow& floor, int32_t interfaces) {
    const double extra = (window.wakeupsPerSecond() - floor.wakeupsPerSecond()) / interfaces;
    if (extra < 15 || extra > 25) return "";
    char text[128];
    std::snprintf(text, sizeof text, "; %.1f wake-ups/s per interface: each callback thread looks for a stop every 50 ms",
                  extra);
    return text;
}

// A note when the run did not reach the rate asked of it.
std::string shortOf(const DeliveryCost& run) {
    const double achieved = run.window.itemsPerSecond();
    if (run.askedRate <= 0 || achieved >= 0.9 * run.askedRate) return "";
    return "; reached " + rateText(achieved) + " of " + rateText(run.askedRate) + " asked";
}

class Pass {
public:
    Pass(const Lengths& lengths, FigureSheet& sheet) : lengths_(lengths), sheet_(sheet) {}

    void callbackLatency() {
        for (const double rate : {1000.0, 24000.0}) {
            const size_t room = static_cast<size_t>(rate * lengths_.latencySeconds) + 64;
            LatencyRun floor(room);
            measureRelayFloor(startEventRelay, rate, lengths_.latencySeconds, floor);
            LatencyRun callback(room);
            measureCallbackLatency(rate, lengths_.latencySeconds, callback);
            if (floor.failed || callback.failed || callback.calls == 0 || floor.calls == 0) {
                fail("callback latency at " + rateText(rate));
                continue;
            }
            const Summary f = summarize(floor.samples.sorted());
            const Summary c = summarize(callback.samples.sorted());
            const std::string at = "callback at " + rateText(rate) + ", ";
            const std::string note = std::string(kEventFloor) + "; " + std::to_string(callback.calls.load()) +
                                     " calls for " + std::to_string(callback.delivered) + " reports";
            sheet_.addWithFloor("Callback latency", at + "p50", us(c.p50), us(f.p50), "us", note);
            sheet_.addWithFloor("Callback latency", at + "p99", us(c.p99), us(f.p99), "us", note);
        }
    }

    void cpuPerReport() {
        for (const double rate : {1000.0, 24000.0}) {
            const DeliveryCost floor = measureFloorCost(startEventRelay, rate, lengths_.cost);
            if (!floor.error.empty()) {
                fail("the floor's CPU at " + rateText(rate) + ": " + floor.error);
                continue;
            }
            const DeliveryCost callback = measureCallbackCost(1, rate, lengths_.cost);
            addCost("callback", rate, callback, floor);
            const DeliveryCost polled = measurePollingCost(rate, lengths_.cost);
            addCost("ReadData", rate, polled, floor);
            const DeliveryCost feeder = measureFeederAlone(rate, lengths_.cost);
            if (feeder.error.empty())
                sheet_.add("CPU per report", "CPU per report, bus feeder alone, " + rateText(rate),
                           feeder.window.cpuUsPerItem(), "us CPU/report", "included in the figures above");
            else
                fail("the bus feeder alone: " + feeder.error);
            if (rate == 1000.0) {
                scalingOne_ = callback;
                scalingOneFloor_ = floor;
            }
        }
    }

    void scaling() {
        for (const int32_t interfaces : {1, 5, 10, 25}) {
            const double total = 1000.0 * interfaces;
            const DeliveryCost floor =
                interfaces == 1 ? scalingOneFloor_ : measureFloorCost(startEventRelay, total, lengths_.cost);
            const DeliveryCost run =
                interfaces == 1 ? scalingOne_ : measureCallbackCost(interfaces, 1000.0, lengths_.cost);
            if (!floor.error.empty() || !run.error.empty()) {
                fail("scaling, " + interfacesText(interfaces) + ": " + floor.error + run.error);
                continue;
            }
            const std::string section = "Scaling (1,000/s per interface)";
            const std::string name = interfacesText(interfaces) + ", ";
            const std::string note = "floor: event relay at " + rateText(total) + shortOf(run);
            sheet_.addWithFloor(section, name + "callback p50", us(run.latency.p50), us(floor.latency.p50), "us", note);
            sheet_.addWithFloor(section, name + "callback p99", us(run.latency.p99), us(floor.latency.p99), "us", note);
            sheet_.addWithFloor(section, name + "CPU per report", run.window.cpuUsPerItem(),
                                floor.window.cpuUsPerItem(), "us CPU/report", note);
        }
    }

    void idleCost() {
        const IdleCost floor = measureIdle(Idle::NothingOpen, lengths_.idleSettle, lengths_.idleWindow);
        struct Case {
            Idle state;
            const char* name;
            int32_t interfaces;
        };
        const Case cases[] = {
            {Idle::InterfacesOpen, "idle, 25 interfaces open", 25},
            {Idle::CallbacksSet, "idle, 25 interfaces open, data callbacks set", 25},
            {Idle::UnhandledUnplug, "idle, 1 interface after an unhandled unplug", 1},
            {Idle::UnplugWithCallback, "idle, 1 interface after an unhandled unplug, data callback set", 1},
            {Idle::PacingDrained, "idle, pacing chain drained", 1},
        };
        for (const Case& c : cases) {
            const IdleCost run = measureIdle(c.state, lengths_.idleSettle, lengths_.idleWindow);
            if (!run.error.empty()) {
                fail(std::string(c.name) + ": " + run.error);
                continue;
            }
            const CostWindow& w = run.window;
            const CostWindow& f = floor.window;
            std::string note = "over " + seconds(w.wallNs) +
                               "; the measuring thread's own wake-up and the counters' reading leave about 2 "
                               "wake-ups of doubt";
            note += idleWhy(w, f, c.interfaces);
            const std::string name = c.name;
            sheet_.addWithFloor("Idle cost", name + ": CPU", w.percentOfCore(), f.percentOfCore(), "% of a core",
                                note);
            sheet_.addWithFloor("Idle cost", name + ": wake-ups", w.wakeupsPerSecond(), f.wakeupsPerSecond(),
                                "wake-ups/s", note);
            if (!w.server.wakeupsKnown) continue;
            sheet_.addWithFloor("Idle cost", name + ": Wine server CPU", w.serverPercentOfCore(),
                                f.serverPercentOfCore(), "% of a core", kServerNote);
            sheet_.addWithFloor("Idle cost", name + ": Wine server wake-ups", w.serverWakeupsPerSecond(),
                                f.serverWakeupsPerSecond(), "wake-ups/s", kServerNote);
        }
    }

    void pacing() {
        for (const Interval interval : {Interval::Slow, Interval::Fast}) {
            const bool slow = interval == Interval::Slow;
            const uint32_t floorTicks = slow ? lengths_.slowAlone : lengths_.fastAlone;
            TimerFloorRun floor(floorTicks);
            measureTimerFloor(interval, floorTicks, floor);
            if (floor.failed) fail(std::string("the timer floor of the ") + (slow ? "50" : "5") + " ms chain");
            const Summary f = summarize(floor.lateness.sorted());
            for (const int32_t interfaces : {1, 25}) {
                const uint32_t each = interfaces == 1 ? floorTicks : (slow ? lengths_.slowEach : lengths_.fastEach);
                SimDevices devices(interfaces, kReportLength, kReportLength);
                PacingRun run(static_cast<size_t>(each) * static_cast<size_t>(interfaces));
                if (devices.ok()) measurePacing(devices, interval, each, run);
                const std::string label =
                    std::string(slow ? "50 ms" : "5 ms") + " chain, " + interfacesText(interfaces);
                if (!devices.ok() || run.received == 0 || run.refused != 0) {
                    fail(label + (devices.ok() ? ": writes refused or none arrived" : ": " + devices.error()));
                    continue;
                }
                const Summary late = summarize(run.lateness.sorted());
                const std::string note = "over " + std::to_string(late.count) +
                                         " intervals; floor: a bare one-shot timeSetEvent re-armed, " +
                                         std::to_string(f.count) + " intervals" +
                                         (run.timedOut ? "; the chain did not finish in time" : "");
                sheet_.addWithFloor("Pacing", label + ", lateness p50", us(late.p50), us(f.p50), "us", note);
                sheet_.addWithFloor("Pacing", label + ", lateness p99", us(late.p99), us(f.p99), "us", note);
            }
        }
    }

    int failures() const { return failures_; }

private:
    void addCost(const char* path, double rate, const DeliveryCost& run, const DeliveryCost& floor) {
        if (!run.error.empty()) {
            fail(std::string(path) + " at " + rateText(rate) + ": " + run.error);
            return;
        }
        char wakeups[128];
        std::snprintf(wakeups, sizeof wakeups, "%.2f wake-ups/report; %llu %s for %llu delivered",
                      run.window.wakeupsPerItem(), static_cast<unsigned long long>(run.taken),
                      std::strcmp(path, "ReadData") == 0 ? "taken" : "callbacks",
                      static_cast<unsigned long long>(run.delivered));
        sheet_.addWithFloor("CPU per report", std::string("CPU per report, ") + path + ", " + rateText(rate),
                            run.window.cpuUsPerItem(), floor.window.cpuUsPerItem(), "us CPU/report",
                            std::string("whole process with the bus feeder; floor: event relay; ") + wakeups +
                                shortOf(run));
    }

    static std::string seconds(uint64_t ns) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ns) / 1e9);
        return text;
    }

    void fail(const std::string& what) {
        std::fprintf(stderr, "could not measure: %s\n", what.c_str());
        ++failures_;
    }

    const Lengths& lengths_;
    FigureSheet& sheet_;
    DeliveryCost scalingOne_;
    DeliveryCost scalingOneFloor_;
    int failures_ = 0;
};

struct Arguments {
    bool brief = false;
    std::string json;
    bool ok = true;
};

Arguments parse(int argc, char** argv) {
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--short") == 0) {
            arguments.brief = true;
        } else if (std::strcmp(argv[i], "--json") == 0 && i + 1 < argc) {
            arguments.json = argv[++i];
        } else {
            std::fprintf(stderr, "unknown argument %s; usage: juxhid_bench_wine [--short] [--json PATH]\n", argv[i]);
            arguments.ok = false;
        }
    }
    return arguments;
}

}  // namespace
}  // namespace juxhid::bench

int main(int argc, char** argv) {
    using namespace juxhid::bench;
    const Arguments arguments = parse(argc, argv);
    if (!arguments.ok) return 2;
    const Lengths& lengths = arguments.brief ? kShort : kFull;
    FigureSheet sheet(sizeof(void*) == 8 ? "sim-wine64" : "sim-wine32");
    sheet.setContext("length", arguments.brief ? "short (CI)" : "full");
    sheet.setContext("counters", processCostSource());
    Pass pass(lengths, sheet);
    pass.callbackLatency();
    pass.cpuPerReport();
    pass.scaling();
    pass.idleCost();
    pass.pacing();
    sheet.print(stdout);
    if (!arguments.json.empty() && !sheet.writeJson(arguments.json)) {
        std::fprintf(stderr, "could not write %s\n", arguments.json.c_str());
        return 1;
    }
    return pass.failures() == 0 ? 0 : 1;
}
