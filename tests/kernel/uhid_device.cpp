#include "kernel/uhid_device.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace juxhid::kernel {

namespace {

constexpr auto kPlugLimit = std::chrono::seconds(10);
constexpr int kEventPollMs = 20;

bool writeEvent(int fd, const uhid_event& event) {
    for (;;) {
        const ssize_t written = ::write(fd, &event, sizeof event);
        if (written == static_cast<ssize_t>(sizeof event)) return true;
        if (written < 0 && errno == EINTR) continue;
        std::fprintf(stderr, "uhid: event %u: %s\n", event.type, written < 0 ? std::strerror(errno) : "short write");
        return false;
    }
}

void copyText(uint8_t* into, size_t capacity, const std::string& text) {
    std::memcpy(into, text.c_str(), std::min(capacity - 1, text.size()));
}

std::string fileText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

UhidDevice::UhidDevice(DeviceIdentity identity) : identity_(std::move(identity)) {}

UhidDevice::~UhidDevice() { unplug(); }

bool UhidDevice::plug() {
    if (fd_ >= 0) return true;
    fd_ = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
        std::fprintf(stderr, "uhid: /dev/uhid: %s\n", std::strerror(errno));
        return false;
    }
    uhid_event event{};
    event.type = UHID_CREATE2;
    uhid_create2_req& create = event.u.create2;
    copyText(create.name, sizeof create.name, "JUXHID test device " + identity_.uniq);
    copyText(create.phys, sizeof create.phys, "uhid/" + identity_.uniq);
    copyText(create.uniq, sizeof create.uniq, identity_.uniq);
    create.rd_size = static_cast<uint16_t>(identity_.descriptor.size());
    create.bus = identity_.bus;
    create.vendor = identity_.vendorId;
    create.product = identity_.productId;
    std::memcpy(create.rd_data, identity_.descriptor.data(), identity_.descriptor.size());
    if (!writeEvent(fd_, event)) return false;
    stop_ = false;
    events_ = std::thread([this] { serveEvents(); });
    const auto deadline = Clock::now() + kPlugLimit;
    while (Clock::now() < deadline) {
        node_ = findNode();
        if (!node_.empty()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::fprintf(stderr, "uhid: no hidraw node for device %s after 10 s\n", identity_.uniq.c_str());
    return false;
}

void UhidDevice::unplug() {
    if (fd_ < 0) return;
    uhid_event event{};
    event.type = UHID_DESTROY;
    writeEvent(fd_, event);
    stop_ = true;
    if (events_.joinable()) events_.join();
    ::close(fd_);
    fd_ = -1;
    node_.clear();
}

bool UhidDevice::send(const Bytes& report) {
    if (fd_ < 0 || report.size() > UHID_DATA_MAX) return false;
    uhid_event event{};
    event.type = UHID_INPUT2;
    event.u.input2.size = static_cast<uint16_t>(report.size());
    std::memcpy(event.u.input2.data, report.data(), report.size());
    return writeEvent(fd_, event);
}

std::vector<Output> UhidDevice::waitForOutputs(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(mutex_);
    arrived_.wait_for(hold, limit, [&] { return outputs_.size() >= count; });
    return outputs_;
}

// The kernel's events: UHID_START, UHID_OPEN and UHID_CLOSE as the node is
// opened and closed, and UHID_OUTPUT for every write to the node.
void UhidDevice::serveEvents() {
    while (!stop_) {
        pollfd watched{fd_, POLLIN, 0};
        if (::poll(&watched, 1, kEventPollMs) <= 0) continue;
        uhid_event event{};
        const ssize_t got = ::read(fd_, &event, sizeof event);
        if (got <= 0 || event.type != UHID_OUTPUT) continue;
        const uhid_output_req& output = event.u.output;
        Output arrived{Bytes(output.data, output.data + std::min<size_t>(output.size, UHID_DATA_MAX)), output.rtype,
                       Clock::now()};
        std::lock_guard<std::mutex> hold(mutex_);
        outputs_.push_back(std::move(arrived));
        arrived_.notify_all();
    }
}

// The node whose HID device carries this device's unique string.
std::string UhidDevice::findNode() const {
    DIR* directory = ::opendir("/sys/class/hidraw");
    if (directory == nullptr) return {};
    std::string found;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name.rfind("hidraw", 0) != 0) continue;
        const std::string uevent = fileText("/sys/class/hidraw/" + name + "/device/uevent");
        struct stat status {};
        if (uevent.find("\nHID_UNIQ=" + identity_.uniq + "\n") != std::string::npos &&
            ::stat(("/dev/" + name).c_str(), &status) == 0) {
            found = "/dev/" + name;
            break;
        }
    }
    ::closedir(directory);
    return found;
}

}  // namespace juxhid::kernel
