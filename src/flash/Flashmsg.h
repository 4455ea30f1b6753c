#pragma once
// Rejection texts of the acceptance check and drive discovery; empty when silent.
#include <array>
#include <string>

namespace ofs {

struct ErrorMessages {
  std::array<std::string, 12> entries;
  const std::string& operator[](std::size_t i) const { return entries[i]; }
};

inline constexpr std::size_t kMsgLoadOfsFail = 0;
inline constexpr std::size_t kMsgCheckSumError = 1;
inline constexpr std::size_t kMsgDriveUnavailable = 5;

void SelectErrorMessages(ErrorMessages& messages, bool silent);

}  // namespace ofs
