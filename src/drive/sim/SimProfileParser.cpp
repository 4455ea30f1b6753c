// Reads the profile text of the simulated drives (format in docs/simulator.md).
// Any input gives a profile or a message naming the line; nothing is read from disk.
#include <csignal>
#include <charconv>
#include <map>
#include <memory>
#include <sstream>

#include "drive/sim/SimProfile.h"

namespace ofs {
namespace {

using Tokens = std::vector<std::string>;

constexpr uint64_t kMaxMilliseconds = 3600000;
constexpr std::size_t kMaxLineLength = 4096;
constexpr std::size_t kMaxFailures = 64;

Tokens Split(const std::string& text) {
  Tokens tokens;
  std::string token;
  for (const char ch : text) {
    if (ch == ' ' || ch == '\t' || ch == ',') {
      if (!token.empty()) tokens.push_back(std::move(token));
      token.clear();
    } else {
      token += ch;
    }
  }
  if (!token.empty()) tokens.push_back(std::move(token));
  return tokens;
}

std::string Trim(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

// Decimal, or hexadecimal with 0x; K and M suffixes multiply by 1024.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t& value) {
  std::string digits = text;
  uint64_t scale = 1;
  if (!digits.empty() && (digits.back() == 'K' || digits.back() == 'k')) scale = 1024;
  if (!digits.empty() && (digits.back() == 'M' || digits.back() == 'm')) scale = 1024 * 1024;
  if (scale != 1) digits.pop_back();
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.erase(0, 2);
    base = 16;
  }
  uint64_t parsed = 0;
  const char* end = digits.data() + digits.size();
  const auto [at, error] = std::from_chars(digits.data(), end, parsed, base);
  if (digits.empty() || error != std::errc{} || at != end || parsed > max / scale) return false;
  value = parsed * scale;
  return true;
}

bool ParseHex(const std::string& text, uint64_t max, uint64_t& value) {
  if (text.empty() || text.size() > 8) return false;
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value, 16);
  return error == std::errc{} && at == end && value <= max;
}

// "KK/AA/QQ" in hexadecimal.
bool ParseSense(const std::string& text, SimSense& sense) {
  const auto first = text.find('/');
  const auto second = first == std::string::npos ? first : text.find('/', first + 1);
  if (second == std::string::npos) return false;
  const std::string parts[3] = {text.substr(0, first), text.substr(first + 1, second - first - 1),
                                text.substr(second + 1)};
  for (int i = 0; i < 3; ++i) {
    uint64_t value = 0;
    if (!ParseHex(parts[i], 0xFF, value) || parts[i].size() > 2) return false;
    sense[static_cast<std::size_t>(i)] = static_cast<uint8_t>(value);
  }
  return true;
}

bool ParseSelector(const std::string& text, SimCommandSelector& selector) {
  if (const auto command = SimCommandFromName(text)) {
    selector.command = command;
    return true;
  }
  const auto colon = text.find(':');
  uint64_t opcode = 0;
  uint64_t sub = 0;
  if (!ParseHex(text.substr(0, colon), 0xFF, opcode) || text.substr(0, colon).size() > 2) return false;
  selector.opcode = static_cast<int>(opcode);
  if (colon == std::string::npos) return true;
  const std::string subText = text.substr(colon + 1);
  if (!ParseHex(subText, 0xFF, sub) || subText.size() > 2) return false;
  selector.sub = static_cast<int>(sub);
  return true;
}

class Parser {
 public:
  SimProfileResult Run(const std::string& text);

 private:
  bool Fail(const std::string& message) {
    error_ = "line " + std::to_string(line_) + ": " + message;
    return false;
  }
  bool Line(const std::string& raw);
  bool Global(const std::string& key, const std::string& value);
  bool DriveKey(const std::string& key, const std::string& value);
  bool Text(const std::string& value, std::size_t width, std::string& out);
  bool Milliseconds(const std::string& value, uint32_t& out);
  bool Capabilities(const std::string& value);
  bool LoadTray(const std::string& value);
  bool FlashSize(const std::string& value);
  bool Checksum(const std::string& value);
  bool ChecksumExclude(const std::string& value);
  bool Failure(const std::string& value);
  bool Raise(const std::string& value);

  SimProfile profile_;
  SimDriveProfile* drive_ = nullptr;
  int line_ = 0;
  std::string error_;
};

SimProfileResult Parser::Run(const std::string& text) {
  SimProfileResult result;
  std::istringstream lines(text);
  std::string raw;
  while (std::getline(lines, raw)) {
    ++line_;
    if (!Line(raw)) {
      result.error = error_;
      return result;
    }
  }
  if (profile_.drives.empty()) {
    result.error = "the profile describes no drive (a [drive] section is missing)";
    return result;
  }
  result.virtualClock = profile_.virtualClock;
  result.profile = std::make_shared<const SimProfile>(std::move(profile_));
  return result;
}

bool Parser::Line(const std::string& raw) {
  if (raw.size() > kMaxLineLength) return Fail("line too long");
  const std::string line = Trim(raw.substr(0, raw.find('#')));
  if (line.empty()) return true;
  if (line.front() == '[') {
    if (line != "[drive]") return Fail("unknown section '" + line + "'");
    if (profile_.drives.size() >= kSimMaxDrives) return Fail("more than 20 drives");
    profile_.drives.emplace_back();
    drive_ = &profile_.drives.back();
    return true;
  }
  const auto equals = line.find('=');
  if (equals == std::string::npos) return Fail("expected 'key = value'");
  const std::string key = Trim(line.substr(0, equals));
  const std::string value = Trim(line.substr(equals + 1));
  if (drive_ == nullptr) return Global(key, value);
  return DriveKey(key, value);
}

bool Parser::Global(const std::string& key, const std::string& value) {
  if (key != "clock") return Fail("'" + key + "' outside a [drive] section");
  if (value != "real" && value != "virtual") return Fail("clock must be 'real' or 'virtual'");
  profile_.virtualClock = value == "virtual";
  return true;
}

struct TextKey {
  const char* key;
  std::size_t width;
  std::string SimDriveProfile::*field;
};
constexpr TextKey kTextKeys[] = {{"vendor", 8, &SimDriveProfile::vendor},
                                 {"product", 16, &SimDriveProfile::product},
                                 {"revision", 4, &SimDriveProfile::revision},
                                 {"hardware_id", 2, &SimDriveProfile::hardwareId},
                                 {"date_code", 6, &SimDriveProfile::dateCode}};

struct SwitchKey {
  const char* key;
  const char* on;
  const char* off;
  bool SimDriveProfile::*field;
};
constexpr SwitchKey kSwitchKeys[] = {{"hardware_id_reply", "yes", "no", &SimDriveProfile::hardwareIdReply},
                                     {"never_ready", "yes", "no", &SimDriveProfile::neverReady},
                                     {"never_finish", "yes", "no", &SimDriveProfile::neverFinish},
                                     {"unplugged", "yes", "no", &SimDriveProfile::unplugged},
                                     {"tray", "open", "closed", &SimDriveProfile::trayOpen},
                                     {"medium", "present", "absent", &SimDriveProfile::mediumPresent},
                                     {"finish", "unit_attention", "progress", &SimDriveProfile::finishWithUnitAttention}};

struct TimeKey {
  const char* key;
  uint32_t SimDriveProfile::*field;
};
constexpr TimeKey kTimeKeys[] = {{"latency_ms", &SimDriveProfile::latencyMs},
                                 {"programming_ms", &SimDriveProfile::programmingMs}};

bool Parser::DriveKey(const std::string& key, const std::string& value) {
  SimDriveProfile& d = *drive_;
  for (const TextKey& text : kTextKeys)
    if (key == text.key) return Text(value, text.width, d.*text.field);
  for (const SwitchKey& option : kSwitchKeys) {
    if (key != option.key) continue;
    if (value != option.on && value != option.off)
      return Fail(key + " must be '" + option.on + "' or '" + option.off + "'");
    d.*option.field = value == option.on;
    return true;
  }
  for (const TimeKey& time : kTimeKeys)
    if (key == time.key) return Milliseconds(value, d.*time.field);
  if (key == "capabilities") return Capabilities(value);
  if (key == "load_tray") return LoadTray(value);
  if (key == "flash_size") return FlashSize(value);
  if (key == "checksum") return Checksum(value);
  if (key == "checksum_exclude") return ChecksumExclude(value);
  if (key == "fail") return Failure(value);
  if (key == "raise") return Raise(value);
  if (key == "firmware") {
    if (value.empty()) return Fail("firmware needs a file path");
    d.firmwarePath = value;
    d.firmwareLine = line_;
    return true;
  }
  if (key == "flash_file") {
    if (value.empty()) return Fail("flash_file needs a file path");
    d.flashFile = value;
    d.flashFileLine = line_;
    return true;
  }
  if (key == "flash_family") {
    uint64_t family = 0;
    if (value == "philips") {
      d.flashFamily = kSimPhilipsFamily;
    } else if (value == "any") {
      d.flashFamily = kSimAnyFamily;
    } else if (ParseNumber(value, 255, family)) {
      d.flashFamily = static_cast<int>(family);
    } else {
      return Fail("flash_family must be a flash type from 0 to 255, 'philips' or 'any'");
    }
    return true;
  }
  if (key == "progress_ascq") {
    uint64_t ascq = 0;
    if (!ParseHex(value, 0xFF, ascq) || value.size() > 2) return Fail("progress_ascq must be one hex byte");
    d.progressAscq = static_cast<uint8_t>(ascq);
    return true;
  }
  if (key == "max_transfer_kb") {
    uint64_t kb = 0;
    if (!ParseNumber(value, 16384, kb)) return Fail("max_transfer_kb must be a number from 0 to 16384");
    d.maxTransferKb = static_cast<uint32_t>(kb);
    return true;
  }
  if (key == "stay_in_boot") {
    uint64_t count = 0;
    if (!ParseNumber(value, 1000, count)) return Fail("stay_in_boot must be a number from 0 to 1000");
    d.stayInBoot = static_cast<int>(count);
    return true;
  }
  if (key == "clock") return Fail("clock belongs before the first [drive] section");
  return Fail("unknown key '" + key + "'");
}

bool Parser::Text(const std::string& value, std::size_t width, std::string& out) {
  if (value.size() > width) return Fail("text longer than " + std::to_string(width) + " characters");
  for (const char ch : value)
    if (ch < 0x20 || ch > 0x7E) return Fail("text with a character that is not printable ASCII");
  out = value;
  return true;
}

bool Parser::Milliseconds(const std::string& value, uint32_t& out) {
  uint64_t ms = 0;
  if (!ParseNumber(value, kMaxMilliseconds, ms)) return Fail("expected milliseconds from 0 to 3600000");
  out = static_cast<uint32_t>(ms);
  return true;
}

bool Parser::Capabilities(const std::string& value) {
  uint16_t mask = 0;
  const Tokens tokens = Split(value);
  const bool none = tokens.size() == 1 && tokens[0] == "none";
  for (const std::string& token : none ? Tokens{} : tokens) {
    uint64_t capability = 0;
    if (!ParseNumber(token, 13, capability) || capability == 0) return Fail("capabilities are numbers from 1 to 13");
    mask = static_cast<uint16_t>(mask | (1u << capability));
  }
  drive_->capabilities = mask;
  return true;
}

bool Parser::LoadTray(const std::string& value) {
  const Tokens tokens = Split(value);
  static const std::map<std::string, SimLoadTray> kModes{
      {"closes", SimLoadTray::Closes}, {"fails", SimLoadTray::Fails}, {"fails_and_closes", SimLoadTray::FailsAndCloses}};
  const auto mode = tokens.empty() ? kModes.end() : kModes.find(tokens[0]);
  if (mode == kModes.end() || tokens.size() > 2) return Fail("load_tray must be 'closes', 'fails [KK/AA/QQ]' or 'fails_and_closes [KK/AA/QQ]'");
  if (tokens.size() == 2 && (mode->second == SimLoadTray::Closes || !ParseSense(tokens[1], drive_->loadTraySense)))
    return Fail("load_tray sense must read KK/AA/QQ in hexadecimal");
  drive_->loadTray = mode->second;
  return true;
}

bool Parser::FlashSize(const std::string& value) {
  uint64_t size = 0;
  if (!ParseNumber(value, 16u << 20, size) || size == 0 || size % 0x10000 != 0)
    return Fail("flash_size must be a multiple of 64K up to 16M");
  drive_->flashSize = static_cast<uint32_t>(size);
  return true;
}

bool Parser::Checksum(const std::string& value) {
  uint64_t fixed = 0;
  if (value == "computed") {
    drive_->checksumMode = SimChecksumMode::Computed;
  } else if (value == "wrong") {
    drive_->checksumMode = SimChecksumMode::Wrong;
  } else if (value.size() == 4 && ParseHex(value, 0xFFFF, fixed)) {
    drive_->checksumMode = SimChecksumMode::Fixed;
    drive_->fixedChecksum = static_cast<uint16_t>(fixed);
  } else {
    return Fail("checksum must be 'computed', 'wrong' or four hex digits");
  }
  return true;
}

bool Parser::ChecksumExclude(const std::string& value) {
  std::vector<SOFSReserveBlock> blocks;
  for (const std::string& token : Split(value)) {
    const auto plus = token.find('+');
    uint64_t address = 0;
    uint64_t length = 0;
    if (plus == std::string::npos || !ParseHex(token.substr(0, plus), 0xFFFFFFFF, address) ||
        !ParseHex(token.substr(plus + 1), 0xFFFFFFFF, length) || blocks.size() >= kMaxFailures)
      return Fail("checksum_exclude takes ADDRESS+LENGTH ranges in hexadecimal");
    blocks.push_back({static_cast<uint32_t>(address), static_cast<uint32_t>(length)});
  }
  drive_->checksumExclude = std::move(blocks);
  return true;
}

// fail = <command> [at N] [times N|times always] [sense KK/AA/QQ | transport | gone]
bool Parser::Failure(const std::string& value) {
  const Tokens tokens = Split(value);
  SimFailure failure;
  if (tokens.empty() || !ParseSelector(tokens[0], failure.selector))
    return Fail("fail needs a command name or a hex opcode such as 3B or 3B:06");
  std::size_t i = 1;
  while (i < tokens.size()) {
    const std::string& word = tokens[i++];
    if (word == "transport" || word == "gone") {
      failure.transportError = true;
      failure.gone = word == "gone";
      continue;
    }
    if (i >= tokens.size()) return Fail("'" + word + "' needs a value");
    const std::string& argument = tokens[i++];
    uint64_t number = 0;
    if (word == "at" && ParseNumber(argument, 1000000, number) && number > 0) {
      failure.firstUse = static_cast<int>(number);
    } else if (word == "times" && argument == "always") {
      failure.times = 0;
    } else if (word == "times" && ParseNumber(argument, 1000000, number) && number > 0) {
      failure.times = static_cast<int>(number);
    } else if (word != "sense" || !ParseSense(argument, failure.sense)) {
      return Fail("bad fail option '" + word + " " + argument + "'");
    }
  }
  if (drive_->failures.size() >= kMaxFailures) return Fail("too many fail lines");
  drive_->failures.push_back(failure);
  return true;
}

// raise = SIGNAL at COMMAND N
bool Parser::Raise(const std::string& value) {
  static const std::map<std::string, int> kSignals = {
      {"SIGINT", SIGINT}, {"SIGTERM", SIGTERM}, {"SIGHUP", SIGHUP}, {"SIGQUIT", SIGQUIT}, {"SIGTSTP", SIGTSTP}};
  const Tokens tokens = Split(value);
  SimSignalRaise raise;
  uint64_t use = 0;
  const auto signal = tokens.empty() ? kSignals.end() : kSignals.find(tokens[0]);
  if (tokens.size() != 4 || signal == kSignals.end() || tokens[1] != "at" ||
      !ParseSelector(tokens[2], raise.selector) || !ParseNumber(tokens[3], 1000000, use) || use == 0)
    return Fail("raise must read 'SIGINT|SIGTERM|SIGHUP|SIGQUIT|SIGTSTP at <command> N'");
  if (drive_->raises.size() >= kMaxFailures) return Fail("too many raise lines");
  raise.signal = signal->second;
  raise.use = static_cast<int>(use);
  drive_->raises.push_back(raise);
  return true;
}

}  // namespace

SimProfileResult ParseSimProfile(const std::string& text) { return Parser().Run(text); }

}  // namespace ofs
