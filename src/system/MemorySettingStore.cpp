#include "system/MemorySettingStore.h"

#include <algorithm>
#include <cctype>

namespace ofs {

struct MemorySettingStore::Node {
  std::string name;
  std::vector<std::unique_ptr<Node>> children;  // in creation order
  std::vector<std::pair<std::string, std::vector<uint8_t>>> values;
  bool denyOpen = false;
  bool denyWrite = false;
};

namespace {

bool SameName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
    return std::tolower(x) == std::tolower(y);
  });
}

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

const std::vector<uint8_t>* FindValue(const MemorySettingStore::Node& node, const std::string& name) {
  for (const auto& [valueName, data] : node.values) {
    if (SameName(valueName, name)) return &data;
  }
  return nullptr;
}

void StoreValue(MemorySettingStore::Node& node, const std::string& name, const std::vector<uint8_t>& data) {
  for (auto& [valueName, stored] : node.values) {
    if (SameName(valueName, name)) {
      stored = data;
      return;
    }
  }
  node.values.emplace_back(name, data);
}

}  // namespace

MemorySettingStore::MemorySettingStore() : root_(std::make_unique<Node>()) {}
MemorySettingStore::~MemorySettingStore() = default;

MemorySettingStore::Node* MemorySettingStore::FindChild(const Node& parent, const std::string& name) const {
  for (const auto& child : parent.children) {
    if (SameName(child->name, name)) return child.get();
  }
  return nullptr;
}

MemorySettingStore::Node* MemorySettingStore::Find(const std::string& path) const {
  Node* node = root_.get();
  for (const std::string& part : Components(path)) {
    node = FindChild(*node, part);
    if (node == nullptr) return nullptr;
  }
  return node;
}

MemorySettingStore::Node& MemorySettingStore::Create(const std::string& path) {
  Node* node = root_.get();
  for (const std::string& part : Components(path)) {
    Node* child = FindChild(*node, part);
    if (child == nullptr) {
      node->children.push_back(std::make_unique<Node>());
      child = node->children.back().get();
      child->name = part;
    }
    node = child;
  }
  return *node;
}

SettingStore::Key MemorySettingStore::Hand(Node& node) {
  const Key key = nextKey_++;
  open_[key] = &node;
  return key;
}

std::optional<SettingStore::Key> MemorySettingStore::OpenKey(const std::string& path) {
  Node* node = Find(path);
  if (node == nullptr || node->denyOpen) return std::nullopt;
  return Hand(*node);
}

std::optional<SettingStore::Key> MemorySettingStore::OpenSubkey(Key parent, const std::string& name) {
  const auto it = open_.find(parent);
  if (it == open_.end() || name.empty()) return std::nullopt;
  Node* node = FindChild(*it->second, name);
  if (node == nullptr || node->denyOpen) return std::nullopt;
  return Hand(*node);
}

std::optional<std::string> MemorySettingStore::EnumKey(Key key, uint32_t index) {
  const auto it = open_.find(key);
  if (it == open_.end() || index >= it->second->children.size()) return std::nullopt;
  return it->second->children[index]->name;
}

std::optional<std::vector<uint8_t>> MemorySettingStore::QueryValue(Key key, const std::string& name,
                                                                   std::size_t maxBytes) {
  const auto it = open_.find(key);
  const std::vector<uint8_t>* data = it == open_.end() ? nullptr : FindValue(*it->second, name);
  if (data == nullptr) return std::nullopt;
  return std::vector<uint8_t>(data->begin(), data->begin() + std::min(maxBytes, data->size()));
}

bool MemorySettingStore::SetBinaryValue(Key key, const std::string& name, const std::vector<uint8_t>& data) {
  const auto it = open_.find(key);
  if (it == open_.end() || it->second->denyWrite) return false;
  StoreValue(*it->second, name, data);
  return true;
}

void MemorySettingStore::CloseKey(Key key) { open_.erase(key); }

void MemorySettingStore::CreateKey(const std::string& path) { Create(path); }

void MemorySettingStore::SetValue(const std::string& path, const std::string& name, const std::vector<uint8_t>& data) {
  StoreValue(Create(path), name, data);
}

void MemorySettingStore::SetStringValue(const std::string& path, const std::string& name, const std::string& text) {
  std::vector<uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  SetValue(path, name, data);
}

std::optional<std::vector<uint8_t>> MemorySettingStore::Value(const std::string& path, const std::string& name) const {
  const Node* node = Find(path);
  const std::vector<uint8_t>* data = node == nullptr ? nullptr : FindValue(*node, name);
  if (data == nullptr) return std::nullopt;
  return *data;
}

void MemorySettingStore::DenyOpen(const std::string& path) { Create(path).denyOpen = true; }

void MemorySettingStore::DenyWrite(const std::string& path) { Create(path).denyWrite = true; }

}  // namespace ofs
