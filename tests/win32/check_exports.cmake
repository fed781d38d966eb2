# Reads a DLL's export table with objdump and fails on any missing or extra
# name: every library function under its plain name and, on 32-bit Windows
# (i686), also under its stdcall-decorated name; plus, for the simulated-bus
# DLL, the bus's functions under their plain names. The watch functions come
# with the simulated-bus DLL and alone in the companion watch DLL, named like
# the library's. 64-bit Windows (x86_64) has no decorated names.
#   cmake -DOBJDUMP=... -DDLL=... -DKIND=library|simulated|watch -DARCH=i686|x86_64
#         -P check_exports.cmake
set(library_functions
  EnumerateJUX@12 GetReadLength@4 GetWriteLength@4 SetupInterface@4 CloseInterface@4
  CleanupInterface@4 ReadData@8 ReadLast@8 ClearBuffer@4 SetDataCallback@12
  SetErrorCallback@8 WriteData@8 FastWrite@8)
set(watch_functions StartDeviceWatch@20 StopDeviceWatch@4)
set(simulated_bus_functions
  juxsim_attach juxsim_detach juxsim_deliver juxsim_take_output juxsim_output_count
  juxsim_set_write_delay juxsim_now_ns juxsim_fault_arm juxsim_fault_fired juxsim_fault_clear
  juxsim_counts juxsim_last_message_box juxsim_reset juxsim_replay_start juxsim_replay_error
  juxsim_replay_device juxsim_replay_delivered juxsim_replay_wait juxsim_replay_stop juxsim_replay_free)

if(NOT ARCH MATCHES "^(i686|x86_64)$")
  message(FATAL_ERROR "ARCH must be i686 or x86_64, not '${ARCH}'")
endif()
set(expected)
if(KIND STREQUAL "watch")
  set(library_functions ${watch_functions})
elseif(KIND STREQUAL "simulated")
  list(APPEND library_functions ${watch_functions})
endif()
foreach(function ${library_functions})
  string(REGEX REPLACE "@.*" "" plain ${function})
  list(APPEND expected ${plain})
  if(ARCH STREQUAL "i686")
    list(APPEND expected _${function})
  endif()
endforeach()
if(KIND STREQUAL "simulated")
  list(APPEND expected ${simulated_bus_functions})
endif()

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE table RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed")
endif()
# The names follow the "[Ordinal/Name Pointer] Table" heading, one per line
# as "[  n] Name", up to the next empty line.
string(FIND "${table}" "[Ordinal/Name Pointer] Table" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${DLL} has no export name table")
endif()
string(SUBSTRING "${table}" ${start} -1 table)
string(REGEX REPLACE "\n\n.*" "" table "${table}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" entries "${table}")
set(exported)
foreach(entry ${entries})
  string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${entry}")
  string(STRIP "${name}" name)
  list(APPEND exported ${name})
endforeach()

set(missing ${expected})
list(REMOVE_ITEM missing ${exported})
set(extra ${exported})
list(REMOVE_ITEM extra ${expected})
list(LENGTH exported exported_count)
if(missing OR extra)
  message(FATAL_ERROR "${DLL}: missing exports [${missing}], extra exports [${extra}]")
endif()
message(STATUS "${DLL}: ${exported_count} exports, as expected")
