// The tool's command line: what the user asked for, checked before any call
// into the library, so that a bad argument always ends with usage and exit 2.
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
    std::string command;  // list, monitor, send, demo, codes, help
    std::optional<uint32_t> vendor;
    std::optional<int32_t> index;
    bool json = false;
    bool changed = false;
    bool fast = false;
    bool markdown = false;
    std::vector<std::vector<uint8_t>> reports;  // send's HEX operands
    // Hidden options of the simulated-bus build, for scripted runs.
    std::vector<SimDeviceSpec> simAttach;
    int32_t simFeed = 0;
};

struct ParseOutcome {
    CommandLine line;
    std::string error;  // empty when the line is usable
};

// Parses argv[1..]. `simOptions` says whether the --sim-* options exist.
ParseOutcome parseCommandLine(const std::vector<std::string_view>& args, bool simOptions);

// A number in decimal or with a 0x prefix in hex, at most `max`.
std::optional<uint32_t> parseNumber(std::string_view text, uint32_t max);

// One report: pairs of hex digits, optionally led by 0x, with ':' or '-'
// allowed between bytes ("01ff", "01:ff", "0x01ff").
std::optional<std::vector<uint8_t>> parseHexReport(std::string_view text);

// "VENDOR:PRODUCT:USAGEPAGE:USAGE:INPUT:OUTPUT", each a number as above.
std::optional<SimDeviceSpec> parseSimDevice(std::string_view text);

// The usage text; `simBuild` adds what only the simulated-bus build offers.
std::string usageText(bool simBuild);

}  // namespace juxhid::tool
