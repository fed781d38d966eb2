// Device watches over hidraw: the kernel's device events on a netlink socket
// (the kernel's own multicast group, so it works with or without udev), with
// sysfs describing each node as it comes. A node's arrivals wait until its
// device file opens (udev sets its mode after the kernel's event), at most
// kReadyWaitMs; a node that goes while it waits is announced all the same,
// arrivals first. When the kernel dropped events (the socket's buffer ran
// over while a slow callback ran) the watch compares sysfs with what it
// announced and makes up the difference.
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hidraw/errno_translation.h"
#include "platform/hidraw/watch_node.h"

namespace juxhid::platform {

struct DeviceWatch {
    int socket = -1;
    std::deque<DeviceChange> ready;
    struct Waiting {
        std::vector<DeviceChange> arrivals;
        std::chrono::steady_clock::time_point since;
    };
    std::map<std::string, Waiting> waiting;                    // node name -> arrivals held back
    std::map<std::string, std::vector<DeviceChange>> announced;  // node name -> arrivals given
};

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kKernelEventGroup = 1;
constexpr int kReceiveBufferBytes = 1 << 20;
constexpr auto kReadyWaitMs = std::chrono::milliseconds(2000);
constexpr int kReadyProbeMs = 10;
constexpr size_t kEventBytes = 8192;

// ---- What becomes of one node ------------------------------------------------

void announceArrivals(DeviceWatch& watch, const std::string& node, std::vector<DeviceChange> arrivals) {
    for (const DeviceChange& arrival : arrivals) watch.ready.push_back(arrival);
    watch.announced[node] = std::move(arrivals);
}

void nodeRemoved(DeviceWatch& watch, const std::string& node) {
    if (auto held = watch.waiting.find(node); held != watch.waiting.end()) {
        announceArrivals(watch, node, std::move(held->second.arrivals));
        watch.waiting.erase(held);
    }
    auto given = watch.announced.find(node);
    if (given == watch.announced.end()) return;
    for (DeviceChange change : given->second) {
        change.arrived = false;
        watch.ready.push_back(change);
    }
    watch.announced.erase(given);
}

void nodeAdded(DeviceWatch& watch, const std::string& node) {
    // A number the kernel gives again while the old node's removal was lost.
    if (watch.announced.count(node) != 0 || watch.waiting.count(node) != 0) nodeRemoved(watch, node);
    std::vector<DeviceChange> arrivals = hidraw::describeNode(node.c_str());
    if (!arrivals.empty()) watch.waiting[node] = {std::move(arrivals), Clock::now()};
}

// Arrivals whose device file opens now, or that waited long enough (a host
// without access to the file sees the device listed too, and is refused
// when it opens it).
void releaseReady(DeviceWatch& watch) {
    for (auto held = watch.waiting.begin(); held != watch.waiting.end();) {
        if (hidraw::nodeOpens(held->first.c_str()) || Clock::now() - held->second.since > kReadyWaitMs) {
            announceArrivals(watch, held->first, std::move(held->second.arrivals));
            held = watch.waiting.erase(held);
        } else {
            ++held;
        }
    }
}

// After lost events: what sysfs shows against what was announced or held.
void resynchronise(DeviceWatch& watch) {
    const std::vector<std::string> present = hidraw::presentNodes();
    std::vector<std::string> gone;
    for (const auto& entry : watch.announced) gone.push_back(entry.first);
    for (const auto& entry : watch.waiting) gone.push_back(entry.first);
    for (const std::string& node : gone) {
        if (std::find(present.begin(), present.end(), node) == present.end()) nodeRemoved(watch, node);
    }
    for (const std::string& node : present) {
        if (watch.announced.count(node) == 0 && watch.waiting.count(node) == 0) nodeAdded(watch, node);
    }
}

// ---- The kernel's events -------------------------------------------------------

// "add@/devices/...\0ACTION=add\0SUBSYSTEM=hidraw\0DEVNAME=hidraw3\0...":
// the value of `key`, or empty.
std::string_view field(std::string_view message, std::string_view key) {
    size_t at = message.find('\0');
    while (at != std::string_view::npos && at + 1 < message.size()) {
        const size_t start = at + 1;
        const size_t end = message.find('\0', start);
        const std::string_view entry = message.substr(start, end == std::string_view::npos ? end : end - start);
        if (entry.size() > key.size() && entry.substr(0, key.size()) == key && entry[key.size()] == '=')
            return entry.substr(key.size() + 1);
        at = end;
    }
    return {};
}

void takeEvent(DeviceWatch& watch, std::string_view message) {
    if (field(message, "SUBSYSTEM") != "hidraw") return;
    std::string_view name = field(message, "DEVNAME");
    if (const size_t slash = name.rfind('/'); slash != std::string_view::npos) name.remove_prefix(slash + 1);
    if (name.empty()) return;
    const std::string_view action = field(message, "ACTION");
    if (action == "add") nodeAdded(watch, std::string(name));
    if (action == "remove") nodeRemoved(watch, std::string(name));
}

// Reads every event waiting on the socket. False when the socket failed for
// another reason than lost events.
bool drainSocket(DeviceWatch& watch) {
    char buffer[kEventBytes];
    for (;;) {
        sockaddr_nl sender{};
        iovec part{buffer, sizeof buffer - 1};
        msghdr header{};
        header.msg_name = &sender;
        header.msg_namelen = sizeof sender;
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        const ssize_t length = ::recvmsg(watch.socket, &header, MSG_DONTWAIT);
        if (length < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return true;
            if (errno != ENOBUFS) return false;
            resynchronise(watch);
            continue;
        }
        // Only the kernel speaks on its group; anything else is not an event.
        if (sender.nl_pid != 0 || (header.msg_flags & MSG_TRUNC) != 0) continue;
        buffer[length] = '\0';
        takeEvent(watch, std::string_view(buffer, static_cast<size_t>(length)));
    }
}

int openSocket(uint32_t* error) {
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    if (fd < 0) {
        *error = hidraw::translateErrno(errno, hidraw::Call::Open);
        return -1;
    }
    // A larger buffer rides out a slow callback; where it is refused, lost
    // events are made up from sysfs.
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = kKernelEventGroup;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        *error = hidraw::translateErrno(errno, hidraw::Call::Open);
        ::close(fd);
        return -1;
    }
    return fd;
}

int pollTimeoutMs(const DeviceWatch& watch, Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const long bounded = left < 0 ? 0 : left;
    return static_cast<int>(watch.waiting.empty() ? bounded : std::min<long>(bounded, kReadyProbeMs));
}

}  // namespace

DeviceWatch* deviceWatchOpen(bool present, uint32_t* error) {
    const int fd = openSocket(error);
    if (fd < 0) return nullptr;
    auto* watch = new (std::nothrow) DeviceWatch;
    if (watch == nullptr) {
        ::close(fd);
        *error = hidraw::kErrorNotEnoughMemory;
        return nullptr;
    }
    watch->socket = fd;
    // The socket listens before the nodes are read: a node that comes in
    // between is seen twice and announced once.
    if (present) {
        for (const std::string& node : hidraw::presentNodes()) nodeAdded(*watch, node);
    }
    return watch;
}

int32_t deviceWatchNext(DeviceWatch* watch, DeviceChange* change, uint32_t ms) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        releaseReady(*watch);
        if (!watch->ready.empty()) {
            *change = watch->ready.front();
            watch->ready.pop_front();
            return kWaitAcquired;
        }
        pollfd events{watch->socket, POLLIN, 0};
        const int timeout = pollTimeoutMs(*watch, deadline);
        const int outcome = ::poll(&events, 1, timeout);
        if (outcome < 0 && errno != EINTR) return kWaitFailed;
        if (outcome > 0 && !drainSocket(*watch)) return kWaitFailed;
        if (outcome == 0 && Clock::now() >= deadline && watch->ready.empty()) {
            releaseReady(*watch);
            if (watch->ready.empty()) return kWaitTimeout;
        }
    }
}

namespace {

std::atomic<StopEveryWatch> g_stopEveryWatch{nullptr};
constexpr uint32_t kUnloadJoinMs = 500;

// libjuxhid_watch.so's unload: every thread it has is a watch's, and each
// runs this library's code to its last instruction, so the watches are
// stopped and their threads joined before the code goes.
__attribute__((destructor)) void stopWatchesAtUnload() {
    const StopEveryWatch stop = g_stopEveryWatch.load();
    if (stop == nullptr) return;
    stop();
    threadWaitForAll(kUnloadJoinMs);
}

}  // namespace

void deviceWatchesStopAtUnload(StopEveryWatch stopEveryWatch) { g_stopEveryWatch.store(stopEveryWatch); }

void deviceWatchClose(DeviceWatch* watch) {
    if (watch == nullptr) return;
    ::close(watch->socket);
    delete watch;
}

}  // namespace juxhid::platform
