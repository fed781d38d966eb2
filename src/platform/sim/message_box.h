#pragma once

namespace juxhid::sim {

// Forgets the last message box and starts counting boxes from zero.
void forgetMessageBoxes();

}  // namespace juxhid::sim
