#pragma once
// The build directory whose tools the tests run: OFS_BINARY_DIR, or else the
// directory above the running test program (build/tests/<name>).
#include <cstdlib>
#include <filesystem>
#include <string>

namespace ofs::test {

inline std::string BinaryDir() {
  if (const char* dir = std::getenv("OFS_BINARY_DIR"); dir != nullptr && *dir != '\0') return dir;
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().parent_path().string();
}

}  // namespace ofs::test
