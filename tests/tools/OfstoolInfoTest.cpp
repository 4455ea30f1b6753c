#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firmware/Firmware.h"
#include "firmware/OfsBuilder.h"
#include "tools/ToolRunner.h"

namespace ofs {
namespace {

using test::RunResult;

class OfstoolInfo : public test::ToolTest {};

TEST_F(OfstoolInfo, JsonDescribesAnOfs3ContainerBuiltByMkofs) {
  const RunResult built =
      Run(Tool("mkofs") + " -o " + Path("a.ofs") + " --banks 2 --slot 0x8000 --seed 5 --atapi-type 7 --kernel-type 2" +
          " --reserved 0x100:0x10 --reserved 0x108:4 --kernel 0x7000:0x20 --key 1,2,3,4" +
          " --boot-template 0x40 --template 0x200 --revision 2.10 --hwid Z9 --ext EXT001 --dc-ext DCEXT2" +
          " --template 0x9000 --product QX --revision 3.30");
  ASSERT_EQ(built.exitCode, 0) << built.err;
  const RunResult info = Run(Tool("ofstool") + " info --json " + Path("a.ofs"));
  ASSERT_EQ(info.exitCode, 0) << info.err;

  // The same flat image, rebuilt here, gives the checksums the tool must report.
  build::InquiryTemplate boot, second, third;
  boot.offset = 0x40;
  boot.revision = "BOOT";
  second.offset = 0x200;
  second.revision = "2.10";
  second.hardwareId = "Z9";
  second.extension = "EXT001";
  third.offset = 0x9000;
  third.product = "QX";
  third.revision = "3.30";
  second.dcExtension = "DCEXT2";
  const std::vector<uint8_t> flat = build::MakeFlatImage(0x10000, 5, {boot, second, third});
  SOFSParameter p;
  p.AtapiFlashType = 7;
  p.ReservedBlocks = {{0x100, 0x10}, {0x108, 4}};
  p.KernelBlockAddress = 0x7000;
  p.KernelBlockLength = 0x20;
  const std::string expected =
      "{\"kind\":\"ofs3\",\"version\":\"3\",\"scrambled\":true,\"header_checksum\":" +
      std::to_string(ComputeImageCheckSum(flat.data(), flat.size(), p) & 0xFFFF) +
      ",\"trailer_word\":0,\"ide_flash_type\":4,\"atapi_flash_type\":7,\"atapi_flash_type_name\":\"MTK6 Type\","
      "\"atapi_flash_kernel_type\":2,\"max_bank_size\":32768,\"bank_sizes\":[32768,32768],"
      "\"reserved_blocks\":[[256,16],[264,4]],\"kernel_block\":[28672,32],\"name_text\":\"\","
      "\"image_length\":65536,\"image_checksum\":" +
      std::to_string(ComputeImageCheckSum(flat.data(), flat.size(), p)) +
      ",\"fixed_data_checksum\":" + std::to_string(ComputeFixedDataCheckSum(flat.data(), flat.size(), p)) +
      ",\"templates\":[64,512,36864],\"model_name\":\"ORVA    KZR-3350P2      \","
      "\"firmware_version\":\"2.10\",\"hardware_id\":\"Z9\",\"inquiry_extension\":\"DCEXT2\"}\n";
  EXPECT_EQ(info.out, expected);
}

TEST_F(OfstoolInfo, PhilipsFileGetsItsLengthInFrontAndEscapedName) {
  const std::vector<uint8_t> body(0x100, 0xFF);
  WriteBytes(Path("p.bin"), build::BuildPhilips(std::string("Philips\x01\"x\\"), body, 0x1234, 0xABCD, false));
  const RunResult info = Run(Tool("ofstool") + " info --json " + Path("p.bin"));
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("{\"kind\":\"philips\",\"version\":\"\",\"scrambled\":false,\"header_checksum\":4660,"
                          "\"trailer_word\":43981,"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("\"name_text\":\"Philips\\u0001\\\"x\\\\\",\"image_length\":256,"), std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("\"fixed_data_checksum\":65280,"), std::string::npos) << info.out;

  WriteBytes(Path("pl.bin"), build::BuildPhilips("Philips", body, 0x1234, 0xABCD, true));
  const RunResult withLength = Run(Tool("ofstool") + " info --json " + Path("pl.bin"));
  EXPECT_NE(withLength.out.find("\"image_length\":256,"), std::string::npos) << withLength.out;
}

TEST_F(OfstoolInfo, ZipArchiveIsDescribedByItsLastMember) {
  ASSERT_EQ(Run(Tool("mkofs") + " -o " + Path("first.ofs") + " --banks 1 --seed 1 --template 0x200 --revision 1.00")
                .exitCode,
            0);
  ASSERT_EQ(Run(Tool("mkofs") + " -o " + Path("last.ofs") + " --banks 1 --seed 2 --template 0x200 --revision 2.00")
                .exitCode,
            0);
  ASSERT_EQ(Run(Tool("samples/mkzip") + " " + Path("both.zip") + " " + Path("first.ofs") + " " + Path("last.ofs"))
                .exitCode,
            0);
  const RunResult direct = Run(Tool("ofstool") + " info --json " + Path("last.ofs"));
  const RunResult zipped = Run(Tool("ofstool") + " info --json " + Path("both.zip"));
  ASSERT_EQ(zipped.exitCode, 0) << zipped.err;
  EXPECT_EQ(zipped.out, direct.out);
  EXPECT_NE(zipped.out.find("\"firmware_version\":\"2.00\""), std::string::npos);
}

TEST_F(OfstoolInfo, UnusableFilesGiveOneLineAndExitOne) {
  WriteBytes(Path("empty"), {});
  WriteBytes(Path("zeros"), std::vector<uint8_t>(100, 0));
  std::vector<uint8_t> broken = build::BuildOfs({}, build::MakeFlatImage(0x10000, 1, {}));
  broken.resize(broken.size() - 1);
  WriteBytes(Path("broken"), broken);
  WriteBytes(Path("philips"), {'P', 'h', 'i', 'l', 'i', 'p', 's', 0});  // shorter than its name and trailer
  for (const char* name : {"empty", "zeros", "broken", "missing", "philips"}) {
    const RunResult info = Run(Tool("ofstool") + " info --json " + Path(name));
    EXPECT_EQ(info.exitCode, 1) << name;
    EXPECT_TRUE(info.out.empty()) << name;
    EXPECT_EQ(std::count(info.err.begin(), info.err.end(), '\n'), 1) << name << ": " << info.err;
  }
  // An empty image, not a length wrapped around past the end of memory.
  EXPECT_NE(Run(Tool("ofstool") + " info " + Path("philips")).err.find("does not parse"), std::string::npos);
}

TEST_F(OfstoolInfo, MkofsRefusesWhatDoesNotParseBack) {
  for (const std::string args : {"--format legacy --version 4", "--bank-sizes 0x20000", "--format legacy --banks 39",
                                 "--format legacy --banks 2 --template 0x10000"}) {
    const RunResult built = Run(Tool("mkofs") + " -o " + Path("x.ofs") + " " + args);
    EXPECT_EQ(built.exitCode, 1) << args;
    EXPECT_NE(built.err.find("refusing to write"), std::string::npos) << args << ": " << built.err;
    EXPECT_FALSE(std::filesystem::exists(Path("x.ofs"))) << args;
  }
}

// A size no reader takes is a usage error, refused in a process that could not even
// hold it; --help is the usage on stdout.
TEST_F(OfstoolInfo, MkofsRefusesSizesNoContainerMayHold) {
  const std::pair<const char*, int> cases[] = {
      {"--image-size 0xFFFFFFFF", 2},
      {"--banks 4096", 2},
      {"--slot 0x4000000 --bank-sizes 1,1", 2},
      {"--format philips --image-size 0x3FFFFD9", 2},
      {"--format philips --image-size 0x3FFFFD8", 0},
      {"--help", 0},
  };
#ifdef __SANITIZE_ADDRESS__
  // The sanitizer maps terabytes of shadow memory, so it bounds each allocation itself.
  const std::string bounded = "ASAN_OPTIONS=\"$ASAN_OPTIONS:max_allocation_size_mb=400\" ";
#else
  const std::string bounded = "ulimit -v 400000; ";
#endif
  for (const auto& [args, exitCode] : cases) {
    const RunResult built = Run(bounded + Tool("mkofs") + " -o " + Path("x.ofs") + " " + args);
    EXPECT_EQ(built.exitCode, exitCode) << args << ": " << built.err;
    EXPECT_EQ(built.err.find("none may describe more than 67108864 (64 MiB)\n") != std::string::npos, exitCode == 2)
        << args << ": " << built.err;
    EXPECT_EQ(built.out.find("usage: mkofs") == 0, std::string(args) == "--help") << args;
  }
}

}  // namespace
}  // namespace ofs
