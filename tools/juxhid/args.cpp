#include "args.h"

#include <array>
#include <charconv>

#include "juxhid.h"

namespace juxhid::tool {
namespace {

constexpr std::array kCommands{"list", "monitor", "send", "demo", "codes", "help"};

struct OptionSpec {
    std::string_view name;
    bool takesValue;
    std::string_view commands;  // space-separated; "*" for any
};

constexpr std::array kOptions{
    OptionSpec{"--vendor", true, "list monitor send"},
    OptionSpec{"--index", true, "monitor send"},
    OptionSpec{"--json", false, "list"},
    OptionSpec{"--changed", false, "monitor"},
    OptionSpec{"--fast", false, "send"},
    OptionSpec{"--markdown", false, "codes"},
    OptionSpec{"--sim-attach", true, "*"},
    OptionSpec{"--sim-feed", true, "*"},
};

bool isCommand(std::string_view word) {
    for (const char* command : kCommands) {
        if (word == command) return true;
    }
    return false;
}

bool appliesTo(const OptionSpec& spec, std::string_view command) {
    if (spec.commands == "*") return true;
    std::string_view rest = spec.commands;
    while (!rest.empty()) {
        const size_t space = rest.find(' ');
        if (rest.substr(0, space) == command) return true;
        if (space == std::string_view::npos) break;
        rest.remove_prefix(space + 1);
    }
    return false;
}

const OptionSpec* findOption(std::string_view name) {
    for (const OptionSpec& spec : kOptions) {
        if (spec.name == name) return &spec;
    }
    return nullptr;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool startsWithHexPrefix(std::string_view text) {
    return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// Stores one option's value; the message names what was wrong.
std::string applyOption(CommandLine& line, std::string_view name, std::string_view value) {
    if (name == "--vendor") {
        line.vendor = parseNumber(value, 0xFFFF);
        return line.vendor ? "" : "a vendor id is a 16-bit number, decimal or 0x-hex: '" +
                                      std::string(value) + "'";
    }
    if (name == "--index") {
        auto index = parseNumber(value, JUXHID_MAX_DEVICES - 1);
        if (index) line.index = static_cast<int32_t>(*index);
        return index ? "" : "a device index is a number from 0 to 24: '" + std::string(value) + "'";
    }
    if (name == "--sim-attach") {
        auto spec = parseSimDevice(value);
        if (spec) line.simAttach.push_back(*spec);
        return spec ? "" : "--sim-attach wants VENDOR:PRODUCT:USAGEPAGE:USAGE:INPUT:OUTPUT";
    }
    if (name == "--sim-feed") {
        auto count = parseNumber(value, 100000);
        if (count) line.simFeed = static_cast<int32_t>(*count);
        return count ? "" : "--sim-feed wants a count of reports";
    }
    if (name == "--json") line.json = true;
    if (name == "--changed") line.changed = true;
    if (name == "--fast") line.fast = true;
    if (name == "--markdown") line.markdown = true;
    return "";
}

// What each command needs beyond the options it accepts.
std::string checkComplete(const CommandLine& line) {
    const std::string& c = line.command;
    if (c.empty()) return "no command given";
    const bool needsDevice = c == "monitor" || c == "send";
    if ((needsDevice || c == "list") && !line.vendor) {
        return c + " needs --vendor ID: the library lists one vendor's devices at a time";
    }
    if (needsDevice && !line.index) return c + " needs --index N (see: juxhid list --vendor ID)";
    if (c == "send" && line.reports.empty()) return "send needs at least one report in hex";
    return "";
}

}  // namespace

std::optional<uint32_t> parseNumber(std::string_view text, uint32_t max) {
    int base = 10;
    if (startsWithHexPrefix(text)) {
        text.remove_prefix(2);
        base = 16;
    }
    uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value, base);
    if (text.empty() || result.ec != std::errc() || result.ptr != end || value > max) return std::nullopt;
    return static_cast<uint32_t>(value);
}

std::optional<std::vector<uint8_t>> parseHexReport(std::string_view text) {
    if (startsWithHexPrefix(text)) text.remove_prefix(2);
    std::vector<uint8_t> bytes;
    size_t i = 0;
    while (i < text.size()) {
        const bool separator = text[i] == ':' || text[i] == '-';
        if (separator && !bytes.empty() && i + 1 < text.size() && hexDigit(text[i + 1]) >= 0) {
            ++i;
            continue;
        }
        if (i + 1 >= text.size()) return std::nullopt;
        const int high = hexDigit(text[i]);
        const int low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
        i += 2;
    }
    if (bytes.empty()) return std::nullopt;
    return bytes;
}

std::optional<SimDeviceSpec> parseSimDevice(std::string_view text) {
    uint32_t fields[6];
    for (int field = 0; field < 6; ++field) {
        const size_t colon = text.find(':');
        if ((colon == std::string_view::npos) != (field == 5)) return std::nullopt;
        auto value = parseNumber(text.substr(0, colon), 0xFFFF);
        if (!value) return std::nullopt;
        fields[field] = *value;
        if (colon != std::string_view::npos) text.remove_prefix(colon + 1);
    }
    return SimDeviceSpec{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]};
}

ParseOutcome parseCommandLine(const std::vector<std::string_view>& args, bool simOptions) {
    ParseOutcome out;
    CommandLine& line = out.line;
    std::vector<std::pair<std::string_view, std::string_view>> options;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (!arg.starts_with("--")) {
            if (line.command.empty() && isCommand(arg)) {
                line.command = std::string(arg);
            } else if (line.command == "send") {
                auto report = parseHexReport(arg);
                if (!report) return {line, "not a report in hex: '" + std::string(arg) + "'"};
                line.reports.push_back(std::move(*report));
            } else {
                return {line, line.command.empty() ? "unknown command '" + std::string(arg) + "'"
                                                   : "unexpected argument '" + std::string(arg) + "'"};
            }
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        const OptionSpec* spec = findOption(name);
        if (!spec || (!simOptions && name.starts_with("--sim-"))) {
            return {line, "unknown option '" + std::string(name) + "'"};
        }
        std::string_view value;
        if (equals != std::string_view::npos) {
            if (!spec->takesValue) return {line, std::string(name) + " takes no value"};
            value = arg.substr(equals + 1);
        } else if (spec->takesValue) {
            if (i + 1 >= args.size()) return {line, std::string(name) + " needs a value"};
            value = args[++i];
        }
        options.emplace_back(name, value);
    }
    for (const auto& [name, value] : options) {
        if (!appliesTo(*findOption(name), line.command)) {
            return {line, std::string(name) + " does not apply to '" + line.command + "'"};
        }
        std::string error = applyOption(line, name, value);
        if (!error.empty()) return {line, error};
    }
    out.error = checkComplete(line);
    return out;
}

std::string usageText(bool simBuild) {
    std::string text = std::string("usage: ") + (simBuild ? "juxhid-sim" : "juxhid") +
                       " COMMAND [OPTIONS]\n"
        "\n"
        "  list    --vendor ID [--json]           the vendor's attached devices\n"
        "  monitor --vendor ID --index N [--changed]\n"
        "                                         print each input report until unplugged\n"
        "  send    --vendor ID --index N [--fast] HEX...\n"
        "                                         send output reports through the paced queue\n"
        "  demo                                   a tour on the simulated bus\n"
        "  codes   [--markdown]                   every status code and its meaning\n"
        "  help                                   this text\n"
        "\n"
        "ID is decimal or 0x-hex (0x1A2B). N is the index from 'list'. HEX is one\n"
        "report, report-ID byte first (01ff00 or 01:ff:00); a shorter report is\n"
        "padded with zeros to the device's output report length.\n"
        "Exit status: 0 done, 1 the library or the device refused, 2 bad arguments.\n";
    if (simBuild) {
        text +=
            "\n"
            "This build runs on the simulated bus; devices exist only once attached:\n"
            "  --sim-attach VENDOR:PRODUCT:USAGEPAGE:USAGE:INPUT:OUTPUT   (repeatable)\n"
            "  --sim-feed N   monitor: the device sends N reports 20 ms apart, then unplugs\n";
    }
    return text;
}

}  // namespace juxhid::tool
