#pragma once
// The parameter block: the INI text that selects the personality, caption,
// option menu items and acceptance tests of one copy of the program.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ofs {

struct SMainParameter {
  bool Updater = false;
  bool ShowCaption = true;
  std::string ProgramName;
  bool ShowVersion = true;
  bool ShowDate = true;
  bool operator==(const SMainParameter&) const = default;
};

struct SArgumentDefault {
  bool s = false, k = false, u = false, i = false;
  int32_t n = -1, a = 1;
  bool y = false, Disable98AutoInsertNotification = false, d = false, g = false, r = false;
  bool operator==(const SArgumentDefault&) const = default;
};

struct SArgumentEnabled {
  bool s = true, c = true, b = true, h = true, v = true, e = true, k = true, u = true, i = true, n = true,
       a = true, p = true, m = true, o = true, f = true, t = true, y = true,
       Disable98AutoInsertNotification = true, d = true, g = false, r = true;
  bool operator==(const SArgumentEnabled&) const = default;
};

struct SOtherSettings {
  bool CheckSum = true, HardwareID = true, ModelName = false, AvailableModel = false, Verify = true,
       NoDisc = true, ImmediateAtapi = false, WriteNewCode = true, ErasePadRandom = false;
  uint8_t ErasePadChar = 0;
  bool Timer = true;
  bool operator==(const SOtherSettings&) const = default;
};

struct SParameter {
  SMainParameter Main;
  SArgumentDefault ArgumentDefault;
  SArgumentEnabled ArgumentEnabled;
  SOtherSettings OtherSettings;
  std::vector<std::string> AvailableModelNames;
  std::vector<std::string> Title;
  std::vector<std::string> FlashHelp;
  std::vector<std::string> UpdaterHelp;
  bool operator==(const SParameter&) const = default;
};

// The 57 built-in lines, used when the embedded parameter area is empty.
const std::vector<std::string>& defaultParameterText();

// textArea is the parameter buffer's data area (its capacity is the span's size);
// a first byte of 0 selects the built-in text.
void ReadParameterBlock(std::span<const uint8_t> textArea, SParameter& out);
// Whether the text itself (not the built-in one it may stand for) has a section the
// record is read from; without one, every value is a default.
bool HoldsParameterSection(std::span<const uint8_t> textArea);

// Empty when written, else why the file could not be written.
std::string WriteDefaultParameterFile(const std::string& path);

}  // namespace ofs
