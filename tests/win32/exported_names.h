// The names a host application resolves: every function of the library
// under its plain name and, on 32-bit Windows, its stdcall-decorated name;
// and the simulated bus's functions under their plain names.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace juxhid::test {

struct ExportedFunction {
    const char* name;
    uint32_t argumentBytes;  // 4 per argument, as 32-bit Windows counts them
    std::string decorated() const;
};

// "_Name@bytes". Formatted rather than concatenated: at -O3, GCC 12 takes
// the inlined std::string concatenation for an overlapping copy inside
// char_traits.h and stops the build (-Werror=restrict).
inline std::string decoratedName(const char* name, uint32_t argumentBytes) {
    char text[96];
    std::snprintf(text, sizeof text, "_%s@%u", name, static_cast<unsigned>(argumentBytes));
    return text;
}

inline std::string ExportedFunction::decorated() const { return decoratedName(name, argumentBytes); }

inline const std::vector<ExportedFunction>& libraryFunctions() {
    static const std::vector<ExportedFunction> functions = {
        {"EnumerateJUX", 12},  {"GetReadLength", 4},    {"GetWriteLength", 4},   {"SetupInterface", 4},
        {"CloseInterface", 4}, {"CleanupInterface", 4}, {"ReadData", 8},         {"ReadLast", 8},
        {"ClearBuffer", 4},    {"SetDataCallback", 12}, {"SetErrorCallback", 8}, {"WriteData", 8},
        {"FastWrite", 8},
    };
    return functions;
}

inline const std::vector<ExportedFunction>& simulatedBusFunctions() {
    static const std::vector<ExportedFunction> functions = {
        {"juxsim_attach", 4},       {"juxsim_detach", 4},       {"juxsim_deliver", 12},
        {"juxsim_take_output", 20}, {"juxsim_output_count", 4}, {"juxsim_set_write_delay", 8},
        {"juxsim_now_ns", 0},       {"juxsim_fault_arm", 4},    {"juxsim_fault_fired", 4},
        {"juxsim_fault_clear", 0},  {"juxsim_counts", 4},       {"juxsim_last_message_box", 16},
        {"juxsim_reset", 0},        {"juxsim_replay_start", 12}, {"juxsim_replay_error", 8},
        {"juxsim_replay_device", 4}, {"juxsim_replay_delivered", 4}, {"juxsim_replay_wait", 8},
        {"juxsim_replay_stop", 4},  {"juxsim_replay_free", 4},
    };
    return functions;
}

}  // namespace juxhid::test
