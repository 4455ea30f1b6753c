// ofstool embedded [--json]: what this executable carries in its own data areas,
// read exactly as the program reads them at start-up.
#include <algorithm>
#include <span>
#include <cstdio>
#include <string>
#include <vector>

#include "firmware/EmbeddedAreas.h"
#include "firmware/EmbeddedImage.h"
#include "firmware/Ofs.h"
#include "ofstool/Commands.h"
#include "ofstool/JsonWriter.h"
#include "params/Parameter.h"

namespace ofstool {

namespace {

struct BufferReport {
  std::string name;
  std::size_t capacity = 0;
  bool present = false;    // holds something the program would try to parse
  uint32_t imageSize = 0;  // GetFirmwareImageSize of the data
  std::string problem;     // why start-up would not use it; empty when it would
};

BufferReport Examine(const char* name, std::span<const uint8_t> data, bool philips) {
  BufferReport report;
  report.name = name;
  report.capacity = data.size();
  if (philips && !ofs::IsPhilipsImage(data.data(), data.size())) return report;
  report.imageSize = ofs::GetFirmwareImageSize(data.data(), data.size());
  report.present = report.imageSize != 0;
  if (report.present) report.problem = ofs::ReadEmbeddedImage(data, philips).problem;
  return report;
}

std::size_t TextLength(std::span<const uint8_t> area) {
  return std::find(area.begin(), area.end(), 0) - area.begin();
}

}  // namespace

int RunEmbedded(const Words& words) {
  const std::optional<bool> asked = JsonOnly(words, "embedded");
  if (!asked) return 2;
  const bool json = *asked;
  const ofs::EmbeddedAreas areas = ofs::ProgramEmbeddedAreas();
  ofs::SParameter parameter;
  ofs::ReadParameterBlock(areas.parameter, parameter);
  const bool builtIn = areas.parameter.empty() || areas.parameter[0] == 0;
  const std::size_t textLength = builtIn ? 0 : TextLength(areas.parameter);
  const char* personality = parameter.Main.Updater ? "updater" : "flash utility";
  const std::vector<BufferReport> buffers = {
      Examine("CVT FILE BUFFER", areas.cvt, true),
      Examine("OFS3 FILE BUFFER", areas.ofs3[0], false),
      Examine("OFS3 FILE BUFFER2", areas.ofs3[1], false),
      Examine("OFS3 FILE BUFFER3", areas.ofs3[2], false),
  };

  if (json) {
    JsonWriter out;
    out.BeginObject();
    out.Key("parameter_text").String(builtIn ? "built-in" : "embedded");
    out.Key("parameter_text_length").Number(static_cast<int64_t>(textLength));
    out.Key("parameter_capacity").Number(static_cast<int64_t>(areas.parameter.size()));
    out.Key("personality").String(personality).Key("updater").Bool(parameter.Main.Updater);
    out.Key("buffers").BeginArray();
    for (const BufferReport& b : buffers) {
      out.BeginObject().Key("name").String(b.name).Key("capacity").Number(static_cast<int64_t>(b.capacity));
      out.Key("present").Bool(b.present).Key("image_size").Number(b.imageSize).Key("parsed").Bool(b.present && b.problem.empty());
      out.EndObject();
    }
    out.EndArray().EndObject();
    std::fputs(out.Text().c_str(), stdout);
    return 0;
  }
  std::printf("Parameter text:      %s", builtIn ? "built-in\n" : "embedded, ");
  if (!builtIn) std::printf("%zu of %zu bytes\n", textLength, areas.parameter.size());
  std::printf("Personality:         %s\n", personality);
  for (const BufferReport& b : buffers) {
    std::printf("%-20s capacity 0x%zX, ", (b.name + ":").c_str(), b.capacity);
    if (!b.present) {
      std::printf("empty\n");
    } else {
      std::printf("image size 0x%X, %s\n", b.imageSize,
                  b.problem.empty() ? "parses" : ("not usable: " + b.problem).c_str());
    }
  }
  return 0;
}

}  // namespace ofstool
