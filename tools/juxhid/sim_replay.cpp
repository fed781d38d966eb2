// juxhid-sim replay: the tool as a host that drains a replayed device with
// ReadData as fast as it can, and says how many reports the replay delivered,
// how many the host read, and how fast.
#include "sim_replay.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include "args.h"
#include "commands.h"
#include "device_session.h"
#include "juxhid.h"
#include "juxhid_status.h"
#include "messages.h"

namespace juxhid::tool {
namespace {

using Clock = std::chrono::steady_clock;

// After the replay has ended, the library's reader may still be moving
// reports from the device into the ring: the host reads on until it has
// found nothing for this long.
constexpr auto kQuietEnd = std::chrono::milliseconds(200);

struct Drained {
    size_t read = 0;
    bool gone = false;
    double replaySeconds = 0;
};

Drained drain(JuxsimReplay* replay, int32_t index, int32_t readLength) {
    std::vector<uint8_t> report(static_cast<size_t>(readLength > 0 ? readLength : 1));
    Drained out;
    const Clock::time_point opened = Clock::now();
    Clock::time_point lastFound = opened;
    bool ended = false;
    while (true) {
        const int32_t status = ReadData(index, report.data());
        if (status == JUXHID_OK) {
            ++out.read;
            lastFound = Clock::now();
            continue;
        }
        out.gone = status == JUXHID_READ_DEVICE_GONE;
        if (status != JUXHID_READ_EMPTY) break;
        if (!ended && juxsim_replay_wait(replay, 0) == 1) {
            ended = true;
            out.replaySeconds = std::chrono::duration<double>(Clock::now() - opened).count();
        }
        if (ended && Clock::now() - lastFound > kQuietEnd) break;
        std::this_thread::yield();
    }
    if (!ended) {
        juxsim_replay_wait(replay, 60000);
        out.replaySeconds = std::chrono::duration<double>(Clock::now() - opened).count();
    }
    return out;
}

}  // namespace

JuxsimReplay* startReplay(const std::string& path, double speed) {
    JuxsimReplay* replay = juxsim_replay_start(path.c_str(), speed);
    if (replay == nullptr) {
        char why[256] = {};
        juxsim_replay_error(why, sizeof why);
        complain("%s: %s", path.c_str(), why);
    }
    return replay;
}

std::optional<uint32_t> recordedVendor(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("vendor ", 0) == 0) return parseNumber(std::string_view(line).substr(7), 0xFFFF);
    }
    return std::nullopt;
}

int runReplay(const CommandLine& line) {
    JuxsimReplay* replay = startReplay(line.replayFile, line.speed);
    if (replay == nullptr) return kExitFailed;
    const std::optional<uint32_t> recorded = recordedVendor(line.replayFile);
    if (!recorded) {
        complain("%s: no vendor line found on reading it again", line.replayFile.c_str());
        juxsim_replay_free(replay);
        return kExitFailed;
    }
    const uint32_t vendor = *recorded;
    int32_t index = 0;  // after the devices --sim-attach put on the bus before
    for (const SimDeviceSpec& spec : line.simAttach) index += spec.vendorId == vendor ? 1 : 0;
    int exitStatus = kExitFailed;
    {
        OpenInterface device;
        if (device.open(vendor, index)) {
            std::printf("replaying %s at speed %g: vendor 0x%04X, index %d, input reports of %d bytes\n",
                        line.replayFile.c_str(), line.speed, static_cast<unsigned>(vendor), static_cast<int>(index),
                        static_cast<int>(device.readLength()));
            std::fflush(stdout);
            const Drained drained = drain(replay, device.index(), device.readLength());
            if (drained.gone) device.markDeviceGone();
            const int32_t delivered = juxsim_replay_delivered(replay);
            const double rate = drained.replaySeconds > 0 ? delivered / drained.replaySeconds : 0;
            std::printf("delivered %d reports in %.3f s (%.0f reports/s)%s\n"
                        "the host read %zu with ReadData, lost %lld\n",
                        static_cast<int>(delivered), drained.replaySeconds, rate,
                        drained.gone ? ", then the unplug" : "", drained.read,
                        static_cast<long long>(delivered) - static_cast<long long>(drained.read));
            exitStatus = kExitOk;
        }
    }
    juxsim_replay_free(replay);
    return exitStatus;
}

}  // namespace juxhid::tool
