#pragma once
// Finding and filling the embedded data areas inside a built executable's bytes.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ofsmerge {

enum class Payload { Ofs, Philips, ParameterText };

struct AreaSpec {
  const char* option;  // command-line option that fills this area
  const char* marker;  // start marker text
  uint32_t capacity;
  Payload payload;
};

inline constexpr AreaSpec kAreas[] = {
    {"--cvt", "CVT FILE BUFFER", 0x110000, Payload::Philips},
    {"--ofs1", "OFS3 FILE BUFFER", 0x210000, Payload::Ofs},
    {"--ofs2", "OFS3 FILE BUFFER2", 0x210000, Payload::Ofs},
    {"--ofs3", "OFS3 FILE BUFFER3", 0x210000, Payload::Ofs},
    {"--params", "PARAMETER BUFFER", 0x100000, Payload::ParameterText},
};

// Offset of the area's first data byte: the one place where the start marker has
// its header-length byte before it and its capacity after it. Empty (with error
// set) when there is no such place, or more than one.
std::optional<std::size_t> FindArea(const std::vector<uint8_t>& file, const AreaSpec& area, std::string& error);

// The bytes to store for a payload file's content: a Philips file gets its
// big-endian length in front. Empty (with error set) when the content is not
// what the area holds or exceeds its capacity.
std::optional<std::vector<uint8_t>> PreparePayload(std::vector<uint8_t> content, const AreaSpec& area,
                                                   std::string& error);

// Copies payload to the data at dataOffset and clears the rest of the area.
void FillArea(std::vector<uint8_t>& file, std::size_t dataOffset, const AreaSpec& area,
              const std::vector<uint8_t>& payload);

}  // namespace ofsmerge
