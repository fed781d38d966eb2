# Runs the tool once and checks what a user would see.
#   TOOL     the program
#   EMULATOR what runs it, for a cross build (a ;-free command)
#   ARGS     its arguments, separated by @@
#   EXIT     the exit status it must end with
#   EXPECT   regular expressions the output must match, separated by @@
#   GAPS     LOW:HIGH - every gap between reports that reached the device,
#            in whole milliseconds, lies within these bounds
string(REPLACE "@@" ";" args "${ARGS}")
execute_process(COMMAND ${EMULATOR} ${TOOL} ${args} RESULT_VARIABLE status OUTPUT_VARIABLE out
  ERROR_VARIABLE err TIMEOUT 60)
# A Windows console under Wine ends its lines with CR LF.
string(REPLACE "\r" "" out "${out}")
string(REPLACE "\r" "" err "${err}")
set(all "${out}${err}")
set(failed "")
if(NOT status STREQUAL "${EXIT}")
  string(APPEND failed "exit status ${status}, expected ${EXIT}\n")
endif()
if(EXPECT)
  string(REPLACE "@@" ";" expectations "${EXPECT}")
  foreach(regex IN LISTS expectations)
    if(NOT all MATCHES "${regex}")
      string(APPEND failed "output does not match: ${regex}\n")
    endif()
  endforeach()
endif()
if(GAPS)
  string(REPLACE ":" ";" bounds "${GAPS}")
  list(GET bounds 0 low)
  list(GET bounds 1 high)
  string(REGEX MATCHALL "gap +[0-9]+\\.[0-9] ms" gaps "${out}")
  list(LENGTH gaps count)
  if(count LESS 2)
    string(APPEND failed "fewer than two reports reached the device\n")
  else()
    list(REMOVE_AT gaps 0)  # the first report has no predecessor
    foreach(gap IN LISTS gaps)
      string(REGEX REPLACE "gap +([0-9]+)\\..*" "\\1" ms "${gap}")
      if(ms LESS low OR ms GREATER high)
        string(APPEND failed "a gap of ${ms} ms lies outside ${low}..${high} ms\n")
      endif()
    endforeach()
  endif()
endif()
if(failed)
  message(FATAL_ERROR "${TOOL} ${args}\n${failed}--- output ---\n${all}")
endif()
