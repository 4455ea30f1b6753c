#include "ScriptedDrive.h"

#include <algorithm>

namespace ofs::test {
namespace {

TransportStatus Check(SenseData& sense, Sense3 s) {
  sense[2] = s.key;
  sense[12] = s.asc;
  sense[13] = s.ascq;
  return kStatusCheckCondition;
}

bool IsVendor(const RecordedCommand& c, uint8_t function) {
  return c.cdb[0] == 0x5A && c.cdb[3] == 'O' && c.cdb[4] == 'R' && c.cdb[5] == function;
}

std::unique_ptr<TransportBackend> MakeBackend(RecordingBackend*& out) {
  auto backend = std::make_unique<RecordingBackend>(
      std::vector<BackendDrive>{{"/dev/sg9", "ORVA    TESTDRIVE       ", "1.00"}});
  out = backend.get();
  return backend;
}

}  // namespace

SenseData MakeSense(uint8_t byte2, uint8_t asc, uint8_t ascq, uint8_t byte4, uint16_t count) {
  SenseData s{};
  s[0] = 0x70;
  s[2] = byte2;
  s[4] = byte4;
  s[5] = static_cast<uint8_t>(count >> 8);
  s[6] = static_cast<uint8_t>(count);
  s[12] = asc;
  s[13] = ascq;
  return s;
}

TransportStatus ScriptedDrive::Answer(const RecordedCommand& c, uint8_t* buffer, SenseData& sense) {
  if (failWhen) {
    if (auto s = failWhen(c)) return Check(sense, *s);
  }
  switch (c.cdb[0]) {
    case 0x00: {
      if (tur.empty()) return kStatusGood;
      auto answer = tur.front();
      if (tur.size() > 1) tur.pop_front();
      if (!answer) return kStatusGood;
      sense = *answer;
      return kStatusCheckCondition;
    }
    case 0x03: {
      if (requestSense.empty()) return kStatusGood;
      auto answer = requestSense.front();
      requestSense.pop_front();
      if (!answer) return kStatusTransportError;
      std::copy(answer->begin(), answer->end(), buffer);
      return kStatusGood;
    }
    case 0x12: {
      std::string revision = revisions.empty() ? "1.00" : revisions.front();
      if (revisions.size() > 1) revisions.pop_front();
      std::copy(revision.begin(), revision.end(), buffer + 32);
      return kStatusGood;
    }
    case 0x1B:
      if (c.cdb[4] == 0x02) {
        trayOpen = true;
        if (onEject) onEject();
        return kStatusGood;
      }
      ++loads;
      if (loadFails && (loads == 1 || !loadFailsOnlyFirst)) return Check(sense, *loadFails);
      if (loadCloses) trayOpen = false;
      return kStatusGood;
    case 0x4A:
      buffer[5] = static_cast<uint8_t>((trayOpen ? 1 : 0) | (medium ? 2 : 0));
      return kStatusGood;
    default:
      break;
  }
  if (IsVendor(c, 0x00) && c.cdb[2] == 0x34) {
    buffer[0] = 'O';
    buffer[1] = 'R';
    buffer[5] = static_cast<uint8_t>(capabilities >> 1);
    buffer[6] = static_cast<uint8_t>(((capabilities >> 9) & 0x0F) | ((capabilities >> 13) & 1) << 6);
    return kStatusGood;
  }
  if (IsVendor(c, 0x0B) && c.cdb[6] == 0x01) return setChecksumFails ? Check(sense, {5, 0x24, 0}) : kStatusGood;
  if (IsVendor(c, 0x0B) && checksum) {
    buffer[0] = 'O';
    buffer[1] = 'R';
    buffer[2] = 5;
    buffer[6] = static_cast<uint8_t>(*checksum >> 8);
    buffer[7] = static_cast<uint8_t>(*checksum);
    return kStatusGood;
  }
  if (IsVendor(c, 0x11) && c.cdb[2] == 0x38) {
    const std::size_t from = c.cdb[9] * 65536u + (c.cdb[6] << 8 | c.cdb[7]);
    for (std::size_t i = 0; i < c.length; ++i) buffer[i] = from + i < flash.size() ? flash[from + i] : 0;
    return kStatusGood;
  }
  return kStatusGood;
}

FlashHarness::FlashHarness() : atapi(MakeBackend(backend), clock, true) {
  backend->handler = [this](const RecordedCommand& c, uint8_t* buffer, SenseData& sense) {
    return drive.Answer(c, buffer, sense);
  };
}

FlashContext FlashHarness::Context() {
  return FlashContext{atapi,     view,          image.data(), static_cast<uint32_t>(image.size()),
                      parameter, imageChecksum, senseData,    silent,
                      updaterMode};
}

std::vector<RecordedCommand> FlashHarness::With(uint8_t opcode, int at, uint8_t value) const {
  std::vector<RecordedCommand> found;
  for (const RecordedCommand& c : backend->commands)
    if (c.cdb[0] == opcode && (at < 0 || c.cdb[static_cast<std::size_t>(at)] == value)) found.push_back(c);
  return found;
}

std::vector<std::string> FlashHarness::OpcodeTrail() const {
  std::vector<std::string> trail;
  for (const RecordedCommand& c : backend->commands) trail.push_back(CdbHex(c.cdb).substr(0, 2));
  return trail;
}

std::vector<uint8_t> PatternImage(std::size_t length) {
  std::vector<uint8_t> image(length);
  for (std::size_t i = 0; i < length; ++i) image[i] = static_cast<uint8_t>(1 + (i * 7 + i / 251) % 255);
  return image;
}

}  // namespace ofs::test
