#pragma once
// OFSFLASH_TRACE: one line per command of any back end, flushed at once so the
// file survives a crash and can go with a bug report (format in docs/tracing.md).
// Transport handles on several threads may share one trace; lines never mix.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "drive/TransportBackend.h"

namespace ofs {

// "<drive> <cdb hex> <none|in|out> <length> <status> <crc32|-> <sense hex|->",
// then " errno=NAME" when the system call failed (systemError != 0).
// buffer holds the data sent (out) or received (in); it may be null without data.
std::string FormatTraceLine(int drive, const uint8_t* cdb, const uint8_t* buffer, uint32_t length,
                            uint8_t direction, TransportStatus status, const SenseData& sense, int systemError = 0);

class CommandTrace {
 public:
  // Appends to path, a regular file (created when missing); null when it cannot be opened,
  // with why in *problem. Nothing else is opened: a fifo or a terminal whose reader stopped
  // would hold every command of an update up, and a closed pipe would end the process.
  static std::unique_ptr<CommandTrace> Open(const std::string& path, std::string* problem = nullptr);
  explicit CommandTrace(std::FILE* file) : file_(file) {}

  void Record(int drive, const uint8_t* cdb, const uint8_t* buffer, uint32_t length, uint8_t direction,
              TransportStatus status, const SenseData& sense, int systemError = 0);
  // "# text": what the program did around the commands (locks, kernel settings).
  void Note(const std::string& text);

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  void Write(const std::string& line);

  std::mutex mutex_;
  std::unique_ptr<std::FILE, FileCloser> file_;
};

}  // namespace ofs
