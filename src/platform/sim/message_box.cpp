// The message box is recorded and counted, and told on one line of standard
// error; no real box is shown, since a modal box would stop an unattended
// run (under an emulator it would open a real window).
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "juxhid_sim.h"
#include "platform/platform.h"
#include "platform/sim/counts.h"
#include "platform/sim/message_box.h"
#include "platform/sim/process_objects.h"

namespace juxhid::sim {
namespace {

struct MessageBoxRecord {
    std::mutex mutex;
    std::string text;
    std::string caption;
};

std::atomic<MessageBoxRecord*> instance{nullptr};

MessageBoxRecord& lastBox() { return processObject(instance); }

void copyOut(const std::string& from, char* to, uint32_t capacity) {
    if (to == nullptr || capacity == 0) return;
    const size_t length = from.size() < capacity - 1 ? from.size() : capacity - 1;
    std::memcpy(to, from.data(), length);
    to[length] = '\0';
}

}  // namespace

void forgetMessageBoxes() {
    MessageBoxRecord& record = lastBox();
    std::lock_guard<std::mutex> hold(record.mutex);
    record.text.clear();
    record.caption.clear();
    liveCounts().messageBoxes = 0;
}

void releaseMessageBox() { releaseProcessObject(instance); }

}  // namespace juxhid::sim

namespace juxhid::platform {

void messageBox(const char* text, const char* caption) {
    sim::MessageBoxRecord& record = sim::lastBox();
    {
        std::lock_guard<std::mutex> hold(record.mutex);
        record.text = text != nullptr ? text : "";
        record.caption = caption != nullptr ? caption : "";
        ++sim::liveCounts().messageBoxes;
    }
    std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "", text != nullptr ? text : "");
    std::fflush(stderr);
}

}  // namespace juxhid::platform

extern "C" JUXHID_API void JUXHID_CALL juxsim_last_message_box(char* text, uint32_t textCapacity,
                                                               char* caption, uint32_t captionCapacity) {
    juxhid::sim::MessageBoxRecord& record = juxhid::sim::lastBox();
    std::lock_guard<std::mutex> hold(record.mutex);
    juxhid::sim::copyOut(record.text, text, textCapacity);
    juxhid::sim::copyOut(record.caption, caption, captionCapacity);
}
