#include "firmware/EmbeddedAreas.h"

#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tools/BinaryDir.h"

namespace ofs {
namespace {

using Bytes = std::vector<uint8_t>;

void Append(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

void AppendLe32(Bytes& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void AppendArea(Bytes& out, const std::string& marker, uint32_t capacity) {
  out.push_back(static_cast<uint8_t>(marker.size() + 4));
  Append(out, marker);
  AppendLe32(out, capacity);
  out.insert(out.end(), capacity, 0);
}

// The two groups as ofsmerge expects them in the program file.
Bytes CvtGroup() {
  Bytes group;
  AppendLe32(group, 0x110000);
  AppendArea(group, "CVT FILE BUFFER", 0x110000);
  Append(group, "CVT FILE BUFFER");
  return group;
}

Bytes FirmwareGroup() {
  Bytes group;
  AppendLe32(group, 0x210000);
  AppendArea(group, "OFS3 FILE BUFFER", 0x210000);
  AppendArea(group, "OFS3 FILE BUFFER2", 0x210000);
  AppendArea(group, "OFS3 FILE BUFFER3", 0x210000);
  Append(group, "OFS3 FILE BUFFEROFS3 FILE BUFFER2OFS3 FILE BUFFER3");
  group.push_back(0x00);
  AppendLe32(group, 0x100000);
  AppendArea(group, "PARAMETER BUFFER", 0x100000);
  Append(group, "PARAMETER BUFFER");
  return group;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  Bytes bytes(in ? static_cast<std::size_t>(in.tellg()) : 0);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

// Offset of the one place where group starts in file, or npos.
std::size_t FindGroup(const Bytes& file, const Bytes& group) {
  const std::size_t head = 4 + 1 + 16;  // leading capacity, header length, first marker
  std::size_t found = std::string::npos;
  for (std::size_t at = 0; at < file.size(); ++at) {
    const void* hit = ::memmem(file.data() + at, file.size() - at, group.data(), head);
    if (hit == nullptr) break;
    at = static_cast<const uint8_t*>(hit) - file.data();
    if (file.size() - at >= group.size() && std::memcmp(file.data() + at, group.data(), group.size()) == 0) {
      if (found != std::string::npos) return std::string::npos;
      found = at;
    }
  }
  return found;
}

// Name of the ELF section holding the file bytes [offset, offset + length).
std::string SectionOf(const Bytes& file, std::size_t offset, std::size_t length) {
  if (file.size() < sizeof(Elf64_Ehdr) || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0) return "";
  Elf64_Ehdr header;
  std::memcpy(&header, file.data(), sizeof header);
  auto section = [&](std::size_t i) {
    Elf64_Shdr s;
    std::memcpy(&s, file.data() + header.e_shoff + i * header.e_shentsize, sizeof s);
    return s;
  };
  const Elf64_Shdr names = section(header.e_shstrndx);
  for (std::size_t i = 0; i < header.e_shnum; ++i) {
    const Elf64_Shdr s = section(i);
    if (s.sh_type == SHT_PROGBITS && s.sh_offset <= offset && offset + length <= s.sh_offset + s.sh_size)
      return reinterpret_cast<const char*>(file.data() + names.sh_offset + s.sh_name);
  }
  return "";
}

void ExpectAreasIn(const std::string& path) {
  const Bytes file = ReadFile(path);
  ASSERT_FALSE(file.empty()) << path;
  for (const Bytes& group : {CvtGroup(), FirmwareGroup()}) {
    const std::size_t at = FindGroup(file, group);
    ASSERT_NE(at, std::string::npos) << path << ": group starting with "
                                     << std::string(group.begin() + 5, group.begin() + 20) << " not found once";
    EXPECT_EQ(SectionOf(file, at, group.size()), ".data") << path;
  }
}

TEST(EmbeddedAreas, ProgramFileCarriesAllFiveAreasInInitialisedData) {
  ExpectAreasIn(test::BinaryDir() + "/tools/ofstool");
}

TEST(EmbeddedAreas, ThisTestProgramCarriesThemToo) { ExpectAreasIn("/proc/self/exe"); }

TEST(EmbeddedAreas, SpansStartAfterHeaderLengthAndAreZeroAsBuilt) {
  const EmbeddedAreas areas = ProgramEmbeddedAreas();
  EXPECT_EQ(areas.cvt.size(), 0x110000u);
  EXPECT_EQ(areas.parameter.size(), 0x100000u);
  for (const auto& area : areas.ofs3) EXPECT_EQ(area.size(), 0x210000u);
  EXPECT_EQ(std::string(areas.cvt.data() - 19, areas.cvt.data() - 4), "CVT FILE BUFFER");
  EXPECT_EQ(std::string(areas.ofs3[0].data() - 20, areas.ofs3[0].data() - 4), "OFS3 FILE BUFFER");
  EXPECT_EQ(std::string(areas.ofs3[2].data() - 21, areas.ofs3[2].data() - 4), "OFS3 FILE BUFFER3");
  EXPECT_EQ(std::string(areas.parameter.data() - 20, areas.parameter.data() - 4), "PARAMETER BUFFER");
  // No gap between the OFS3 buffers: the next header-length byte follows the last data byte.
  EXPECT_EQ(areas.ofs3[1].data(), areas.ofs3[0].data() + 0x210000 + 1 + 17 + 4);
  EXPECT_EQ(areas.ofs3[2].data(), areas.ofs3[1].data() + 0x210000 + 1 + 17 + 4);
  for (auto area : {areas.cvt, areas.ofs3[0], areas.ofs3[1], areas.ofs3[2], areas.parameter})
    EXPECT_TRUE(std::all_of(area.begin(), area.end(), [](uint8_t b) { return b == 0; }));
}

}  // namespace
}  // namespace ofs
