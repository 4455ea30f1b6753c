#pragma once
// A hierarchical key/value store with registry semantics (keys, subkeys, values),
// where the per-drive auto-insert setting lives.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ofs {

class SettingStore {
 public:
  using Key = int;  // an open key; values <= 0 are never handed out
  virtual ~SettingStore() = default;
  // path relative to the local-machine root, components separated by '\'.
  virtual std::optional<Key> OpenKey(const std::string& path) = 0;
  virtual std::optional<Key> OpenSubkey(Key parent, const std::string& name) = 0;
  // Name of subkey `index`, or nothing past the last one.
  virtual std::optional<std::string> EnumKey(Key key, uint32_t index) = 0;
  // Up to maxBytes of the value's data, or nothing when the value is missing.
  virtual std::optional<std::vector<uint8_t>> QueryValue(Key key, const std::string& name, std::size_t maxBytes) = 0;
  virtual bool SetBinaryValue(Key key, const std::string& name, const std::vector<uint8_t>& data) = 0;
  virtual void CloseKey(Key key) = 0;
};

}  // namespace ofs
