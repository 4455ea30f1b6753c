#pragma once
// A SettingStore held in memory: the Linux build has no registry, and tests
// build the hardware tree they need with CreateKey/SetValue.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "system/SettingStore.h"

namespace ofs {

class MemorySettingStore final : public SettingStore {
 public:
  MemorySettingStore();
  ~MemorySettingStore() override;

  std::optional<Key> OpenKey(const std::string& path) override;
  std::optional<Key> OpenSubkey(Key parent, const std::string& name) override;
  std::optional<std::string> EnumKey(Key key, uint32_t index) override;
  std::optional<std::vector<uint8_t>> QueryValue(Key key, const std::string& name, std::size_t maxBytes) override;
  bool SetBinaryValue(Key key, const std::string& name, const std::vector<uint8_t>& data) override;
  void CloseKey(Key key) override;

  // Building and inspecting the tree (paths as for OpenKey). Names compare
  // without regard to ASCII case, as in the registry.
  void CreateKey(const std::string& path);
  // Stores raw bytes; SetStringValue stores the text with its terminating 0.
  void SetValue(const std::string& path, const std::string& name, const std::vector<uint8_t>& data);
  void SetStringValue(const std::string& path, const std::string& name, const std::string& text);
  std::optional<std::vector<uint8_t>> Value(const std::string& path, const std::string& name) const;
  // Access faults: a key that exists but cannot be opened, or whose values cannot be set.
  void DenyOpen(const std::string& path);
  void DenyWrite(const std::string& path);
  // Keys handed out and not yet closed.
  std::size_t OpenKeyCount() const { return open_.size(); }

  struct Node;  // one key of the tree; opaque outside the store

 private:
  Node* Find(const std::string& path) const;
  Node* FindChild(const Node& parent, const std::string& name) const;
  Node& Create(const std::string& path);
  Key Hand(Node& node);

  std::unique_ptr<Node> root_;
  std::map<Key, Node*> open_;
  Key nextKey_ = 1;
};

}  // namespace ofs
