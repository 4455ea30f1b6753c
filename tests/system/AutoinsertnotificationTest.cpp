#include "system/Autoinsertnotification.h"

#include <gtest/gtest.h>

#include <functional>

#include "system/MemorySettingStore.h"

namespace ofs {
namespace {

const std::string kIdentity = "ORVA    KZR-3350QA      1.00";
const std::string kNoRevision = "ORVA    KZR-3350QA      ";
const std::string kHardwareKey = "Enum\\SCSI\\ORVA____KZR-3350QA______1";
const std::string kHardwareKeyNoRevision = "Enum\\SCSI\\ORVA____KZR-3350QA______";

void AddDevice(MemorySettingStore& store, const std::string& hardwareKey, const std::string& name,
               const std::string& revision, std::optional<uint8_t> setting) {
  const std::string path = hardwareKey + "\\" + name;
  store.CreateKey(path);
  store.SetStringValue(path, "RevisionLevel", revision);
  if (setting) store.SetValue(path, "AutoInsertNotification", {*setting});
}

TEST(OpenScsiEnumKey, NamesTheKeyAfterTheFirst25CharactersWithUnderscores) {
  MemorySettingStore store;
  store.CreateKey(kHardwareKey);
  const auto key = OpenScsiEnumKey(store, kIdentity);
  ASSERT_TRUE(key);
  store.CloseKey(*key);

  MemorySettingStore withSpaces;
  withSpaces.CreateKey("Enum\\SCSI\\ORVA    KZR-3350QA      1");
  EXPECT_FALSE(OpenScsiEnumKey(withSpaces, kIdentity));
}

TEST(ListSubkeyNames, KeepsEnumerationOrder) {
  MemorySettingStore store;
  for (const char* name : {"ROOT&1", "PCI&0", "ABC"}) store.CreateKey(kHardwareKey + "\\" + name);
  const auto key = OpenScsiEnumKey(store, kIdentity);
  ASSERT_TRUE(key);
  EXPECT_EQ(ListSubkeyNames(store, *key), (std::vector<std::string>{"ROOT&1", "PCI&0", "ABC"}));
  store.CloseKey(*key);
}

struct ReadCase {
  const char* name;
  std::function<void(MemorySettingStore&)> setup;
  std::string identity;
  uint8_t expected;
};

class ReadAutoInsertTest : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadAutoInsertTest, ReadsTheMatchingDevice) {
  MemorySettingStore store;
  GetParam().setup(store);
  EXPECT_EQ(ReadAutoInsertNotification(store, GetParam().identity), GetParam().expected);
  EXPECT_EQ(store.OpenKeyCount(), 0u);  // every key closed again
}

INSTANTIATE_TEST_SUITE_P(
    Trees, ReadAutoInsertTest,
    testing::Values(
        ReadCase{"SameRevision", [](auto& s) { AddDevice(s, kHardwareKey, "D0", "1.00", 1); }, kIdentity, 1},
        ReadCase{"StoredOff", [](auto& s) { AddDevice(s, kHardwareKey, "D0", "1.00", 0); }, kIdentity, 0},
        ReadCase{"OtherRevision", [](auto& s) { AddDevice(s, kHardwareKey, "D0", "1.01", 1); }, kIdentity, 2},
        ReadCase{"ShorterStoredRevision", [](auto& s) { AddDevice(s, kHardwareKey, "D0", "1.0", 1); }, kIdentity, 2},
        ReadCase{"LongerStoredRevision", [](auto& s) { AddDevice(s, kHardwareKey, "D0", "1.00b", 1); }, kIdentity, 1},
        ReadCase{"EmptyRevisionNoIdentityRevision",
                 [](auto& s) { AddDevice(s, kHardwareKeyNoRevision, "D0", "", 1); }, kNoRevision, 1},
        ReadCase{"EmptyRevisionIdentityWithRevision", [](auto& s) { AddDevice(s, kHardwareKey, "D0", "", 1); },
                 kIdentity, 2},
        ReadCase{"NoHardwareKey", [](auto&) {}, kIdentity, 2},
        ReadCase{"NoSubkeys", [](auto& s) { s.CreateKey(kHardwareKey); }, kIdentity, 2},
        ReadCase{"ValueMissing", [](auto& s) { AddDevice(s, kHardwareKey, "D0", "1.00", std::nullopt); },
                 kIdentity, 2},
        ReadCase{"EmptyValueReadsOff",
                 [](auto& s) {
                   AddDevice(s, kHardwareKey, "D0", "1.00", std::nullopt);
                   s.SetValue(kHardwareKey + "\\D0", "AutoInsertNotification", {});
                 },
                 kIdentity, 0},
        ReadCase{"FirstOfTwoWithTheSameRevision",
                 [](auto& s) {
                   AddDevice(s, kHardwareKey, "D0", "1.00", 0);
                   AddDevice(s, kHardwareKey, "D1", "1.00", 1);
                 },
                 kIdentity, 0},
        ReadCase{"SkipsOtherRevisionsAndMissingRevision",
                 [](auto& s) {
                   AddDevice(s, kHardwareKey, "D0", "2.00", 0);
                   s.CreateKey(kHardwareKey + "\\NoRevision");
                   AddDevice(s, kHardwareKey, "D2", "1.00", 1);
                 },
                 kIdentity, 1},
        ReadCase{"UnopenableSubkeyEndsTheSearch",
                 [](auto& s) {
                   s.DenyOpen(kHardwareKey + "\\D0");
                   AddDevice(s, kHardwareKey, "D1", "1.00", 1);
                 },
                 kIdentity, 2}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST(WriteAutoInsertNotification, WritesOneBinaryByteIntoTheFirstMatchingDevice) {
  MemorySettingStore store;
  AddDevice(store, kHardwareKey, "D0", "0.99", 1);
  AddDevice(store, kHardwareKey, "D1", "1.00", std::nullopt);  // value created
  AddDevice(store, kHardwareKey, "D2", "1.00", 1);
  EXPECT_TRUE(WriteAutoInsertNotification(store, kIdentity, 0));
  EXPECT_EQ(store.Value(kHardwareKey + "\\D1", "AutoInsertNotification"), std::vector<uint8_t>{0});
  EXPECT_EQ(store.Value(kHardwareKey + "\\D0", "AutoInsertNotification"), std::vector<uint8_t>{1});
  EXPECT_EQ(store.Value(kHardwareKey + "\\D2", "AutoInsertNotification"), std::vector<uint8_t>{1});
  EXPECT_EQ(ReadAutoInsertNotification(store, kIdentity), 0);
  EXPECT_TRUE(WriteAutoInsertNotification(store, kIdentity, 1));
  EXPECT_EQ(ReadAutoInsertNotification(store, kIdentity), 1);
  EXPECT_EQ(store.OpenKeyCount(), 0u);
}

TEST(WriteAutoInsertNotification, FailsWithoutDeviceOrWhenRefused) {
  MemorySettingStore store;
  store.CreateKey(kHardwareKey);
  EXPECT_FALSE(WriteAutoInsertNotification(store, kIdentity, 0));  // no subkeys
  AddDevice(store, kHardwareKey, "D0", "1.00", 1);
  store.DenyWrite(kHardwareKey + "\\D0");
  EXPECT_FALSE(WriteAutoInsertNotification(store, kIdentity, 0));
  EXPECT_EQ(store.Value(kHardwareKey + "\\D0", "AutoInsertNotification"), std::vector<uint8_t>{1});
  EXPECT_EQ(store.OpenKeyCount(), 0u);
}

}  // namespace
}  // namespace ofs
