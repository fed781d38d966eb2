// White-box access to the opening recorded at an index, for tests that
// control every thread touching that index.
#pragma once

#include "frame/library_state.h"

namespace juxhid::test {

// The opening at `index`, or a record with nothing in it when none is open.
inline const InterfaceSlot& openingAt(int32_t index) {
    static const InterfaceSlot none{};
    const InterfaceSlot* current = state().interfaces[index].current;
    return current != nullptr ? *current : none;
}

}  // namespace juxhid::test
