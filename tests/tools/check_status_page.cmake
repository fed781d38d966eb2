# The committed status-code page must be exactly what the tool generates from
# the status table.  TOOL: the program; EMULATOR: what runs it in a cross
# build; PAGE: docs/status-codes.md.
execute_process(COMMAND ${EMULATOR} ${TOOL} codes --markdown RESULT_VARIABLE status OUTPUT_VARIABLE generated)
string(REPLACE "\r" "" generated "${generated}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TOOL} codes --markdown ended with ${status}")
endif()
file(READ ${PAGE} committed)
if(NOT generated STREQUAL committed)
  message(FATAL_ERROR "${PAGE} differs from the status table; regenerate it:\n"
    "    juxhid-sim codes --markdown > docs/status-codes.md")
endif()
