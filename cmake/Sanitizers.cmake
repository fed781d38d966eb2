# JUXHID_SANITIZE=address,undefined or JUXHID_SANITIZE=thread instruments every
# target of the build, tests included.
if(JUXHID_SANITIZE)
  add_compile_options(-fsanitize=${JUXHID_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${JUXHID_SANITIZE})
endif()
