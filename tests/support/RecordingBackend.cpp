#include "support/RecordingBackend.h"

#include <algorithm>
#include <cstdio>

namespace ofs::test {

TransportStatus RecordingBackend::Execute(const uint8_t* cdb, uint8_t* buffer, uint32_t length, uint8_t direction,
                                          SenseData& sense) {
  RecordedCommand c;
  c.drive = selected;
  std::copy(cdb, cdb + 12, c.cdb.begin());
  c.direction = direction;
  c.length = length;
  if (direction == kDirOut && buffer != nullptr) c.dataOut.assign(buffer, buffer + length);
  c.held = *holdsAlive > 0;
  commands.push_back(c);
  sense.fill(0);
  return handler ? handler(commands.back(), buffer, sense) : kStatusGood;
}

namespace {

class CountedHold : public DriveHold {
 public:
  CountedHold(std::shared_ptr<int> alive, TraceNote note, int index)
      : alive_(std::move(alive)), note_(std::move(note)), index_(index) {
    ++*alive_;
  }
  ~CountedHold() override {
    --*alive_;
    note_("released drive " + std::to_string(index_));
  }

 private:
  std::shared_ptr<int> alive_;
  TraceNote note_;
  int index_;
};

}  // namespace

HoldResult RecordingBackend::Hold(int index, const TraceNote& note) {
  ++holdsTaken;
  if (!holdError.empty()) return {nullptr, holdError};
  note("held drive " + std::to_string(index));
  return {std::make_unique<CountedHold>(holdsAlive, note, index), {}};
}

std::string CdbHex(const std::array<uint8_t, 12>& cdb) {
  std::string s;
  char b[3];
  for (uint8_t v : cdb) {
    std::snprintf(b, sizeof b, "%02x", v);
    s += b;
  }
  return s;
}

}  // namespace ofs::test
