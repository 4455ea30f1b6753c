// mkzip ARCHIVE [MEMBER...]: packs files into a zip archive, in the order given,
// each under its own file name (no members: an empty archive).
#include <zip.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

bool AddMember(zipFile zip, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string name = path.substr(path.find_last_of('/') + 1);
  zip_fileinfo info{};
  if (zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                            Z_DEFAULT_COMPRESSION, 0) != ZIP_OK) {
    return false;
  }
  const bool written =
      bytes.empty() || zipWriteInFileInZip(zip, bytes.data(), static_cast<unsigned>(bytes.size())) == ZIP_OK;
  return zipCloseFileInZip(zip) == ZIP_OK && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: mkzip ARCHIVE [MEMBER...]\n");
    return 2;
  }
  zipFile zip = zipOpen64(argv[1], APPEND_STATUS_CREATE);
  if (zip == nullptr) {
    std::fprintf(stderr, "mkzip: cannot create %s\n", argv[1]);
    return 1;
  }
  bool ok = true;
  for (int i = 2; i < argc && ok; ++i) {
    ok = AddMember(zip, argv[i]);
    if (!ok) std::fprintf(stderr, "mkzip: cannot add %s\n", argv[i]);
  }
  if (zipClose(zip, nullptr) != ZIP_OK) ok = false;
  return ok ? 0 : 1;
}
