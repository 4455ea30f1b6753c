#pragma once
// The drive command set: one function per CDB, all sent through SendAtapiCommand.
#include <cstdint>
#include <string>

#include "drive/AtapiImp.h"

namespace ofs {

using DriveIndex = uint8_t;

bool IsDriveIndexValid(const TAtapiImp& atapi, DriveIndex index);
// True exactly when the transport returned 1; an invalid index sends nothing.
bool SendAtapiCommand(TAtapiImp& atapi, DriveIndex index, const uint8_t* cdb, uint8_t* buffer, uint16_t length,
                      uint8_t direction);

bool TestUnitReady(TAtapiImp& atapi, DriveIndex index);
// True when ready or when no disc is in the drive; false after timeoutSeconds
// (medium removal is allowed again first).
bool WaitDriveReady(TAtapiImp& atapi, DriveIndex index, int timeoutSeconds);
bool RequestSense(TAtapiImp& atapi, DriveIndex index, uint8_t* sense18, uint8_t upperHalf, uint8_t finish);

std::string ReadHardwareId(TAtapiImp& atapi, DriveIndex index);
std::string ReadModelName(TAtapiImp& atapi, DriveIndex index);
std::string ReadFirmwareVersion(TAtapiImp& atapi, DriveIndex index);
std::string ReadInquiryExtension(TAtapiImp& atapi, DriveIndex index);

bool QueryDriveCapability(TAtapiImp& atapi, DriveIndex index, uint8_t* reply8, int capability);
bool ReadFirmwareChecksum(TAtapiImp& atapi, DriveIndex index, uint8_t* reply8);
bool SetFirmwareChecksum(TAtapiImp& atapi, DriveIndex index, uint16_t headerValue, uint16_t checksum);
bool PreventMediumRemoval(TAtapiImp& atapi, DriveIndex index, uint8_t prevent);
bool SendFirmwareBlock(TAtapiImp& atapi, DriveIndex index, const uint8_t* block16k, uint8_t blockIndex,
                       uint8_t blockCount, uint16_t valueA, uint16_t valueB);
bool LoadTray(TAtapiImp& atapi, DriveIndex index);
bool EjectTray(TAtapiImp& atapi, DriveIndex index);
bool IsTrayOpen(TAtapiImp& atapi, DriveIndex index);
bool IsMediumPresent(TAtapiImp& atapi, DriveIndex index);
bool ReadRomData(TAtapiImp& atapi, DriveIndex index, uint8_t* buffer, uint16_t address, uint8_t bank,
                 uint16_t length);
bool ReadKernelInfo(TAtapiImp& atapi, DriveIndex index, uint8_t* buffer65535);
bool WriteFlashBuffer(TAtapiImp& atapi, DriveIndex index, const uint8_t* data, uint16_t length, uint8_t bank,
                      uint16_t offset);
bool TriggerFlash(TAtapiImp& atapi, DriveIndex index, uint8_t upperHalf);
bool SetDownloadMode(TAtapiImp& atapi, DriveIndex index, uint8_t on);

// A drive line of identity texts, as it is shown: model, space, version, space, extension.
std::string DriveLineOf(const std::string& model, const std::string& version, const std::string& extension);

// Drive line as the flash-utility personality lists a drive: model, space,
// version, space, and the extension unless the model starts with "PIONEER".
std::string BuildDriveLine(TAtapiImp& atapi, DriveIndex index, bool withExtension);

}  // namespace ofs
