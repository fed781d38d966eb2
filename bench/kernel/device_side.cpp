#include "kernel/device_side.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "kernel/run_tally.h"
#include "kernel/uhid_device.h"
#include "support/stamp.h"

namespace juxhid::bench::kernel {
namespace {

using juxhid::kernel::Bytes;
using juxhid::kernel::DeviceIdentity;
using juxhid::kernel::UhidDevice;

constexpr int kPlugLimitMs = 15'000;  // per device: uhid's own wait is 10 s
constexpr int kAnswerLimitMs = 15'000;
constexpr double kSlowestCarry = 500;  // reports per second

// Vendor page 0xFF00, usage 1: 32-byte input and 8-byte output reports.
const Bytes kDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
                           0x95, 0x20, 0x09, 0x01, 0x81, 0x02, 0x95, 0x08, 0x09, 0x02, 0x91, 0x02, 0xC0};

void sleepUntil(uint64_t ns) {
    const timespec at{static_cast<time_t>(ns / 1'000'000'000ULL), static_cast<long>(ns % 1'000'000'000ULL)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

// The child's side: the devices, and the commands that play them.
class Devices {
public:
    std::string plug(uint32_t count) {
        std::string nodes = "nodes";
        for (uint32_t i = 0; i < count; ++i) {
            const auto product = static_cast<uint16_t>(kFirstProduct + i);
            devices_.push_back(std::make_unique<UhidDevice>(
                DeviceIdentity{kVendor, product, "measure" + std::to_string(i), kDescriptor}));
            if (!devices_.back()->plug()) return "failed";
            nodes += " " + devices_.back()->node();
        }
        return nodes;
    }

    // A late wake-up catches up on every round due, as a bus delivers the
    // reports of the frames it was busy for.
    std::string send(uint32_t count, double rate, uint32_t rounds, uint8_t run) {
        if (count > devices_.size() || rate <= 0) return "failed";
        uint8_t whole[1 + kPayloadBytes] = {};
        Bytes payload(kPayloadBytes);
        const uint64_t start = monotonicNs();
        uint64_t first = 0;
        uint64_t last = 0;
        for (uint32_t round = 0; round < rounds; ++round) {
            sleepUntil(start + static_cast<uint64_t>(static_cast<double>(round) * 1e9 / rate));
            for (uint32_t device = 0; device < count; ++device) {
                const uint64_t now = monotonicNs();
                writeStamp(whole, Stamp{run, round, now});
                whole[1 + kDeviceByte] = static_cast<uint8_t>(device);
                std::memcpy(payload.data(), whole + 1, kPayloadBytes);
                if (!devices_[device]->send(payload)) return "failed";
                if (round == 0 && device == 0) first = now;
                last = now;
            }
        }
        char answer[96];
        std::snprintf(answer, sizeof answer, "sent %u %" PRIu64 " %" PRIu64, rounds, first, last);
        return answer;
    }

    std::string unplug(uint32_t device) {
        if (device >= devices_.size()) return "failed";
        devices_[device]->unplug();
        return "ok";
    }

    std::string outputs(uint32_t device, uint32_t count) {
        if (device >= devices_.size()) return "failed";
        const size_t got = devices_[device]->waitForOutputs(count, std::chrono::seconds(10)).size();
        return got >= count ? "ok" : "failed";
    }

private:
    std::vector<std::unique_ptr<UhidDevice>> devices_;
};

std::string answer(Devices& devices, const char* line) {
    unsigned count = 0, rounds = 0, run = 0, device = 0;
    double rate = 0;
    if (std::sscanf(line, "plug %u", &count) == 1) return devices.plug(count);
    if (std::sscanf(line, "send %u %lf %u %u", &count, &rate, &rounds, &run) == 4)
        return devices.send(count, rate, rounds, static_cast<uint8_t>(run));
    if (std::sscanf(line, "unplug %u", &device) == 1) return devices.unplug(device);
    if (std::sscanf(line, "outputs %u %u", &device, &count) == 2) return devices.outputs(device, count);
    return "failed";
}

[[noreturn]] void serveDevices(int commands, int answers) {
    // Its sleeps end on time, not up to 50 us late.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    FILE* in = fdopen(commands, "r");
    FILE* out = fdopen(answers, "w");
    {
        Devices devices;
        char line[128];
        while (in != nullptr && out != nullptr && std::fgets(line, sizeof line, in) != nullptr) {
            if (std::strncmp(line, "quit", 4) == 0) break;
            std::fprintf(out, "%s\n", answer(devices, line).c_str());
            std::fflush(out);
        }
    }  // every device unplugged here
    _exit(0);
}

}  // namespace

DeviceSide::DeviceSide() {
    int down[2];
    int up[2];
    if (pipe2(down, O_CLOEXEC) != 0) return;
    if (pipe2(up, O_CLOEXEC) != 0) {
        close(down[0]);
        close(down[1]);
        return;
    }
    std::fflush(nullptr);
    child_ = fork();
    if (child_ == 0) {
        close(down[1]);
        close(up[0]);
        serveDevices(down[0], up[1]);
    }
    close(down[0]);
    close(up[1]);
    commands_ = down[1];
    answers_ = up[0];
    if (child_ < 0) std::fprintf(stderr, "measure: fork: %s\n", std::strerror(errno));
}

DeviceSide::~DeviceSide() {
    if (commands_ >= 0) {
        const char quit[] = "quit\n";
        [[maybe_unused]] const ssize_t written = write(commands_, quit, sizeof quit - 1);
        close(commands_);
    }
    if (answers_ >= 0) close(answers_);
    if (child_ <= 0) return;
    // Unplugging 25 devices takes well under this; a child that hangs is killed.
    for (int waited = 0; waited < 300; ++waited) {
        if (waitpid(child_, nullptr, WNOHANG) == child_) return;
        usleep(100'000);
    }
    kill(child_, SIGKILL);
    waitpid(child_, nullptr, 0);
}

// One command, one answer line within `limitMs`; empty when none came.
std::string DeviceSide::ask(const std::string& command, int limitMs) {
    if (child_ <= 0) return {};
    const std::string line = command + "\n";
    if (write(commands_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return {};
    std::string answer;
    const uint64_t deadline = monotonicNs() + static_cast<uint64_t>(limitMs) * 1'000'000ULL;
    for (;;) {
        const uint64_t now = monotonicNs();
        if (now >= deadline) break;
        pollfd readable{answers_, POLLIN, 0};
        const int left = static_cast<int>((deadline - now) / 1'000'000ULL) + 1;
        if (poll(&readable, 1, left) <= 0) continue;
        char c = 0;
        if (read(answers_, &c, 1) != 1) break;
        if (c == '\n') return answer;
        answer += c;
    }
    std::fprintf(stderr, "measure: no answer from the device side to \"%s\"\n", command.c_str());
    return {};
}

std::vector<std::string> DeviceSide::plug(uint32_t count) {
    const std::string answer = ask("plug " + std::to_string(count), kPlugLimitMs * static_cast<int>(count));
    if (answer.rfind("nodes", 0) != 0) return {};
    std::vector<std::string> nodes;
    for (size_t at = answer.find(' '); at != std::string::npos;) {
        const size_t next = answer.find(' ', at + 1);
        nodes.push_back(answer.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1));
        at = next;
    }
    return nodes.size() == count ? nodes : std::vector<std::string>{};
}

SendResult DeviceSide::send(uint32_t devices, double rate, uint32_t rounds, uint8_t run) {
    char command[96];
    std::snprintf(command, sizeof command, "send %u %.3f %u %u", devices, rate, rounds, static_cast<unsigned>(run));
    // The pacing itself takes rounds/rate; an emulated guest may fall far
    // behind it, but carries a few thousand reports a second at the least.
    const double paced = 4e3 * rounds / rate;
    const double carried = 1e3 * rounds * devices / kSlowestCarry;
    const int limitMs = kAnswerLimitMs + static_cast<int>(std::max(paced, carried));
    const std::string answer = ask(command, limitMs);
    SendResult result;
    unsigned long long first = 0, last = 0;
    unsigned done = 0;
    if (std::sscanf(answer.c_str(), "sent %u %llu %llu", &done, &first, &last) == 3) {
        result = SendResult{true, done, first, last};
    }
    return result;
}

bool DeviceSide::unplug(uint32_t device) { return ask("unplug " + std::to_string(device), kAnswerLimitMs) == "ok"; }

bool DeviceSide::receivedOutputs(uint32_t device, uint32_t count) {
    return ask("outputs " + std::to_string(device) + " " + std::to_string(count), kAnswerLimitMs) == "ok";
}

}  // namespace juxhid::bench::kernel
