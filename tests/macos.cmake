# The macOS application bundle's Info.plist (made on every system).
add_test(NAME macos_info_plist
  COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/macos/info_plist_check.py
          ${CMAKE_BINARY_DIR}/app/Info.plist $<TARGET_FILE_NAME:Vellowmark>)

# Descriptors from the portable helpers carry the flags they promise.
vm_add_gtest(posix_io_test SOURCES posix_io_test.cpp LIBS vm_platform)

# The macOS Finder-info file type, run here through a shim that gives
# Linux's extended attributes macOS's calls.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  vm_add_gtest(finder_info_test
    SOURCES macos/finder_info_test.cpp ${CMAKE_SOURCE_DIR}/platform/finder_info_macos.cpp)
  target_include_directories(finder_info_test BEFORE PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/macos/shim)
endif()
