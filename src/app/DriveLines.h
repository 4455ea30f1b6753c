#pragma once
// Small facts about drive lines shared by discovery and the update sequence.
#include <cstddef>
#include <string>

namespace ofs {

inline constexpr std::size_t kModelWidth = 24;   // vendor + product identification
inline constexpr std::size_t kStatusWidth = 36;  // what the status bar shows of a drive line

// These drives get no inquiry extension and a ready wait before they are tested.
inline bool IsPioneerModel(const std::string& model) { return model.compare(0, 7, "PIONEER") == 0; }

}  // namespace ofs
