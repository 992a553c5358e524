// The whole flash path, from the flash job through CFlashDevice and the boot loader client to the
// simulated device's boot loader on a pseudo-terminal.
#include <device/flash_job.hpp>

#include <flashlib/flash_container.hpp>
#include <flashlib/flash_device.hpp>
#include <hexsign/ihex.hpp>
#include <platform/files.hpp>
#include <platform/text.hpp>
#include <sim/simulator.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <stdlib.h>

namespace {

namespace fs = std::filesystem;
using torvik::sim::SimMode;
using torvik::sim::SimOptions;
using torvik::sim::Simulator;
using torvik::studio::FlashJob;
using torvik::studio::FlashJobError;

fs::path SampleContainer()
{
    const char* source = std::getenv("TORVIK_SOURCE_DIR");
    return fs::path(source != nullptr ? source : ".") / "examples" / "torvik4-sample.fkq";
}

std::vector<std::uint8_t> Pattern(std::size_t count, unsigned seed)
{
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 131 + seed) ^ (i >> 8));
    }
    return bytes;
}

class FlashPath : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "flash_job.XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
    }
    void TearDown() override
    {
        sim_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    Simulator& Start(SimOptions options = {})
    {
        sim_ = std::make_unique<Simulator>(options);
        std::string error;
        EXPECT_TRUE(sim_->Start(error)) << error;
        return *sim_;
    }

    FlashJob Job() { return FlashJob(sim_->DevicePath(), {}, SampleContainer()); }

    fs::path HexFile(const std::string& name, std::uint32_t address, const std::vector<std::uint8_t>& bytes)
    {
        const auto path = dir_ / name;
        EXPECT_FALSE(torvik::platform::WriteFileSafely(
            path, torvik::hexsign::Format_IHexFile(address, bytes.data(), bytes.size())));
        return path;
    }

    fs::path dir_;
    std::unique_ptr<Simulator> sim_;
};

TEST_F(FlashPath, AnErasedDeviceIdentifiesItselfAndGoesBackToItsApplication)
{
    Simulator& sim = Start();  // in its application: the job asks it into the boot loader
    {
        auto job = Job();
        EXPECT_EQ(sim.Mode(), SimMode::Bootloader);
        const auto facts = job.Facts();
        EXPECT_EQ(facts.part_id, 0x26113F37u);
        EXPECT_EQ(facts.hardware_version, "255.255");
        EXPECT_EQ(facts.firmware_version, "255.255");
        EXPECT_EQ(facts.product_code, 0xFFFF);
        EXPECT_EQ(facts.serial_number, 25755);
    }
    EXPECT_EQ(sim.Mode(), SimMode::Application);  // restarted by the RAM routine
}

TEST_F(FlashPath, WritesReadsBackAndVerifiesAcrossSectorSizesAndA64KBoundary)
{
    SimOptions options;
    options.bootloader = true;
    options.corrupt_every_nth = 7;  // blocks now and then need sending again, both ways
    Simulator& sim = Start(options);
    // 0xF900-0x10A7F: the end of 4 KB sector 15, the 64 KB boundary, the start of 32 KB sector 16.
    const auto data = Pattern(0x1180, 3);
    const auto file = HexFile("image.hex", 0xF900, data);
    EXPECT_EQ(FlashJob::SectorsOf(file), (std::vector<int>{15, 16}));
    sim.WriteFlash(0xF000, std::vector<std::uint8_t>(16, 0x00));  // old data in a sector the file touches
    sim.WriteFlash(0x20000, std::vector<std::uint8_t>(16, 0x00));  // and in one it does not
    {
        auto job = Job();
        job.KeepInBootLoader();
        job.Write(file);
        EXPECT_EQ(job.Read(0xF900, 0x1180), data);
        EXPECT_EQ(job.Read(0xF8FE, 2), (std::vector<std::uint8_t>{0xFF, 0xFF}));  // erased, outside the file
    }
    const auto flash = sim.Flash();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin() + 0xF900));
    EXPECT_EQ(flash[0xF000], 0xFF);
    EXPECT_EQ(flash[0x20000], 0x00);  // untouched sector keeps its bytes
}

TEST_F(FlashPath, VerificationFailsWhenTheFlashChangedBehindTheClientsBack)
{
    SimOptions options;
    options.bootloader = true;
    Simulator& sim = Start(options);
    const auto file = HexFile("image.hex", 0x70000, Pattern(4096, 9));
    kq::flashlib::CFlashContainer container(torvik::platform::FromUtf8(SampleContainer().string()));
    kq::flashlib::Version format;
    ASSERT_EQ(container.OpenContainer(format), 1);
    kq::flashlib::CFlashDevice device(container);
    device.SetComPortName(sim.DevicePath());
    ASSERT_EQ(device.ConnectToHW(), 0) << device.GetLastError();
    int flags[128] = {};
    flags[28] = 1;
    ASSERT_EQ(device.EraseBlocks(flags, nullptr, nullptr), 0) << device.GetLastError();
    EXPECT_EQ(device.CheckEraseBlocks(flags), 0);
    device.SetHexFilePath(torvik::platform::FromUtf8(file.string()));
    ASSERT_EQ(device.ProgramMemory(nullptr, nullptr), 0) << device.GetLastError();
    EXPECT_EQ(device.CheckEraseBlocks(flags), -2);
    ASSERT_EQ(device.VerifyMemory(nullptr, nullptr), 0) << device.GetLastError();
    sim.WriteFlash(0x70123, {0x00});
    EXPECT_EQ(device.VerifyMemory(nullptr, nullptr), -1);
    EXPECT_NE(device.GetLastError().find("0x70123"), std::string::npos) << device.GetLastError();
    device.DisconectHW();
}

TEST_F(FlashPath, ErasesToBlankAndRefusesALockingImage)
{
    SimOptions options;
    options.bootloader = true;
    Simulator& sim = Start(options);
    sim.WriteFlash(0x78000, std::vector<std::uint8_t>(64, 0x12));
    std::vector<std::uint8_t> vectors(0x300, 0xFF);
    vectors[0x2FC] = 0x78;  // 0x12345678 little-endian at the protection word
    vectors[0x2FD] = 0x56;
    vectors[0x2FE] = 0x34;
    vectors[0x2FF] = 0x12;
    const auto locking = HexFile("locking.hex", 0, vectors);
    auto job = Job();
    job.KeepInBootLoader();
    job.Erase(28, 29);
    EXPECT_EQ(sim.Flash()[0x78000], 0xFF);
    try {
        job.Write(locking);
        ADD_FAILURE() << "a code read protection value was programmed";
    } catch (const FlashJobError& e) {
        EXPECT_NE(std::string(e.what()).find("code read protection"), std::string::npos) << e.what();
    }
    EXPECT_EQ(sim.Flash()[0x2FC], 0xFF);
}

TEST_F(FlashPath, FallsBackToASlowerRateAndFailsInBoundedTimeOnSilence)
{
    SimOptions options;
    options.bootloader = true;
    options.isp.max_sync_baud = 115200;
    Start(options);
    {
        auto job = Job();
        job.KeepInBootLoader();
        EXPECT_EQ(job.Facts().part_id, 0x26113F37u);
    }
    sim_.reset();
    options.silent = true;
    Start(options);
    try {
        auto job = Job();
        ADD_FAILURE() << "connected to a silent device";
    } catch (const FlashJobError& e) {
        EXPECT_NE(std::string(e.what()).find("no boot loader answered"), std::string::npos) << e.what();
    }
}

}  // namespace
