// The device side of the Wine-over-uhid stage: a native Linux program in the
// test guest that plays HID devices through /dev/uhid (tests/kernel's
// UhidDevice) on the orders of the Windows test program, which runs under
// Wine beside it. Orders and answers are lines over one TCP connection on the
// guest's loopback, the one channel both sides have without anything in
// between: the Windows side reaches it through Winsock, which Wine maps
// straight onto the guest's sockets.
//
//   plug NAME KIND VENDOR PRODUCT   KIND plain, numbered or composite; ok NODE
//   send NAME FIRST COUNT PAUSE_US  reports FIRST.. back to back or paced; ok MS
//   outputs NAME COUNT LIMIT_MS     ok N, then N lines: HEX MICROSECONDS
//   unplug NAME                     ok
//   clock                           ok NS: the monotonic clock now
//   stream NAME,NAME.. RATE COUNT RUN
//                                   COUNT stamped reports to each device at
//                                   RATE per second each; ok RATE_REACHED
//   bye
//
// A report numbered n carries n in its first two bytes (after the report ID
// of a numbered device) and bytes derived from n after them. A stamped
// device (KIND stamped: 16-byte input reports) streams reports that carry
// the run, their sequence number, the monotonic clock when they were written
// to /dev/uhid (bench/support/stamp.h), and the device's place in the order.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "kernel/uhid_device.h"
#include "support/stamp.h"

namespace juxhid::kernel {
namespace {

// Vendor page 0xFF00, usage 1: 8-byte input and output reports, no IDs.
const Bytes kPlain = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
                      0x95, 0x08, 0x09, 0x01, 0x81, 0x02, 0x09, 0x02, 0x91, 0x02, 0xC0};
// The same collection with report ID 1 and 4-byte reports.
const Bytes kNumbered = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x15, 0x00, 0x26, 0xFF,
                         0x00, 0x75, 0x08, 0x95, 0x04, 0x09, 0x01, 0x81, 0x02, 0x09, 0x02, 0x91, 0x02, 0xC0};
// Two top-level collections: 0xFF00/1 with report 1 (8 in, 8 out) and
// 0xFF01/2 with input reports 2 (4 bytes) and 3 (16 bytes), output 3 (2).
const Bytes kTwoCollections = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
    0x95, 0x08, 0x09, 0x01, 0x81, 0x02, 0x09, 0x02, 0x91, 0x02, 0xC0, 0x06, 0x01, 0xFF, 0x09, 0x02,
    0xA1, 0x01, 0x85, 0x02, 0x95, 0x04, 0x09, 0x03, 0x81, 0x02, 0x85, 0x03, 0x95, 0x10, 0x09, 0x04,
    0x81, 0x02, 0x95, 0x02, 0x09, 0x05, 0x91, 0x02, 0xC0};

// Vendor page 0xFF00, usage 1: 16-byte input reports (room for a stamp), 8-byte output.
const Bytes kStamped = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
                        0x95, 0x10, 0x09, 0x01, 0x81, 0x02, 0x95, 0x08, 0x09, 0x02, 0x91, 0x02, 0xC0};
constexpr size_t kStampedPayload = 16;
// Where a stamped report carries the device's place in a stream's order.
constexpr size_t kStreamPlace = bench::kStampBytes;

int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

void sleepUntilNs(int64_t dueNs) {
    const timespec due{static_cast<time_t>(dueNs / 1'000'000'000), static_cast<long>(dueNs % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) != 0) {
    }
}

struct Played {
    std::unique_ptr<UhidDevice> device;
    uint8_t reportId;       // 0: unnumbered
    size_t payload;         // bytes after the ID
};

Bytes numbered(const Played& played, uint32_t sequence) {
    Bytes report;
    if (played.reportId != 0) report.push_back(played.reportId);
    for (size_t at = 0; at < played.payload; ++at) {
        const uint8_t byte = at == 0   ? static_cast<uint8_t>(sequence)
                             : at == 1 ? static_cast<uint8_t>(sequence >> 8)
                                       : static_cast<uint8_t>(sequence * 7 + at);
        report.push_back(byte);
    }
    return report;
}

std::string hex(const Bytes& bytes) {
    std::string text;
    char pair[3];
    for (const uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

class Server {
public:
    void attach(int connection) { connection_ = connection; }

    // Plugs a device before any order comes: NAME:KIND:VENDOR:PRODUCT.
    bool plugAtStart(std::string spec) {
        for (char& c : spec)
            if (c == ':') c = ' ';
        std::istringstream words(spec);
        std::string name;
        words >> name;
        const std::string answer = plug(name, words);
        std::printf("device_server: %s %s\n", name.c_str(), answer.c_str());
        return answer.rfind("ok", 0) == 0;
    }

    void serve() {
        std::string line;
        while (readLine(&line)) {
            std::istringstream words(line);
            std::string order, name;
            words >> order >> name;
            if (order == "bye") break;
            answer(perform(order, name, words));
        }
        for (auto& [name, played] : devices_) played.device->unplug();
    }

private:
    std::string perform(const std::string& order, const std::string& name, std::istringstream& words) {
        if (order == "plug") return plug(name, words);
        if (order == "clock") return "ok " + std::to_string(monotonicNs());
        if (order == "stream") return stream(name, words);
        const auto found = devices_.find(name);
        if (found == devices_.end()) return "error no device " + name;
        Played& played = found->second;
        if (order == "unplug") {
            played.device->unplug();
            return "ok";
        }
        if (order == "send") return send(played, words);
        if (order == "outputs") return outputs(played, words);
        return "error unknown order " + order;
    }

    std::string plug(const std::string& name, std::istringstream& words) {
        std::string kind;
        unsigned vendor = 0, product = 0;
        words >> kind >> std::hex >> vendor >> product;
        auto found = devices_.find(name);
        if (found == devices_.end()) {
            Played played{};
            if (kind == "plain") played = Played{nullptr, 0, 8};
            else if (kind == "numbered") played = Played{nullptr, 1, 4};
            else if (kind == "composite") played = Played{nullptr, 1, 8};
            else if (kind == "stamped") played = Played{nullptr, 0, kStampedPayload};
            else return "error unknown kind " + kind;
            const Bytes& descriptor = kind == "plain"      ? kPlain
                                      : kind == "numbered" ? kNumbered
                                      : kind == "stamped"  ? kStamped
                                                           : kTwoCollections;
            played.device = std::make_unique<UhidDevice>(DeviceIdentity{
                static_cast<uint16_t>(vendor), static_cast<uint16_t>(product), name, descriptor});
            found = devices_.emplace(name, std::move(played)).first;
        }
        if (!found->second.device->plug()) return "error plug failed";
        return "ok " + found->second.device->node();
    }

    std::string send(Played& played, std::istringstream& words) {
        uint32_t first = 0, count = 0, pauseUs = 0;
        words >> first >> count >> pauseUs;
        const auto start = Clock::now();
        for (uint32_t sequence = first; sequence < first + count; ++sequence) {
            if (!played.device->send(numbered(played, sequence))) return "error send failed";
            if (pauseUs > 0) std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        return "ok " + std::to_string(ms);
    }

    // Each tick on an absolute schedule (a late tick is caught up at once, as
    // a device's queued reports would be), one report to each device, each
    // stamped just before its write. The rate each device reached is the
    // answer: under emulation the guest may not keep up with the one asked.
    std::string stream(const std::string& names, std::istringstream& words) {
        double rate = 0;
        uint32_t count = 0;
        unsigned run = 0;
        words >> rate >> count >> run;
        std::vector<Played*> streamed;
        std::istringstream list(names);
        for (std::string name; std::getline(list, name, ',');) {
            const auto found = devices_.find(name);
            if (found == devices_.end() || found->second.payload != kStampedPayload) return "error no stamped " + name;
            streamed.push_back(&found->second);
        }
        if (rate <= 0 || count == 0 || streamed.empty()) return "error stream needs devices, a rate and a count";
        const int64_t periodNs = static_cast<int64_t>(1e9 / rate);
        Bytes report(bench::kShortestStampedReport + kStampedPayload);
        const int64_t start = monotonicNs();
        for (uint32_t sequence = 0; sequence < count; ++sequence) {
            sleepUntilNs(start + periodNs * sequence);
            for (size_t place = 0; place < streamed.size(); ++place) {
                report[1 + kStreamPlace] = static_cast<uint8_t>(place);
                bench::Stamp stamp{static_cast<uint8_t>(run), sequence, static_cast<uint64_t>(monotonicNs())};
                bench::writeStamp(report.data(), stamp);
                if (!streamed[place]->device->send(Bytes(report.begin() + 1, report.begin() + 1 + kStampedPayload)))
                    return "error send failed";
            }
        }
        const double seconds = static_cast<double>(monotonicNs() - start) / 1e9;
        return "ok " + std::to_string(count > 1 ? (count - 1) / seconds : rate);
    }

    std::string outputs(Played& played, std::istringstream& words) {
        size_t count = 0;
        long limitMs = 0;
        words >> count >> limitMs;
        const std::vector<Output> got =
            played.device->waitForOutputs(count, std::chrono::milliseconds(limitMs));
        std::string text = "ok " + std::to_string(got.size());
        for (const Output& output : got) {
            const auto us = std::chrono::duration_cast<std::chrono::microseconds>(output.at.time_since_epoch());
            text += "\n" + hex(output.bytes) + " " + std::to_string(us.count());
        }
        return text;
    }

    bool readLine(std::string* line) {
        line->clear();
        char byte = 0;
        for (;;) {
            const ssize_t got = ::recv(connection_, &byte, 1, 0);
            if (got <= 0) return false;
            if (byte == '\n') return true;
            if (byte != '\r') line->push_back(byte);
        }
    }

    void answer(const std::string& text) {
        const std::string line = text + "\n";
        size_t sent = 0;
        while (sent < line.size()) {
            const ssize_t put = ::send(connection_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
            if (put <= 0) return;
            sent += static_cast<size_t>(put);
        }
    }

    int connection_ = -1;
    std::map<std::string, Played> devices_;
};

}  // namespace
}  // namespace juxhid::kernel

// device_server PORT [NAME:KIND:VENDOR:PRODUCT...]: plugs the devices named,
// listens on 127.0.0.1:PORT, serves one connection, and ends when it closes
// (every device still plugged is unplugged).
int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PORT [NAME:KIND:VENDOR:PRODUCT...]\n", argv[0]);
        return 2;
    }
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0) {
        std::perror("device_server: listen");
        return 1;
    }
    juxhid::kernel::Server server;
    for (int at = 2; at < argc; ++at)
        if (!server.plugAtStart(argv[at])) return 1;
    std::printf("device_server: listening on 127.0.0.1:%s\n", argv[1]);
    std::fflush(stdout);
    const int connection = ::accept(listener, nullptr, nullptr);
    if (connection < 0) {
        std::perror("device_server: accept");
        return 1;
    }
    ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    server.attach(connection);
    server.serve();
    ::close(connection);
    ::close(listener);
    return 0;
}
