// Who may use an opening, and who releases it. Every thread that uses an
// InterfaceSlot holds a reference to it: the interface table while the
// interface is open, each worker for its whole life, each exported call and
// each pacing tick while it works on it. The last one to let go releases
// everything the opening holds. A teardown therefore never has to wait for
// another thread before it may release: it takes the record out of the table
// and lets go of the table's reference.
#pragma once

#include <cstdint>

namespace juxhid {

struct InterfaceSlot;

// A new, empty record holding one reference (the creator's); null when its
// memory cannot be had.
InterfaceSlot* createSlot();

// One more reference for a thread that already holds one (a worker started
// by its opener).
void retainSlot(InterfaceSlot* slot);

// Drops one reference; the last releases the record and what it holds.
void releaseSlot(InterfaceSlot* slot);

// The opening recorded at `index`, with a reference taken; null when none.
InterfaceSlot* acquireSlot(int32_t index);

// Puts a new opening in the table; the table takes over the caller's
// reference. The row must be empty.
void publishSlot(int32_t index, InterfaceSlot* slot);

// Takes the opening out of the table; the table's reference passes to the
// caller. Null when none was recorded.
InterfaceSlot* detachSlot(int32_t index);

// A reference held for the length of a scope.
class SlotRef {
public:
    explicit SlotRef(int32_t index) : slot_(acquireSlot(index)) {}
    ~SlotRef() {
        if (slot_ != nullptr) releaseSlot(slot_);
    }
    SlotRef(const SlotRef&) = delete;
    SlotRef& operator=(const SlotRef&) = delete;

    explicit operator bool() const { return slot_ != nullptr; }
    InterfaceSlot* operator->() const { return slot_; }
    InterfaceSlot& operator*() const { return *slot_; }

private:
    InterfaceSlot* slot_;
};

}  // namespace juxhid
