#include "interface/report_ring.h"

#include "platform/platform.h"

namespace juxhid {

namespace {
constexpr const char* kOutOfMemoryText = "Error:Out of Memory";
constexpr const char* kOutOfMemoryCaption = "malloc error";
}  // namespace

void ReportRing::create(uint32_t slotSize) {
    *this = ReportRing{};
    slotSize_ = slotSize;
    created_ = true;
    // Zero-byte reports need no storage: every copy moves nothing.
    if (slotSize == 0) {
        usable_ = true;
        return;
    }
    storage_ = static_cast<uint8_t*>(platform::allocate(static_cast<size_t>(kCapacity) * slotSize));
    usable_ = storage_ != nullptr;
    if (!usable_) platform::messageBox(kOutOfMemoryText, kOutOfMemoryCaption);
}

void ReportRing::destroy() {
    platform::release(storage_);
    *this = ReportRing{};
}

}  // namespace juxhid
