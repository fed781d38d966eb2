// ReportRing: the last 128 reports of one interface, fixed-size slots in one
// block of storage. readRing collects input reports (the reader pushes, the
// polled reads and the callback worker take and look); writeRing is the
// output queue (the writers push, the pacing tick takes).
//
// The ring has no lock of its own; every operation runs under its guard lock
// (readLock for readRing, writeLock for writeRing). Pushes advance writeIndex
// before they store, so in a new or cleared ring the first report lands in
// slot 1 and the ring holds 128 unread reports, not 127.
//
// The operations sit on the reader's and the tick's paths, once per report,
// so they are defined here where the compiler can inline them.
#pragma once

#include <cstdint>
#include <cstring>

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
    bool hasStorage() const { return usable_; }
    uint32_t slotSize() const { return slotSize_; }
    bool hasReport() const { return hasReport_ != 0; }
    int32_t writeIndex() const { return writeIndex_; }
    int32_t readIndex() const { return readIndex_; }
    bool full() const { return full_ != 0; }
    int32_t unread() const { return full_ ? kCapacity : (writeIndex_ - readIndex_ + kCapacity) % kCapacity; }

    // Stores unless the ring has no storage; with 128 unread the oldest is
    // lost. True when the report was kept.
    bool pushOverwrite(const void* report) {
        if (!usable_) return false;
        writeIndex_ = next(writeIndex_);
        if (full_) readIndex_ = next(readIndex_);
        if (writeIndex_ == readIndex_) full_ = 1;
        store(report);
        return true;
    }

    // Stores unless 128 are unread; false (and nothing changed) when full.
    bool pushIfRoom(const void* report) {
        if (!usable_ || full_) return false;
        writeIndex_ = next(writeIndex_);
        if (writeIndex_ == readIndex_) full_ = 1;
        store(report);
        return true;
    }

    // Hands out the oldest unread report's slot itself and advances; null
    // when empty. The bytes stay valid until the next push, which the guard
    // lock keeps off.
    const uint8_t* takeOldest() {
        if (!usable_ || (!full_ && readIndex_ == writeIndex_)) return nullptr;
        full_ = 0;
        readIndex_ = next(readIndex_);
        return slot(readIndex_);
    }

    // Copies the oldest unread report out and advances; false when empty.
    bool popOldest(void* destination) {
        const uint8_t* report = takeOldest();
        if (report == nullptr) return false;
        copy(destination, report);
        return true;
    }

    // Copies the newest report stored since create or clear; false if none.
    bool peekNewest(void* destination) const {
        if (!usable_ || !hasReport_) return false;
        copy(destination, slot(writeIndex_));
        return true;
    }

    // Forgets every report; the storage is not touched.
    void clear() { writeIndex_ = readIndex_ = full_ = hasReport_ = 0; }

private:
    // A zero-byte ring has no storage block; its slots are one valid empty
    // address, and every copy moves nothing.
    const uint8_t* slot(int32_t index) const {
        return storage_ != nullptr ? storage_ + static_cast<uint32_t>(index) * slotSize_ : &kNoBytes;
    }
    uint8_t* slot(int32_t index) { return const_cast<uint8_t*>(static_cast<const ReportRing*>(this)->slot(index)); }
    void store(const void* report) {
        if (slotSize_ != 0) std::memcpy(slot(writeIndex_), report, slotSize_);
        hasReport_ = 1;
    }
    void copy(void* destination, const uint8_t* report) const {
        if (slotSize_ != 0) std::memcpy(destination, report, slotSize_);
    }
    static int32_t next(int32_t index) { return index + 1 == kCapacity ? 0 : index + 1; }

    static constexpr uint8_t kNoBytes = 0;

    uint32_t slotSize_ = 0;
    int32_t writeIndex_ = 0;
    int32_t readIndex_ = 0;
    int32_t full_ = 0;
    int32_t hasReport_ = 0;
    uint8_t* storage_ = nullptr;
    bool created_ = false;
    bool usable_ = false;  // created, and storage obtained (or none needed)
};

}  // namespace juxhid
