// CFlashDevice over a recording flash library: what it asks of the library and what it makes of the
// answers. The real library over the boot loader is tested against the simulator elsewhere.
#include <flashlib/flash_device.hpp>

#include <platform/isp_flash.hpp>
#include <platform/ports.hpp>
#include <platform/process.hpp>
#include <platform/text.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace {

namespace isp = torvik::platform::isp;
using kq::flashlib::CFlashContainer;
using kq::flashlib::CFlashDevice;
using kq::flashlib::SerialPortInfo;
using kq::flashlib::Version;
using torvik::platform::FromUtf8;

class RecordingLibrary final : public isp::FlashLibrary {
public:
    void Prepare() override { calls.push_back("prepare"); }
    int Connect(const isp::ConnectOptions& options) override
    {
        connected = options;
        calls.push_back("connect");
        return connectStatus;
    }
    int FollowUp() override
    {
        calls.push_back("follow-up");
        return 1;
    }
    void Disconnect() override { calls.push_back("disconnect"); }
    int EraseSectors(int bank, const int* flags, int mode, isp::ProgressCallback, void*, const char*) override
    {
        erased.clear();
        for (int i = 0; i < 128; ++i) {
            if (flags[i] != 0) {
                erased.insert(i);
            }
        }
        calls.push_back("erase " + std::to_string(bank) + " " + std::to_string(mode));
        return 1;
    }
    int BlankCheck(std::uint32_t start, std::uint32_t end) override
    {
        checked.emplace_back(start, end);
        return blankStatus;
    }
    int ProgramHexFile(const char* path, isp::ProgressCallback, void*) override
    {
        calls.push_back(std::string("program ") + path);
        return 1;
    }
    int VerifyHexFile(const char* path, isp::ProgressCallback, void*) override
    {
        calls.push_back(std::string("verify ") + path);
        return verifyStatus;
    }
    int ReadMemory(std::uint32_t first, std::uint32_t last, std::uint8_t* out, isp::ProgressCallback, void*) override
    {
        reads.emplace_back(first, last);
        if (readStatus != 1) {
            return readStatus;
        }
        std::fill(out, out + (last - first + 1), std::uint8_t{0xFF});
        for (const auto& [at, value] : memory) {
            if (at >= first && at <= last) {
                out[at - first] = value;
            }
        }
        return 1;
    }
    int StartExecution(int mode, std::uint32_t address, int thumb) override
    {
        calls.push_back("start " + std::to_string(mode) + " " + std::to_string(address) + " " + std::to_string(thumb));
        return 1;
    }
    std::string LastError() const override { return "the library's reason"; }
    isp::ChipIdentity Identity() const override { return {}; }
    void AllowCodeReadProtection(bool) override {}

    std::vector<std::string> calls;
    isp::ConnectOptions connected;
    int connectStatus = 1;
    int blankStatus = 2;
    int verifyStatus = 1;
    int readStatus = 1;
    std::set<int> erased;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> checked;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> reads;
    std::vector<std::pair<std::uint32_t, std::uint8_t>> memory;
};

class FlashDevice : public ::testing::Test {
protected:
    FlashDevice() { isp::SetFlashLibrary(&library_); }
    ~FlashDevice() override { isp::SetFlashLibrary(nullptr); }

    // A container with the identity fields at 0x300.. and the given erase blocks element.
    CFlashContainer& Container(const std::string& eraseBlocks)
    {
        const std::string text =
            "<?xml version=\"1.0\"?>\n<FLASHCONTAINER CONTAINER_VER=\"1.0\">\n  <FLASHELEMENT FW_VER=\"1.0\" "
            "MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.9\" PRODUCT_CODE=\"4A01\" PRODUCT_NAME=\"Torvik4\">\n"
            "<HEX>:00000001FF\n</HEX><UART_OPTIONS><OSC>10.0</OSC><DEVICE_VERSION_INFO>"
            "<FW_VERSION_INFO START_BYTE=\"300\" LENGTH=\"16\"/><HW_VERSION_INFO START_BYTE=\"302\" LENGTH=\"16\"/>"
            "<PRODUCT_CODE_INFO START_BYTE=\"304\" LENGTH=\"16\"/><SERIALNUMBER_INFO START_BYTE=\"306\" LENGTH=\"16\"/>"
            "</DEVICE_VERSION_INFO></UART_OPTIONS>" + eraseBlocks + "</FLASHELEMENT>\n</FLASHCONTAINER>\n";
        container_ = std::make_unique<CFlashContainer>(FromUtf8(dir_.Write("c.fkq", text).string()));
        kq::flashlib::Version format;
        EXPECT_EQ(container_->OpenContainer(format), 1);
        EXPECT_EQ(container_->ParseValues(), 0);
        return *container_;
    }

    RecordingLibrary library_;
    flashlib_test::TempDir dir_;
    std::unique_ptr<CFlashContainer> container_;
};

TEST_F(FlashDevice, ConnectsWithTheDefaultsAndThePortSet)
{
    CFlashDevice device(Container(""));
    device.SetComPort(12);
    ASSERT_EQ(device.ConnectToHW(), 0);
    EXPECT_EQ(library_.connected.port, "COM12");
    // The container's oscillator does not reach the connection: the defaults hold.
    EXPECT_EQ(library_.connected.crystal_khz, 12000u);
    EXPECT_EQ(library_.connected.baud, 230400u);
    EXPECT_EQ(library_.connected.hw_config, 1);
    EXPECT_EQ(library_.calls, (std::vector<std::string>{"prepare", "connect", "follow-up", "follow-up"}));

    library_.connectStatus = -1;
    CFlashDevice copy(device);
    EXPECT_EQ(copy.ConnectToHW(), -1);
    EXPECT_EQ(copy.GetLastError(), "the library's reason");
}

TEST_F(FlashDevice, IdentityOfAnErasedDeviceAndOfAWrittenOne)
{
    CFlashDevice device(Container(""));
    EXPECT_EQ(device.GetHWVersion(), Version(255, 255));
    EXPECT_EQ(device.GetFWVersion(), Version(255, 255));
    EXPECT_EQ(device.GetProductCode(), 0xFFFF);
    EXPECT_EQ(device.GetSerialNumber(), 25755);
    ASSERT_EQ(library_.reads.size(), 1u);  // one read of the block serves every getter
    EXPECT_EQ(library_.reads[0], std::make_pair(0u, 1023u));

    library_.memory = {{0x300, 0x02}, {0x301, 0x15}, {0x302, 0x01}, {0x303, 0x09},
                       {0x304, 0x4A}, {0x305, 0x01}, {0x306, 0x12}, {0x307, 0x34}};
    device.ResetMemBuff();
    const auto info = device.GetDeviceInfo();
    EXPECT_EQ(info.fwVersion, Version(2, 15));
    EXPECT_EQ(info.hwVersion, Version(1, 9));
    EXPECT_EQ(info.productCode, 0x4A01);
    EXPECT_EQ(info.serialNumber, 1234);

    // A failed read leaves the block unread, so the next getter asks again.
    library_.readStatus = -1;
    device.ResetMemBuff();
    EXPECT_EQ(device.GetProductCode(), -1);
    EXPECT_EQ(device.GetHWVersion(), Version(-1, -1));
    EXPECT_EQ(library_.reads.size(), 4u);
}

TEST_F(FlashDevice, ErasesTheContainersBlocksOrTheWholeChip)
{
    CFlashDevice some(Container("<ERASE_BLOCKS START=\"28\" END=\"29\"/>"));
    ASSERT_EQ(some.EraseMemory(nullptr, nullptr), 0);
    EXPECT_EQ(library_.erased, (std::set<int>{28, 29}));
    EXPECT_EQ(library_.calls.back(), "erase -1 1");

    CFlashDevice all(Container(""));
    ASSERT_EQ(all.EraseMemory(nullptr, nullptr), 0);
    EXPECT_EQ(library_.erased.size(), 30u);
    EXPECT_EQ(*library_.erased.rbegin(), 29);

    int user[128] = {};
    user[28] = user[29] = 1;
    ASSERT_EQ(all.EraseBlocks(user, nullptr, nullptr), 0);
    EXPECT_EQ(library_.erased, (std::set<int>{28, 29}));
}

TEST_F(FlashDevice, BlankChecksStopAtTheFirstSectorWithData)
{
    CFlashDevice device(Container(""));
    int none[128] = {};
    EXPECT_EQ(device.CheckEraseBlocks(none), -1);
    EXPECT_TRUE(library_.checked.empty());

    int user[128] = {};
    user[15] = user[28] = user[29] = 1;
    EXPECT_EQ(device.CheckEraseBlocks(user), 0);
    EXPECT_EQ(library_.checked, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                                    {0xF000, 0xFFFF}, {0x70000, 0x77FFF}, {0x78000, 0x7FFFF}}));
    library_.checked.clear();
    library_.blankStatus = 3;
    EXPECT_EQ(device.CheckEraseBlocks(user), -2);
    EXPECT_EQ(library_.checked.size(), 1u);
    library_.blankStatus = -1;
    EXPECT_EQ(device.CheckErase(), -1);
}

TEST_F(FlashDevice, ProgramsVerifiesReadsAndRestarts)
{
    CFlashDevice device(Container(""));
    device.SetHexFilePath(L"/tmp/image.hex");
    EXPECT_EQ(device.ProgramMemory(nullptr, nullptr), 0);
    EXPECT_EQ(device.VerifyMemory(nullptr, nullptr), 0);
    library_.verifyStatus = -1;
    EXPECT_EQ(device.VerifyMemory(nullptr, nullptr), -1);

    std::vector<std::uint8_t> buffer(0x10000);
    EXPECT_EQ(device.ReadMemory(0x70000, 0x10000, buffer.data(), nullptr, nullptr), 0);
    EXPECT_EQ(library_.reads.back(), std::make_pair(0x70000u, 0x7FFFFu));

    EXPECT_EQ(device.RestartDevice(), 0);
    const auto restart = (torvik::platform::ExecutableDirectory() / "restart.hex").string();
    EXPECT_EQ(library_.calls, (std::vector<std::string>{"program /tmp/image.hex", "verify /tmp/image.hex",
                                                        "verify /tmp/image.hex", "program " + restart,
                                                        "start 1 268464128 1"}));
}

TEST_F(FlashDevice, SerialPortsFollowTheComRule)
{
    torvik::platform::SetPortTable(std::vector<torvik::platform::PortInfo>{
        {1, "/dev/ttyUSB0", "USB Serial Adapter"}, {3, "/dev/ttyUSB2", ""}, {0, "/dev/pts/4", ""}});
    EXPECT_EQ(CFlashDevice::GetSerialPortCount(), 2);
    SerialPortInfo ports[4];
    int count = 0;
    EXPECT_EQ(CFlashDevice::GetSerialPortInfo(ports, count), -1);
    EXPECT_EQ(count, 0);
    count = 4;
    EXPECT_EQ(CFlashDevice::GetSerialPortInfo(ports, count), 0);  // the known adapter is the first entry
    ASSERT_EQ(count, 2);
    EXPECT_EQ(ports[0].comPort, 1);
    EXPECT_EQ(ports[0].description, L"USB Serial Adapter");
    EXPECT_EQ(ports[1].comPort, 3);
    count = 1;
    EXPECT_EQ(CFlashDevice::GetSerialPortInfo(ports, count), 0);
    EXPECT_EQ(count, 1);
    torvik::platform::SetPortTable(std::nullopt);

    const kq::flashlib::DeviceFlashProperty* property = nullptr;
    ASSERT_TRUE(kq::flashlib::getDeviceFlashProperty(2011, property));
    EXPECT_STREQ(property->name, "LPC1769");
    EXPECT_EQ(property->sectorCount, 30);
    EXPECT_FALSE(kq::flashlib::getDeviceFlashProperty(2010, property));
}

TEST_F(FlashDevice, DumpsItsHexFile)
{
    CFlashDevice device(Container(""));
    EXPECT_TRUE(device.DumpHexTo(FromUtf8((dir_.path() / "none.hex").string())));  // nothing to copy
    const auto source = dir_.Write("image.hex", ":00000001FF\r\n");
    device.SetHexFilePath(FromUtf8(source.string()));
    ASSERT_TRUE(device.DumpHexTo(FromUtf8((dir_.path() / "copy.hex").string())));
    EXPECT_EQ(flashlib_test::ReadFile(dir_.path() / "copy.hex"), ":00000001FF\r\n");
    EXPECT_FALSE(device.DumpHexTo(FromUtf8((dir_.path() / "no" / "copy.hex").string())));
}

}  // namespace
