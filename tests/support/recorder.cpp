// A stand-in host script for tests. It appends one record of its call to the
// file named by VM_RECORD_LOG: its own file name, the number of values and
// the values, each ended by a NUL byte. As "getcontents.scpt" it then prints
// the file named by VM_RECORD_CONTENT.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  const char* base = std::strrchr(argv[0], '/');
  base = base ? base + 1 : argv[0];
  if (const char* log = std::getenv("VM_RECORD_LOG")) {
    std::string record = std::string(base) + '\0' + std::to_string(argc - 1) + '\0';
    for (int i = 1; i < argc; ++i) record += std::string(argv[i]) + '\0';
    if (FILE* f = std::fopen(log, "ab")) {
      std::fwrite(record.data(), 1, record.size(), f);
      std::fclose(f);
    }
  }
  if (std::strcmp(base, "getcontents.scpt") == 0) {
    if (const char* content = std::getenv("VM_RECORD_CONTENT")) {
      if (FILE* f = std::fopen(content, "rb")) {
        char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) std::fwrite(buf, 1, n, stdout);
        std::fclose(f);
      }
    }
  }
  return 0;
}
