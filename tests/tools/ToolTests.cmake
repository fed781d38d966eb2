# The simulated-bus build of the tool, run as a user would run it. Devices
# come from the hidden --sim-attach option; --sim-feed makes one talk.
set(vendor 0x1A2B)
set(device "--sim-attach@@0x1A2B:0x0001:0xFF00:1:9:9")

# juxhid_tool_test(NAME EXIT code ARGS args... [EXPECT regex...] [STDOUT regex...] [STDERR regex...]
#                  [REJECT regex...] [QUIET stdout|stderr] [GAPS low:high] [TOOL target])
function(juxhid_tool_test name)
  cmake_parse_arguments(T "" "EXIT;GAPS;TOOL;QUIET" "ARGS;EXPECT;STDOUT;STDERR;REJECT" ${ARGN})
  if(NOT T_TOOL)
    set(T_TOOL juxhid_sim_tool)
  endif()
  set(lists "")
  foreach(list IN ITEMS ARGS EXPECT STDOUT STDERR REJECT)
    string(REPLACE ";" "@@" joined "${T_${list}}")
    list(APPEND lists "-D${list}=${joined}")
  endforeach()
  add_test(NAME Tool.${name} COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:${T_TOOL}>
    "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}" ${lists} -DQUIET=${T_QUIET}
    -DEXIT=${T_EXIT} -DGAPS=${T_GAPS} -P ${CMAKE_CURRENT_SOURCE_DIR}/run_tool.cmake)
  set_tests_properties(Tool.${name} PROPERTIES TIMEOUT 90)
endfunction()

# Bad arguments: the reason, led by the program's own name, and exit 2, before
# any device is touched. Help and version are answers, not errors: exit 0.
juxhid_tool_test(NoCommandGivesUsage EXIT 2 EXPECT "no command given" "usage: juxhid-sim COMMAND")
juxhid_tool_test(UnknownCommandGivesUsage EXIT 2 ARGS frobnicate EXPECT "unknown command 'frobnicate'")
juxhid_tool_test(ListWithoutVendorGivesUsage EXIT 2 ARGS list EXPECT "list needs --vendor ID")
juxhid_tool_test(MalformedVendorGivesUsage EXIT 2 ARGS list --vendor 0xZZ EXPECT "16-bit number")
juxhid_tool_test(MalformedReportGivesUsage EXIT 2 ARGS send --vendor 1 --index 0 0a1
  EXPECT "not a report in hex: '0a1'")
juxhid_tool_test(MalformedSimDeviceGivesUsage EXIT 2 ARGS --sim-attach 1:2 list --vendor 1
  EXPECT "--sim-attach wants")
juxhid_tool_test(HelpPrintsUsage EXIT 0 ARGS help EXPECT "send +--vendor ID --index N \\[--fast\\] HEX")
juxhid_tool_test(HelpFlagPrintsUsage EXIT 0 ARGS --help EXPECT "^usage: juxhid-sim COMMAND" "--sim-attach")
juxhid_tool_test(ShortHelpFlagPrintsUsage EXIT 0 ARGS -h EXPECT "^usage: juxhid-sim COMMAND")
juxhid_tool_test(CommandHelpListsItsOptions EXIT 0 ARGS send --help EXPECT "juxhid-sim send" "--fast" "--index N")
juxhid_tool_test(VersionPrintsTheProjectsVersion EXIT 0 ARGS --version EXPECT "^juxhid-sim ${PROJECT_VERSION}\n$")
juxhid_tool_test(OptionOfAnotherCommandGivesUsage EXIT 2 ARGS codes --vendor 1
  EXPECT "^juxhid-sim: unknown option '--vendor' for 'codes'\nRun 'juxhid-sim --help'")

juxhid_tool_test(ShortVersionFlagPrintsTheVersion EXIT 0 ARGS -V STDOUT "^juxhid-sim ${PROJECT_VERSION}\n$")
# help only explains, whatever follows it: nothing is sent here.
juxhid_tool_test(HelpOfACommandOnlyPrintsItsHelp EXIT 0
  ARGS ${device} help send --vendor ${vendor} --index 0 01 STDOUT "juxhid-sim send" "--fast" QUIET stderr
  REJECT "ms  WriteData" "received")
juxhid_tool_test(RepeatedOptionIsNamed EXIT 2 ARGS list --vendor 1 --vendor 2
  STDERR "^juxhid-sim: '--vendor' given more than once; give it once\n" QUIET stdout)
juxhid_tool_test(OptionBeforeTheCommandIsNamed EXIT 2 ARGS --vendor 1 list
  STDERR "^juxhid-sim: '--vendor' belongs after the command: juxhid-sim list --vendor" QUIET stdout)

juxhid_tool_test(CodesPrintsEveryMeaning EXIT 0 ARGS codes
  EXPECT "  307  JUXHID_READ_DEVICE_GONE +the device is gone" " 3258  JUXHID_READ_LOCK_TIMEOUT")

# Listing.
juxhid_tool_test(ListJsonShowsOnlyTheVendorsDevices EXIT 0
  ARGS ${device} --sim-attach 0x9999:7:1:1:8:8 --sim-attach 0x1A2B:2:1:6:65:0 list --vendor ${vendor} --json
  EXPECT "^{\"vendor\": 6699, \"status\": 0, \"devices\": \\[{\"index\": 0, \"productId\": 1, \"usagePage\": 65280, \"usage\": 1, \"inputLength\": 9, \"outputLength\": 9}, {\"index\": 1, \"productId\": 2, \"usagePage\": 1, \"usage\": 6, \"inputLength\": 65, \"outputLength\": 0}\\]}")
juxhid_tool_test(ListTableShowsLengths EXIT 0 ARGS ${device} list --vendor 6699
  EXPECT "vendor 0x1A2B: 1 device\n" "    0  0x0001   0xFF00      0x0001      9       9")
# Messages on stderr, data on stdout, in every command: "no attached device"
# is a message wherever it is met.
juxhid_tool_test(ListWithoutDevicesSaysSo EXIT 1 ARGS list --vendor ${vendor}
  STDERR "^juxhid-sim: vendor 0x1A2B: 102 \\(no attached device of that vendor\\)" QUIET stdout)
juxhid_tool_test(ListJsonWithoutDevicesCarriesTheStatus EXIT 1 ARGS list --vendor ${vendor} --json
  STDOUT "^{\"vendor\": 6699, \"status\": 102, \"devices\": \\[\\]}\n$" STDERR "102")
juxhid_tool_test(MonitorWithoutDevicesSaysSoOnStderr EXIT 1 ARGS monitor --vendor ${vendor} --index 0
  STDERR "^juxhid-sim: listing vendor 0x1A2B: 102 " QUIET stdout)
juxhid_tool_test(SendWithoutDevicesSaysSoOnStderr EXIT 1 ARGS send --vendor ${vendor} --index 0 01
  STDERR "^juxhid-sim: listing vendor 0x1A2B: 102 " QUIET stdout)

# Monitoring: reports through the callbacks, then the unplug.
juxhid_tool_test(MonitorPrintsReportsUntilUnplugged EXIT 1
  ARGS ${device} --sim-feed 5 monitor --vendor ${vendor} --index 0
  EXPECT "[0-9]\\.[0-9][0-9][0-9][0-9] s  04 00 a5 a5 a5 a5 a5 a5\n"
         "device unplugged after [1-5] reports: the error callback reported 307 \\(the device is gone")
juxhid_tool_test(MonitorRefusesADeviceWithoutInput EXIT 1
  ARGS --sim-attach 0x1A2B:1:1:1:0:8 monitor --vendor ${vendor} --index 0 EXPECT "no input reports")
juxhid_tool_test(MonitorNamesAMissingIndex EXIT 1 ARGS ${device} monitor --vendor ${vendor} --index 1
  EXPECT "^juxhid-sim: vendor 0x1A2B has 1 device\\(s\\); there is no index 1")

# An open refused for access names the device and where access is granted.
juxhid_tool_test(DeniedReadNamesTheDeviceAndTheUdevRule EXIT 1
  ARGS ${device} --sim-deny read monitor --vendor ${vendor} --index 0
  EXPECT "juxhid-sim: opening index 0: 206 " "the device is sim/vid_1a2b&pid_0001/0 " "docs/linux.md")
juxhid_tool_test(DeniedWriteNamesTheDeviceAndTheUdevRule EXIT 1
  ARGS ${device} send --vendor ${vendor} --index 0 --sim-deny write 01
  EXPECT "juxhid-sim: opening index 0: 209 " "the device is sim/vid_1a2b&pid_0001/0 " "docs/linux.md")

# Sending through the paced queue.
juxhid_tool_test(SendPacesReportsAboutFiftyMsApart EXIT 0
  ARGS ${device} send --vendor ${vendor} --index 0 01 0102 03ff
  EXPECT "WriteData 01 00 00 00 00 00 00 00 00: 0 \\(success\\)" "WriteData 03 ff 00 00 00 00 00 00 00: 0"
         "received:\n  at +0\\.0 ms \\(gap +0\\.0 ms\\)  01 00" "  03 ff 00 00 00 00 00 00 00\n"
  GAPS 25:400)
juxhid_tool_test(SendFastPacesReportsAboutFiveMsApart EXIT 0
  ARGS ${device} send --fast --vendor ${vendor} --index 0 01 02 03
  EXPECT "FastWrite 02 00 00 00 00 00 00 00 00: 0 \\(success\\)" GAPS 1:150)
# Only the opened device knows its length: a refusal (1), not a bad argument.
juxhid_tool_test(SendRefusesAReportLongerThanTheDevicesOwn EXIT 1
  ARGS ${device} send --vendor ${vendor} --index 0 00112233445566778899
  EXPECT "juxhid-sim: report 1 has 10 bytes; index 0 takes 9")

juxhid_tool_test(DemoShowsDeviceReportsAndPacedWrites EXIT 0 ARGS demo
  EXPECT "    0  0x0001   0xFF00" "   [0-9]\\.[0-9]+ s  05 50 00" "WriteData #5: 0 \\(success\\)"
         "FastWrite #5: 0 \\(success\\)" "at +[0-9.]+ ms \\(gap +[0-9.]+ ms\\)  00 04 00" "\\(gap +[0-9.]+ ms\\)  00 f4 00" "reported 307")

# Recording and replaying: a round trip through two runs, the replay command
# draining a recording, and files or options it refuses.
set(recordings ${CMAKE_CURRENT_SOURCE_DIR}/recordings)
add_test(NAME Tool.RecordedTrafficReplaysTheSame COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:juxhid_sim_tool>
  "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}" -DDIR=${CMAKE_CURRENT_BINARY_DIR}
  -P ${CMAKE_CURRENT_SOURCE_DIR}/replay_round_trip.cmake)
set_tests_properties(Tool.RecordedTrafficReplaysTheSame PROPERTIES TIMEOUT 120)
juxhid_tool_test(ReplayDrainsEveryReportThenTheUnplug EXIT 0 ARGS replay ${recordings}/three-reports.txt
  EXPECT "input reports of 4 bytes" "delivered 3 reports in 0\\.[0-9]+ s \\([0-9]+ reports/s\\), then the unplug\n"
         "the host read 3 with ReadData, lost 0")
juxhid_tool_test(ReplayAtSpeedZeroAfterAnotherDevice EXIT 0
  ARGS ${device} replay ${recordings}/three-reports.txt --speed 0 EXPECT "at speed 0: vendor 0x1A2B, index 1"
  "then the unplug\n" "the host read 3 with ReadData, lost 0")
# Each wake-up of the data callback prints the newest report, so on a loaded
# machine the earlier ones can fold into a later wake-up; the last one is
# always printed before the unplug.
juxhid_tool_test(MonitorWatchesAReplay EXIT 1
  ARGS --sim-replay ${recordings}/three-reports.txt --sim-speed 2 monitor --vendor ${vendor} --index 0
  EXPECT "s  aa bb cc\n" "device unplugged after [1-3] reports")
juxhid_tool_test(ReplayNamesTheBadLine EXIT 1 ARGS replay ${recordings}/report-too-short.txt
  EXPECT "report-too-short.txt: line 9: the report has 3 bytes; the device's input reports have 4")
juxhid_tool_test(ReplayRefusesARecordingWithoutInputReports EXIT 1 ARGS replay ${recordings}/no-input-reports.txt
  STDERR "no-input-reports.txt: line 6: 'input-length' must be 1 or more" QUIET stdout)
juxhid_tool_test(ReplayOfAMissingFileSaysSo EXIT 1 ARGS --sim-replay no-such-recording.txt list --vendor ${vendor}
  EXPECT "cannot read 'no-such-recording.txt'")
juxhid_tool_test(ReplayRefusesANegativeSpeed EXIT 2 ARGS replay x.txt --speed -1 EXPECT "a speed is a number, 0 or above")
juxhid_tool_test(ReplayNeedsAFile EXIT 2 ARGS replay EXPECT "FILE is required")
juxhid_tool_test(RecordExcludesChanged EXIT 2 ARGS monitor --vendor 1 --index 0 --changed --record x.txt
  EXPECT "excludes")
juxhid_tool_test(RecordOfAnUnwritableFileSaysSo EXIT 1
  ARGS ${device} monitor --vendor ${vendor} --index 0 --record ${recordings}/no/such/folder.txt
  EXPECT "cannot write the recording to")

# SIGTERM (as `timeout` sends it) ends monitor as Ctrl-C does, with its lines
# already through the pipe. Signals are for the native program, not Wine's.
if(NOT CMAKE_CROSSCOMPILING AND NOT WIN32)
  add_test(NAME Tool.MonitorEndsCleanlyOnSigterm
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/monitor_sigterm.sh $<TARGET_FILE:juxhid_sim_tool>
      ${CMAKE_CURRENT_BINARY_DIR}/sigterm)
  set_tests_properties(Tool.MonitorEndsCleanlyOnSigterm PROPERTIES TIMEOUT 90)
endif()

add_test(NAME Tool.StatusPageMatchesTheTable COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:juxhid_sim_tool>
  "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
  -DPAGE=${PROJECT_SOURCE_DIR}/docs/status-codes.md -P ${CMAKE_CURRENT_SOURCE_DIR}/check_status_page.cmake)

# The real-device build offers the same commands, without the simulated bus.
if(TARGET juxhid)
  juxhid_tool_test(RealBuildSendsTheDemoToTheSimBuild TOOL juxhid_tool EXIT 1 ARGS demo EXPECT "juxhid-sim demo")
  juxhid_tool_test(RealBuildKnowsNoSimOptions TOOL juxhid_tool EXIT 2 ARGS --sim-feed 1 list --vendor 1
    EXPECT "^juxhid: unknown option '--sim-feed'" "Run 'juxhid --help'")
  juxhid_tool_test(RealBuildSendsTheReplayToTheSimBuild TOOL juxhid_tool EXIT 1 ARGS replay x.txt
    EXPECT "juxhid-sim replay FILE")
  juxhid_tool_test(RealBuildNamesItself TOOL juxhid_tool EXIT 0 ARGS --version EXPECT "^juxhid ${PROJECT_VERSION}\n$")
endif()

# Watching: the present device first, then each time it goes and comes back;
# SIGTERM (sent by the bench after the last round) ends the watch cleanly.
set(watched "{\"event\": \"(arrived|removed)\", \"vendorId\": 6699, \"productId\": 1, \"usagePage\": 65280, \"usage\": 1, \"inputLength\": 9, \"outputLength\": 9, \"path\": \"sim/vid_1a2b&pid_0001/0\"}\n")
juxhid_tool_test(WatchJsonSeesEveryArrivalAndRemovalInOrder EXIT 0
  ARGS ${device} --sim-attach 0x9999:7:1:1:8:8 --sim-feed 2 watch --vendor ${vendor} --present --json
  EXPECT "^${watched}${watched}${watched}${watched}${watched}$" "^{\"event\": \"arrived\"[^\n]*\n{\"event\": \"removed\"[^\n]*\n{\"event\": \"arrived\"[^\n]*\n{\"event\": \"removed\"")
juxhid_tool_test(WatchWithoutPresentStartsSilentAndStopsOnSigterm EXIT 0
  ARGS ${device} --sim-feed 1 watch --vendor ${vendor}
  EXPECT "^watching vendor 0x1A2B \\(Ctrl-C stops\\)\narrived  product 0x0001  usage page 0xFF00  usage 0x0001  in 9  out 9  sim/vid_1a2b&pid_0001/0\nstopped\n$")
juxhid_tool_test(WatchWithoutVendorGivesUsage EXIT 2 ARGS watch EXPECT "watch needs --vendor ID")
