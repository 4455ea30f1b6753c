#pragma once
// A small JSON writer for ofstool's --json output: one compact object per run.
// Strings are written byte by byte: printable ASCII as is (with \" and \\),
// every other byte as \u00XX, so fixed-width firmware fields survive exactly.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ofstool {

std::string JsonString(std::string_view text);

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // Inside an object every value is preceded by its key.
  JsonWriter& Key(std::string_view key);
  JsonWriter& String(std::string_view value);
  JsonWriter& Number(int64_t value);
  JsonWriter& Bool(bool value);

  // The text written so far, with a final line feed once the outermost value is closed.
  std::string Text() const;

 private:
  void BeforeValue();

  std::string text_;
  std::vector<bool> hasItems_;  // one entry per open object or array
  bool afterKey_ = false;
};

}  // namespace ofstool
