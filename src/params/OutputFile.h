#pragma once
// The files the tools make (containers, merged executables): only a new file, or one in
// place of a regular file, written beside it and renamed over it when whole, so that a
// failed run leaves the old file as it was and a device, fifo or link is never written.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace ofs {

// Empty when `path` names nothing yet or a regular file that is no link; else what it
// names instead, worded to follow the path ("is a fifo", "is a symbolic link").
std::string OutputFileProblem(const std::string& path);

// `bytes` as the whole file `path`. A path OutputFileProblem refuses is left alone and
// nothing is opened. A new file gets `newMode` (0666 less the umask when none is given), a
// replaced one keeps its own. Empty when written, else why not.
std::string WriteOutputFile(const std::string& path, const uint8_t* bytes, std::size_t length,
                            std::optional<mode_t> newMode = std::nullopt);

// The pieces the Tool unit's writes share.
bool WriteAll(int fd, const uint8_t* bytes, std::size_t length);
// The bytes to a private new file beside `path`, given `mode` when one is given, and renamed
// over `path` once they are on the disk; on failure nothing is left beside it.
std::string WriteBesideAndRename(const std::string& path, const uint8_t* bytes, std::size_t length,
                                 std::optional<mode_t> mode);

}  // namespace ofs
