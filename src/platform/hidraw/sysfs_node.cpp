#include "platform/hidraw/sysfs_node.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/hidraw/report_descriptor.h"
#include "platform/hidraw/roots.h"

namespace juxhid::hidraw {

namespace {

constexpr size_t kUeventBytes = 4096;

// Reads a whole sysfs attribute. A file longer than `capacity` is refused
// rather than cut: half a descriptor is garbage.
bool readWholeFile(const char* path, void* buffer, size_t capacity, size_t* length, int* error) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return false;
    }
    size_t total = 0;
    bool fine = true;
    for (;;) {
        char spare;
        const bool full = total == capacity;
        const ssize_t got = full ? ::read(fd, &spare, 1) : ::read(fd, static_cast<char*>(buffer) + total, capacity - total);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 || (full && got > 0)) {
            *error = got < 0 ? errno : EFBIG;
            fine = false;
            break;
        }
        if (got == 0) break;
        total += static_cast<size_t>(got);
    }
    ::close(fd);
    *length = total;
    return fine;
}

bool attributePath(const char* name, const char* attribute, char* path, size_t capacity) {
    const int written = std::snprintf(path, capacity, "%s/%s/device/%s", sysfsRoot(), name, attribute);
    return written > 0 && static_cast<size_t>(written) < capacity;
}

// One hexadecimal field of HID_ID, ending in `end`; false if malformed or
// wider than 16 bits.
bool hexField(const char** cursor, char end, uint16_t* value) {
    char* after = nullptr;
    errno = 0;
    const unsigned long parsed = std::strtoul(*cursor, &after, 16);
    if (after == *cursor || errno != 0 || parsed > 0xFFFF) return false;
    if (*after != end && !(end == '\n' && *after == '\0')) return false;
    *value = static_cast<uint16_t>(parsed);
    *cursor = after + 1;
    return true;
}

// HID_ID=BBBB:VVVVVVVV:PPPPPPPP, bus, vendor and product in hexadecimal.
bool parseHidId(const char* uevent, NodeIdentity* identity) {
    static constexpr char kKey[] = "HID_ID=";
    for (const char* line = uevent; *line != '\0';) {
        if (std::strncmp(line, kKey, sizeof kKey - 1) == 0) {
            const char* cursor = line + sizeof kKey - 1;
            return hexField(&cursor, ':', &identity->bus) && hexField(&cursor, ':', &identity->vendorId) &&
                   hexField(&cursor, '\n', &identity->productId);
        }
        const char* next = std::strchr(line, '\n');
        if (next == nullptr) break;
        line = next + 1;
    }
    return false;
}

}  // namespace

bool splitListedPath(const char* path, ListedPath* listed) {
    const size_t length = path != nullptr ? std::strlen(path) : 0;
    if (length == 0 || length >= kNodePathBytes) return false;
    std::memcpy(listed->nodePath, path, length + 1);
    char* name = std::strrchr(listed->nodePath, '/');
    name = name != nullptr ? name + 1 : listed->nodePath;
    listed->nodeName = name;
    listed->collection = 0;
    char* mark = std::strchr(name, kCollectionMark);
    if (mark != nullptr) {
        char* after = nullptr;
        const bool digits = mark[1] >= '1' && mark[1] <= '9';
        const unsigned long number = digits ? std::strtoul(mark + 1, &after, 10) : 0;
        if (!digits || *after != '\0' || number > kMaxTopLevelCollections) return false;
        listed->collection = static_cast<uint32_t>(number - 1);
        *mark = '\0';
    }
    return *name != '\0';
}

bool formatListedPath(const char* name, uint32_t collection, uint32_t collections, char* path,
                      size_t capacity) {
    const int written = collections > 1
                            ? std::snprintf(path, capacity, "%s/%s%c%u", devRoot(), name, kCollectionMark,
                                            collection + 1)
                            : std::snprintf(path, capacity, "%s/%s", devRoot(), name);
    return written > 0 && static_cast<size_t>(written) < capacity;
}

bool readNodeIdentity(const char* name, NodeIdentity* identity, int* error) {
    char path[kNodePathBytes + 64];
    char uevent[kUeventBytes + 1];
    size_t length = 0;
    if (!attributePath(name, "uevent", path, sizeof path)) {
        *error = ENAMETOOLONG;
        return false;
    }
    if (!readWholeFile(path, uevent, kUeventBytes, &length, error)) return false;
    uevent[length] = '\0';
    if (!parseHidId(uevent, identity)) {
        *error = EINVAL;
        return false;
    }
    return true;
}

bool readNodeDescriptor(const char* name, uint8_t* bytes, size_t* length, int* error) {
    char path[kNodePathBytes + 64];
    if (!attributePath(name, "report_descriptor", path, sizeof path)) {
        *error = ENAMETOOLONG;
        return false;
    }
    return readWholeFile(path, bytes, kMaxReportDescriptorBytes, length, error);
}

}  // namespace juxhid::hidraw
