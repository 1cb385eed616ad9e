# The system's quit signals, raised in the test process while the whole
# program runs on the headless backend.
vm_add_gtest(quit_signals_test SOURCES quit_signals_test.cpp LIBS vm_app_fixture Threads::Threads)
