# Warnings are errors everywhere in this project's own code.
add_library(juxhid_warnings INTERFACE)
target_compile_options(juxhid_warnings INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic -Werror -Wshadow -Wnon-virtual-dtor>
  $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra -Werror>)
