#include <flashlib/flash_container.hpp>
#include <flashlib/flash_hex_file.hpp>
#include <platform/process.hpp>
#include <platform/text.hpp>

#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

namespace {

namespace fs = std::filesystem;
using flashlib_test::ReadFile;
using flashlib_test::TempDir;
using kq::flashlib::CFlashContainer;
using kq::flashlib::CFlashHexFile;
using kq::flashlib::ProcessRunner;
using kq::flashlib::Version;
using torvik::platform::FromUtf8;

TEST(CreateHexFileFromBuffer, WritesAddressDataAndEndRecords)
{
    TempDir dir;
    const auto file = dir.path() / "user.hex";
    std::vector<std::uint8_t> bytes(20);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});

    ASSERT_EQ(CFlashHexFile::CreateHexFileFromBuffer(0x70000, 20, bytes.data(), FromUtf8(file.string())), 0);
    EXPECT_EQ(ReadFile(file),
              ":020000040007F3\r\n"
              ":10000000000102030405060708090A0B0C0D0E0F78\r\n"
              ":0400100010111213A6\r\n"
              ":00000001FF\r\n");

    ASSERT_EQ(CFlashHexFile::CreateHexFileFromBuffer(0x70000, 0, nullptr, FromUtf8(file.string())), 0);
    EXPECT_EQ(ReadFile(file), ":020000040007F3\r\n:00000001FF\r\n");
}

TEST(CreateHexFileFromBuffer, NewAddressRecordAtA64KBoundary)
{
    TempDir dir;
    const auto file = dir.path() / "cross.hex";
    const std::vector<std::uint8_t> bytes(16, 0xAA);
    ASSERT_EQ(CFlashHexFile::CreateHexFileFromBuffer(0x7FFF8, 16, bytes.data(), FromUtf8(file.string())), 0);
    EXPECT_EQ(ReadFile(file),
              ":020000040007F3\r\n"
              ":08FFF800AAAAAAAAAAAAAAAAB1\r\n"
              ":020000040008F2\r\n"
              ":08000000AAAAAAAAAAAAAAAAA8\r\n"
              ":00000001FF\r\n");
}

TEST(CreateHexFileFromBuffer, Failures)
{
    TempDir dir;
    const std::uint8_t byte = 0;
    EXPECT_EQ(CFlashHexFile::CreateHexFileFromBuffer(0, 1, &byte, FromUtf8((dir.path() / "no/such/dir.hex").string())),
              -2);
    EXPECT_EQ(CFlashHexFile::CreateHexFileFromBuffer(0, 1, nullptr, FromUtf8((dir.path() / "x.hex").string())), -4);
    EXPECT_EQ(CFlashHexFile::CreateHexFileFromBuffer(0, 1, &byte, L"/dev/full"), -8);
}

// A container around the given HEX text and DEVICE_VERSION_INFO children.
std::string Container(const std::string& hex, const std::string& version_info)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FLASHCONTAINER CONTAINER_VER=\"1.2\">\n"
           "<FLASHELEMENT FW_VER=\"1.0\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.9\" PRODUCT_CODE=\"4A01\" "
           "PRODUCT_NAME=\"T\">\n<HEX>" +
           hex + "</HEX>\n<UART_OPTIONS><DEVICE_VERSION_INFO>" + version_info +
           "</DEVICE_VERSION_INFO></UART_OPTIONS>\n</FLASHELEMENT></FLASHCONTAINER>\n";
}

class RecordingRunner : public ProcessRunner {
public:
    explicit RecordingRunner(Result result) : result_(std::move(result)) {}
    Result Run(const std::vector<std::string>& argv) override
    {
        calls.push_back(argv);
        return result_;
    }
    std::vector<std::vector<std::string>> calls;

private:
    Result result_;
};

class ContainerHexFile : public ::testing::Test {
protected:
    CFlashHexFile& Open(const std::string& content)
    {
        container_ = std::make_unique<CFlashContainer>(FromUtf8(dir_.Write("c.fkq", content).string()));
        Version version;
        EXPECT_EQ(container_->OpenContainer(version), 1);
        return container_->GetFlashHexFile();
    }
    std::string Output(CFlashHexFile& hex) const { return ReadFile(fs::path(torvik::platform::ToUtf8(hex.GetHexFileName()))); }

    TempDir dir_;
    std::unique_ptr<CFlashContainer> container_;
};

TEST_F(ContainerHexFile, PatchesIdentityIntoSampleAndSignsWithTheRealTool)
{
    const auto sample = flashlib_test::SampleContainer();
    if (sample.empty()) {
        GTEST_SKIP() << "TORVIK_SOURCE_DIR not set";
    }
    CFlashHexFile& hex = Open(ReadFile(sample));
    hex.SetSerialNumber(1234);
    hex.SetProductCode(0x4A01);
    hex.SetHwVer(Version(1, 2));
    ASSERT_EQ(hex.ModifyHEX(), 0);
    EXPECT_EQ(Output(hex),
              ":020000040000FA\r\n"
              ":10000000008000100101000009010000090100004A\r\n"
              ":1000100009010000090100000901000000000000C2\r\n"
              ":10010000FEE7FEE7FEE7FEE7FEE7FEE7FEE7FEE7C7\r\n"
              ":10030000010001024A011234FFFFFFFFFFFFFFFF60\r\n"
              ":00000001FF\r\n");

    ASSERT_EQ(hex.CreateCRC(), 0);
    EXPECT_EQ(Output(hex),
              ":020000040000FA\r\n"
              ":10000000008000100101000009010000090100004A\r\n"
              ":10001000090100000901000009010000D279FFEF89\r\n"
              ":10010000FEE7FEE7FEE7FEE7FEE7FEE7FEE7FEE7C7\r\n"
              ":10030000010001024A011234FFFFFFFFFFFFFFFF60\r\n"
              ":020000040006F4\r\n"
              ":02FFFE00382B9E\r\n"
              ":00000001FF\r\n");
}

TEST_F(ContainerHexFile, UnsetIdentityWritesErasedBytes)
{
    CFlashHexFile& hex = Open(Container(":1003000001000000000000000000000000000000EC\n",
                                        "<FW_VERSION_INFO START_BYTE=\"300\" LENGTH=\"16\"/>"
                                        "<HW_VERSION_INFO START_BYTE=\"302\" LENGTH=\"16\"/>"
                                        "<PRODUCT_CODE_INFO START_BYTE=\"304\" LENGTH=\"16\"/>"
                                        "<SERIALNUMBER_INFO START_BYTE=\"306\" LENGTH=\"16\"/>"));
    ASSERT_EQ(hex.ModifyHEX(), 0);
    EXPECT_EQ(Output(hex), ":100300000100FFFFFFFFFFFF0000000000000000F2\r\n");
}

TEST_F(ContainerHexFile, EveryRunStartsAtUpperAddressZero)
{
    // The serial field lies at 0x306 of the lowest page; the same offset in page 1 must stay untouched,
    // and a second run must not carry over the page the first run ended in.
    CFlashHexFile& hex = Open(Container(":080300000000000000000000F5\n:020000040001F9\n:080300000000000000000000F5\n",
                                        "<SERIALNUMBER_INFO START_BYTE=\"300\" LENGTH=\"16\"/>"));
    hex.SetSerialNumber(1234);
    const std::string expected =
        ":080300001234000000000000AF\r\n:020000040001F9\r\n:080300000000000000000000F5\r\n";
    ASSERT_EQ(hex.ModifyHEX(), 0);
    EXPECT_EQ(Output(hex), expected);
    ASSERT_EQ(hex.ModifyHEX(), 0);
    EXPECT_EQ(Output(hex), expected);
}

TEST_F(ContainerHexFile, FieldMatchingRules)
{
    // The first record ends exactly where the serial number starts; the hardware field is 8 bits wide.
    CFlashHexFile& hex = Open(Container(":1003000000000000000000000000000000000000ED\n:0403100000000000E9\n",
                                        "<SERIALNUMBER_INFO START_BYTE=\"310\" LENGTH=\"16\"/>"
                                        "<HW_VERSION_INFO START_BYTE=\"312\" LENGTH=\"8\"/>"));
    hex.SetSerialNumber(1234);
    hex.SetHwVer(Version(1, 2));
    ASSERT_EQ(hex.ModifyHEX(), 0);
    EXPECT_EQ(Output(hex), ":1003000000000000000000000000000000000000ED\r\n:0403100012340000A3\r\n");
}

TEST_F(ContainerHexFile, FieldCutByRecordEndKeepsOnlyItsFirstByte)
{
    CFlashHexFile& hex = Open(Container(":0403000000000000F9\n", "<SERIALNUMBER_INFO START_BYTE=\"303\" LENGTH=\"16\"/>"));
    hex.SetSerialNumber(1234);
    ASSERT_EQ(hex.ModifyHEX(), 0);
    EXPECT_EQ(Output(hex), ":0403000000000012E7\r\n");
}

TEST_F(ContainerHexFile, SerialNumberEncoding)
{
    struct Case {
        int serial;
        const char* line;
    };
    const Case cases[] = {
        {0, ":020300000000FB\r\n"},
        {9999, ":020300009999C9\r\n"},
        {0xFFFF, ":02030000FFFFFD\r\n"},
        {0x1FFFF, ":02030000FFFFFD\r\n"},  // only the low 16 bits count
        {-1, ":02030000FFFFFD\r\n"},
    };
    CFlashHexFile& hex = Open(Container(":020300000000FB\n", "<SERIALNUMBER_INFO START_BYTE=\"300\" LENGTH=\"16\"/>"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.serial);
        hex.SetSerialNumber(c.serial);
        ASSERT_EQ(hex.ModifyHEX(), 0);
        EXPECT_EQ(Output(hex), c.line);
    }
}

TEST_F(ContainerHexFile, MalformedHexStopsWithReaderCode)
{
    struct Case {
        const char* hex;
        int result;
    };
    const Case cases[] = {
        {":020300000000FB\n\n:00000001FF\n", -5},  // blank line
        {"\n:00000001FF\n", -5},                    // text not starting at the first record
        {" :00000001FF\n", -3},
        {":020300000000FC\n", -6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hex);
        CFlashHexFile& hex = Open(Container(c.hex, ""));
        EXPECT_EQ(hex.ModifyHEX(), c.result);
    }
}

TEST_F(ContainerHexFile, CreateCrcRunsToolBesideProgramOnTheHexFile)
{
    CFlashHexFile& hex = Open(Container(":00000001FF\n", ""));
    auto runner = std::make_shared<RecordingRunner>(ProcessRunner::Result{true, 3, {}});
    static_cast<CFlashContainer::HexFile&>(hex).set_process_runner(runner);
    EXPECT_EQ(hex.CreateCRC(), 3);
    ASSERT_EQ(runner->calls.size(), 1u);
    EXPECT_EQ(runner->calls[0],
              (std::vector<std::string>{(torvik::platform::ExecutableDirectory() / "QuenbyFlashUtility").string(),
                                        torvik::platform::ToUtf8(hex.GetHexFileName())}));

    static_cast<CFlashContainer::HexFile&>(hex).set_process_runner(
        std::make_shared<RecordingRunner>(ProcessRunner::Result{false, 0, "no such file"}));
    EXPECT_EQ(hex.CreateCRC(), 65535);
}

TEST_F(ContainerHexFile, TemporaryFileLivesAsLongAsTheContainer)
{
    CFlashHexFile& hex = Open(Container(":00000001FF\n", ""));
    ASSERT_EQ(hex.ModifyHEX(), 0);
    const fs::path file(torvik::platform::ToUtf8(hex.GetHexFileName()));
    EXPECT_TRUE(fs::exists(file));
    container_.reset();
    EXPECT_FALSE(fs::exists(file));
}

}  // namespace

namespace {

TEST(SystemProcessRunner, ReportsExitStatusSignalAndStartFailure)
{
    const auto runner = kq::flashlib::MakeSystemProcessRunner();
    const auto missing = runner->Run({"/nonexistent/QuenbyFlashUtility", "x.hex"});
    EXPECT_FALSE(missing.started);
    EXPECT_FALSE(missing.error.empty());

    const auto failed = runner->Run({"/bin/false"});
    EXPECT_TRUE(failed.started);
    EXPECT_EQ(failed.exit_status, 1);

    // Arguments arrive as given, blanks and quotes included, with no shell in between.
    const auto exact = runner->Run({"/usr/bin/test", "a \"b\" c", "=", "a \"b\" c"});
    EXPECT_EQ(exact.exit_status, 0);

    const auto killed = runner->Run({"/bin/sh", "-c", "kill -KILL $$"});
    EXPECT_EQ(killed.exit_status, 128 + 9);
}

}  // namespace
