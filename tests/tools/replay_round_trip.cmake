# Records a simulated device with `monitor --record`, replays the recording
# into a fresh run of the tool under `monitor --record` again, and compares
# the two files: the same reports in the same order, each at about its
# recorded time, and the unplug.
#   TOOL, EMULATOR as for run_tool.cmake; DIR a folder for the two files
set(first "${DIR}/round-trip-recorded.txt")
set(second "${DIR}/round-trip-replayed.txt")
file(REMOVE "${first}" "${second}")

function(run_tool)
  execute_process(COMMAND ${EMULATOR} ${TOOL} ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out
    ERROR_VARIABLE err TIMEOUT 60)
  if(NOT status STREQUAL "1" OR NOT out MATCHES "recorded 6 reports to")
    message(FATAL_ERROR "${TOOL} ${ARGN}\nexit ${status}, expected 1 and 6 reports recorded\n${out}${err}")
  endif()
endfunction()

# Times in microseconds and reports in hex, one list each; and the unplug.
function(read_recording path times reports unplug)
  file(STRINGS "${path}" lines)
  list(GET lines 0 format)
  if(NOT format STREQUAL "juxhid-recording 1")
    message(FATAL_ERROR "${path} starts with '${format}'")
  endif()
  set(t "")
  set(r "")
  set(u "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^([0-9]+) ([0-9a-f]+)$")
      list(APPEND t ${CMAKE_MATCH_1})
      list(APPEND r ${CMAKE_MATCH_2})
    elseif(line MATCHES "^unplug ([0-9]+)$")
      set(u ${CMAKE_MATCH_1})
    endif()
  endforeach()
  set(${times} "${t}" PARENT_SCOPE)
  set(${reports} "${r}" PARENT_SCOPE)
  set(${unplug} "${u}" PARENT_SCOPE)
endfunction()

run_tool(--sim-attach 0x1A2B:7:0xFF00:2:9:9 --sim-feed 6 monitor --vendor 0x1A2B --index 0 --record "${first}")
run_tool(--sim-replay "${first}" monitor --vendor 0x1A2B --index 0 --record "${second}")
read_recording("${first}" recorded_times recorded_reports recorded_unplug)
read_recording("${second}" replayed_times replayed_reports replayed_unplug)

set(failed "")
if(NOT replayed_reports STREQUAL recorded_reports)
  string(APPEND failed "the reports differ:\n  recorded ${recorded_reports}\n  replayed ${replayed_reports}\n")
endif()
if(NOT recorded_unplug OR NOT replayed_unplug)
  string(APPEND failed "an unplug is missing\n")
endif()
file(READ "${first}" header LIMIT 120)
if(NOT header MATCHES "vendor 0x1A2B\nproduct 0x0007\nusage-page 0xFF00\nusage 0x0002\ninput-length 9\noutput-length 9\n")
  string(APPEND failed "the header does not describe the device:\n${header}\n")
endif()
# The replay delivers each report at its recorded time after the opening,
# not after the previous report, so each report's replayed time is checked
# against its recorded time, not the gaps: the recorder stamps a report when
# its callback takes it, and one late stamp on the shared, noisy machine
# would shorten the next gap however exactly the replay kept its times. A
# replayed time may come up to 25 ms early (the recorder's clock starts a
# little after the replay's, at the opening) and 150 ms late.
list(LENGTH recorded_times count)
math(EXPR last "${count} - 1")
if(count EQUAL 6 AND NOT failed)
  foreach(n RANGE 0 ${last})
    list(GET recorded_times ${n} a)
    list(GET replayed_times ${n} c)
    math(EXPR recorded_ms "${a} / 1000")
    math(EXPR replayed_ms "${c} / 1000")
    math(EXPR low "${recorded_ms} - 25")
    math(EXPR high "${recorded_ms} + 150")
    if(replayed_ms LESS low OR replayed_ms GREATER high)
      string(APPEND failed "report ${n}: at ${replayed_ms} ms replayed, ${recorded_ms} ms recorded\n")
    endif()
  endforeach()
endif()
if(failed)
  file(READ "${first}" a)
  file(READ "${second}" b)
  message(FATAL_ERROR "${failed}--- recorded ---\n${a}--- replayed ---\n${b}")
endif()
