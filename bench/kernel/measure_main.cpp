// The measuring pass on the kernel's HID stack, run in the test guest after
// the scenarios: reports stamped by devices played through /dev/uhid (in a
// child process) travel uhid -> HID core -> hidraw -> the library's reader ->
// the host's callback or ReadData, and every figure is printed beside its
// floor measured in the same run the same way: a bare thread blocked in
// read() on the same node, or the same process with nothing open. It asserts
// no timing: it fails only when it could not measure.
//
//   kernel_measure [--full] [--json PATH]
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "juxhid.h"
#include "juxhid_status.h"
#include "kernel/consumers.h"
#include "kernel/device_side.h"
#include "kernel/measure_runs.h"
#include "support/figures.h"
#include "support/process_cost.h"

namespace juxhid::bench::kernel {
namespace {

constexpr uint32_t kMostDevices = JUXHID_MAX_DEVICES;
constexpr double kLowRate = 1000;
constexpr double kHighRate = 24000;
constexpr uint32_t kScaling[] = {1, 5, 10, 25};
const char* const kSections[] = {"Callback latency", "ReadData latency", "CPU per report", "Idle cost",
                                 "Scaling (1,000/s per interface)", "Delivery"};
const char* const kBareFloor = "floor: a bare thread blocked in read() on the same hidraw node";
const char* const kIdleFloor = "floor: this process, library loaded, nothing open";

struct Lengths {
    uint32_t lowRounds;      // per run at 1,000/s
    uint32_t highRounds;     // per run at 24,000/s
    uint32_t scalingRounds;  // per device per run
    std::chrono::milliseconds idleWindow;
};
constexpr Lengths kShort{1000, 6000, 500, std::chrono::milliseconds(2000)};
constexpr Lengths kFull{10000, 48000, 5000, std::chrono::milliseconds(20000)};

std::string us(double value) { return std::to_string(static_cast<long long>(value + 0.5)); }

std::string rateLabel(double rate) { return rate >= 1000 ? us(rate / 1000) + ",000/s" : us(rate) + "/s"; }

// Where the device side could not keep the pace asked for, the figure says so.
std::string reached(const RunFigures& run, double asked) {
    if (run.achievedRate >= 0.95 * asked) return "";
    return "; the device side reached " + us(run.achievedRate) + "/s of " + rateLabel(asked) + " per interface";
}

double usOf(uint64_t ns) { return static_cast<double>(ns) / 1e3; }

class Pass {
public:
    Pass(DeviceSide& devices, const Lengths& lengths, const char* mode)
        : devices_(devices), lengths_(lengths), mode_(mode) {}

    bool run() {
        context_.emplace_back("guest", "qemu, software emulation (no KVM), " +
                                           std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " CPU");
        context_.emplace_back("mode", mode_ + (": reports per run " + std::to_string(lengths_.lowRounds) + " at 1,000/s, " +
                                               std::to_string(lengths_.highRounds) + " towards 24,000/s, " +
                                               std::to_string(lengths_.scalingRounds) + " per interface when scaling"));
        context_.emplace_back("idle window", std::to_string(lengths_.idleWindow.count() / 1000) + " s");
        context_.emplace_back("ReadData pause when nothing is unread", "1 ms");
        context_.emplace_back("counters", processCostSource());
        const IdleFigures baseline = measureIdle(lengths_.idleWindow);
        nodes_ = devices_.plug(kMostDevices);
        indices_ = libraryIndices(kMostDevices);
        if (nodes_.empty() || indices_.empty()) return fail("the devices could not be plugged and listed");
        measureIdleCases(baseline);
        measureRate(kLowRate, lengths_.lowRounds);
        measureRate(kHighRate, lengths_.highRounds);
        for (const uint32_t count : kScaling) measureScaling(count);
        measureUnhandledUnplug(baseline);
        return ok_;
    }

    // The figures section by section, in the order every platform's table has.
    FigureSheet sheet() const {
        FigureSheet sheet("kernel");
        for (const auto& [key, value] : context_) sheet.setContext(key, value);
        for (const char* section : kSections)
            for (const Figure& f : figures_) {
                if (f.section != section) continue;
                if (f.hasFloor) sheet.addWithFloor(f.section, f.name, f.value, f.floor, f.unit, f.note);
                else sheet.add(f.section, f.name, f.value, f.unit, f.note);
            }
        return sheet;
    }

private:
    void add(const std::string& section, const std::string& name, double value, const std::string& unit,
             const std::string& note = "") {
        figures_.push_back(Figure{section, name, value, unit, false, 0, note});
    }
    void addWithFloor(const std::string& section, const std::string& name, double value, double floor,
                      const std::string& unit, const std::string& note) {
        figures_.push_back(Figure{section, name, value, unit, true, floor, note});
    }

    bool fail(const char* what) {
        std::fprintf(stderr, "measure: %s\n", what);
        return ok_ = false;
    }

    RunFigures measure(Way way, uint32_t devices, double rate, uint32_t rounds, const std::string& label) {
        const RunFigures run = measureRun(devices_, nodes_, indices_, RunSpec{way, devices, rate, rounds});
        if (!run.measured) fail(("nothing measured for " + label).c_str());
        const std::string note = reached(run, rate);
        add("Delivery", label + ": arrived", static_cast<double>(run.delivery.arrived), "reports",
                   "of " + std::to_string(run.sent) + " sent" + note);
        add("Delivery", label + ": lost", static_cast<double>(run.delivery.lost), "reports",
                   way == Way::Callback ? "every-wake-up mode hands over the newest report of a wake-up" : "");
        add("Delivery", label + ": in order", static_cast<double>(run.delivery.inOrder), "reports");
        return run;
    }

    void measureRate(double rate, uint32_t rounds) {
        const std::string at = " at " + rateLabel(rate);
        const RunFigures bare = measure(Way::BareRead, 1, rate, rounds, "bare read()" + at);
        const RunFigures callback = measure(Way::Callback, 1, rate, rounds, "callback" + at);
        const RunFigures polled = measure(Way::ReadData, 1, rate, rounds, "ReadData" + at);
        addLatency("Callback latency", "callback" + at, callback, bare, rate);
        addLatency("ReadData latency", "ReadData" + at, polled, bare, rate);
        addWithFloor("CPU per report", "CPU per report, callback, " + rateLabel(rate), callback.usCpuPerReport,
                            bare.usCpuPerReport, "us CPU/report", std::string(kBareFloor) + reached(callback, rate));
        addWithFloor("CPU per report", "CPU per report, ReadData, " + rateLabel(rate), polled.usCpuPerReport,
                            bare.usCpuPerReport, "us CPU/report",
                            std::string(kBareFloor) + "; the poller sleeps 1 ms whenever nothing is unread" +
                                reached(polled, rate));
    }

    void addLatency(const char* section, const std::string& name, const RunFigures& run, const RunFigures& bare,
                    double rate) {
        const std::string note = std::string(kBareFloor) + reached(run, rate);
        addWithFloor(section, name + ", p50", usOf(run.latency.p50), usOf(bare.latency.p50), "us", note);
        addWithFloor(section, name + ", p99", usOf(run.latency.p99), usOf(bare.latency.p99), "us", note);
    }

    void measureScaling(uint32_t count) {
        const std::string label = std::to_string(count) + (count == 1 ? " interface" : " interfaces");
        const char* section = "Scaling (1,000/s per interface)";
        const RunFigures bare = measure(Way::BareRead, count, kLowRate, lengths_.scalingRounds, label + ", bare read()");
        const RunFigures callback = measure(Way::Callback, count, kLowRate, lengths_.scalingRounds, label + ", callback");
        const std::string note = "floor: a bare thread per node blocked in read()" + reached(callback, kLowRate);
        addWithFloor(section, label + ", callback p50", usOf(callback.latency.p50), usOf(bare.latency.p50), "us",
                            note);
        addWithFloor(section, label + ", callback p99", usOf(callback.latency.p99), usOf(bare.latency.p99), "us",
                            note);
        addWithFloor(section, label + ", CPU per report", callback.usCpuPerReport, bare.usCpuPerReport,
                            "us CPU/report", note);
    }

    void addIdle(const std::string& name, const IdleFigures& idle, const IdleFigures& baseline,
                 const std::string& why) {
        if (!idle.measured || !baseline.measured) fail(("no counters for " + name).c_str());
        addWithFloor("Idle cost", name + ": CPU", idle.percentOfCore, baseline.percentOfCore, "% of a core",
                            kIdleFloor);
        addWithFloor("Idle cost", name + ": wake-ups", idle.wakeupsPerSecond, baseline.wakeupsPerSecond,
                            "wake-ups/s", std::string(kIdleFloor) + "; " + why);
    }

    void measureIdleCases(const IdleFigures& baseline) {
        {
            Opening all(indices_);
            if (!all.ok()) fail("25 interfaces could not be opened");
            addIdle("idle, 25 interfaces open", measureIdle(lengths_.idleWindow), baseline,
                    "no callbacks set: each reader blocks in read() without waking");
        }
        {
            RunTally nothing(0, kMostDevices, 1);
            CallbackConsumer all(indices_, nothing);
            if (!all.ok()) fail("25 interfaces could not be opened with callbacks");
            addIdle("idle, 25 interfaces open, callbacks set", measureIdle(lengths_.idleWindow), baseline,
                    "each interface's callback worker sleeps until a report, the unplug or a close wakes it");
        }
        Opening one({indices_[0]});
        uint8_t report[64] = {};
        if (!one.ok() || WriteData(indices_[0], report) != JUXHID_OK || !devices_.receivedOutputs(0, 1))
            fail("the queued write did not reach the device");
        addIdle("idle, pacing chain drained", measureIdle(lengths_.idleWindow), baseline,
                "the timer thread sleeps without a deadline when nothing is scheduled");
    }

    // Last: the device stays gone.
    void measureUnhandledUnplug(const IdleFigures& baseline) {
        RunTally nothing(0, 1, 1);
        CallbackConsumer one({indices_[0]}, nothing);
        if (!one.ok() || !devices_.unplug(0)) fail("the unplug could not be staged");
        addIdle("idle, 1 interface after an unhandled unplug", measureIdle(lengths_.idleWindow), baseline,
                "data callback set, no error callback: the worker sleeps until one is set or the interface is closed");
    }

    DeviceSide& devices_;
    Lengths lengths_;
    std::string mode_;
    std::vector<std::pair<std::string, std::string>> context_;
    std::vector<Figure> figures_;
    std::vector<std::string> nodes_;
    std::vector<int32_t> indices_;
    bool ok_ = true;
};

}  // namespace
}  // namespace juxhid::bench::kernel

int main(int argc, char** argv) {
    using namespace juxhid::bench::kernel;
    bool full = false;
    std::string json;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--full") == 0) full = true;
        else if (std::strcmp(argv[i], "--json") == 0 && i + 1 < argc) json = argv[++i];
        else {
            std::fprintf(stderr, "usage: %s [--full] [--json PATH]\n", argv[0]);
            return 2;
        }
    }
    // Before any thread: the device side is a copy of this process.
    DeviceSide devices;
    if (!devices.started()) return 1;
    Pass pass(devices, full ? kFull : kShort, full ? "full" : "short");
    const bool ok = pass.run();
    pass.sheet().print(stdout);
    if (!json.empty() && !pass.sheet().writeJson(json)) {
        std::fprintf(stderr, "measure: cannot write %s\n", json.c_str());
        return 1;
    }
    return ok ? 0 : 1;
}
