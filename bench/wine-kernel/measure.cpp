// The measuring pass on Wine's HID stack: the 64-bit juxhid.dll loaded as a
// host loads it, over uhid devices that the device side (a native program in
// the same qemu guest) plays and streams stamped reports through. Every
// figure stands beside its floor, measured in the same run on the same
// stack: a bare reader of the device's own handle for latency and CPU per
// report, the same process with the library loaded and nothing open for the
// idle cost. Figures are printed and written as JSON; no timing is asserted:
// the pass fails only when it could not measure.
//
//   wine_kernel_measure.exe PORT short|full [SHEET.json]
#include <algorithm>
#include <cmath>
#include <map>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bare_readers.h"
#include "device_channel.h"
#include "juxhid.h"
#include "juxhid_status.h"
#include "stack_cost.h"
#include "support/figures.h"
#include "support/process_cost.h"
#include "win32/loaded_library.h"

namespace juxhid::winekernel {
namespace {

using bench::FigureSheet;
using bench::ProcessCost;

constexpr uint16_t kVendor = 0x1A2C;  // the devices the device side plays for this pass only
constexpr uint16_t kFirstProduct = 0x0100;
constexpr uint32_t kQueue = 512;  // what the library asks of the driver for its reading handle
constexpr int kCalibrationExchanges = 40;
constexpr int kRecalibrationExchanges = 15;  // before each run

// Under software emulation the guest's one CPU carries the device side,
// Wine's stack and the program, and falls behind well below 1,000 reports/s:
// what it cannot carry queues up (and is cut) in the kernel's and Wine's
// queues, and a run ends when that backlog has drained or `tailSeconds`
// passed. The short pass (in every CI run) measures each kind of figure
// once and briefly; the full one is for the report.
struct Settings {
    double streamSeconds;  // one interface at 1,000/s
    std::vector<double> otherRates;  // one interface, for the highest rate the guest sustains
    double otherSeconds;
    std::vector<size_t> scales;
    double scaleRate;  // per interface
    double scaleSeconds;
    double idleSeconds;
    double tailSeconds;
};
const Settings kShort{0.5, {25}, 2, {5}, 100, 0.5, 1, 2};
const Settings kFull{5, {25, 50, 100, 250, 500}, 3, {5, 10, 25}, 1000, 1, 10, 30};
// Sustained: nothing lost, the device side kept the rate within 5%, and no
// backlog: the slowest of a hundred reports came within this.
constexpr double kSustainedP99Us = 100'000;

struct Api {
    decltype(&EnumerateJUX) enumerate = nullptr;
    decltype(&SetupInterface) setup = nullptr;
    decltype(&CloseInterface) close = nullptr;
    decltype(&ReadData) readData = nullptr;
    decltype(&SetDataCallback) setDataCallback = nullptr;
    decltype(&WriteData) writeData = nullptr;
    decltype(&GetWriteLength) writeLength = nullptr;

    bool bind(const test::LoadedLibrary& library) {
        enumerate = library.get<decltype(enumerate)>("EnumerateJUX");
        setup = library.get<decltype(setup)>("SetupInterface");
        close = library.get<decltype(close)>("CloseInterface");
        readData = library.get<decltype(readData)>("ReadData");
        setDataCallback = library.get<decltype(setDataCallback)>("SetDataCallback");
        writeData = library.get<decltype(writeData)>("WriteData");
        writeLength = library.get<decltype(writeLength)>("GetWriteLength");
        return enumerate && setup && close && readData && setDataCallback && writeData && writeLength;
    }
};

struct Device {
    std::string name;  // the device side's
    int32_t row;       // the library's
    std::string path;  // Wine's
};

Api api;
DeviceChannel g_channel;
ClockOffset g_offset;
std::vector<Device> g_devices;
std::atomic<Arrivals*> g_arrivals{nullptr};

int32_t JUXHID_CALL onReport(uint8_t* payload) {
    const int64_t now = localNowNs();
    if (Arrivals* arrivals = g_arrivals.load()) arrivals->seePayload(payload, now);
    return 1;
}

// ---------------------------------------------------------------- costs

struct Costs {
    ProcessCost process, server, stack;
    int64_t atNs = 0;
};
struct CostDelta {
    ProcessCost process, server, stack;
    uint64_t wallNs = 0;
};

// Each side samples the program itself nearest to the interval, so that the
// reading of the others' counters falls outside it.
Costs sampleBefore() {
    Costs costs;
    costs.stack = sampleWineDeviceCost();
    costs.server = sampleServerByName();
    costs.process = bench::sampleProcessCost();
    costs.atNs = localNowNs();
    return costs;
}
Costs sampleAfter() {
    Costs costs;
    costs.atNs = localNowNs();
    costs.process = bench::sampleProcessCost();
    costs.server = sampleServerByName();
    costs.stack = sampleWineDeviceCost();
    return costs;
}
CostDelta between(const Costs& before, const Costs& after) {
    return CostDelta{bench::costBetween(before.process, after.process), bench::costBetween(before.server, after.server),
                     bench::costBetween(before.stack, after.stack), static_cast<uint64_t>(after.atNs - before.atNs)};
}

CostDelta idleFor(double seconds) {
    const Costs before = sampleBefore();
    Sleep(static_cast<DWORD>(seconds * 1000));
    return between(before, sampleAfter());
}

// ---------------------------------------------------------------- streams

enum class Way { Callback, ReadData, Bare };

struct Run {
    bool ok = false;
    double asked = 0;
    double reached = 0;
    uint32_t count = 0;  // per device
    size_t devices = 0;
    Arrivals::Totals totals;
    CostDelta cost;
};

std::string streamNames(size_t places) {
    std::string names;
    for (size_t place = 0; place < places; ++place) names += (place ? "," : "") + g_devices[place].name;
    return names;
}

// Waits for the stream's tail: until every report came, nothing more came
// for a second, or `limitSeconds` passed.
void awaitTail(Arrivals& arrivals, uint32_t count, double limitSeconds) {
    uint64_t seen = arrivals.received();
    int64_t progressAt = localNowNs();
    const int64_t deadline = progressAt + static_cast<int64_t>(limitSeconds * 1e9);
    while (!arrivals.complete(count) && localNowNs() - progressAt < 1'000'000'000 && localNowNs() < deadline) {
        Sleep(20);
        const uint64_t now = arrivals.received();
        if (now != seen) progressAt = localNowNs();
        seen = now;
    }
}

// ReadData in a loop over the interfaces, pausing 1 ms (Sleep(1)) whenever
// none has anything unread: what a polling host does.
void pollUntil(const std::atomic<bool>& stop, size_t places, Arrivals& arrivals) {
    uint8_t report[1 + kStampedPayload];
    while (!stop.load()) {
        bool took = false;
        for (size_t place = 0; place < places; ++place) {
            while (api.readData(g_devices[place].row, report) == JUXHID_OK) {
                arrivals.seeReport(report, localNowNs());
                took = true;
            }
        }
        if (!took) Sleep(1);
    }
}

bool openInterfaces(size_t places, Way way) {
    for (size_t place = 0; place < places; ++place) {
        if (api.setup(g_devices[place].row) != JUXHID_OK) return false;
        if (way == Way::Callback && api.setDataCallback(g_devices[place].row, 1, onReport) != JUXHID_OK) return false;
    }
    return true;
}

void closeInterfaces(size_t places) {
    for (size_t place = 0; place < places; ++place) api.close(g_devices[place].row);
}

ClockOffset calibrate(int exchanges = kCalibrationExchanges);

Run streamRun(Way way, size_t places, double rate, double seconds, double tailSeconds) {
    static uint8_t runNumber = 0;
    ++runNumber;
    g_offset = betterOffset(g_offset, calibrate(kRecalibrationExchanges));
    Run run;
    run.asked = rate;
    run.devices = places;
    run.count = static_cast<uint32_t>(rate * seconds);
    Arrivals arrivals(places, run.count, runNumber, g_offset);
    BareReaders bare;
    std::atomic<bool> stopPolling{false};
    std::thread poller;
    bool ready = false;
    if (way == Way::Bare) {
        std::vector<std::string> paths;
        for (size_t place = 0; place < places; ++place) paths.push_back(g_devices[place].path);
        ready = bare.start(paths, kQueue, &arrivals);
    } else {
        g_arrivals = &arrivals;
        ready = openInterfaces(places, way);
        if (ready && way == Way::ReadData) poller = std::thread([&] { pollUntil(stopPolling, places, arrivals); });
    }
    if (ready) {
        Sleep(200);  // every reader waits in its first read
        const Costs before = sampleBefore();
        run.reached = g_channel.stream(streamNames(places), rate, run.count, runNumber);
        if (run.reached > 0) awaitTail(arrivals, run.count, tailSeconds);
        run.cost = between(before, sampleAfter());
        run.ok = run.reached > 0;
    }
    stopPolling = true;
    if (poller.joinable()) poller.join();
    bare.stop();
    if (way != Way::Bare) closeInterfaces(places);
    g_arrivals = nullptr;
    run.totals = arrivals.finish(run.count);
    run.ok = run.ok && run.totals.received > 0;
    Sleep(300);  // what the closed handles left queued in Wine's drivers is dropped
    static const int64_t firstRunNs = localNowNs();
    std::printf("  [%5.1f s] (offset %.1f us, round trip %.1f us) %s, %zu device(s) at %.0f/s asked, %.0f/s "
                "reached: %llu arrived, %llu lost\n",
                static_cast<double>(localNowNs() - firstRunNs) / 1e9, static_cast<double>(g_offset.offsetNs) / 1e3,
                static_cast<double>(g_offset.rttNs) / 1e3, way == Way::Bare ? "bare readers" : way == Way::Callback ? "callback" : "ReadData", places, rate,
                run.reached, static_cast<unsigned long long>(run.totals.received),
                static_cast<unsigned long long>(run.totals.lost));
    std::fflush(stdout);
    return run;
}

// ---------------------------------------------------------------- figures

std::string perSecondLabel(double rate) {
    const long whole = std::lround(rate);
    return whole >= 1000 ? std::to_string(whole / 1000) + "," + std::string(3 - std::to_string(whole % 1000).size(), '0') +
                               std::to_string(whole % 1000) + "/s"
                         : std::to_string(whole) + "/s";
}

double us(uint64_t ns) { return static_cast<double>(ns) / 1000.0; }

std::string reachedNote(const Run& run, const Run& floor) {
    char text[200];
    std::snprintf(text, sizeof text, "%zu device(s), %u reports each; reached %.0f/s (floor's run %.0f/s) of %.0f/s asked",
                  run.devices, run.count, run.reached, floor.reached, run.asked);
    return text;
}

void addLatency(FigureSheet& sheet, const std::string& section, const std::string& label, const Run& run,
                const Run& floor) {
    const std::string note = reachedNote(run, floor) + "; floor: bare readers";
    sheet.addWithFloor(section, label + " p50", us(run.totals.latency.p50), us(floor.totals.latency.p50), "us", note);
    sheet.addWithFloor(section, label + " p99", us(run.totals.latency.p99), us(floor.totals.latency.p99), "us", note);
}

void addCpuPerReport(FigureSheet& sheet, const std::string& section, const std::string& label, const Run& run,
                     const Run& floor) {
    const std::string note = reachedNote(run, floor) + "; floor: bare readers";
    sheet.addWithFloor(section, label, cpuUsPerReport(run.cost.process.cpuNs, run.totals.received),
                       cpuUsPerReport(floor.cost.process.cpuNs, floor.totals.received), "us CPU/report", note);
    sheet.addWithFloor(section, label + ", Wine server", cpuUsPerReport(run.cost.server.cpuNs, run.totals.received),
                       cpuUsPerReport(floor.cost.server.cpuNs, floor.totals.received), "us CPU/report", note);
    sheet.addWithFloor(section, label + ", winedevice", cpuUsPerReport(run.cost.stack.cpuNs, run.totals.received),
                       cpuUsPerReport(floor.cost.stack.cpuNs, floor.totals.received), "us CPU/report",
                       note + "; Wine's HID drivers (winedevice.exe)");
}

void addDelivery(FigureSheet& sheet, const std::string& label, const Run& run) {
    const Arrivals::Totals& totals = run.totals;
    char note[160];
    std::snprintf(note, sizeof note, "of %llu sent; %llu strays, %llu seen before their stamp",
                  static_cast<unsigned long long>(uint64_t{run.count} * run.devices),
                  static_cast<unsigned long long>(totals.strays), static_cast<unsigned long long>(totals.negative));
    sheet.add("Delivery", label + ": arrived", static_cast<double>(totals.received), "reports", note);
    sheet.add("Delivery", label + ": lost", static_cast<double>(totals.lost), "reports", note);
    sheet.add("Delivery", label + ": in order", static_cast<double>(totals.received - totals.outOfOrder), "reports",
              note);
}

void addIdle(FigureSheet& sheet, const std::string& label, const CostDelta& idle, const CostDelta& floor,
             const std::string& note) {
    const std::string floorNote = note + "; floor: the same process, DLL loaded, nothing open";
    const auto add = [&](const std::string& who, const ProcessCost& cost, const ProcessCost& base) {
        sheet.addWithFloor("Idle cost", label + ": " + who + "CPU", bench::percentOfCore(cost.cpuNs, idle.wallNs),
                           bench::percentOfCore(base.cpuNs, floor.wallNs), "% of a core", floorNote);
        sheet.addWithFloor("Idle cost", label + ": " + who + "wake-ups", perSecond(cost.wakeups, idle.wallNs),
                           perSecond(base.wakeups, floor.wallNs), "wake-ups/s", floorNote);
    };
    add("", idle.process, floor.process);
    add("Wine server ", idle.server, floor.server);
    add("winedevice ", idle.stack, floor.stack);
}

// ---------------------------------------------------------------- setup

ClockOffset calibrate(int count) {
    std::vector<ClockExchange> exchanges;
    for (int at = 0; at < count; ++at) {
        ClockExchange exchange;
        exchange.localBeforeNs = localNowNs();
        exchange.remoteNs = g_channel.clockNs();
        exchange.localAfterNs = localNowNs();
        if (exchange.remoteNs >= 0) exchanges.push_back(exchange);
    }
    return offsetFromExchanges(exchanges);
}

// The devices the device side played for this pass, as Wine lists them.
size_t findDevices(size_t wanted) {
    DeviceSummary rows[JUXHID_MAX_DEVICES] = {};
    int32_t count = 0;
    for (int attempt = 0; attempt < 120; ++attempt) {
        if (api.enumerate(kVendor, rows, &count) == JUXHID_OK && static_cast<size_t>(count) >= wanted) break;
        Sleep(500);
    }
    const std::map<uint16_t, std::string> paths = hidPathsOfVendor(kVendor);
    for (size_t place = 0; place < wanted; ++place) {
        const uint16_t product = static_cast<uint16_t>(kFirstProduct + place);
        const auto path = paths.find(product);
        const auto row = std::find_if(rows, rows + std::max(count, 0),
                                      [&](const DeviceSummary& summary) { return summary.ProductID == product; });
        if (path == paths.end() || row == rows + std::max(count, 0)) break;
        g_devices.push_back(Device{"m" + std::to_string(place), row->Index, path->second});
    }
    return g_devices.size();
}


// ---------------------------------------------------------------- the pass

void describeClocks(FigureSheet& sheet, const ClockOffset& first) {
    char text[240];
    std::snprintf(text, sizeof text,
                  "performance counter at %lld Hz; the device side's CLOCK_MONOTONIC minus it: %.1f us "
                  "(min round trip %.1f us of %d exchanges)",
                  static_cast<long long>(performanceFrequency()), static_cast<double>(first.offsetNs) / 1000.0,
                  static_cast<double>(first.rttNs) / 1000.0, kCalibrationExchanges);
    sheet.setContext("clocks", text);
    std::printf("  %s\n", text);
}

void measureIdle(FigureSheet& sheet, const Settings& settings, size_t devices, CostDelta* baseline) {
    *baseline = idleFor(settings.idleSeconds);
    const std::string open = "idle, " + std::to_string(devices) + " interfaces open";
    if (!openInterfaces(devices, Way::ReadData)) return;
    Sleep(500);
    addIdle(sheet, open, idleFor(settings.idleSeconds), *baseline,
            "no reports, no calls; each reader blocks in its read");
    for (size_t place = 0; place < devices; ++place) api.setDataCallback(g_devices[place].row, 1, onReport);
    Sleep(500);
    addIdle(sheet, open + ", data callbacks set", idleFor(settings.idleSeconds), *baseline,
            "no reports; each interface's callback worker sleeps until a report, the unplug or a close "
            "wakes it");
    closeInterfaces(devices);

    // Not the library: as many bare readers blocked in their reads, to tell
    // what Wine costs for a handle waiting in ReadFile from what the library adds.
    Arrivals none(devices, 1, 0, g_offset);
    BareReaders bare;
    std::vector<std::string> paths;
    for (size_t place = 0; place < devices; ++place) paths.push_back(g_devices[place].path);
    if (!bare.start(paths, kQueue, &none)) return;
    Sleep(500);
    addIdle(sheet, "idle, " + std::to_string(devices) + " bare readers blocked", idleFor(settings.idleSeconds),
            *baseline, "no library: a thread per device in ReadFile on its own handle, for comparison");
    bare.stop();
}

bool sustained(const Run& run) {
    return run.totals.lost == 0 && run.reached >= 0.95 * run.asked && us(run.totals.latency.p99) <= kSustainedP99Us;
}

void measureOneInterface(FigureSheet& sheet, const Settings& settings, double* highest) {
    const Run callback = streamRun(Way::Callback, 1, 1000, settings.streamSeconds, settings.tailSeconds);
    const Run polled = streamRun(Way::ReadData, 1, 1000, settings.streamSeconds, settings.tailSeconds);
    const Run bare = streamRun(Way::Bare, 1, 1000, settings.streamSeconds, settings.tailSeconds);
    if (sustained(callback)) *highest = 1000;
    addLatency(sheet, "Callback latency", "callback at 1,000/s,", callback, bare);
    addLatency(sheet, "ReadData latency", "ReadData at 1,000/s,", polled, bare);
    addCpuPerReport(sheet, "CPU per report", "CPU per report, callback, 1,000/s", callback, bare);
    addCpuPerReport(sheet, "CPU per report", "CPU per report, ReadData, 1,000/s", polled, bare);
    addDelivery(sheet, "callback at 1,000/s", callback);
    addDelivery(sheet, "ReadData at 1,000/s", polled);
    addDelivery(sheet, "bare reader at 1,000/s", bare);
    addLatency(sheet, "Scaling (1,000/s per interface)", "1 interface, callback", callback, bare);
    addCpuPerReport(sheet, "Scaling (1,000/s per interface)", "1 interface, CPU per report", callback, bare);
}

// Other rates on one interface, for the highest the guest sustains.
void measureOtherRates(FigureSheet& sheet, const Settings& settings, double highest) {
    for (const double rate : settings.otherRates) {
        const Run callback = streamRun(Way::Callback, 1, rate, settings.otherSeconds, settings.tailSeconds);
        const Run bare = streamRun(Way::Bare, 1, rate, settings.otherSeconds, settings.tailSeconds);
        const std::string label = "callback at " + perSecondLabel(rate);
        addLatency(sheet, "Callback latency", label + ",", callback, bare);
        addCpuPerReport(sheet, "CPU per report", "CPU per report, callback, " + perSecondLabel(rate), callback, bare);
        addDelivery(sheet, label, callback);
        addDelivery(sheet, "bare reader at " + perSecondLabel(rate), bare);
        if (sustained(callback)) highest = std::max(highest, rate);
    }
    sheet.add("Callback latency", "highest rate sustained, 1 interface, callback", highest, "reports/s",
              "of the rates tried (0: none): nothing lost, the device side within 5% of the rate, p99 under "
              "100 ms (no backlog)");
}

void measureScaling(FigureSheet& sheet, const Settings& settings, size_t devices) {
    for (size_t wanted : settings.scales) {
        const size_t scale = std::min(wanted, devices);
        const Run callback =
            streamRun(Way::Callback, scale, settings.scaleRate, settings.scaleSeconds, settings.tailSeconds);
        const Run bare = streamRun(Way::Bare, scale, settings.scaleRate, settings.scaleSeconds, settings.tailSeconds);
        const std::string label = std::to_string(scale) + " interfaces";
        const std::string section = "Scaling (1,000/s per interface)";
        addLatency(sheet, section, label + ", callback", callback, bare);
        addCpuPerReport(sheet, section, label + ", CPU per report", callback, bare);
        const std::string each = " at " + perSecondLabel(settings.scaleRate) + " each";
        addDelivery(sheet, label + ", callback" + each, callback);
        addDelivery(sheet, label + ", bare readers" + each, bare);
        if (scale == devices) break;
    }
}

// A queued write drained (the pacing chain ended), then nothing.
void measurePacingIdle(FigureSheet& sheet, const Settings& settings, const CostDelta& baseline) {
    const Device& device = g_devices.front();
    if (api.setup(device.row) != JUXHID_OK) return;
    const size_t before = g_channel.outputs(device.name, 0, 0).size();
    std::vector<uint8_t> report(static_cast<size_t>(std::max(api.writeLength(device.row), 1)), 0x5A);
    report[0] = 0;
    const bool written = api.writeData(device.row, report.data()) == JUXHID_OK &&
                         g_channel.outputs(device.name, before + 1, 5000).size() == before + 1;
    Sleep(300);  // the chain's next tick finds nothing queued and ends
    if (written)
        addIdle(sheet, "idle, pacing chain drained", idleFor(settings.idleSeconds), baseline,
                "one interface open, one WriteData written and its chain ended");
    api.close(device.row);
}

// The device leaves; nobody set an error callback or calls anything.
void measureUnplugIdle(FigureSheet& sheet, const Settings& settings, const CostDelta& baseline) {
    const Device& device = g_devices.front();
    if (api.setup(device.row) != JUXHID_OK || !g_channel.unplug(device.name)) return;
    Sleep(1500);  // the reader's read fails and it settles
    addIdle(sheet, "idle, 1 interface after an unhandled unplug", idleFor(settings.idleSeconds), baseline,
            "the device was unplugged under an open interface; no error callback, no calls since");
    api.close(device.row);
}

int measure(const Settings& settings, size_t wanted, const std::string& sheetPath) {
    FigureSheet sheet("wine-kernel64");
    const int64_t startNs = localNowNs();
    const ClockOffset first = calibrate();
    if (!first.known()) return std::fprintf(stderr, "the device side's clock could not be read\n"), 1;
    g_offset = first;
    describeClocks(sheet, first);
    const size_t devices = findDevices(wanted);
    std::printf("  %zu of %zu devices listed by Wine\n", devices, wanted);
    if (devices == 0) return std::fprintf(stderr, "Wine listed none of the devices\n"), 1;
    sheet.setContext("interfaces", std::to_string(devices) + " uhid devices listed of " + std::to_string(wanted) +
                                       " played");
    sheet.setContext("ReadData pause", "Sleep(1) whenever no interface has anything unread");
    sheet.setContext("bare reader", "a thread per device in ReadFile on its own handle, driver queue " +
                                        std::to_string(kQueue) + " as the library asks");
    sheet.setContext("winedevice", std::to_string(wineDeviceProcesses()) +
                                       " winedevice.exe process(es) counted through Z:\\proc");
    sheet.setContext("Wine server counters", std::to_string(wineServerProcesses()) +
                                                 " wineserver process(es) counted through Z:\\proc");
    sheet.setContext("process counters", bench::processCostSource());

    CostDelta baseline;
    measureIdle(sheet, settings, devices, &baseline);
    double highest = 0;
    measureOneInterface(sheet, settings, &highest);
    measureOtherRates(sheet, settings, highest);
    measureScaling(sheet, settings, devices);
    measurePacingIdle(sheet, settings, baseline);
    measureUnplugIdle(sheet, settings, baseline);

    const ClockOffset last = calibrate();
    char drift[240];
    std::snprintf(drift, sizeof drift,
                  "offset at the end %.1f us (round trip %.1f us): %.1f ppm from the first; the runs used the "
                  "shortest round trip found before each, last %.1f us (round trip %.1f us)",
                  static_cast<double>(last.offsetNs) / 1000.0, static_cast<double>(last.rttNs) / 1000.0,
                  driftPpm(first, last, localNowNs() - startNs), static_cast<double>(g_offset.offsetNs) / 1000.0,
                  static_cast<double>(g_offset.rttNs) / 1000.0);
    sheet.setContext("clock drift", drift);
    sheet.print(stdout);
    std::fflush(stdout);
    if (!sheetPath.empty() && !sheet.writeJson(sheetPath))
        return std::fprintf(stderr, "the sheet could not be written to %s\n", sheetPath.c_str()), 1;
    for (const bench::Figure& figure : sheet.figures())
        if (figure.section == "Delivery" && figure.name.find(": arrived") != std::string::npos && figure.value == 0)
            return std::fprintf(stderr, "nothing arrived in %s\n", figure.name.c_str()), 1;
    return 0;
}

}  // namespace
}  // namespace juxhid::winekernel

int main(int argc, char** argv) {
    using namespace juxhid::winekernel;
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s PORT short|full DEVICES [SHEET.json]\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[2];
    if (!g_channel.connect(static_cast<uint16_t>(std::atoi(argv[1])))) {
        std::fprintf(stderr, "no device side on port %s\n", argv[1]);
        return 2;
    }
    auto library = std::make_unique<juxhid::test::LoadedLibrary>("juxhid.dll");
    if (!library->loaded() || !api.bind(*library)) {
        std::fprintf(stderr, "juxhid.dll could not be loaded (error %lu)\n", GetLastError());
        return 2;
    }
    std::printf("measuring on Wine's HID stack (%s)\n", mode.c_str());
    const int result = measure(mode == "full" ? kFull : kShort, static_cast<size_t>(std::atoi(argv[3])),
                               argc > 4 ? argv[4] : "");
    g_channel.close();
    return result;
}
