// Reads the parameter block into an SParameter. Every key is looked up on the
// whole line vector on its own, so a key missing from its section is taken
// from any later line that starts with it (the built-in text relies on this).
#include "params/Parameter.h"

#include <algorithm>

#include "params/Tool.h"

namespace ofs {

namespace {

constexpr char kMain[] = "Main";
constexpr char kDefault[] = "Argument default value";
constexpr char kEnabled[] = "Argument enabled";
constexpr char kOther[] = "Other settings";

constexpr char kModelNames[] = "AvailableModelNames";
constexpr char kTitle[] = "Title";
constexpr char kFlashHelp[] = "Flash Help";
constexpr char kUpdaterHelp[] = "Updater Help";

// The text ends at the first 0 byte or at the end of the area, whichever comes first.
Lines OwnLines(std::span<const uint8_t> textArea) {
  const auto end = std::find(textArea.begin(), textArea.end(), uint8_t{0});
  Lines lines;
  SplitLines(reinterpret_cast<const char*>(textArea.data()), static_cast<std::size_t>(end - textArea.begin()),
             lines);
  return lines;
}

Lines SourceLines(std::span<const uint8_t> textArea) {
  if (textArea.empty() || textArea[0] == 0) return defaultParameterText();
  return OwnLines(textArea);
}

void ReadMain(const Lines& l, SMainParameter& p) {
  p.Updater = GetIniBool(l, kMain, "Updater", false);
  p.ShowCaption = GetIniBool(l, kMain, "ShowCaption", true);
  p.ProgramName = GetIniString(l, kMain, "ProgramName", "Orva Flash OFS3 Utility");
  p.ShowVersion = GetIniBool(l, kMain, "ShowVersion", true);
  p.ShowDate = GetIniBool(l, kMain, "ShowDate", true);
}

void ReadArgumentDefault(const Lines& l, SArgumentDefault& p) {
  p.s = GetIniBool(l, kDefault, "s", false);
  p.k = GetIniBool(l, kDefault, "k", false);
  p.u = GetIniBool(l, kDefault, "u", false);
  p.i = GetIniBool(l, kDefault, "i", false);
  p.n = GetIniInt(l, kDefault, "n", -1);
  p.a = GetIniInt(l, kDefault, "a", 1);
  p.y = GetIniBool(l, kDefault, "y", false);
  p.Disable98AutoInsertNotification = GetIniBool(l, kDefault, "Disable98AutoInsertNotification", false);
  p.d = GetIniBool(l, kDefault, "d", true);
  p.g = GetIniBool(l, kDefault, "g", false);
  p.r = GetIniBool(l, kDefault, "r", false);
}

void ReadArgumentEnabled(const Lines& l, SArgumentEnabled& p) {
  const auto on = [&l](const char* key) { return GetIniBool(l, kEnabled, key, true); };
  p.s = on("s");
  p.c = on("c");
  p.b = on("b");
  p.h = on("h");
  p.v = on("v");
  p.e = on("e");
  p.k = on("k");
  p.u = on("u");
  p.i = on("i");
  p.n = on("n");
  p.a = on("a");
  p.p = on("p");
  p.m = on("m");
  p.o = on("o");
  p.f = on("f");
  p.t = on("t");
  p.y = on("y");
  p.Disable98AutoInsertNotification = on("Disable98AutoInsertNotification");
  p.d = on("d");
  p.g = GetIniBool(l, kEnabled, "g", false);
  p.r = on("r");
}

void ReadOtherSettings(const Lines& l, SOtherSettings& p) {
  p.CheckSum = GetIniBool(l, kOther, "CheckSum", true);
  p.HardwareID = GetIniBool(l, kOther, "HardwareID", true);
  p.ModelName = GetIniBool(l, kOther, "ModelName", false);
  p.AvailableModel = GetIniBool(l, kOther, "AvailableModel", false);
  p.Verify = GetIniBool(l, kOther, "Verify", true);
  p.NoDisc = GetIniBool(l, kOther, "NoDisc", true);
  p.ImmediateAtapi = GetIniBool(l, kOther, "ImmediateAtapi", false);
  p.WriteNewCode = GetIniBool(l, kOther, "WriteNewCode", true);
  p.ErasePadRandom = GetIniBool(l, kOther, "ErasePadRandom", false);
  p.ErasePadChar = static_cast<uint8_t>(GetIniInt(l, kOther, "ErasePadChar", 0) & 0xFF);
  p.Timer = GetIniBool(l, kOther, "Timer", true);
}

}  // namespace

void ReadParameterBlock(std::span<const uint8_t> textArea, SParameter& out) {
  const Lines lines = SourceLines(textArea);
  SParameter result;
  ReadMain(lines, result.Main);
  ReadArgumentDefault(lines, result.ArgumentDefault);
  ReadArgumentEnabled(lines, result.ArgumentEnabled);
  ReadOtherSettings(lines, result.OtherSettings);
  result.AvailableModelNames = GetIniSection(lines, kModelNames);
  result.Title = GetIniSection(lines, kTitle);
  result.FlashHelp = GetIniSection(lines, kFlashHelp);
  result.UpdaterHelp = GetIniSection(lines, kUpdaterHelp);
  out = std::move(result);
}

bool HoldsParameterSection(std::span<const uint8_t> textArea) {
  const Lines lines = OwnLines(textArea);
  return std::ranges::any_of(
      std::initializer_list<const char*>{kMain, kDefault, kEnabled, kOther, kModelNames, kTitle, kFlashHelp,
                                         kUpdaterHelp},
      [&lines](const char* section) { return HasIniSection(lines, section); });
}

std::string WriteDefaultParameterFile(const std::string& path) {
  const std::string text = JoinLines(defaultParameterText());
  return WriteFileBinaryError(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace ofs
