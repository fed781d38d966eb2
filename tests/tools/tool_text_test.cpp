// The tool's text handling: argument checks that decide between a command and
// exit 2, reports in hex, and the status table as the tool and the docs show it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "args.h"
#include "hidraw_nodes.h"
#include "juxhid_status.h"
#include "listing_text.h"
#include "status_text.h"

namespace juxhid::tool {
namespace {

ParseOutcome parse(std::vector<std::string_view> args, bool sim = true) { return parseCommandLine(args, sim); }

TEST(ToolNumbers, VendorIdsTakeDecimalOrHexAndStayWithinTheirRange) {
    EXPECT_EQ(parseNumber("6699", 0xFFFF), 6699u);
    EXPECT_EQ(parseNumber("0x1A2B", 0xFFFF), 0x1A2Bu);
    EXPECT_EQ(parseNumber("0X1a2b", 0xFFFF), 0x1A2Bu);
    EXPECT_EQ(parseNumber("65535", 0xFFFF), 65535u);
    EXPECT_EQ(parseNumber("65536", 0xFFFF), std::nullopt);
    EXPECT_EQ(parseNumber("0x", 0xFFFF), std::nullopt);
    EXPECT_EQ(parseNumber("", 0xFFFF), std::nullopt);
    EXPECT_EQ(parseNumber("-1", 0xFFFF), std::nullopt);
    EXPECT_EQ(parseNumber("12a", 0xFFFF), std::nullopt);
    EXPECT_EQ(parseNumber("0x1G", 0xFFFF), std::nullopt);
    EXPECT_EQ(parseNumber("99999999999999999999", 0xFFFFFFFF), std::nullopt);
}

TEST(ToolReports, HexReportsAcceptPrefixAndByteSeparatorsOnly) {
    EXPECT_EQ(parseHexReport("01ff00"), (std::vector<uint8_t>{0x01, 0xFF, 0x00}));
    EXPECT_EQ(parseHexReport("0x01FF"), (std::vector<uint8_t>{0x01, 0xFF}));
    EXPECT_EQ(parseHexReport("01:ff-0a"), (std::vector<uint8_t>{0x01, 0xFF, 0x0A}));
    EXPECT_EQ(parseHexReport("1ff"), std::nullopt) << "an odd digit count is no whole report";
    EXPECT_EQ(parseHexReport("0:1"), std::nullopt) << "separators sit between whole bytes";
    EXPECT_EQ(parseHexReport(":01"), std::nullopt);
    EXPECT_EQ(parseHexReport("01:"), std::nullopt);
    EXPECT_EQ(parseHexReport("01::02"), std::nullopt);
    EXPECT_EQ(parseHexReport("zz"), std::nullopt);
    EXPECT_EQ(parseHexReport(""), std::nullopt);
}

TEST(ToolCommandLine, CompleteCommandsParseIntoTheirOptions) {
    ParseOutcome list = parse({"list", "--vendor", "0x1A2B", "--json"});
    ASSERT_EQ(list.error, "");
    EXPECT_EQ(list.line.command, "list");
    EXPECT_EQ(list.line.vendor, 0x1A2Bu);
    EXPECT_TRUE(list.line.json);

    ParseOutcome send = parse({"send", "--vendor=6699", "--index=3", "--fast", "0102", "ff"});
    ASSERT_EQ(send.error, "");
    EXPECT_EQ(send.line.index, 3);
    EXPECT_TRUE(send.line.fast);
    ASSERT_EQ(send.line.reports.size(), 2u);
    EXPECT_EQ(send.line.reports[1], std::vector<uint8_t>{0xFF});

    ParseOutcome monitor = parse({"--sim-attach", "0x1A2B:1:0xFF00:1:9:9", "monitor", "--changed", "--vendor",
                                  "0x1A2B", "--index", "0", "--sim-feed", "4"});
    ASSERT_EQ(monitor.error, "");
    EXPECT_TRUE(monitor.line.changed);
    ASSERT_EQ(monitor.line.simAttach.size(), 1u);
    EXPECT_EQ(monitor.line.simAttach[0].usagePage, 0xFF00u);
    EXPECT_EQ(monitor.line.simAttach[0].outputLength, 9u);
    EXPECT_EQ(monitor.line.simFeed, 4);

    ParseOutcome recording = parse({"monitor", "--vendor", "1", "--index", "0", "--record", "out.txt"});
    ASSERT_EQ(recording.error, "");
    EXPECT_EQ(recording.line.record, "out.txt");

    ParseOutcome replay = parse({"replay", "in.txt", "--speed", "2.5"});
    ASSERT_EQ(replay.error, "");
    EXPECT_EQ(replay.line.command, "replay");
    EXPECT_EQ(replay.line.replayFile, "in.txt");
    EXPECT_DOUBLE_EQ(replay.line.speed, 2.5);
    EXPECT_DOUBLE_EQ(parse({"replay", "in.txt"}).line.speed, 1.0);
    // A path that starts with a slash is a file on Windows too, not an option.
    EXPECT_EQ(parse({"replay", "/tmp/in.txt"}).line.replayFile, "/tmp/in.txt");

    ParseOutcome watched = parse({"monitor", "--vendor", "1", "--index", "0", "--sim-replay", "in.txt",
                                  "--sim-speed", "0"});
    ASSERT_EQ(watched.error, "");
    EXPECT_EQ(watched.line.simReplay, "in.txt");
    EXPECT_DOUBLE_EQ(watched.line.simSpeed, 0.0);
}

TEST(ToolNumbers, ReplaySpeedsAreFiniteAndNotNegative) {
    EXPECT_EQ(parseSpeed("1"), 1.0);
    EXPECT_EQ(parseSpeed("0"), 0.0);
    EXPECT_EQ(parseSpeed("0.25"), 0.25);
    EXPECT_EQ(parseSpeed("-1"), std::nullopt);
    EXPECT_EQ(parseSpeed("inf"), std::nullopt);
    EXPECT_EQ(parseSpeed("nan"), std::nullopt);
    EXPECT_EQ(parseSpeed("2x"), std::nullopt);
    EXPECT_EQ(parseSpeed(""), std::nullopt);
}

TEST(ToolCommandLine, EveryIncompleteOrWrongLineIsRefusedWithAReason) {
    const std::vector<std::vector<std::string_view>> wrong = {
        {},
        {"frobnicate"},
        {"list"},
        {"list", "--vendor"},
        {"list", "--vendor", "0x10000"},
        {"list", "--vendor", "0x1A2B", "--index", "0"},
        {"list", "--vendor", "0x1A2B", "extra"},
        {"list", "--json=maybe", "--vendor", "1"},
        {"--vendor", "1", "list"},
        {"list", "--vendor", "1", "--sim-attach"},
        {"--sim-deny", "both", "list", "--vendor", "1"},
        {"monitor", "--vendor", "1"},
        {"monitor", "--vendor", "1", "--index", "25"},
        {"monitor", "--vendor", "1", "--index", "-1"},
        {"send", "--vendor", "1", "--index", "0"},
        {"send", "--vendor", "1", "--index", "0", "0a1"},
        {"send", "--vendor", "1", "--index", "0", "--changed", "00"},
        {"codes", "--bogus"},
        {"--sim-attach", "1:2:3", "list", "--vendor", "1"},
    };
    for (const auto& args : wrong) {
        std::string joined;
        for (std::string_view a : args) joined += std::string(a) + " ";
        EXPECT_NE(parse(args).error, "") << "accepted: " << joined;
    }
}

TEST(ToolCommandLine, HelpAndVersionAreAnswersNotErrors) {
    for (std::vector<std::string_view> asked : {std::vector<std::string_view>{"--help"}, {"-h"}, {"help"}}) {
        const ParseOutcome help = parse(asked);
        EXPECT_EQ(help.error, "");
        EXPECT_EQ(help.output, usageText(true)) << asked[0];
    }
    const ParseOutcome sendHelp = parse({"send", "--help"});
    EXPECT_EQ(sendHelp.error, "");
    EXPECT_NE(sendHelp.output.find("--fast"), std::string::npos) << sendHelp.output;
    EXPECT_EQ(sendHelp.output.find("--markdown"), std::string::npos) << "only send's own options";
    // help explains; whatever follows it names what to explain and never runs.
    const ParseOutcome helpSend = parse({"help", "send", "--vendor", "0x1A2B", "--index", "0", "01"});
    EXPECT_EQ(helpSend.error, "");
    EXPECT_EQ(helpSend.output, sendHelp.output);
    EXPECT_EQ(helpSend.line.command, "help");
    EXPECT_EQ(parse({"help", "frobnicate", "--bogus"}).output, usageText(true));
    EXPECT_EQ(parse({"help", "help"}).output, usageText(true));
    EXPECT_EQ(parse({"--sim-attach", "1:2:3:4:5:6", "help", "list"}).output, parse({"list", "--help"}).output);
    EXPECT_EQ(parse({"--version"}, false).output, versionText(false));
    EXPECT_EQ(parse({"-V"}).output, versionText(true));
    EXPECT_EQ(versionText(false).find("juxhid "), 0u);
    EXPECT_EQ(parse({"list", "--vendor", "1"}).output, "") << "a command to run prints nothing yet";
}

TEST(ToolCommandLine, MessagesNameTheWordTheUserTyped) {
    EXPECT_EQ(parse({"frobnicate"}).error, "unknown command 'frobnicate'");
    EXPECT_EQ(parse({"codes", "--vendor=1"}).error, "unknown option '--vendor' for 'codes'");
    EXPECT_EQ(parse({"--vendor", "1", "list"}).error,
              "'--vendor' belongs after the command: juxhid-sim list --vendor ...");
    EXPECT_EQ(parse({"--index=0", "monitor", "--vendor", "1"}, false).error,
              "'--index' belongs after the command: juxhid monitor --index ...");
    EXPECT_EQ(parse({"list", "--vendor", "1", "--vendor", "2"}).error, "'--vendor' given more than once; give it once");
    EXPECT_EQ(parse({"replay", "a.txt", "--speed", "1", "--speed=2"}).error,
              "'--speed' given more than once; give it once");
    EXPECT_EQ(parse({"monitor", "--vendor", "1"}).error, "monitor needs --index N (see: juxhid-sim list --vendor ID)");
    EXPECT_EQ(parse({"monitor", "--vendor", "1"}, false).error,
              "monitor needs --index N (see: juxhid list --vendor ID)");
    EXPECT_NE(parse({"send", "--vendor", "1", "--index", "0", "0a1"}).error.find("not a report in hex: '0a1'"),
              std::string::npos);
}

TEST(ToolCommandLine, SimulatedBusOptionsGoBeforeOrAfterTheCommand) {
    const ParseOutcome after = parse({"list", "--vendor", "1", "--sim-attach", "1:2:3:4:5:6",
                                      "--sim-attach=1:3:3:4:5:6", "--sim-deny", "write"});
    ASSERT_EQ(after.error, "");
    ASSERT_EQ(after.line.simAttach.size(), 2u);
    EXPECT_EQ(after.line.simAttach[1].productId, 3u);
    EXPECT_EQ(after.line.simDeny, "write");
}

TEST(ToolCommandLine, TheRealDeviceBuildKnowsNoSimulatedBusOptions) {
    EXPECT_EQ(parse({"list", "--vendor", "1", "--sim-feed", "3"}, true).error, "");
    EXPECT_NE(parse({"list", "--vendor", "1", "--sim-feed", "3"}, false).error, "");
    EXPECT_NE(parse({"list", "--vendor", "1", "--sim-replay", "in.txt"}, false).error, "");
    EXPECT_EQ(usageText(false).find("--sim-"), std::string::npos);
}

TEST(ToolStatus, EveryCodeOfTheTableIsFoundWithItsOwnMeaning) {
    std::set<int32_t> codes;
    for (const StatusEntry& entry : statusTable()) {
        EXPECT_TRUE(codes.insert(entry.code).second) << "code twice in the table: " << entry.code;
        const StatusEntry* found = findStatus(entry.code);
        ASSERT_NE(found, nullptr) << entry.code;
        EXPECT_STREQ(found->name, entry.name);
        EXPECT_EQ(describeStatus(entry.code), std::to_string(entry.code) + " (" + entry.meaning + ")");
        EXPECT_STRNE(functionsReturning(entry.code), "none") << entry.code;
    }
    EXPECT_EQ(findStatus(JUXHID_READ_DEVICE_GONE)->name, std::string("JUXHID_READ_DEVICE_GONE"));
    EXPECT_EQ(findStatus(202), nullptr);
    EXPECT_NE(describeStatus(202).find("not a status"), std::string::npos);
}

TEST(ToolStatus, CodesAreAttributedToTheFunctionsOfTheirHundred) {
    EXPECT_STREQ(functionsReturning(JUXHID_LIST_NO_DEVICE), "EnumerateJUX");
    EXPECT_STREQ(functionsReturning(JUXHID_READ_LOCK_TIMEOUT), "ReadData");
    EXPECT_STREQ(functionsReturning(JUXHID_READ_NO_LOCK), "ReadData");
    EXPECT_STREQ(functionsReturning(JUXHID_WRITE_SLOW_CHAIN), "WriteData, FastWrite");
    EXPECT_STREQ(functionsReturning(JUXHID_CALLBACK_NO_WORKER), "SetDataCallback, SetErrorCallback");
}

TEST(ToolStatus, TheMarkdownPageHasOneRowPerCode) {
    const std::string page = statusTableMarkdown();
    size_t rows = 0;
    for (size_t at = page.find("\n| "); at != std::string::npos; at = page.find("\n| ", at + 1)) ++rows;
    EXPECT_EQ(rows, statusTable().size() + 1) << "one header row plus one per code";
    EXPECT_NE(page.find("| 3258 | `JUXHID_READ_LOCK_TIMEOUT` | ReadData |"), std::string::npos);
}

TEST(ToolListing, TableAndJsonCarryEveryColumn) {
    const std::vector<ListedDevice> devices = {{0, 0x0001, 0xFF00, 0x0001, 9, 0}, {1, 0xBEEF, 0x0001, 0x0006, 65, 33}};
    const std::string table = formatDeviceTable(0x1A2B, devices);
    EXPECT_NE(table.find("vendor 0x1A2B: 2 devices"), std::string::npos) << table;
    EXPECT_NE(table.find("    1  0xBEEF   0x0001      0x0006     65      33"), std::string::npos) << table;

    const std::string json = formatDeviceJson(0x1A2B, 0, devices);
    EXPECT_EQ(json.substr(0, 39), "{\"vendor\": 6699, \"status\": 0, \"devices\"");
    EXPECT_NE(json.find("{\"index\": 1, \"productId\": 48879, \"usagePage\": 1, \"usage\": 6, "
                        "\"inputLength\": 65, \"outputLength\": 33}"),
              std::string::npos)
        << json;
    EXPECT_EQ(formatDeviceJson(1, 102, {}), "{\"vendor\": 1, \"status\": 102, \"devices\": []}\n");
}

TEST(ToolHidrawNodes, NodesAreFoundByTheVendorAndProductInTheirUevent) {
    namespace fs = std::filesystem;
    const unsigned unique = std::random_device{}();  // builds may run this test side by side
    const fs::path root = fs::temp_directory_path() / ("juxhid-tool-hidraw-" + std::to_string(unique));
    fs::remove_all(root);
    const auto node = [&](const char* name, const char* uevent) {
        fs::create_directories(root / name / "device");
        std::ofstream(root / name / "device" / "uevent") << "DRIVER=hid-generic\n" << uevent << "\nHID_NAME=x\n";
    };
    node("hidraw0", "HID_ID=0003:00001A2B:00000001");
    node("hidraw3", "HID_ID=0003:00001A2B:00000002");
    node("hidraw7", "HID_ID=0005:00001A2B:00000001");
    node("hidraw9", "HID_ID=0003:00009999:00000001");
    fs::create_directories(root / "hidraw5");  // no device folder
    EXPECT_EQ(hidrawNodesOf(root.string(), 0x1A2B, 1), (std::vector<std::string>{"/dev/hidraw0", "/dev/hidraw7"}));
    EXPECT_EQ(hidrawNodesOf(root.string(), 0x1A2B, 2), std::vector<std::string>{"/dev/hidraw3"});
    EXPECT_TRUE(hidrawNodesOf(root.string(), 0x1A2B, 9).empty());
    EXPECT_TRUE(hidrawNodesOf((root / "absent").string(), 0x1A2B, 1).empty());
    fs::remove_all(root);
}

TEST(ToolListing, HexIsLowercasePairsSeparatedBySpaces) {
    const uint8_t bytes[] = {0x00, 0x0A, 0xFF, 0x10};
    EXPECT_EQ(formatHex(bytes, 4), "00 0a ff 10");
    EXPECT_EQ(formatHex(bytes, 0), "");
}

}  // namespace
}  // namespace juxhid::tool
