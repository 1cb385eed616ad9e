# Folder items, text streams, host scripts and Apple events.
vm_add_gtest(files_test SOURCES files_test.cpp LIBS vm_platform)
vm_add_gtest(scripting_test SOURCES scripting_test.cpp LIBS vm_platform Threads::Threads)
