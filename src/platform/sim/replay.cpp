// Replaying a recording: the recorded device is attached, and a thread of the
// bus delivers its reports through the bus's own delivery path at their
// recorded times (scaled by the speed), or at speed 0 as fast as the device's
// read handles take them, and ends with the unplug when there was one.
//
// The replay's clock starts when the library has opened the device for
// reading and for writing, as SetupInterface does, just as the recording's
// clock started once the recorder had opened it: a host may take its time
// listing and opening without losing the first reports, and a recording
// that ends at once does not unplug the device in the middle of the open.
//
// The thread is a plain thread of the bus, not one of the library's, so it
// is not counted; but it runs the bus's code, which goes with the library,
// so the unload stops every replay not freed yet (the host still frees it).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/sim/bus.h"
#include "platform/sim/process_objects.h"
#include "platform/sim/recording.h"

struct JuxsimReplay {
    juxhid::sim::Recording recording;
    double speed = 1;
    std::shared_ptr<juxhid::sim::SimDevice> device;
    std::thread thread;
    std::mutex joinMutex;  // stop may be called from several threads at once
    bool stopRequested = false;  // under the bus mutex
    std::atomic<int32_t> delivered{0};
    std::mutex endMutex;
    std::condition_variable endChanged;
    bool ended = false;  // under endMutex
    JuxsimReplay* nextLive = nullptr;  // the list of replays not freed, under liveMutex
};

namespace juxhid::sim {
namespace {

// Every replay not freed yet: a plain list and mutex, nothing to destroy,
// since the unload that walks it runs among the exit handlers.
std::mutex liveMutex;
JuxsimReplay* liveReplays = nullptr;

void enlist(JuxsimReplay* replay) {
    std::lock_guard<std::mutex> hold(liveMutex);
    replay->nextLive = liveReplays;
    liveReplays = replay;
}

void delist(JuxsimReplay* replay) {
    std::lock_guard<std::mutex> hold(liveMutex);
    for (JuxsimReplay** link = &liveReplays; *link != nullptr; link = &(*link)->nextLive) {
        if (*link == replay) {
            *link = replay->nextLive;
            return;
        }
    }
}

// The last failed start of this thread, for juxsim_replay_error. Plain
// arrays: nothing to construct or destroy per thread.
constexpr size_t kErrorCapacity = 256;
thread_local char lastErrorText[kErrorCapacity];
thread_local int32_t lastErrorLine = 0;

void noteError(const RecordingError& error) {
    lastErrorLine = error.line;
    std::snprintf(lastErrorText, sizeof lastErrorText, "%s", error.text.c_str());
}

using Clock = std::chrono::steady_clock;

// Waits, bus mutex held, until the library has the device open for reading
// and writing; false when the replay is to end first (stopped, or the device
// unplugged).
bool awaitOpening(JuxsimReplay& replay, std::unique_lock<std::mutex>& hold) {
    SimDevice& device = *replay.device;
    const auto opened = [&] { return !device.readHandles.empty() && device.writeHandles > 0; };
    device.readSide.wait(hold, [&] { return replay.stopRequested || !device.attached || opened(); });
    return !replay.stopRequested && device.attached;
}

// Waits, bus mutex held, until the moment has come (speed > 0) or every read
// handle has room (speed 0); false when the replay is to end first.
bool awaitTurn(JuxsimReplay& replay, std::unique_lock<std::mutex>& hold, Clock::time_point due) {
    SimDevice& device = *replay.device;
    const auto ending = [&] { return replay.stopRequested || !device.attached; };
    if (replay.speed == 0) {
        device.readSide.wait(hold, [&] { return ending() || readHandlesHaveRoom(device); });
    } else {
        device.readSide.wait_until(hold, due, ending);
    }
    return !ending();
}

// A real device's reader has taken every report it was sent before the
// unplug came, or the recorder could not have written them; a replay that
// unplugs while a read handle still holds one would lose what the recording
// shows was taken (at speed 0 the unplug follows the last report at once).
// So the unplug waits, bus mutex held, for every read handle to be drained,
// for at most kDrainBeforeUnplug: a reader that stopped reading (the host
// cancelled it, or a fault holds it) must not hold the unplug back for good.
constexpr auto kDrainBeforeUnplug = std::chrono::seconds(5);

bool readHandlesAreDrained(const SimDevice& device) {
    for (const juxhid::platform::Device* handle : device.readHandles)
        if (!handle->cancelled && !handle->reports.empty()) return false;
    return true;
}

bool awaitDrained(JuxsimReplay& replay, std::unique_lock<std::mutex>& hold) {
    SimDevice& device = *replay.device;
    const auto ending = [&] { return replay.stopRequested || !device.attached; };
    device.readSide.wait_for(hold, kDrainBeforeUnplug, [&] { return ending() || readHandlesAreDrained(device); });
    return !ending();
}

Clock::time_point dueAt(const JuxsimReplay& replay, Clock::time_point start, uint64_t us) {
    if (replay.speed == 0) return start;
    // A tiny speed must not overflow the clock: a century is "never" here.
    constexpr double kCenturyUs = 100.0 * 365 * 24 * 3600 * 1e6;
    const double scaled = std::min(static_cast<double>(us) / replay.speed, kCenturyUs);
    return start + std::chrono::microseconds(static_cast<int64_t>(scaled));
}

void play(JuxsimReplay* replay) {
    const Recording& recording = replay->recording;
    std::unique_lock<std::mutex> hold(bus().mutex);
    if (awaitOpening(*replay, hold)) {
        const Clock::time_point start = Clock::now();
        size_t n = 0;
        for (; n < recording.reportCount(); ++n) {
            if (!awaitTurn(*replay, hold, dueAt(*replay, start, recording.timesUs[n]))) break;
            deliverToReadHandles(*replay->device, recording.report(n), recording.device.inputReportLength);
            replay->delivered.fetch_add(1, std::memory_order_relaxed);
        }
        const bool complete = n == recording.reportCount();
        if (complete && recording.unplugged && awaitTurn(*replay, hold, dueAt(*replay, start, recording.unplugUs)) &&
            awaitDrained(*replay, hold)) {
            unplug(*replay->device);
            std::erase_if(bus().attached, [&](const auto& attached) { return attached == replay->device; });
        }
    }
    hold.unlock();
    std::lock_guard<std::mutex> ended(replay->endMutex);
    replay->ended = true;
    replay->endChanged.notify_all();
}

bool usableSpeed(double speed) { return std::isfinite(speed) && speed >= 0; }

// Attaches the recorded device; the replay then holds it.
bool attachRecorded(JuxsimReplay& replay) {
    const int32_t id = juxsim_attach(&replay.recording.device);
    if (id <= 0) return false;
    std::lock_guard<std::mutex> hold(bus().mutex);
    // Gone already when a reset came in between.
    const auto found = bus().known.find(id);
    if (found == bus().known.end()) return false;
    replay.device = found->second;
    return true;
}

// Takes the device off the bus again, when the replay could not start.
void detachRecorded(JuxsimReplay& replay) {
    if (replay.device != nullptr) juxsim_detach(replay.device->id);
}

bool startThread(JuxsimReplay& replay) {
    try {
        replay.thread = std::thread(play, &replay);
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace

// Holding the list, so that a free cannot delete a replay being stopped.
// A replay the host never freed can no longer be freed once the library is
// gone: its thread was stopped at unload, and its record goes with the rest.
void releaseReplays() {
    std::lock_guard<std::mutex> hold(liveMutex);
    while (JuxsimReplay* replay = liveReplays) {
        liveReplays = replay->nextLive;
        juxsim_replay_stop(replay);
        delete replay;
    }
}

void stopEveryReplay() {
    std::lock_guard<std::mutex> hold(liveMutex);
    for (JuxsimReplay* replay = liveReplays; replay != nullptr; replay = replay->nextLive)
        juxsim_replay_stop(replay);
}

}  // namespace juxhid::sim

using namespace juxhid::sim;

extern "C" JUXHID_API JuxsimReplay* JUXHID_CALL juxsim_replay_start(const char* path, double speed) {
    if (!usableSpeed(speed)) {
        noteError({0, "the speed must be a finite number, 0 or above"});
        return nullptr;
    }
    auto* replay = new JuxsimReplay;
    replay->speed = speed;
    RecordingError error;
    if (!readRecording(path, replay->recording, error)) {
        noteError(error);
        delete replay;
        return nullptr;
    }
    if (!attachRecorded(*replay) || !startThread(*replay)) {
        noteError({0, "the simulated bus could not attach the device or start the replay"});
        detachRecorded(*replay);
        delete replay;
        return nullptr;
    }
    noteError({0, ""});
    enlist(replay);
    return replay;
}

extern "C" JUXHID_API int32_t JUXHID_CALL juxsim_replay_error(char* text, uint32_t capacity) {
    if (text != nullptr && capacity > 0) std::snprintf(text, capacity, "%s", lastErrorText);
    return lastErrorLine;
}

extern "C" JUXHID_API int32_t JUXHID_CALL juxsim_replay_device(const JuxsimReplay* replay) {
    return replay != nullptr ? replay->device->id : -1;
}

extern "C" JUXHID_API int32_t JUXHID_CALL juxsim_replay_delivered(const JuxsimReplay* replay) {
    return replay != nullptr ? replay->delivered.load(std::memory_order_relaxed) : -1;
}

extern "C" JUXHID_API int32_t JUXHID_CALL juxsim_replay_wait(JuxsimReplay* replay, uint32_t ms) {
    if (replay == nullptr) return -1;
    std::unique_lock<std::mutex> hold(replay->endMutex);
    return replay->endChanged.wait_for(hold, std::chrono::milliseconds(ms), [&] { return replay->ended; }) ? 1 : 0;
}

extern "C" JUXHID_API void JUXHID_CALL juxsim_replay_stop(JuxsimReplay* replay) {
    if (replay == nullptr) return;
    {
        std::lock_guard<std::mutex> hold(bus().mutex);
        replay->stopRequested = true;
        replay->device->readSide.notify_all();
    }
    std::lock_guard<std::mutex> joining(replay->joinMutex);
    if (replay->thread.joinable()) replay->thread.join();
}

extern "C" JUXHID_API void JUXHID_CALL juxsim_replay_free(JuxsimReplay* replay) {
    if (replay == nullptr) return;
    delist(replay);
    juxsim_replay_stop(replay);
    delete replay;
}
