#pragma once
// A drive for the flash tests: answers the command set from a script (sense
// queues, identity, capabilities, tray, flash content) on a virtual clock and
// records every command through the recording back end.
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "drive/AtapiImp.h"
#include "drive/CommandTrace.h"
#include "drive/Clock.h"
#include "flash/FlashContext.h"
#include "support/RecordingBackend.h"
#include "support/ScriptedView.h"

namespace ofs::test {

struct Sense3 {
  uint8_t key, asc, ascq;
};

// An 18-byte sense with the fields the flash procedures read.
SenseData MakeSense(uint8_t byte2, uint8_t asc, uint8_t ascq, uint8_t byte4 = 0, uint16_t count = 0);

struct ScriptedDrive {
  // TEST UNIT READY: each entry is one answer (nothing = GOOD); GOOD when the queue is empty.
  std::deque<std::optional<SenseData>> tur;
  // REQUEST SENSE replies; nothing = the command fails; all-zero (done) when empty.
  std::deque<std::optional<SenseData>> requestSense;
  std::deque<std::string> revisions;  // INQUIRY revisions in turn; the last one stays
  uint16_t capabilities = 0;          // bit n = capability n
  std::optional<uint16_t> checksum;   // ReadFirmwareChecksum reply; nothing = no valid reply
  bool setChecksumFails = false;
  // Tray and medium, changed by LOAD/EJECT.
  bool trayOpen = false;
  bool medium = false;
  bool loadCloses = true;
  std::optional<Sense3> loadFails;  // LOAD fails with this sense
  bool loadFailsOnlyFirst = true;
  std::function<void()> onEject;    // e.g. the user takes the disc out
  std::vector<uint8_t> flash;       // ReadRomData source
  // Extra failures: a command for which this returns a sense fails with it.
  std::function<std::optional<Sense3>(const RecordedCommand&)> failWhen;
  int loads = 0;

  TransportStatus Answer(const RecordedCommand& c, uint8_t* buffer, SenseData& sense);
};

// The drive, the transport, the screen and an image, ready to make a FlashContext.
struct FlashHarness {
  FlashHarness();

  FlashContext Context();
  // The recorded commands whose CDB starts with this opcode (and sub-byte at `at`).
  std::vector<RecordedCommand> With(uint8_t opcode, int at = -1, uint8_t value = 0) const;
  std::vector<std::string> OpcodeTrail() const;  // "5a", "00", ... one per command

  VirtualClock clock;
  ScriptedDrive drive;
  RecordingBackend* backend = nullptr;  // owned by atapi
  TAtapiImp atapi;
  ScriptedView view;
  std::vector<uint8_t> image;
  SOFSParameter parameter;
  SenseData senseData{};
  uint16_t imageChecksum = 0;
  bool silent = false;
  bool updaterMode = false;
};

// A deterministic image whose bytes are never zero (so zero padding shows).
std::vector<uint8_t> PatternImage(std::size_t length);

}  // namespace ofs::test
