#include "system/MemorySettingStore.h"

#include <gtest/gtest.h>

namespace ofs {
namespace {

TEST(MemorySettingStore, OpensKeysByPathIgnoringCaseAndEnumeratesInCreationOrder) {
  MemorySettingStore store;
  store.CreateKey("Enum\\SCSI\\B");
  store.CreateKey("enum\\scsi\\A");
  const auto scsi = store.OpenKey("ENUM\\Scsi");
  ASSERT_TRUE(scsi);
  EXPECT_EQ(store.EnumKey(*scsi, 0), "B");
  EXPECT_EQ(store.EnumKey(*scsi, 1), "A");
  EXPECT_FALSE(store.EnumKey(*scsi, 2));
  const auto a = store.OpenSubkey(*scsi, "a");
  ASSERT_TRUE(a);
  EXPECT_NE(*a, *scsi);
  EXPECT_GT(*a, 0);
  EXPECT_FALSE(store.OpenSubkey(*scsi, "C"));
  EXPECT_FALSE(store.OpenKey("Enum\\SCSI\\C"));
  store.CloseKey(*a);
  store.CloseKey(*scsi);
  EXPECT_EQ(store.OpenKeyCount(), 0u);
  EXPECT_FALSE(store.EnumKey(*scsi, 0));  // a closed key is no key
}

TEST(MemorySettingStore, QueriesUpToMaxBytesAndReplacesValues) {
  MemorySettingStore store;
  store.SetStringValue("K", "Text", "1.00");
  const auto key = store.OpenKey("K");
  ASSERT_TRUE(key);
  EXPECT_EQ(store.QueryValue(*key, "text", 8), (std::vector<uint8_t>{'1', '.', '0', '0', 0}));
  EXPECT_EQ(store.QueryValue(*key, "Text", 2), (std::vector<uint8_t>{'1', '.'}));
  EXPECT_FALSE(store.QueryValue(*key, "Missing", 8));
  EXPECT_TRUE(store.SetBinaryValue(*key, "TEXT", {7}));
  EXPECT_EQ(store.Value("K", "Text"), std::vector<uint8_t>{7});
  store.DenyWrite("K");
  EXPECT_FALSE(store.SetBinaryValue(*key, "Text", {8}));
  store.CloseKey(*key);
  store.DenyOpen("K");
  EXPECT_FALSE(store.OpenKey("K"));
}

}  // namespace
}  // namespace ofs
