# Copies the sample rule sets into <build>/reglist and the sample document
# into <build>/standin, leaving every file that is already there alone.
file(GLOB rule_sets RELATIVE "${SRC}/reglist" "${SRC}/reglist/*.txt")
file(MAKE_DIRECTORY "${BINARY_DIR}/reglist" "${BINARY_DIR}/standin")
foreach(name IN LISTS rule_sets)
  if(NOT EXISTS "${BINARY_DIR}/reglist/${name}")
    file(COPY "${SRC}/reglist/${name}" DESTINATION "${BINARY_DIR}/reglist")
  endif()
endforeach()
if(NOT EXISTS "${BINARY_DIR}/standin/document.txt")
  file(COPY "${SRC}/document.txt" DESTINATION "${BINARY_DIR}/standin")
endif()
