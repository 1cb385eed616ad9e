# The stand-in host: its document and wire format, and the host and its
# scripts as processes.
vm_add_gtest(standin_document_test
  SOURCES standin_document_test.cpp
  LIBS vm_standin_core)

vm_add_gtest(standin_process_test
  SOURCES standin_process_test.cpp
  LIBS vm_platform)
target_compile_definitions(standin_process_test PRIVATE
  VM_STANDIN_HOST="$<TARGET_FILE:vm-standin-host>"
  VM_STANDIN_RESOURCES="${VM_BUNDLE_RESOURCES}")
if(VM_WITH_QT)
  target_compile_definitions(standin_process_test PRIVATE VM_STANDIN_HAS_QT)
endif()
# The scripts are copied into the bundle when vm-standin-script is built.
add_dependencies(standin_process_test vm-standin-host vm-standin-script)
