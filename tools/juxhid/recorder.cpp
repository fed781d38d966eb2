#include "recorder.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <vector>

#include "juxhid.h"
#include "juxhid_status.h"
#include "messages.h"

namespace juxhid::tool {
namespace {

// The callbacks carry no context, so the one recording lives here. The
// mutex keeps a line whole when Ctrl-C closes the file while a callback
// writes.
struct Recording {
    std::mutex mutex;
    std::FILE* file = nullptr;
    std::chrono::steady_clock::time_point start;
    std::vector<uint8_t> report;
    size_t written = 0;
};
Recording g_recording;

unsigned long long microsecondsSinceStart() {
    const auto elapsed = std::chrono::steady_clock::now() - g_recording.start;
    return static_cast<unsigned long long>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
}

void writeReport(unsigned long long us) {
    std::fprintf(g_recording.file, "%llu ", us);
    for (uint8_t byte : g_recording.report) std::fprintf(g_recording.file, "%02x", byte);
    std::fputc('\n', g_recording.file);
    ++g_recording.written;
}

}  // namespace

bool startRecording(const std::string& path, uint32_t vendor, const ListedDevice& device) {
    std::lock_guard<std::mutex> hold(g_recording.mutex);
    // Binary: the same LF line ends on every system, so recordings diff alike.
    g_recording.file = std::fopen(path.c_str(), "wb");
    if (g_recording.file == nullptr) {
        complain("cannot write the recording to '%s'", path.c_str());
        return false;
    }
    g_recording.start = std::chrono::steady_clock::now();
    g_recording.report.assign(static_cast<size_t>(device.inputLength > 0 ? device.inputLength : 1), 0);
    std::fprintf(g_recording.file,
                 "juxhid-recording 1\nvendor 0x%04X\nproduct 0x%04X\nusage-page 0x%04X\nusage 0x%04X\n"
                 "input-length %d\noutput-length %d\n",
                 static_cast<unsigned>(vendor), static_cast<unsigned>(device.productId),
                 static_cast<unsigned>(device.usagePage), static_cast<unsigned>(device.usage),
                 static_cast<int>(device.inputLength), static_cast<int>(device.outputLength));
    return true;
}

void recordArrivals(int32_t index) {
    std::lock_guard<std::mutex> hold(g_recording.mutex);
    if (g_recording.file == nullptr) return;
    while (ReadData(index, g_recording.report.data()) == JUXHID_OK) writeReport(microsecondsSinceStart());
    std::fflush(g_recording.file);
}

void recordUnplug(int32_t index) {
    std::lock_guard<std::mutex> hold(g_recording.mutex);
    if (g_recording.file == nullptr) return;
    // The error callback can come before the data callback has taken the
    // device's last reports; they are still stored, and precede the unplug.
    while (ReadData(index, g_recording.report.data()) == JUXHID_OK) writeReport(microsecondsSinceStart());
    std::fprintf(g_recording.file, "unplug %llu\n", microsecondsSinceStart());
    std::fflush(g_recording.file);
}

size_t finishRecording() {
    std::lock_guard<std::mutex> hold(g_recording.mutex);
    if (g_recording.file != nullptr) std::fclose(g_recording.file);
    g_recording.file = nullptr;
    return g_recording.written;
}

}  // namespace juxhid::tool
