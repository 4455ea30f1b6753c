// mkofs: builds OFS3, legacy OFS and Philips firmware containers for tests,
// benchmarks and demos, and refuses to write one that does not parse back.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "firmware/OfsBuilder.h"
#include "firmware/ImageSize.h"
#include "mkofs/SelfCheck.h"
#include "params/OutputFile.h"
#include "params/RegularFile.h"
#include "params/Tool.h"

namespace {

using ofs::build::InquiryTemplate;
using ofs::build::OfsLayout;

constexpr char kUsage[] =
    "usage: mkofs -o OUT [options]   (mkofs --tool-version: the version of mkofs itself)\n"
    "  --format ofs3|legacy|philips   container kind (default ofs3)\n"
    "  --version C                    version character (' ' or space, 1, 2, 3)\n"
    "  --banks N | --bank-sizes A,B,.. bank count (full slots) or bank lengths\n"
    "  --slot S                       OFS3 bank slot size (default 0x10000)\n"
    "  --image-size N                 flat image / Philips body length\n"
    "  --seed N | --flat FILE         pattern seed, or the flat image from a file\n"
    "  --plain | --scramble-flag N    store plain; write this flag byte\n"
    "  --ide-type N --atapi-type N --kernel-type N --key A,B,C,D\n"
    "  --reserved ADDR:LEN (repeat)  --kernel ADDR:LEN  --checksum N\n"
    "  --template OFFSET | --boot-template OFFSET, then for it:\n"
    "      --vendor T --product T --revision T --hwid T --ext T --dc-ext T\n"
    "  --name TEXT --trailer A,B --with-length   (Philips)\n"
    "The image a container describes (banks x slot; Philips: body + 40) is at most 64 MiB.\n";
// A template's fields end with the extension at +40; the "DC" extension lies 12 bytes before it.
constexpr uint64_t kTemplateBytes = 46;
constexpr uint64_t kDcExtensionBytes = 12;

constexpr char kOutputRule[] = "OUT must be a new file or a regular one. Nothing was written.";

struct Options {
  std::string out;
  std::string format = "ofs3";
  OfsLayout layout;
  std::optional<char> version;
  std::optional<std::size_t> banks, imageSize;
  uint32_t seed = 1;
  std::string flatFile;
  std::vector<InquiryTemplate> templates;
  std::string name = "Philips";
  uint16_t trailer1 = 0, trailer2 = 0;
  bool withLength = false;
  bool help = false;
  bool toolVersion = false;
};

bool Fail(const std::string& message) {
  std::fprintf(stderr, "mkofs: %s\n", message.c_str());
  return false;
}

bool Number(const std::string& text, uint64_t limit, uint64_t& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtoull(text.c_str(), &end, 0);
  return !text.empty() && text[0] != '-' && *end == '\0' && errno == 0 && value <= limit;
}

bool NumberList(const std::string& text, uint64_t limit, char separator, std::vector<uint64_t>& values) {
  values.clear();
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(separator, start);
    uint64_t value = 0;
    if (!Number(text.substr(start, end - start), limit, value)) return false;
    values.push_back(value);
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

bool Pair(const std::string& text, std::pair<uint32_t, uint32_t>& pair) {
  std::vector<uint64_t> v;
  if (!NumberList(text, UINT32_MAX, ':', v) || v.size() != 2) return false;
  pair = {static_cast<uint32_t>(v[0]), static_cast<uint32_t>(v[1])};
  return true;
}

// Options that edit the template started last.
bool TemplateOption(const std::string& option, const std::string& value, Options& o) {
  static const std::pair<const char*, std::string InquiryTemplate::*> kFields[] = {
      {"--vendor", &InquiryTemplate::vendor},     {"--product", &InquiryTemplate::product},
      {"--revision", &InquiryTemplate::revision}, {"--hwid", &InquiryTemplate::hardwareId},
      {"--ext", &InquiryTemplate::extension}};
  for (const auto& [name, field] : kFields) {
    if (option != name) continue;
    if (o.templates.empty()) return Fail(option + " needs a --template before it");
    o.templates.back().*field = value;
    return true;
  }
  if (option != "--dc-ext") return Fail("unknown option " + option);
  if (o.templates.empty()) return Fail(option + " needs a --template before it");
  o.templates.back().dcExtension = value;
  return true;
}

bool Option(const std::string& option, const std::string& value, Options& o) {
  uint64_t n = 0;
  std::vector<uint64_t> list;
  std::pair<uint32_t, uint32_t> pair;
  const auto number = [&](uint64_t limit) { return Number(value, limit, n) || Fail("bad number for " + option); };
  if (option == "-o") o.out = value;
  else if (option == "--format") o.format = value;
  else if (option == "--version") {
    if (value.size() != 1 && value != "space") return Fail("--version takes one character");
    o.version = value == "space" ? ' ' : value[0];
  } else if (option == "--banks") {
    if (!number(0xFFFF)) return false;
    o.banks = n;
  } else if (option == "--bank-sizes") {
    if (!NumberList(value, UINT32_MAX, ',', list)) return Fail("bad --bank-sizes");
    o.layout.bankSizes.assign(list.begin(), list.end());
  } else if (option == "--slot") {
    if (!number(UINT32_MAX)) return false;
    o.layout.slotSize = static_cast<uint32_t>(n);
  } else if (option == "--image-size") {
    if (!number(UINT32_MAX)) return false;
    o.imageSize = n;
  } else if (option == "--seed") {
    if (!number(UINT32_MAX)) return false;
    o.seed = static_cast<uint32_t>(n);
  } else if (option == "--flat") o.flatFile = value;
  else if (option == "--scramble-flag") {
    if (!number(0xFF)) return false;
    o.layout.scrambleFlag = static_cast<uint8_t>(n);
  } else if (option == "--ide-type" || option == "--atapi-type" || option == "--kernel-type") {
    if (!number(0xFF)) return false;
    (option == "--ide-type" ? o.layout.ideFlashType : option == "--atapi-type" ? o.layout.atapiFlashType
                                                                              : o.layout.kernelType) =
        static_cast<uint8_t>(n);
  } else if (option == "--key") {
    if (!NumberList(value, 0xFF, ',', list) || list.size() != 4) return Fail("--key takes four bytes A,B,C,D");
    for (std::size_t i = 0; i < 4; ++i) o.layout.keyParameters[i] = static_cast<uint8_t>(list[i]);
  } else if (option == "--reserved") {
    if (!Pair(value, pair)) return Fail("--reserved takes ADDR:LEN");
    o.layout.reservedBlocks.push_back(pair);
  } else if (option == "--kernel") {
    if (!Pair(value, pair)) return Fail("--kernel takes ADDR:LEN");
    std::tie(o.layout.kernelAddress, o.layout.kernelLength) = pair;
  } else if (option == "--checksum") {
    if (!number(0xFFFF)) return false;
    o.layout.headerChecksum = static_cast<uint16_t>(n);
  } else if (option == "--template" || option == "--boot-template") {
    if (!number(UINT32_MAX)) return false;
    o.templates.emplace_back().offset = n;
    if (option == "--boot-template") o.templates.back().revision = "BOOT";
  } else if (option == "--name") o.name = value;
  else if (option == "--trailer") {
    if (!NumberList(value, 0xFFFF, ',', list) || list.size() != 2) return Fail("--trailer takes A,B");
    o.trailer1 = static_cast<uint16_t>(list[0]);
    o.trailer2 = static_cast<uint16_t>(list[1]);
  } else return TemplateOption(option, value, o);
  return true;
}

std::size_t SlotOf(const Options& o) { return o.layout.version == '3' ? o.layout.slotSize : 0x10000; }

// The flat image's length: from the file, else from the options.
uint64_t FlatLength(const Options& o) {
  if (!o.flatFile.empty()) return ofs::GetFileLength(o.flatFile);
  const uint64_t slot = SlotOf(o);
  if (o.banks) return *o.banks * slot;
  if (!o.layout.bankSizes.empty()) return o.layout.bankSizes.size() * slot;
  return o.imageSize.value_or(o.format == "philips" ? 0x10000 : slot);
}

// The image size a reader of the container takes from it: bank count times slot, or for
// Philips the body with its name and trailer. Counted wide, so that no product wraps.
uint64_t ContainerImageSize(const Options& o, uint64_t flatLength) {
  if (o.format == "philips") return flatLength + 40;
  const uint64_t slot = SlotOf(o);
  const uint64_t banks = !o.layout.bankSizes.empty() ? o.layout.bankSizes.size()
                         : slot == 0                 ? 0
                                                     : (flatLength + slot - 1) / slot;
  return banks * slot;
}

// A template cut off by the image's end, or a "DC" extension in front of its start, would
// be left out of the container without a word.
bool TemplatesFit(const Options& o, uint64_t flatLength) {
  for (const InquiryTemplate& t : o.templates) {
    if (t.offset > flatLength || flatLength - t.offset < kTemplateBytes) {
      return Fail("the template at offset " + std::to_string(t.offset) + " does not fit the " +
                  std::to_string(flatLength) + "-byte image (it takes " + std::to_string(kTemplateBytes) + " bytes)");
    }
    if (t.dcExtension && t.offset < kDcExtensionBytes) {
      return Fail("--dc-ext needs its template at offset " + std::to_string(kDcExtensionBytes) + " or later");
    }
  }
  return true;
}

bool ParseArguments(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "-h" || option == "--help") {
      o.help = true;
      return true;
    }
    // --version is the container's version character, which scripts pass.
    if (option == "--tool-version") {
      o.toolVersion = true;
      return true;
    }
    if (option == "--plain") o.layout.scrambled = false;
    else if (option == "--with-length") o.withLength = true;
    else if (i + 1 >= argc) return Fail(option + " needs a value");
    else if (!Option(option, argv[++i], o)) return false;
  }
  if (o.out.empty()) return Fail("no output path (-o OUT)");
  if (o.format != "ofs3" && o.format != "legacy" && o.format != "philips") return Fail("unknown format " + o.format);
  o.layout.version = o.version.value_or(o.format == "legacy" ? ' ' : '3');
  // Refused before anything is allocated: a reader refuses such a container unread anyway.
  const uint64_t flatLength = FlatLength(o);
  const uint64_t size = ContainerImageSize(o, flatLength);
  if (size > ofs::kMaxImageBytes) {
    return Fail("the container would describe " + std::to_string(size) + " bytes of image; none may describe more than " +
                std::to_string(ofs::kMaxImageBytes) + " (64 MiB)");
  }
  // A flat file without a length (empty, unreadable, not a regular file) is told as such when it is read.
  if (!o.flatFile.empty() && flatLength == 0) return true;
  if (size == 0) return Fail("the container would describe no image (its banks times its slot size is 0)");
  return TemplatesFit(o, flatLength);
}

std::optional<std::vector<uint8_t>> FlatImage(const Options& o) {
  const std::size_t slot = SlotOf(o);
  const uint64_t length = FlatLength(o);
  std::vector<uint8_t> flat;
  if (o.flatFile.empty()) {
    flat = ofs::build::MakeFlatImage(length, o.seed, {});
  } else {
    std::string problem;
    std::optional<std::vector<uint8_t>> bytes = ofs::ReadRegularFile(o.flatFile, problem, UINT32_MAX);
    if (bytes && bytes->empty()) problem = "is empty";
    if (!bytes || bytes->empty()) {
      Fail("cannot read " + o.flatFile + ": " + problem);
      return std::nullopt;
    }
    flat = std::move(*bytes);
  }
  // A legacy scrambled bank parses back with 0x02 in front, so it must hold one.
  if (o.format == "legacy" && o.layout.scrambled) {
    const std::vector<uint32_t> sizes = ofs::build::BankSizesFor(o.layout, flat.size());
    for (std::size_t i = 0; i < sizes.size() && i * slot < flat.size(); ++i)
      if (sizes[i] > 0) flat[i * slot] = 0x02;
  }
  ofs::build::PlaceTemplates(flat, o.templates);
  return flat;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArguments(argc, argv, o)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (o.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (o.toolVersion) {
    std::printf("mkofs %s\n", OFS_VERSION);
    return 0;
  }
  if (const std::string problem = ofs::OutputFileProblem(o.out); !problem.empty()) {
    Fail(o.out + " " + problem + "; " + kOutputRule);
    return 2;
  }
  std::optional<std::vector<uint8_t>> flat = FlatImage(o);
  if (!flat) return 1;
  std::vector<uint8_t> container;
  std::string error;
  if (o.format == "philips") {
    container = ofs::build::BuildPhilips(o.name, *flat, o.trailer1, o.trailer2, o.withLength);
    error = ofs::build::CheckPhilips(container, o.withLength, o.name, *flat, o.trailer1, o.trailer2);
  } else {
    container = ofs::build::BuildOfs(o.layout, *flat);
    error = ofs::build::CheckOfs(container, o.layout, *flat);
  }
  if (!error.empty()) {
    Fail("refusing to write " + o.out + ": " + error);
    return 1;
  }
  if (const std::string why = ofs::WriteOutputFile(o.out, container.data(), container.size()); !why.empty()) {
    Fail("cannot write " + o.out + ": " + why);
    return 1;
  }
  return 0;
}
