// ReportRing: the last 128 reports of one interface, fixed-size slots in one
// block of storage. readRing collects input reports (the reader pushes, the
// polled reads and the callback worker take and look); writeRing is the
// output queue (the writers push, the pacing tick takes).
//
// The ring has no lock of its own; every operation runs under its guard lock
// (readLock for readRing, writeLock for writeRing). Pushes advance writeIndex
// before they store, so in a new or cleared ring the first report lands in
// slot 1 and the ring holds 128 unread reports, not 127.
#pragma once

#include <cstdint>

namespace juxhid {

class ReportRing {
public:
    static constexpr int32_t kCapacity = 128;

    // Obtains storage for 128 reports of `slotSize` bytes. When it cannot be
    // had the user is told with a message box and the ring stays without
    // storage: such a ring never stores, hands out or looks at anything.
    void create(uint32_t slotSize);
    void destroy();

    bool exists() const { return created_; }
    bool hasStorage() const { return created_ && (storage_ != nullptr || slotSize_ == 0); }
    uint32_t slotSize() const { return slotSize_; }
    bool hasReport() const { return hasReport_ != 0; }
    int32_t writeIndex() const { return writeIndex_; }
    int32_t readIndex() const { return readIndex_; }
    bool full() const { return full_ != 0; }
    int32_t unread() const;

    // Always stores; with 128 unread the oldest is lost.
    void pushOverwrite(const void* report);
    // Stores unless 128 are unread; false (and nothing changed) when full.
    bool pushIfRoom(const void* report);
    // Copies the oldest unread report out and advances; false when empty.
    bool popOldest(void* destination);
    // As popOldest, but hands out the slot itself instead of a copy. The
    // bytes stay valid until the next push, which the guard lock keeps off.
    const uint8_t* takeOldest();
    // Copies the newest report stored since create or clear; false if none.
    bool peekNewest(void* destination) const;
    // Forgets every report; the storage is not touched.
    void clear();

private:
    void store(const void* report);  // into slot writeIndex
    uint8_t* slot(int32_t index) const { return storage_ + static_cast<uint32_t>(index) * slotSize_; }
    static int32_t next(int32_t index) { return index + 1 == kCapacity ? 0 : index + 1; }

    uint32_t slotSize_ = 0;
    int32_t writeIndex_ = 0;
    int32_t readIndex_ = 0;
    int32_t full_ = 0;
    int32_t hasReport_ = 0;
    uint8_t* storage_ = nullptr;
    bool created_ = false;
};

}  // namespace juxhid
