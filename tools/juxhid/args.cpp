// The command line, read with CLI11: subcommands with their own options, the
// simulated-bus options accepted before or after the command, -h/--help on
// every level and --version. Values are checked while parsing, so that a bad
// one is refused before any call into the library.
#include "args.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "juxhid.h"

#ifndef JUXHID_TOOL_VERSION
#error "the build defines JUXHID_TOOL_VERSION, the project's version"
#endif

namespace juxhid::tool {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool startsWithHexPrefix(std::string_view text) {
    return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// A CLI11 check built from one of the parsers below: empty when the text
// parses, else the message.
template <typename Parse>
CLI::Validator textCheck(Parse parse, std::string message) {
    return CLI::Validator(
        [parse, message](std::string& text) { return parse(text) ? std::string() : message + ": '" + text + "'"; },
        "", "");
}

const auto vendorCheck = textCheck([](std::string_view t) { return parseNumber(t, 0xFFFF).has_value(); },
                                   "a vendor id is a 16-bit number, decimal or 0x-hex");
const auto indexCheck = textCheck([](std::string_view t) { return parseNumber(t, JUXHID_MAX_DEVICES - 1).has_value(); },
                                  "a device index is a number from 0 to 24");
const auto reportCheck = textCheck([](std::string_view t) { return parseHexReport(t).has_value(); },
                                   "not a report in hex");
const auto simDeviceCheck = textCheck([](std::string_view t) { return parseSimDevice(t).has_value(); },
                                      "--sim-attach wants VENDOR:PRODUCT:USAGEPAGE:USAGE:INPUT:OUTPUT");
const auto speedCheck = textCheck([](std::string_view t) { return parseSpeed(t).has_value(); },
                                  "a speed is a number, 0 or above (1 as recorded, 2 twice as fast, 0 at once)");
const auto countCheck = textCheck([](std::string_view t) { return parseNumber(t, 100000).has_value(); },
                                  "--sim-feed wants a count of reports up to 100000");

// The text the options were given as; turned into values once all parsed.
struct RawLine {
    std::string vendor;
    std::string index;
    std::vector<std::string> reports;
    std::vector<std::string> simAttach;
    std::string simFeed;
    std::string simDeny;
    std::string simReplay;
    std::string speed;
    std::string simSpeed;
};

void addDeviceOptions(CLI::App& command, RawLine& raw, bool needsIndex) {
    command.add_option("--vendor", raw.vendor, "the vendor id, decimal or 0x-hex (required)")
        ->check(vendorCheck)
        ->type_name("ID");
    if (needsIndex) {
        command.add_option("--index", raw.index, "the device's index from 'list', 0 to 24 (required)")
            ->check(indexCheck)
            ->type_name("N");
    }
}

void addCommands(CLI::App& app, CommandLine& line, RawLine& raw) {
    CLI::App* list = app.add_subcommand("list", "the vendor's attached devices");
    addDeviceOptions(*list, raw, false);
    list->add_flag("--json", line.json, "one line of JSON, also when the listing fails");

    CLI::App* monitor = app.add_subcommand("monitor", "print each input report until the device is unplugged");
    addDeviceOptions(*monitor, raw, true);
    CLI::Option* changed = monitor->add_flag("--changed", line.changed, "only reports whose contents changed");
    monitor->add_option("--record", line.record, "also write every report to FILE, for replaying")
        ->type_name("FILE")
        ->excludes(changed);

    CLI::App* send = app.add_subcommand("send", "send output reports through the paced queue");
    addDeviceOptions(*send, raw, true);
    send->add_flag("--fast", line.fast, "FastWrite, paced 5 ms apart, instead of WriteData's 50 ms");
    send->add_option("HEX", raw.reports, "one report each, report-ID byte first (01ff00 or 01:ff:00)")
        ->check(reportCheck);

    CLI::App* replay = app.add_subcommand("replay", "replay a recording on the simulated bus and drain it");
    replay->add_option("FILE", line.replayFile, "a recording made with monitor --record")->required();
    replay->add_option("--speed", raw.speed, "1 as recorded, 2 twice as fast, 0 as fast as it is taken")
        ->check(speedCheck)
        ->type_name("X");

    CLI::App* watch = app.add_subcommand("watch", "a line for each of the vendor's devices that arrives or goes");
    addDeviceOptions(*watch, raw, false);
    watch->add_flag("--json", line.json, "one JSON object per line");
    watch->add_flag("--present", line.present, "first a line for each device already attached");

    app.add_subcommand("demo", "a tour of the library on the simulated bus");
    CLI::App* codes = app.add_subcommand("codes", "every status code and its meaning");
    codes->add_flag("--markdown", line.markdown, "the page docs/status-codes.md is generated from");
    app.add_subcommand("help", "this text (help COMMAND: its options)");
}

void addSimOptions(CLI::App& app, RawLine& raw) {
    app.add_option("--sim-attach", raw.simAttach, "attach a device (repeatable)")
        ->check(simDeviceCheck)
        ->type_name("VENDOR:PRODUCT:USAGEPAGE:USAGE:INPUT:OUTPUT")
        ->allow_extra_args(false)
        ->group("Simulated bus");
    app.add_option("--sim-feed", raw.simFeed, "monitor: the device sends N reports 20 ms apart, then unplugs")
        ->check(countCheck)
        ->type_name("N")
        ->group("Simulated bus");
    app.add_option("--sim-replay", raw.simReplay, "replay a recording as one more device (after --sim-attach's)")
        ->type_name("FILE")
        ->group("Simulated bus");
    app.add_option("--sim-speed", raw.simSpeed, "--sim-replay's speed: 1 as recorded, 2 twice as fast, 0 at once")
        ->check(speedCheck)
        ->type_name("X")
        ->group("Simulated bus");
    app.add_option("--sim-deny", raw.simDeny, "opening the devices for reading or writing is refused as denied")
        ->check(CLI::IsMember({"read", "write"}))
        ->type_name("read|write")
        ->group("Simulated bus");
}

// Turns the checked text into values.
void applyRaw(const RawLine& raw, CommandLine& line) {
    if (!raw.vendor.empty()) line.vendor = parseNumber(raw.vendor, 0xFFFF);
    if (!raw.index.empty()) line.index = static_cast<int32_t>(*parseNumber(raw.index, JUXHID_MAX_DEVICES - 1));
    for (const std::string& report : raw.reports) line.reports.push_back(*parseHexReport(report));
    for (const std::string& device : raw.simAttach) line.simAttach.push_back(*parseSimDevice(device));
    if (!raw.simFeed.empty()) line.simFeed = static_cast<int32_t>(*parseNumber(raw.simFeed, 100000));
    line.simDeny = raw.simDeny;
    line.simReplay = raw.simReplay;
    if (!raw.speed.empty()) line.speed = *parseSpeed(raw.speed);
    if (!raw.simSpeed.empty()) line.simSpeed = *parseSpeed(raw.simSpeed);
}

// The first word no option or command took, in the user's terms. An option
// of the command given before it is named as misplaced, not unknown.
std::string describeExtra(const CLI::App& app, const std::string& extra, const std::string& command,
                          bool simBuild) {
    if (extra.starts_with("-")) {
        const std::string name = extra.substr(0, extra.find('='));
        if (command.empty()) return "unknown option '" + name + "'";
        if (app.get_subcommand(command)->get_option_no_throw(name) != nullptr) {
            return "'" + name + "' belongs after the command: " + programName(simBuild) + " " + command + " " + name +
                   " ...";
        }
        return "unknown option '" + name + "' for '" + command + "'";
    }
    return command.empty() ? "unknown command '" + extra + "'" : "unexpected argument '" + extra + "'";
}

// CLI11's words for a parse error, turned into what the user did.
std::string describeParseError(const CLI::ParseError& error) {
    const std::string text = error.what();
    const size_t mark = text.find(": At Most 1 required but received ");
    if (mark != std::string::npos) {
        return "'" + text.substr(0, mark) + "' given more than once; give it once";
    }
    return text;
}

// `help` and `help COMMAND`: the overview, or the command's own options.
std::string helpFor(const CLI::App& app, std::string_view word, bool simBuild) {
    if (word.empty() || word == "help") return usageText(simBuild);
    const auto named = [&](const CLI::App* command) { return command->get_name() == word; };
    if (app.get_subcommands(named).empty()) return usageText(simBuild);
    return parseCommandLine({word, "--help"}, simBuild).output;  // as COMMAND --help says it
}

// Where the command word stands: past the simulated-bus options before it and
// their values. None when something else comes first (CLI11 then says what).
std::optional<size_t> commandPosition(const std::vector<std::string_view>& args, bool simBuild) {
    static constexpr std::string_view kValued[] = {"--sim-attach", "--sim-feed", "--sim-replay", "--sim-speed",
                                                   "--sim-deny"};
    for (size_t i = 0; i < args.size(); ++i) {
        if (!args[i].starts_with("-")) return i;
        const std::string_view name = args[i].substr(0, args[i].find('='));
        if (!simBuild || std::find(std::begin(kValued), std::end(kValued), name) == std::end(kValued)) break;
        if (name.size() == args[i].size()) ++i;  // the value is the next word
    }
    return std::nullopt;
}

// What each command needs beyond the options it accepts.
std::string checkComplete(const CommandLine& line, bool simBuild) {
    const std::string& c = line.command;
    if (c.empty()) return "no command given";
    const bool needsDevice = c == "monitor" || c == "send";
    if ((needsDevice || c == "list" || c == "watch") && !line.vendor) {
        return c + " needs --vendor ID: the library lists one vendor's devices at a time";
    }
    if (needsDevice && !line.index) {
        return c + " needs --index N (see: " + programName(simBuild) + " list --vendor ID)";
    }
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

std::optional<double> parseSpeed(std::string_view text) {
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (copy.empty() || end != copy.c_str() + copy.size() || !std::isfinite(value) || value < 0) return std::nullopt;
    return value;
}

std::string programName(bool simBuild) { return simBuild ? "juxhid-sim" : "juxhid"; }

std::string versionText(bool simBuild) {
    return programName(simBuild) + " " + JUXHID_TOOL_VERSION + "\n";
}

ParseOutcome parseCommandLine(const std::vector<std::string_view>& args, bool simBuild) {
    ParseOutcome out;
    RawLine raw;
    CLI::App app("a host application of the JUXHID library", programName(simBuild));
    app.fallthrough();   // the simulated-bus options also after the command
    app.allow_extras();  // collected and named below, in the user's order
    // A path such as /tmp/in.txt is a file, not a Windows-style option, on
    // every platform (the simulated build runs under Wine with Unix paths).
    app.allow_windows_style_options(false);
    app.set_version_flag("-V,--version", versionText(simBuild));
    addCommands(app, out.line, raw);
    if (simBuild) addSimOptions(app, raw);

    // help only explains: whatever follows it names what to explain, and
    // nothing of it runs, so it is answered before anything is parsed.
    const std::optional<size_t> commandAt = commandPosition(args, simBuild);
    if (commandAt && args[*commandAt] == "help") {
        out.line.command = "help";
        out.output = helpFor(app, *commandAt + 1 < args.size() ? args[*commandAt + 1] : "", simBuild);
        return out;
    }
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
    try {
        app.parse(reversed);
    } catch (const CLI::CallForVersion& version) {
        out.output = version.what();
        return out;
    } catch (const CLI::CallForHelp&) {
        // The top level shows the overview; a command its own options.
        out.output = app.get_subcommands().empty() ? usageText(simBuild) : app.help();
        return out;
    } catch (const CLI::ParseError& error) {
        out.error = describeParseError(error);
        return out;
    }
    for (const CLI::App* command : app.get_subcommands()) out.line.command = command->get_name();
    const std::vector<std::string> extras = app.remaining(true);
    if (!extras.empty()) {
        out.error = describeExtra(app, extras.front(), out.line.command, simBuild);
        return out;
    }
    applyRaw(raw, out.line);
    out.error = checkComplete(out.line, simBuild);
    return out;
}

std::string usageText(bool simBuild) {
    const std::string name = programName(simBuild);
    std::string text = "usage: " + name + " COMMAND [OPTIONS]\n"
        "\n"
        "  list    --vendor ID [--json]           the vendor's attached devices\n"
        "  monitor --vendor ID --index N [--changed | --record FILE]\n"
        "                                         print each input report until unplugged\n"
        "  replay  FILE [--speed X]               replay a recording (juxhid-sim) and drain it\n"
        "  send    --vendor ID --index N [--fast] HEX...\n"
        "                                         send output reports through the paced queue\n"
        "  watch   --vendor ID [--present] [--json]\n"
        "                                         a line for each device that arrives or goes\n"
        "  demo                                   a tour on the simulated bus\n"
        "  codes   [--markdown]                   every status code and its meaning\n"
        "  help [COMMAND], -h, --help             this text (help COMMAND or COMMAND --help:\n"
        "                                         its options)\n"
        "  -V, --version                          the program's version\n"
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
            "  --sim-feed N   monitor: the device sends N reports 20 ms apart, then unplugs;\n"
            "                 watch: the devices go and come back N times, then SIGTERM\n"
            "  --sim-deny read|write   opening a device that way is refused as denied\n"
            "  --sim-replay FILE [--sim-speed X]   replay a recording as one more device\n";
    }
    return text;
}

}  // namespace juxhid::tool
