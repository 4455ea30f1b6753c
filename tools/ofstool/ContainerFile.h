#pragma once
// A firmware file read as the loader reads it and parsed into its description and
// flat image, for the commands that look at a file rather than load it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "firmware/Ofs.h"
#include "ofstool/FlatImage.h"

namespace ofstool {

struct ParsedContainer {
  std::vector<uint8_t> bytes;  // as the loader hands them to the parser
  bool philips = false;
  ofs::SOFSParameter parameter;
  std::size_t imageLength = 0;
  FlatImage flat;
};

// Reads the file as the loader does (a zip archive gives its last member) and
// parses it; empty, after saying why on stderr, when it is no usable container.
std::optional<ParsedContainer> LoadContainerFile(const std::string& path);

// The last word of a run that wrote nothing because of the file: why it is no usable
// container, as LoadContainerFile says; empty when it is one.
std::string NotAContainerLine(const std::string& path);

}  // namespace ofstool
