#include "interface/report_ring.h"

#include <cstring>

#include "platform/platform.h"

namespace juxhid {

namespace {
constexpr const char* kOutOfMemoryText = "Error:Out of Memory";
constexpr const char* kOutOfMemoryCaption = "malloc error";
}  // namespace

void ReportRing::create(uint32_t slotSize) {
    slotSize_ = slotSize;
    writeIndex_ = readIndex_ = full_ = hasReport_ = 0;
    storage_ = nullptr;
    created_ = true;
    // Zero-byte reports need no storage: every copy moves nothing.
    if (slotSize == 0) return;
    storage_ = static_cast<uint8_t*>(platform::allocate(static_cast<size_t>(kCapacity) * slotSize));
    if (storage_ == nullptr) platform::messageBox(kOutOfMemoryText, kOutOfMemoryCaption);
}

void ReportRing::destroy() {
    platform::release(storage_);
    *this = ReportRing{};
}

int32_t ReportRing::unread() const {
    if (full_) return kCapacity;
    return (writeIndex_ - readIndex_ + kCapacity) % kCapacity;
}

void ReportRing::store(const void* report) {
    if (slotSize_ != 0) std::memcpy(slot(writeIndex_), report, slotSize_);
    hasReport_ = 1;
}

void ReportRing::pushOverwrite(const void* report) {
    if (!hasStorage()) return;
    writeIndex_ = next(writeIndex_);
    if (full_) readIndex_ = next(readIndex_);
    if (writeIndex_ == readIndex_) full_ = 1;
    store(report);
}

bool ReportRing::pushIfRoom(const void* report) {
    if (!hasStorage() || full_) return false;
    writeIndex_ = next(writeIndex_);
    if (writeIndex_ == readIndex_) full_ = 1;
    store(report);
    return true;
}

const uint8_t* ReportRing::takeOldest() {
    if (!hasStorage() || (!full_ && readIndex_ == writeIndex_)) return nullptr;
    full_ = 0;
    readIndex_ = next(readIndex_);
    // A zero-byte ring has no storage block; hand out a valid empty address.
    static const uint8_t kNothing = 0;
    return storage_ != nullptr ? slot(readIndex_) : &kNothing;
}

bool ReportRing::popOldest(void* destination) {
    const uint8_t* report = takeOldest();
    if (report == nullptr) return false;
    if (slotSize_ != 0) std::memcpy(destination, report, slotSize_);
    return true;
}

bool ReportRing::peekNewest(void* destination) const {
    if (!hasStorage() || !hasReport_) return false;
    if (slotSize_ != 0) std::memcpy(destination, slot(writeIndex_), slotSize_);
    return true;
}

void ReportRing::clear() { writeIndex_ = readIndex_ = full_ = hasReport_ = 0; }

}  // namespace juxhid
