#pragma once
// INI-style text reading and whole-file helpers. The lookups scan a vector of
// lines with fixed prefix-matching rules that stored parameter texts rely on.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ofs {

using Lines = std::vector<std::string>;

// Splits at CR LF pairs only; a lone CR or LF stays part of its line.
void SplitLines(const char* text, std::size_t length, Lines& lines);

// Key lookups: after the first "[section]" line, the first line of the whole
// rest of the text that begins with `key` gives the text after the key and one
// separator character (empty when the line ends there); numbers convert like strtol.
int32_t GetIniInt(const Lines& lines, const std::string& section, const std::string& key, int32_t absent);
bool GetIniBool(const Lines& lines, const std::string& section, const std::string& key, bool absent);
std::string GetIniString(const Lines& lines, const std::string& section, const std::string& key,
                         const std::string& absent);
// The lines after the first "[section]" line up to the next line beginning with "[".
Lines GetIniSection(const Lines& lines, const std::string& section);
// Whether a line begins with "[section]", as every lookup above requires.
bool HasIniSection(const Lines& lines, const std::string& section);

// Every line followed by CR LF, the last one included.
std::string JoinLines(const Lines& lines);

bool WriteLinesToFile(const std::string& path, const Lines& lines);
// Empty when every byte was written and the file closed, else why not (errno
// is set too). A missing path is created and an existing regular file removed
// first and replaced, so a failed write leaves no partial file behind; a
// character device or fifo is written into, a symbolic link written through to
// its target; any other kind of path is refused and left as it is.
std::string WriteFileBinaryError(const std::string& path, const uint8_t* bytes, std::size_t length);
bool WriteFileBinary(const std::string& path, const uint8_t* bytes, std::size_t length);
// Both open a regular file only (see RegularFile.h), so a fifo or device never holds them up.
// 0 when the file cannot be opened (or is too large for the result).
uint32_t GetFileLength(const std::string& path);
// Up to `count` bytes from the start; a short file is no failure, a read error is.
bool ReadFileBinary(const std::string& path, uint32_t count, uint8_t* destination);

}  // namespace ofs
