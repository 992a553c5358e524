// The device operations (upload, erase, device information) from their steps through the flash library
// and the boot loader client to the simulated device on a pseudo-terminal.
#include <device/user_memory.hpp>

#include "device_test_support.hpp"

#include <flashlib/flash_device.hpp>
#include <project/prompt.hpp>
#include <sim/simulator.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using torvik::sim::SimMode;
using torvik::sim::SimOptions;
using torvik::sim::Simulator;
using namespace torvik::studio;
using torvik::studio::testing::AnsweringPrompt;
using torvik::studio::testing::RecordingSink;

constexpr std::uint32_t kUser = kUserMemoryAddress;

std::vector<std::uint8_t> Block(std::size_t length, std::uint8_t seed)
{
    std::vector<std::uint8_t> block(length);
    for (std::size_t i = 0; i < length; ++i) {
        block[i] = static_cast<std::uint8_t>(i * 7 + seed) | 0x01;  // never 0x00
    }
    block[0] = 0xFF;  // a user block starts with 0xFF
    return block;
}

std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t count)
{
    return {bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(from + count)};
}

class Workflow : public ::testing::Test {
protected:
    Simulator& Start(SimOptions options = {})
    {
        sim_ = std::make_unique<Simulator>(options);
        std::string error;
        EXPECT_TRUE(sim_->Start(error)) << error;
        // The identity: firmware 1.3, hardware 1.2, product 0x4A01, serial number 123.
        sim_->WriteFlash(0x300, {0x01, 0x03, 0x01, 0x02, 0x4A, 0x01, 0x01, 0x23});
        return *sim_;
    }

    DeviceSettings Settings() const
    {
        DeviceSettings settings;
        settings.port.automatic = false;
        settings.port.manualPath = sim_->DevicePath();
        settings.container = torvik::studio::testing::SampleContainer();
        return settings;
    }

    bool Upload(const std::vector<std::uint8_t>& block)
    {
        CUploadDialog upload(Settings(), sink_, prompt_, block);
        const bool ok = upload.RunHere();
        failure_ = upload.failure();
        return ok;
    }

    std::vector<std::uint8_t> UserMemory() const { return Slice(sim_->Flash(), kUser, kUserMemorySize); }

    std::unique_ptr<Simulator> sim_;
    RecordingSink sink_;
    AnsweringPrompt prompt_;
    std::string failure_;
};

TEST_F(Workflow, ANewDeviceGetsTheHeaderAndTheBlockAt256)
{
    Simulator& sim = Start();
    const auto block = Block(1000, 3);
    ASSERT_TRUE(Upload(block)) << sink_.Lines();

    const auto memory = UserMemory();
    EXPECT_EQ(memory[0], 0x02);
    EXPECT_EQ(memory[1], 0x00);
    EXPECT_TRUE(std::all_of(memory.begin() + 2, memory.begin() + 256, [](auto b) { return b == 0xFF; }));
    EXPECT_EQ(Slice(memory, 256, block.size()), block);
    EXPECT_EQ(memory[256 + block.size()], 0x00);
    EXPECT_EQ(memory[257 + block.size()], 0xFF);

    EXPECT_EQ(sink_.Pane(), "Configuration successfully uploaded.");
    EXPECT_NE(sink_.Lines().find("The device USER memory has different version, going to erase it."),
              std::string::npos);
    EXPECT_EQ(sink_.LastTitle().title, "Simulation upload");
    EXPECT_EQ(sink_.LastTitle().button, "OK");
    EXPECT_EQ(sim.Mode(), SimMode::Application);  // restarted at the end
}

TEST_F(Workflow, ASecondUploadGoesBehindTheFirstAndZeroesIt)
{
    Start();
    ASSERT_TRUE(Upload(Block(745, 1)));  // 256..1000, terminator at 1001
    const auto second = Block(300, 9);
    ASSERT_TRUE(Upload(second)) << sink_.Lines();

    const auto memory = UserMemory();
    EXPECT_EQ(memory[0], 0x02);
    EXPECT_TRUE(std::all_of(memory.begin() + 256, memory.begin() + 1008, [](auto b) { return b == 0x00; }));
    EXPECT_EQ(Slice(memory, 1008, second.size()), second);
    EXPECT_EQ(memory[1008 + second.size()], 0x00);
    EXPECT_NE(sink_.Lines().find("Checking a memory capacity."), std::string::npos);

    // What the device plays is the second block.
    std::string problem;
    EXPECT_EQ(CurrentUserBlock(memory, problem), second);
    EXPECT_EQ(problem, "");
    auto damaged = memory;
    damaged[1008 + second.size()] = 0x5A;
    EXPECT_TRUE(CurrentUserBlock(damaged, problem).empty());
    EXPECT_NE(problem, "");
    EXPECT_TRUE(CurrentUserBlock(std::vector<std::uint8_t>(kUserMemorySize, 0xFF), problem).empty());
    EXPECT_EQ(problem, "");
}

TEST_F(Workflow, AFullOrDamagedBlockAreaIsErasedFirst)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> area;  // from offset 256
        const char* line;
    };
    std::vector<std::uint8_t> full(kUserMemorySize - 256 - 200, 0x00);  // leaves 200 bytes
    std::vector<std::uint8_t> damaged = {0xFF, 0x11, 0x22, 0x5A};
    const Case cases[] = {
        {"full", full, "Not enough free memory, going to erase device USER memory."},
        {"damaged", damaged, "The device USER memory was corrupted! It will be erased."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Start();
        sim_->WriteFlash(kUser, {0x02, 0x00});
        sim_->WriteFlash(kUser + 256, c.area);
        const auto block = Block(400, 5);
        ASSERT_TRUE(Upload(block)) << sink_.Lines();
        EXPECT_NE(sink_.Lines().find(c.line), std::string::npos);
        const auto memory = UserMemory();
        EXPECT_EQ(Slice(memory, 256, block.size()), block);
        EXPECT_TRUE(std::all_of(memory.begin() + 257 + static_cast<std::ptrdiff_t>(block.size()), memory.end(),
                                [](auto b) { return b == 0xFF; }));
    }
}

TEST_F(Workflow, NewerFormatsAreRefusedUntouchedAndUnconvertibleOnesFail)
{
    struct Case {
        std::uint8_t major;
        std::uint8_t minor;
        bool asked;
    };
    for (const Case c : {Case{0x03, 0x00, true}, Case{0x01, 0x02, false}}) {
        SCOPED_TRACE(c.major * 10 + c.minor);
        Start();
        sim_->WriteFlash(kUser, {c.major, c.minor});
        sim_->WriteFlash(kUser + 256, {0xFF, 0x42, 0x00});
        const auto before = UserMemory();
        prompt_.shown.clear();
        EXPECT_FALSE(Upload(Block(64, 2)));
        EXPECT_EQ(UserMemory(), before);
        EXPECT_EQ(sink_.LastTitle().button, "Close");
        EXPECT_EQ(!prompt_.shown.empty(), c.asked);
        if (c.asked) {
            EXPECT_EQ(prompt_.shown[0],
                      L"The device USER memory version is not supported by this release of Torvik Studio. Please "
                      L"download current version of the application.");
        }
        EXPECT_EQ(sim_->Mode(), SimMode::Application);  // the clean-up restarted it
    }
}

TEST_F(Workflow, AnEraseLeavesOnlyTheHeaderAndTheNextUploadStartsAt256)
{
    Start();
    ASSERT_TRUE(Upload(Block(500, 4)));
    sim_->WriteFlash(kUser + 2, {0x77});  // a header byte the erase carries over
    CEraseDialog erase(Settings(), sink_, prompt_);
    ASSERT_TRUE(erase.RunHere()) << sink_.Lines();
    EXPECT_EQ(sink_.Pane(), "Configuration successfully deleted.");
    auto memory = UserMemory();
    EXPECT_EQ(Slice(memory, 0, 3), (std::vector<std::uint8_t>{0x02, 0x00, 0x77}));
    EXPECT_TRUE(std::all_of(memory.begin() + 256, memory.end(), [](auto b) { return b == 0xFF; }));

    const auto block = Block(100, 8);
    ASSERT_TRUE(Upload(block));
    EXPECT_EQ(Slice(UserMemory(), 256, block.size()), block);
}

TEST_F(Workflow, DeviceInformationShowsTheIdentity)
{
    Start();
    CDeviceInfoDialog info(Settings(), sink_, prompt_);
    ASSERT_TRUE(info.RunHere()) << sink_.Lines();
    EXPECT_EQ(sink_.Pane(),
              "Connection to Torvik4 device succeeded.\nObtained parameters:\n   Product code 4A01,\n   HW Version "
              "1.2,\n   FW Version 1.3,\n   Serial number 123.");
    EXPECT_EQ(info.info().productCode, 0x4A01);
}

TEST_F(Workflow, FailuresEndThroughTheCleanUpWithTheirTexts)
{
    {
        SimOptions silent;
        silent.silent = true;
        Start(silent);
        EXPECT_FALSE(Upload(Block(64, 1)));
        EXPECT_NE(failure_.find("Can't connect to Torvik4 device on selected port"), std::string::npos) << failure_;
        EXPECT_EQ(sink_.LastTitle().button, "Close");
    }
    {
        Start();
        auto settings = Settings();
        settings.container = "/nonexistent/container.fkq";
        CDeviceInfoDialog info(settings, sink_, prompt_);
        EXPECT_FALSE(info.RunHere());
        EXPECT_EQ(sink_.Pane(), "Can't open ContainerFile Torvik4-FlashContainer.fkq.");
        EXPECT_EQ(sim_->Mode(), SimMode::Application);  // never touched
    }
    {
        Start();
        auto settings = Settings();
        settings.port.manualPath.clear();
        settings.port.manualComPort = -1;
        CDeviceInfoDialog info(settings, sink_, prompt_);
        EXPECT_FALSE(info.RunHere());
        EXPECT_EQ(info.failure(), "Can't find any COM port with connected Torvik4 device.");
    }
}

TEST_F(Workflow, AFaultyLineEndsTheUploadThroughItsCleanUpOrStoresTheWholeBlock)
{
    struct Case {
        const char* name;
        SimOptions options;
    };
    auto with = [](auto change) {
        SimOptions options;
        change(options);
        return options;
    };
    const Case cases[] = {
        {"dropped bytes", with([](SimOptions& o) { o.drop_every_nth_byte = 97; })},
        {"corrupted answers", with([](SimOptions& o) { o.corrupt_every_nth = 3; })},
        {"boot loader, silent", with([](SimOptions& o) { o.bootloader = true; o.silent = true; })},
        {"boot loader, dropped bytes", with([](SimOptions& o) { o.bootloader = true; o.drop_every_nth_byte = 211; })},
        {"boot loader, corrupted blocks", with([](SimOptions& o) { o.bootloader = true; o.corrupt_every_nth = 5; })},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Start(c.options);
        const auto before = UserMemory();
        const auto block = Block(2000, 7);
        const bool ok = Upload(block);
        const auto title = sink_.LastTitle();
        if (ok) {
            EXPECT_EQ(title.button, "OK");
            std::string problem;
            sim_->SetSilent(false);
            sim_->SetDropEveryNthByte(0);
            sim_->SetCorruptEveryNth(0);
            EXPECT_EQ(CurrentUserBlock(UserMemory(), problem), block);
        } else {
            EXPECT_EQ(title.button, "Close");
            EXPECT_FALSE(failure_.empty());
            EXPECT_NE(sink_.Lines().find("Restarting device."), std::string::npos) << sink_.Lines();
        }
        EXPECT_EQ(title.title, "Simulation upload");
    }
}

TEST_F(Workflow, ACancelLetsProgrammingFinishThenCleansUp)
{
    Start();
    CUploadDialog upload(Settings(), sink_, prompt_, Block(30000, 6));
    EXPECT_TRUE(upload.RequestClose());  // not running yet: may close
    upload.Start();
    ASSERT_TRUE(sink_.WaitForTitle("Simulation upload: programming device USER memory"));
    EXPECT_FALSE(upload.RequestClose());
    EXPECT_EQ(upload.state(), CDeviceDialogBase::kCancelRequested);
    EXPECT_TRUE(CDeviceDialogBase::CancelRequested());
    EXPECT_FALSE(upload.RequestClose());  // a second request while canceling keeps it open
    EXPECT_FALSE(upload.Wait());

    const auto lines = sink_.Lines();
    EXPECT_NE(lines.find("Memory block programmed."), std::string::npos) << lines;
    EXPECT_EQ(lines.find("Verifying memory block."), std::string::npos);
    EXPECT_NE(lines.find("state 33\nRestarting device.\nDevice restarted.\nstate 3\nDisconnecting from Torvik4 device.\n"),
              std::string::npos);
    EXPECT_EQ(sink_.LastTitle().button, "Close");
    // Programming went on under the "canceling" title (with its indicator), which no tick overwrote.
    const auto reports = sink_.Reports();
    auto title = std::find_if(reports.begin(), reports.end(), [](const DeviceReport& r) {
        return r.kind == DeviceReport::Kind::Title && r.title == "Simulation upload: canceling";
    });
    ASSERT_NE(title, reports.end());
    std::vector<std::string> later;
    for (++title; title != reports.end(); ++title) {
        if (title->kind == DeviceReport::Kind::Title) {
            later.push_back(title->title);
        }
    }
    ASSERT_FALSE(later.empty());
    EXPECT_EQ(later.back(), "Simulation upload");
    later.pop_back();
    for (const auto& t : later) {
        EXPECT_EQ(t.substr(0, 28), "Simulation upload: canceling");
    }
    EXPECT_EQ(upload.state(), CDeviceDialogBase::kIdle);
    EXPECT_TRUE(upload.RequestClose());
    EXPECT_FALSE(CDeviceDialogBase::CancelRequested());
}

TEST(UserMemoryPlan, TheCapacityCheckCountsTheAlignment)
{
    auto memory = [](std::size_t terminator) {
        std::vector<std::uint8_t> image(kUserMemorySize, 0xFF);
        std::fill(image.begin() + 256, image.begin() + static_cast<std::ptrdiff_t>(terminator) + 1, 0x11);
        image[terminator] = 0x00;
        return image;
    };
    struct Case {
        std::size_t terminator;
        std::size_t length;
        bool erase;
        std::size_t start, end;
    };
    const Case cases[] = {
        {1000, 100, false, 256, 1008},              // block 256..999, terminator at 1000
        {65423, 111, true, 0, 256},                 // free space behind it L + 1: erase
        {65423, 110, false, 256, 65424},            // L + 2: fits
        {65424, 100, true, 0, 256},                 // fits only without the alignment: erase
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.terminator);
        const auto plan = PlanUserBlock(memory(c.terminator), c.length, false);
        EXPECT_EQ(plan.erase, c.erase);
        EXPECT_EQ(plan.start, c.start);
        EXPECT_EQ(plan.end, c.end);
        EXPECT_LE(plan.end + c.length + 1, kUserMemorySize);
    }
    std::vector<std::uint8_t> empty(kUserMemorySize, 0xFF);
    const auto plan = PlanUserBlock(empty, 10, false);
    EXPECT_FALSE(plan.erase);
    EXPECT_EQ(plan.start, 256u);
    EXPECT_EQ(plan.end, 256u);
}

TEST(UserMemoryFormat, OlderFormatsBecome20AndNeedAnErase)
{
    struct Case {
        int major, minor;
        bool result, erase, converted;
    };
    const Case cases[] = {
        {-1, -1, true, true, true}, {-1, 5, true, true, true}, {0, -1, true, true, true}, {0, 2, true, true, true},
        {1, 1, true, true, true},   {2, -1, true, true, true}, {2, 0, true, false, false}, {1, 2, false, false, false},
        {0, 3, false, false, false}, {3, 0, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor));
        std::uint8_t word[2] = {0xAA, 0xBB};
        bool erase = !c.erase;
        EXPECT_EQ(ConvertUserMemoryFormat(erase, word, c.major, c.minor), c.result);
        EXPECT_EQ(erase, c.erase);
        EXPECT_EQ(word[0], c.converted ? 0x02 : 0xAA);
        EXPECT_EQ(word[1], c.converted ? 0x00 : 0xBB);
    }
}

}  // namespace
