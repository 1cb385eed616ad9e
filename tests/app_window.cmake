# The program's own main window on the Qt backend (offscreen), started as the
# entry routine starts it.
if(VM_WITH_QT)
  vm_add_gtest(app_window_test SOURCES qt/app_window_test.cpp
    LIBS vm_app_fixture vm_qt Qt6::Widgets Qt6::Test
    ENV QT_QPA_PLATFORM=offscreen)
endif()
