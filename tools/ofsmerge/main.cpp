// ofsmerge IN OUT [--ofs1 F] [--ofs2 F] [--ofs3 F] [--cvt F] [--params F]
// Fills the embedded data areas of a built ofsflash (or ofstool) executable and
// writes the result to OUT, a new file with IN's permissions or a regular file replaced.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ofsmerge/MergeAreas.h"
#include "params/OutputFile.h"
#include "params/Tool.h"

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "ofsmerge: %s\n", message.c_str());
  return 1;
}

bool ReadWhole(const std::string& path, std::vector<uint8_t>& bytes) {
  bytes.resize(ofs::GetFileLength(path));
  return bytes.empty() || ofs::ReadFileBinary(path, static_cast<uint32_t>(bytes.size()), bytes.data());
}

const ofsmerge::AreaSpec* AreaFor(const char* option) {
  for (const ofsmerge::AreaSpec& area : ofsmerge::kAreas)
    if (std::strcmp(option, area.option) == 0) return &area;
  return nullptr;
}

constexpr char kUsage[] =
    "usage: ofsmerge IN OUT [--ofs1 F] [--ofs2 F] [--ofs3 F] [--cvt F] [--params F]\n"
    "Copies the built program IN to OUT with its embedded areas filled: --ofs1..3 take OFS3\n"
    "containers, --cvt a Philips image, --params a parameter text. OUT flashes its own images\n"
    "only when that text says Updater=1 in [Main].\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("ofsmerge %s\n", OFS_VERSION);
    return 0;
  }
  if (argc < 3 || argc % 2 == 0) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string in = argv[1], out = argv[2];
  // Refused before any input is read: the output is a file of its own, never what a link,
  // a device or a fifo leads to.
  if (const std::string problem = ofs::OutputFileProblem(out); !problem.empty()) {
    Fail(out + " " + problem + "; OUT must be a new file or a regular one. Nothing was written.");
    return 2;
  }
  std::vector<uint8_t> file;
  struct stat info {};
  if (::stat(in.c_str(), &info) != 0 || !ReadWhole(in, file) || file.empty()) return Fail("cannot read " + in);

  for (int i = 3; i < argc; i += 2) {
    const ofsmerge::AreaSpec* area = AreaFor(argv[i]);
    if (area == nullptr) return Fail(std::string("unknown option ") + argv[i]);
    std::vector<uint8_t> content;
    if (!ReadWhole(argv[i + 1], content)) return Fail(std::string("cannot read ") + argv[i + 1]);
    std::string error;
    const auto payload = ofsmerge::PreparePayload(std::move(content), *area, error);
    if (!payload) return Fail(std::string(argv[i + 1]) + ": " + error);
    const auto dataOffset = ofsmerge::FindArea(file, *area, error);
    if (!dataOffset) return Fail(in + ": " + error);
    ofsmerge::FillArea(file, *dataOffset, *area, *payload);
  }
  // A new OUT runs as IN does; a replaced one keeps the permissions it had.
  if (const std::string why = ofs::WriteOutputFile(out, file.data(), file.size(), info.st_mode & 0777); !why.empty())
    return Fail("cannot write " + out + ": " + why);
  return 0;
}
