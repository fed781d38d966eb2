#include "hidraw/fake_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/hidraw/roots.h"

namespace juxhid::hidraw::testing {

namespace fs = std::filesystem;

FakeTree::FakeTree() {
    char pattern[] = "/tmp/juxhid-hidraw-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    root_ = made != nullptr ? made : "";
    sysfs_ = root_ + "/sys/class/hidraw";
    dev_ = root_ + "/dev";
    std::error_code ignored;
    fs::create_directories(sysfs_, ignored);
    fs::create_directories(dev_, ignored);
    setRoots(sysfs_.c_str(), dev_.c_str());
}

FakeTree::~FakeTree() {
    setRoots(nullptr, nullptr);
    std::error_code ignored;
    if (!root_.empty()) fs::remove_all(root_, ignored);
}

std::string FakeTree::nodeDirectory(int number) const {
    return sysfs_ + "/hidraw" + std::to_string(number) + "/device";
}

void FakeTree::addNode(int number, uint16_t bus, uint16_t vendorId, uint16_t productId,
                       const std::vector<uint8_t>& descriptor) {
    const std::string directory = nodeDirectory(number);
    std::error_code ignored;
    fs::create_directories(directory, ignored);
    char hidId[64];
    std::snprintf(hidId, sizeof hidId, "HID_ID=%04X:%08X:%08X", bus, vendorId, productId);
    std::ofstream(directory + "/uevent") << "DRIVER=hid-generic\n" << hidId << "\nHID_NAME=Test Device\n";
    std::ofstream(directory + "/report_descriptor", std::ios::binary)
        .write(reinterpret_cast<const char*>(descriptor.data()), static_cast<std::streamsize>(descriptor.size()));
    ::mkfifo(devicePath(number).c_str(), 0600);
}

void FakeTree::breakDescriptor(int number) {
    const std::string path = nodeDirectory(number) + "/report_descriptor";
    std::error_code ignored;
    fs::remove(path, ignored);
    fs::create_directory(path, ignored);
}

void FakeTree::removeDeviceFile(int number) { ::unlink(devicePath(number).c_str()); }

void FakeTree::addStrayEntry(const std::string& name) {
    std::error_code ignored;
    fs::create_directories(sysfs_ + "/" + name + "/device", ignored);
}

std::string FakeTree::devicePath(int number, int collection) const {
    std::string path = dev_ + "/hidraw" + std::to_string(number);
    if (collection > 0) path += "#" + std::to_string(collection);
    return path;
}

int FakeTree::openFeeder(int number) const {
    // Read-write, so that opening does not wait for a reader.
    const int fd = ::open(devicePath(number).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    // Packet mode keeps one write one read, as a hidraw node keeps reports.
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_DIRECT) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int FakeTree::openSink(int number) const {
    return ::open(devicePath(number).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

bool feed(int feeder, const std::vector<uint8_t>& report) {
    return ::write(feeder, report.data(), report.size()) == static_cast<ssize_t>(report.size());
}

}  // namespace juxhid::hidraw::testing
