// The tool's command line: what the user asked for, checked before any call
// into the library, so that a bad argument always ends with exit 2 before the
// library is touched.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace juxhid::tool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the library or the device said no
inline constexpr int kExitUsage = 2;

// A device the simulated bus attaches before the command runs.
struct SimDeviceSpec {
    uint32_t vendorId = 0;
    uint32_t productId = 0;
    uint32_t usagePage = 0;
    uint32_t usage = 0;
    uint32_t inputLength = 0;
    uint32_t outputLength = 0;
};

struct CommandLine {
    std::string command;  // list, monitor, send, replay, watch, demo, codes
    std::optional<uint32_t> vendor;
    std::optional<int32_t> index;
    bool json = false;
    bool changed = false;
    bool fast = false;
    bool markdown = false;
    bool present = false;  // watch --present
    std::vector<std::vector<uint8_t>> reports;  // send's HEX operands
    std::string record;      // monitor --record FILE
    std::string replayFile;  // replay's FILE
    double speed = 1;        // replay --speed X
    // Hidden options of the simulated-bus build, for scripted runs.
    std::vector<SimDeviceSpec> simAttach;
    int32_t simFeed = 0;
    std::string simDeny;  // "read" or "write": the bus refuses such opens as denied
    std::string simReplay;  // a recording the bus replays, as a device of its own
    double simSpeed = 1;
};

struct ParseOutcome {
    CommandLine line;
    std::string error;   // why the line is refused (exit 2); empty when usable
    std::string output;  // help or version text to print (exit 0) instead of running
};

// Parses argv[1..]. `simBuild` says whether the --sim-* options exist and
// which program the messages name.
ParseOutcome parseCommandLine(const std::vector<std::string_view>& args, bool simBuild);

// "juxhid-sim" or "juxhid": how the program names itself in what it prints.
std::string programName(bool simBuild);

// "juxhid-sim 0.1.0\n".
std::string versionText(bool simBuild);

// A number in decimal or with a 0x prefix in hex, at most `max`.
std::optional<uint32_t> parseNumber(std::string_view text, uint32_t max);

// One report: pairs of hex digits, optionally led by 0x, with ':' or '-'
// allowed between bytes ("01ff", "01:ff", "0x01ff").
std::optional<std::vector<uint8_t>> parseHexReport(std::string_view text);

// "VENDOR:PRODUCT:USAGEPAGE:USAGE:INPUT:OUTPUT", each a number as above.
std::optional<SimDeviceSpec> parseSimDevice(std::string_view text);

// A replay's speed factor: a finite number, 0 or above ("1", "2.5", "0").
std::optional<double> parseSpeed(std::string_view text);

// The usage text; `simBuild` adds what only the simulated-bus build offers.
std::string usageText(bool simBuild);

}  // namespace juxhid::tool
