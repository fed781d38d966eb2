// A sysfs tree and a device directory of its own, in a fresh temporary
// directory that the backend is pointed at for the life of the object. Each
// node's device file is a FIFO standing in for /dev/hidrawN: what the test
// writes into its feeder end arrives one report per read(), and closing the
// feeder is an unplug (the reader drains what is queued, then the node hangs
// up).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace juxhid::hidraw::testing {

inline constexpr uint16_t kBusUsb = 0x0003;
inline constexpr uint16_t kBusBluetooth = 0x0005;

class FakeTree {
public:
    FakeTree();
    ~FakeTree();
    FakeTree(const FakeTree&) = delete;
    FakeTree& operator=(const FakeTree&) = delete;

    // sysfs entry hidrawN (uevent with HID_ID, report_descriptor) and its
    // device file.
    void addNode(int number, uint16_t bus, uint16_t vendorId, uint16_t productId,
                 const std::vector<uint8_t>& descriptor);
    // A report_descriptor that cannot be read (a directory in its place).
    void breakDescriptor(int number);
    void removeDeviceFile(int number);
    // An entry of the sysfs class directory that is no hidraw node.
    void addStrayEntry(const std::string& name);

    // The device file, or with a collection mark from 1 ("...#2").
    std::string devicePath(int number, int collection = 0) const;
    const std::string& sysfsRoot() const { return sysfs_; }
    const std::string& devRoot() const { return dev_; }

    // The test's writing end of a node's FIFO, in packet mode; -1 on failure.
    int openFeeder(int number) const;
    // The test's reading end, to take what the backend writes; non-blocking.
    int openSink(int number) const;

private:
    std::string nodeDirectory(int number) const;

    std::string root_;
    std::string sysfs_;
    std::string dev_;
};

// Writes one report into a feeder; false unless all of it went in.
bool feed(int feeder, const std::vector<uint8_t>& report);

}  // namespace juxhid::hidraw::testing
