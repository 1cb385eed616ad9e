# Folder items and text streams against what real file systems hold: case
# variants of names, links and special files where a file is saved, UTF-16.
vm_add_gtest(files_edges_test SOURCES files_edges_test.cpp LIBS vm_platform)
