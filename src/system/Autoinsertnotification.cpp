#include "system/Autoinsertnotification.h"

#include <algorithm>

namespace ofs {

namespace {

constexpr char kEnumPrefix[] = "Enum\\SCSI\\";
constexpr std::size_t kHardwareNameLength = 25;  // vendor, product and the revision's first character
constexpr std::size_t kRevisionOffset = 24;
constexpr std::size_t kRevisionLength = 4;
constexpr std::size_t kRevisionBufferSize = 8;
constexpr char kRevisionLevel[] = "RevisionLevel";
constexpr char kAutoInsertNotification[] = "AutoInsertNotification";

// Identity character i, or 0 past its end (an identity without revision).
char IdentityAt(const std::string& identity, std::size_t i) { return i < identity.size() ? identity[i] : '\0'; }

// Equal characters up to a shared 0 byte, or all four equal, are a match.
bool RevisionMatches(const std::vector<uint8_t>& stored, const std::string& identity) {
  std::vector<uint8_t> buffer(kRevisionBufferSize, 0);
  std::copy_n(stored.begin(), std::min(stored.size(), buffer.size()), buffer.begin());
  for (std::size_t k = 0; k < kRevisionLength; ++k) {
    const char expected = IdentityAt(identity, kRevisionOffset + k);
    if (static_cast<char>(buffer[k]) != expected) return false;
    if (expected == '\0') return true;
  }
  return true;
}

}  // namespace

std::optional<SettingStore::Key> OpenScsiEnumKey(SettingStore& store, const std::string& driveIdentity) {
  std::string name = driveIdentity.substr(0, kHardwareNameLength);
  std::replace(name.begin(), name.end(), ' ', '_');
  return store.OpenKey(kEnumPrefix + name);
}

std::vector<std::string> ListSubkeyNames(SettingStore& store, SettingStore::Key key) {
  std::vector<std::string> names;
  for (uint32_t index = 0;; ++index) {
    std::optional<std::string> name = store.EnumKey(key, index);
    if (!name) return names;
    names.push_back(std::move(*name));
  }
}

std::optional<SettingStore::Key> OpenDriveDeviceKey(SettingStore& store, const std::string& driveIdentity) {
  const std::optional<SettingStore::Key> hardwareKey = OpenScsiEnumKey(store, driveIdentity);
  if (!hardwareKey) return std::nullopt;
  std::optional<SettingStore::Key> found;
  for (const std::string& name : ListSubkeyNames(store, *hardwareKey)) {
    const std::optional<SettingStore::Key> deviceKey = store.OpenSubkey(*hardwareKey, name);
    if (!deviceKey) break;  // the remaining names are not tried
    const auto revision = store.QueryValue(*deviceKey, kRevisionLevel, kRevisionBufferSize);
    if (revision && RevisionMatches(*revision, driveIdentity)) {
      found = deviceKey;
      break;
    }
    store.CloseKey(*deviceKey);
  }
  store.CloseKey(*hardwareKey);
  return found;
}

uint8_t ReadAutoInsertNotification(SettingStore& store, const std::string& driveIdentity) {
  constexpr uint8_t kNotFound = 2;
  const std::optional<SettingStore::Key> deviceKey = OpenDriveDeviceKey(store, driveIdentity);
  if (!deviceKey) return kNotFound;
  const auto value = store.QueryValue(*deviceKey, kAutoInsertNotification, 1);
  store.CloseKey(*deviceKey);
  if (!value) return kNotFound;
  // An empty value reads as the cleared one-byte buffer.
  return value->empty() ? 0 : (*value)[0];
}

bool WriteAutoInsertNotification(SettingStore& store, const std::string& driveIdentity, uint8_t value) {
  const std::optional<SettingStore::Key> deviceKey = OpenDriveDeviceKey(store, driveIdentity);
  if (!deviceKey) return false;
  const bool written = store.SetBinaryValue(*deviceKey, kAutoInsertNotification, {value});
  store.CloseKey(*deviceKey);
  return written;
}

}  // namespace ofs
