#pragma once
// The per-drive "AutoInsertNotification" setting of the 95/98/ME hardware tree:
// finding the drive's device key and reading or writing its one-byte value.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "system/SettingStore.h"

namespace ofs {

// driveIdentity: vendor (8) + product (16) + revision (4) as the drive reports them.
std::optional<SettingStore::Key> OpenScsiEnumKey(SettingStore& store, const std::string& driveIdentity);
std::vector<std::string> ListSubkeyNames(SettingStore& store, SettingStore::Key key);
// The device key whose "RevisionLevel" matches the identity's revision; the caller closes it.
std::optional<SettingStore::Key> OpenDriveDeviceKey(SettingStore& store, const std::string& driveIdentity);

// The stored byte (0 off, 1 on), or 2 when the device key or the value is missing.
uint8_t ReadAutoInsertNotification(SettingStore& store, const std::string& driveIdentity);
bool WriteAutoInsertNotification(SettingStore& store, const std::string& driveIdentity, uint8_t value);

}  // namespace ofs
