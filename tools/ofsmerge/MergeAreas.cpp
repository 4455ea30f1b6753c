#include "ofsmerge/MergeAreas.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "firmware/EmbeddedImage.h"

namespace ofsmerge {

namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// What start-up would reject is refused here, with start-up's reason.
std::string CheckContainer(const std::vector<uint8_t>& bytes, Payload payload) {
  const bool philips = ofs::IsPhilipsImage(bytes.data(), bytes.size());
  if (philips != (payload == Payload::Philips))
    return philips ? "a Philips image belongs in the CVT area" : "not a Philips image";
  return ofs::ReadEmbeddedImage(bytes, philips).problem;
}

}  // namespace

std::optional<std::size_t> FindArea(const std::vector<uint8_t>& file, const AreaSpec& area, std::string& error) {
  const std::size_t markerLength = std::strlen(area.marker);
  const auto* marker = reinterpret_cast<const uint8_t*>(area.marker);
  const std::boyer_moore_horspool_searcher searcher(marker, marker + markerLength);
  std::optional<std::size_t> found;
  int hits = 0;
  for (auto it = std::search(file.begin(), file.end(), searcher); it != file.end();
       it = std::search(it + 1, file.end(), searcher)) {
    const std::size_t at = it - file.begin();
    const std::size_t data = at + markerLength + 4;
    if (at == 0 || file[at - 1] != markerLength + 4 || data > file.size()) continue;
    if (Le32(&file[at + markerLength]) != area.capacity || file.size() - data < area.capacity) continue;
    found = data;
    ++hits;
  }
  if (hits == 1) return found;
  error = std::string("start marker \"") + area.marker + (hits == 0 ? "\" not found" : "\" found more than once");
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> PreparePayload(std::vector<uint8_t> content, const AreaSpec& area,
                                                   std::string& error) {
  if (area.payload == Payload::Philips && content.size() >= 7 && std::memcmp(content.data(), "Philips", 7) == 0) {
    const auto length = static_cast<uint32_t>(content.size());
    content.insert(content.begin(), {static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
                                     static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
  }
  if (content.size() > area.capacity) {
    error = std::to_string(content.size()) + " bytes exceed the capacity of " + std::to_string(area.capacity);
    return std::nullopt;
  }
  if (area.payload != Payload::ParameterText) error = CheckContainer(content, area.payload);
  if (!error.empty()) return std::nullopt;
  return content;
}

void FillArea(std::vector<uint8_t>& file, std::size_t dataOffset, const AreaSpec& area,
              const std::vector<uint8_t>& payload) {
  const auto data = file.begin() + dataOffset;
  std::copy(payload.begin(), payload.end(), data);
  std::fill(data + payload.size(), data + area.capacity, 0);
}

}  // namespace ofsmerge
