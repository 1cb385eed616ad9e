# The life of the process followed call by call: start-up, the event loop,
# the top-level handler and finalisation, on the headless backend.
vm_add_gtest(startup_order_test SOURCES startup_order_test.cpp LIBS vm_app_fixture)
