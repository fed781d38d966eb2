#include <cstdlib>

#include "platform/os.h"

namespace juxhid::os {

void* allocate(size_t bytes) { return std::malloc(bytes); }

void release(void* block) { std::free(block); }

}  // namespace juxhid::os
