#include "drive/CommandTrace.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>

#include "params/RegularFile.h"

namespace ofs {
namespace {

void AppendHex(std::string& out, const uint8_t* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < count; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
}

const char* DirectionName(uint8_t direction) {
  if (direction == kDirIn) return "in";
  if (direction == kDirOut) return "out";
  return "none";  // the back ends move no data for any other code
}

}  // namespace

std::string FormatTraceLine(int drive, const uint8_t* cdb, const uint8_t* buffer, uint32_t length,
                            uint8_t direction, TransportStatus status, const SenseData& sense, int systemError) {
  std::string line = std::to_string(drive) + ' ';
  AppendHex(line, cdb, 12);
  line += ' ';
  line += DirectionName(direction);
  line += ' ' + std::to_string(length) + ' ' + std::to_string(status) + ' ';
  const bool hasData = (direction == kDirIn || direction == kDirOut) && buffer != nullptr && length > 0;
  if (hasData) {
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08lx", crc32_z(crc32_z(0, nullptr, 0), buffer, length));
    line += crc;
  } else {
    line += '-';
  }
  line += ' ';
  if (status != kStatusGood) {
    AppendHex(line, sense.data(), sense.size());
  } else {
    line += '-';
  }
  if (systemError != 0) {
    const char* name = strerrorname_np(systemError);
    line += " errno=";
    line += name != nullptr ? name : std::to_string(systemError);
  }
  return line;
}

std::unique_ptr<CommandTrace> CommandTrace::Open(const std::string& path, std::string* problem) {
  std::string why;
  FileDescriptor fd = OpenRegularFileForAppend(path, why);
  std::FILE* file = fd.valid() ? ::fdopen(fd.get(), "a") : nullptr;
  if (file == nullptr) {
    if (problem != nullptr) *problem = fd.valid() ? std::strerror(errno) : why;
    return nullptr;
  }
  fd.Release();
  return std::make_unique<CommandTrace>(file);
}

void CommandTrace::Record(int drive, const uint8_t* cdb, const uint8_t* buffer, uint32_t length, uint8_t direction,
                          TransportStatus status, const SenseData& sense, int systemError) {
  Write(FormatTraceLine(drive, cdb, buffer, length, direction, status, sense, systemError));
}

void CommandTrace::Note(const std::string& text) { Write("# " + text); }

void CommandTrace::Write(const std::string& line) {
  const std::string withEnd = line + '\n';
  const std::lock_guard<std::mutex> lock(mutex_);
  std::fwrite(withEnd.data(), 1, withEnd.size(), file_.get());
  std::fflush(file_.get());
}

}  // namespace ofs
