# The framework's window models, without a backend.
vm_add_gtest(screen_placement_test SOURCES screen_placement_test.cpp LIBS vm_platform)
