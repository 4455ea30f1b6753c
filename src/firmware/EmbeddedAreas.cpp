#include "firmware/EmbeddedAreas.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>


// The two groups of data areas, laid out byte for byte as ofsmerge expects them.
// They stay writable, externally visible globals with non-zero markers, so they
// land in the file's initialised data and the compiler cannot assume the all-zero
// payloads it sees here; the header-length bytes are read through volatile.

static_assert(std::endian::native == std::endian::little, "capacity fields are stored little-endian");

namespace ofs::embedded {

constexpr uint32_t kCvtCapacity = 0x110000;
constexpr uint32_t kOfs3Capacity = 0x210000;
constexpr uint32_t kParameterCapacity = 0x100000;

template <std::size_t N>
consteval std::array<char, N - 1> Marker(const char (&text)[N]) {
  std::array<char, N - 1> marker{};
  std::copy_n(text, N - 1, marker.begin());
  return marker;
}

#pragma pack(push, 1)
template <std::size_t MarkerLength, uint32_t Capacity>
struct Area {
  uint8_t headerLength;
  std::array<char, MarkerLength> marker;
  uint32_t capacity;
  uint8_t data[Capacity];
};

struct CvtGroup {
  uint32_t leadingCapacity;
  Area<15, kCvtCapacity> cvt;
  std::array<char, 15> endMarker;
};

struct FirmwareGroup {
  uint32_t leadingCapacity;
  Area<16, kOfs3Capacity> ofs1;
  Area<17, kOfs3Capacity> ofs2;
  Area<17, kOfs3Capacity> ofs3;
  std::array<char, 16> endMarker1;
  std::array<char, 17> endMarker2;
  std::array<char, 17> endMarker3;
  uint8_t alignment;
  uint32_t parameterCapacity;
  Area<16, kParameterCapacity> parameter;
  std::array<char, 16> endMarker;
};
#pragma pack(pop)

static_assert(sizeof(CvtGroup) == 4 + 1 + 15 + 4 + kCvtCapacity + 15);
static_assert(offsetof(FirmwareGroup, parameterCapacity) % 4 == 0);

}  // namespace ofs::embedded

using ofs::embedded::Marker;

alignas(4) [[gnu::used]] ofs::embedded::CvtGroup ofsCvtGroup = {
    ofs::embedded::kCvtCapacity,
    {0x13, Marker("CVT FILE BUFFER"), ofs::embedded::kCvtCapacity, {}},
    Marker("CVT FILE BUFFER"),
};

alignas(4) [[gnu::used]] ofs::embedded::FirmwareGroup ofsFirmwareGroup = {
    ofs::embedded::kOfs3Capacity,
    {0x14, Marker("OFS3 FILE BUFFER"), ofs::embedded::kOfs3Capacity, {}},
    {0x15, Marker("OFS3 FILE BUFFER2"), ofs::embedded::kOfs3Capacity, {}},
    {0x15, Marker("OFS3 FILE BUFFER3"), ofs::embedded::kOfs3Capacity, {}},
    Marker("OFS3 FILE BUFFER"),
    Marker("OFS3 FILE BUFFER2"),
    Marker("OFS3 FILE BUFFER3"),
    0x00,
    ofs::embedded::kParameterCapacity,
    {0x14, Marker("PARAMETER BUFFER"), ofs::embedded::kParameterCapacity, {}},
    Marker("PARAMETER BUFFER"),
};

namespace ofs {

namespace {

template <typename T>
T ReadVolatile(const T& field) {
  return *static_cast<const volatile T*>(&field);
}

// The data of one area: its start marker plus the header-length byte. A header
// length that no longer fits the group (a damaged file) yields at most the bytes
// up to the group's end, never beyond it.
template <typename Group, typename AreaType>
std::span<const uint8_t> DataOf(const Group& group, const AreaType& area, uint32_t capacity) {
  const auto* groupBegin = reinterpret_cast<const uint8_t*>(&group);
  const auto* groupEnd = groupBegin + sizeof(Group);
  const auto* marker = reinterpret_cast<const uint8_t*>(&area.marker);
  const uint8_t* data = marker + ReadVolatile(area.headerLength);
  const std::size_t available = data < groupEnd ? static_cast<std::size_t>(groupEnd - data) : 0;
  return {std::min(data, groupEnd), std::min<std::size_t>(capacity, available)};
}

}  // namespace

EmbeddedAreas ProgramEmbeddedAreas() {
  EmbeddedAreas areas;
  areas.cvt = DataOf(ofsCvtGroup, ofsCvtGroup.cvt, embedded::kCvtCapacity);
  areas.ofs3[0] = DataOf(ofsFirmwareGroup, ofsFirmwareGroup.ofs1, embedded::kOfs3Capacity);
  areas.ofs3[1] = DataOf(ofsFirmwareGroup, ofsFirmwareGroup.ofs2, embedded::kOfs3Capacity);
  areas.ofs3[2] = DataOf(ofsFirmwareGroup, ofsFirmwareGroup.ofs3, embedded::kOfs3Capacity);
  areas.parameter =
      DataOf(ofsFirmwareGroup, ofsFirmwareGroup.parameter, ReadVolatile(ofsFirmwareGroup.parameterCapacity));
  return areas;
}

}  // namespace ofs
