#include "frame/library_state.h"

namespace juxhid {

LibraryState& state() {
    static LibraryState library{};
    return library;
}

}  // namespace juxhid
