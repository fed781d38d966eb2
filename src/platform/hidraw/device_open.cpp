// Opening a listed path: a query handle only learns what sysfs says of the
// node, so that listing needs no access to the device file itself (a user
// without it sees the device and is refused at opening, as on Windows); read
// and write handles also open the device file.
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/hidraw/device.h"
#include "platform/hidraw/errno_translation.h"

namespace juxhid::platform {

struct Preparsed {
    DeviceCaps caps;
};

namespace {

// The kernel's longest report, and the report-ID byte put in front.
constexpr size_t kScratchBytes = 16384 + 1;

void learnNode(Device* device, const char* name) {
    device->identityKnown = hidraw::readNodeIdentity(name, &device->identity, &device->identityError);
    uint8_t bytes[hidraw::kMaxReportDescriptorBytes];
    size_t length = 0;
    int error = 0;
    if (!hidraw::readNodeDescriptor(name, bytes, &length, &error)) {
        device->descriptorError = static_cast<int>(hidraw::translateErrno(error, hidraw::Call::Open));
        return;
    }
    device->descriptorKnown = hidraw::parseReportDescriptor(bytes, length, &device->descriptor);
    if (!device->descriptorKnown) device->descriptorError = static_cast<int>(hidraw::kErrorInvalidData);
}

// The row's collection, when the node has it; else the reason in Win32 terms.
const hidraw::TopLevelCollection* selectedCollection(const Device& device, uint32_t* error) {
    if (!device.descriptorKnown) {
        *error = static_cast<uint32_t>(device.descriptorError);
        return nullptr;
    }
    if (device.collection >= device.descriptor.collectionCount) {
        *error = kErrorFileNotFound;
        return nullptr;
    }
    return &device.descriptor.collections[device.collection];
}

bool fail(uint32_t* error) {
    *error = hidraw::translateErrno(errno, hidraw::Call::Open);
    return false;
}

bool openForQuery(const char* nodePath, uint32_t* error) {
    struct stat status {};
    return ::stat(nodePath, &status) == 0 || fail(error);
}

bool openForReading(Device* device, const char* nodePath, uint32_t* error) {
    device->fd = ::open(nodePath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (device->fd < 0) return fail(error);
    // Reports are routed by the descriptor: without it nothing can be read
    // the way the caller expects.
    if (selectedCollection(*device, error) == nullptr) return false;
    device->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (device->wakeFd < 0) return fail(error);
    device->scratch = new (std::nothrow) uint8_t[kScratchBytes];
    if (device->scratch == nullptr) {
        *error = hidraw::kErrorNotEnoughMemory;
        return false;
    }
    device->prependReportId = !device->descriptor.numbered;
    return true;
}

// Opened without blocking, which a stand-in FIFO without a reader would
// otherwise do; writes then block as the caller expects.
bool openForWriting(Device* device, const char* nodePath, uint32_t* error) {
    device->fd = ::open(nodePath, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (device->fd < 0) return fail(error);
    const int flags = ::fcntl(device->fd, F_GETFL);
    return (flags >= 0 && ::fcntl(device->fd, F_SETFL, flags & ~O_NONBLOCK) == 0) || fail(error);
}

void freeDevice(Device* device) {
    if (device->fd >= 0) ::close(device->fd);
    if (device->wakeFd >= 0) ::close(device->wakeFd);
    delete[] device->scratch;
    delete device;
}

}  // namespace

Device* deviceOpen(const char* path, Access access, uint32_t* error) {
    hidraw::ListedPath listed;
    if (!hidraw::splitListedPath(path, &listed)) {
        *error = kErrorFileNotFound;
        return nullptr;
    }
    Device* device = new (std::nothrow) Device();
    if (device == nullptr) {
        *error = hidraw::kErrorNotEnoughMemory;
        return nullptr;
    }
    device->access = access;
    device->fd = -1;
    device->wakeFd = -1;
    device->collection = listed.collection;
    learnNode(device, listed.nodeName);
    bool opened = false;
    switch (access) {
        case Access::Query: opened = openForQuery(listed.nodePath, error); break;
        case Access::Read: opened = openForReading(device, listed.nodePath, error); break;
        case Access::Write: opened = openForWriting(device, listed.nodePath, error); break;
    }
    if (opened) return device;
    freeDevice(device);
    return nullptr;
}

void deviceClose(Device* device) {
    if (device == nullptr) return;
    // A read still pending here would be left on a freed record: end it and
    // let it return first.
    deviceCancelRead(device);
    while (device->readsInside.load() != 0) ::usleep(1000);
    freeDevice(device);
}

bool deviceAttributes(Device* device, DeviceAttributes* attributes, uint32_t* error) {
    if (!device->identityKnown) {
        *error = hidraw::translateErrno(device->identityError, hidraw::Call::Open);
        return false;
    }
    *attributes = DeviceAttributes{device->identity.vendorId, device->identity.productId};
    return true;
}

Preparsed* devicePreparsed(Device* device, uint32_t* error) {
    const hidraw::TopLevelCollection* collection = selectedCollection(*device, error);
    if (collection == nullptr) return nullptr;
    Preparsed* preparsed = new (std::nothrow) Preparsed{DeviceCaps{
        collection->usage, collection->usagePage, collection->inputReportByteLength,
        collection->outputReportByteLength}};
    if (preparsed == nullptr) *error = hidraw::kErrorNotEnoughMemory;
    return preparsed;
}

bool deviceCaps(Preparsed* preparsed, DeviceCaps* caps) {
    if (preparsed == nullptr) return false;
    *caps = preparsed->caps;
    return true;
}

void preparsedFree(Preparsed* preparsed) { delete preparsed; }

}  // namespace juxhid::platform
