// The firmware update from the update index on a local web server to the simulated device's flash.
#include <device/flash_dialog.hpp>

#include "device_test_support.hpp"
#include "web_server.hpp"

#include <flashlib/flash_container.hpp>
#include <flashlib/flash_device.hpp>
#include <platform/isp_flash.hpp>
#include <platform/text.hpp>
#include <sim/simulator.hpp>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <stdlib.h>

namespace {

namespace fs = std::filesystem;
using kq::flashlib::Version;
using torvik::sim::SimMode;
using torvik::sim::Simulator;
using namespace torvik::studio;
using torvik::studio::testing::AnsweringPrompt;
using torvik::studio::testing::RecordingSink;
using torvik::studio::testing::WebServer;

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void Replace(std::string& text, const std::string& from, const std::string& to)
{
    const auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

TEST(UpdateChoice, TheNewestFittingReleaseOfTheProductWins)
{
    auto update = [](const char* fw, const char* min, const char* max) {
        CUpdate u;
        u.fw.Parse(torvik::platform::FromUtf8(fw));
        u.min_hw.Parse(torvik::platform::FromUtf8(min));
        u.max_hw.Parse(torvik::platform::FromUtf8(max));
        u.file_name = std::string("fw-") + fw;
        return u;
    };
    UpdateIndex index;
    index.products = {
        {"01A2", "padded", {update("9.0", "0.0", "9.9")}},
        {"1a2", "lower case", {update("9.0", "0.0", "9.9")}},
        {"1A2", "Torvik4", {update("1.2", "1.0", "1.9"), update("1.5", "1.0", "1.9"), update("1.4", "1.0", "1.9"),
                           update("2.0", "2.0", "2.9")}},
    };
    struct Case {
        int product;
        Version hw, fw;
        bool known, fits;
        const char* chosen;  // nullptr: none
    };
    const Case cases[] = {
        {0x1A2, {1, 2}, {1, 3}, true, true, "fw-1.5"},
        {0x1A2, {1, 2}, {1, 5}, true, true, nullptr},  // up to date
        {0x1A2, {2, 1}, {1, 5}, true, true, "fw-2.0"},
        {0x1A2, {3, 0}, {1, 0}, true, false, nullptr},  // no release for this hardware
        {0x1A3, {1, 2}, {1, 3}, false, false, nullptr},
    };
    for (const auto& c : cases) {
        bool known = false;
        bool fits = false;
        const auto chosen = ChooseUpdate(index, c.product, c.hw, c.fw, known, fits);
        EXPECT_EQ(known, c.known);
        EXPECT_EQ(fits, c.fits);
        EXPECT_EQ(chosen ? chosen->file_name : std::string("none"), c.chosen ? c.chosen : "none");
    }
    EXPECT_EQ(ContainerAddress("http://host/fw/updates.xml", "a.fkq"), "http://host/fw/a.fkq");
}

class FirmwareUpdate : public ::testing::Test {
protected:
    void SetUp() override
    {
        ForgetDownloadedUpdates();
        std::string pattern = (fs::temp_directory_path() / "fw_update.XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
        fs::create_directory(dir_ / "www");
        sample_ = ReadText(torvik::studio::testing::SampleContainer());
        // Releases 1.2, 1.4 and 1.5 for hardware 1.0 to 1.9 of product 4A01.
        for (const char* fw : {"1.2", "1.4", "1.5"}) {
            Container(std::string("fw-") + fw + ".fkq", {{"FW_VER=\"1.0\"", std::string("FW_VER=\"") + fw + "\""}});
        }
        Index("<UPDATE FW_VER=\"1.2\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.9\">fw-1.2.fkq</UPDATE>"
              "<UPDATE FW_VER=\"1.5\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.9\">fw-1.5.fkq</UPDATE>"
              "<UPDATE FW_VER=\"1.4\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.9\">fw-1.4.fkq</UPDATE>");
    }
    void TearDown() override
    {
        sim_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
        ForgetDownloadedUpdates();
    }

    void Container(const std::string& name, const std::vector<std::pair<std::string, std::string>>& changes)
    {
        std::string text = sample_;
        for (const auto& [from, to] : changes) {
            Replace(text, from, to);
        }
        std::ofstream(dir_ / "www" / name, std::ios::binary) << text;
    }
    void Index(const std::string& updates)
    {
        std::ofstream(dir_ / "www" / "updates.xml")
            << "<?xml version=\"1.0\"?>\n<UPDATES CONTAINER_VER=\"1.0\" xsi:noNamespaceSchemaLocation=\"updates.xsd\" "
               "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n<PRODUCT PRODUCT_CODE=\"4A01\" "
               "PRODUCT_NAME=\"Torvik4\">"
            << updates << "</PRODUCT>\n</UPDATES>\n";
    }

    // A device with firmware `fw` (two BCD bytes), hardware 1.2, product 4A01, serial number 123.
    void StartDevice(std::uint8_t fwMajor = 0x01, std::uint8_t fwMinor = 0x03)
    {
        sim_ = std::make_unique<Simulator>();
        std::string error;
        ASSERT_TRUE(sim_->Start(error)) << error;
        sim_->WriteFlash(0x300, {fwMajor, fwMinor, 0x01, 0x02, 0x4A, 0x01, 0x01, 0x23});
    }

    bool Update(const std::string& address, const std::string& ca = {})
    {
        DeviceSettings settings;
        settings.port.automatic = false;
        settings.port.manualPath = sim_->DevicePath();
        settings.container = torvik::studio::testing::SampleContainer();
        settings.update_address = address;
        settings.update_ca_file = ca;
        CFlashDialog dialog(settings, sink_, prompt_);
        const bool ok = dialog.RunHere();
        up_to_date_ = dialog.up_to_date();
        failure_ = dialog.failure();
        return ok;
    }

    bool Has(const std::string& line) const { return sink_.Lines().find(line + "\n") != std::string::npos; }

    fs::path dir_;
    std::string sample_;
    std::unique_ptr<Simulator> sim_;
    RecordingSink sink_;
    AnsweringPrompt prompt_;
    bool up_to_date_ = false;
    std::string failure_;
};

TEST_F(FirmwareUpdate, TheNewestReleaseIsStampedSignedAndFlashedOnce)
{
    WebServer server(dir_ / "www");
    ASSERT_EQ(server.error(), "");
    StartDevice();
    prompt_.yes = true;
    ASSERT_TRUE(Update(server.Url("/updates.xml"))) << sink_.Lines();
    EXPECT_EQ(prompt_.shown.at(0),
              L"Update from version: 1.3 to version 1.5 is available.\nWould you like to update to the new "
              L"version?\n*Note*: Be sure that your Torvik4 device is switched to Flash mode (rotary switch \"F\" "
              L"position)!");
    EXPECT_TRUE(Has("Device firmware was correctly updated to version 1.5."));
    EXPECT_EQ(sink_.Pane(), "Firmware update succeeded.");
    EXPECT_EQ(sink_.LastTitle().button, "OK");
    EXPECT_EQ(sim_->Mode(), SimMode::Application);

    // The flash holds the release as the device's own: its identity stamped in, the signature completed.
    kq::flashlib::CFlashContainer expected(torvik::platform::FromUtf8((dir_ / "www" / "fw-1.5.fkq").string()));
    Version format;
    ASSERT_EQ(expected.OpenContainer(format), 1);
    ASSERT_EQ(expected.ParseValues(), 0);
    auto& hex = expected.GetFlashHexFile();
    hex.SetHwVer(Version(1, 2));
    hex.SetSerialNumber(123);
    hex.SetProductCode(0x4A01);
    ASSERT_EQ(hex.ModifyHEX(), 0);
    ASSERT_EQ(hex.CreateCRC(), 0);
    torvik::platform::isp::MemoryImage image;
    ASSERT_TRUE(torvik::platform::isp::LoadHexImage(torvik::platform::ToUtf8(hex.GetHexFileName()), image).ok());
    const auto flash = sim_->Flash();
    std::size_t compared = 0;
    for (std::size_t a = 0; a < image.flash.size(); ++a) {
        if (image.flash_set[a]) {
            ASSERT_EQ(flash[a], image.flash[a]) << "at " << a;
            ++compared;
        }
    }
    EXPECT_GT(compared, 64u);
    EXPECT_EQ(std::vector<std::uint8_t>(flash.begin() + 0x302, flash.begin() + 0x308),
              (std::vector<std::uint8_t>{0x01, 0x02, 0x4A, 0x01, 0x01, 0x23}));

    // A second update in the same run reads neither file again; answered No, it leaves the flash alone.
    prompt_.yes = false;
    EXPECT_FALSE(Update(server.Url("/updates.xml")));
    EXPECT_EQ(sim_->Flash(), flash);
    EXPECT_EQ(sink_.LastTitle().button, "Close");
    EXPECT_EQ(server.RequestCount("/updates.xml"), 1u);
    EXPECT_EQ(server.RequestCount("/fw-1.5.fkq"), 1u);
}

TEST_F(FirmwareUpdate, ADeviceWithTheNewestFirmwareIsUpToDate)
{
    WebServer server(dir_ / "www");
    StartDevice(0x01, 0x05);
    const auto before = sim_->Flash();
    EXPECT_FALSE(Update(server.Url("/updates.xml")));
    EXPECT_TRUE(up_to_date_);
    EXPECT_EQ(sink_.Pane().rfind("Firmware in your device is up to date.\n\nRestarting device.", 0), 0u) << sink_.Pane();
    EXPECT_EQ(sim_->Flash(), before);
    EXPECT_EQ(server.RequestCount("/fw-1.5.fkq"), 0u);
}

TEST_F(FirmwareUpdate, AContainerThatDoesNotFitTheDeviceIsRefusedWithItsCode)
{
    struct Case {
        const char* code;
        std::vector<std::pair<std::string, std::string>> changes;
    };
    const Case cases[] = {
        {"FlashFile_Uninitialized", {{"FW_VER=\"1.0\"", "FW_VER=\"1.5\""}, {"PRODUCT_CODE=\"4A01\"", "PRODUCT_CODE=\"FFFFFFFF\""}}},
        {"FlashFile_IncompatibleHwVersion", {{"FW_VER=\"1.0\"", "FW_VER=\"1.5\""}, {"MIN_HW_VER=\"1.0\"", "MIN_HW_VER=\"1.3\""}}},
        {"FlashFile_IncompatibleProductCode", {{"FW_VER=\"1.0\"", "FW_VER=\"1.5\""}, {"PRODUCT_CODE=\"4A01\"", "PRODUCT_CODE=\"4B01\""}}},
        // The index offers 1.5, the container is 1.3 like the device.
        {"FlashFile_NotUpdatingFwVersion", {{"FW_VER=\"1.0\"", "FW_VER=\"1.3\""}}},
    };
    WebServer server(dir_ / "www");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        ForgetDownloadedUpdates();
        Container("fw-1.5.fkq", c.changes);
        StartDevice();
        const auto before = sim_->Flash();
        prompt_.yes = true;
        prompt_.shown.clear();
        EXPECT_FALSE(Update(server.Url("/updates.xml")));
        EXPECT_EQ(failure_, std::string("An error occured. Please contact support with error code '") + c.code +
                                "'. Thanks.");
        EXPECT_TRUE(prompt_.shown.empty());
        EXPECT_EQ(sim_->Flash(), before);
    }
}

TEST_F(FirmwareUpdate, BrokenDownloadsAndContainersFailBeforeTheFlashIsTouched)
{
    WebServer server(dir_ / "www");
    std::string cut = sample_;
    Replace(cut, ":00000001FF\n", "");
    std::ofstream(dir_ / "www" / "cut.fkq", std::ios::binary) << cut;
    std::ofstream(dir_ / "www" / "broken.xml") << "<UPDATES CONTAINER_VER=\"1.0\"><PRODUCT";
    struct Case {
        const char* name;
        std::string address;
        std::string index;  // the container the index offers as 1.5
        const char* line;
    };
    const Case cases[] = {
        {"index 404", server.Url("/missing.xml"), "", "UpdateFile download failed."},
        {"index cut", server.Url("/broken.xml"), "", "The downloaded UpdateFile can't be parsed."},
        {"no server", "http://127.0.0.1:1/updates.xml", "",
         "Can't connect to url http://127.0.0.1:1/updates.xml for downloading FlashFile."},
        {"container cut short on the way", server.Url("/updates.xml"), "truncated/fw-1.5.fkq",
         "Download FlashFile failed."},
        {"container without its end record", server.Url("/updates.xml"), "cut.fkq",
         "The firmware of the FlashFile is damaged (no end record)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ForgetDownloadedUpdates();
        Index(c.index.empty() ? "<UPDATE FW_VER=\"1.5\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.9\">fw-1.5.fkq</UPDATE>"
                              : "<UPDATE FW_VER=\"1.5\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.9\">" + c.index + "</UPDATE>");
        StartDevice();
        const auto before = sim_->Flash();
        prompt_.yes = true;
        EXPECT_FALSE(Update(c.address));
        EXPECT_TRUE(Has(c.line)) << sink_.Lines();
        EXPECT_EQ(sim_->Flash(), before);
        EXPECT_EQ(sink_.LastTitle().button, "Close");
        EXPECT_EQ(sim_->Mode(), SimMode::Application);
    }
}

TEST_F(FirmwareUpdate, TheIndexComesOverVerifiedHttps)
{
    const auto certificates = torvik::studio::testing::MakeTestCertificates(dir_);
    ASSERT_FALSE(certificates.ca_pem.empty());
    WebServer server(dir_ / "www", certificates);
    ASSERT_EQ(server.error(), "");
    StartDevice(0x01, 0x05);
    EXPECT_FALSE(Update(server.Url("/updates.xml")));  // a certificate nobody vouched for
    EXPECT_TRUE(Has("UpdateFile download failed."));
    EXPECT_FALSE(up_to_date_);
    EXPECT_FALSE(Update(server.Url("/updates.xml"), certificates.ca_pem.string()));
    EXPECT_TRUE(up_to_date_) << sink_.Lines();
}

}  // namespace
