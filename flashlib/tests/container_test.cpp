#include <flashlib/flash_container.hpp>
#include <platform/text.hpp>

#include "test_support.hpp"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

using flashlib_test::TempDir;
using kq::flashlib::CFlashContainer;
using kq::flashlib::FlashFileInfo;
using kq::flashlib::fm_connectoptions_com;
using kq::flashlib::Version;
using torvik::platform::FromUtf8;

std::set<int> Flagged(const CFlashContainer& container)
{
    std::set<int> sectors;
    for (int i = 0; i < 128; ++i) {
        if (container.GetEraseBlocks()[i] != 0) {
            sectors.insert(i);
        }
    }
    return sectors;
}

class Container : public ::testing::Test {
protected:
    // Opens `content` as a container; returns OpenContainer's result.
    int Open(const std::string& content)
    {
        container_ = std::make_unique<CFlashContainer>(FromUtf8(dir_.Write("c.fkq", content).string()));
        return container_->OpenContainer(version_);
    }
    // A container whose FLASHELEMENT carries `attributes` and `children`.
    int OpenElement(const std::string& attributes, const std::string& children)
    {
        return Open("<?xml version=\"1.0\"?>\n<FLASHCONTAINER CONTAINER_VER=\"1.2\">\n  <FLASHELEMENT " + attributes +
                    ">" + children + "</FLASHELEMENT>\n</FLASHCONTAINER>\n");
    }
    static std::string Valid() { return "FW_VER=\"2.1\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.9\" PRODUCT_CODE=\"1A2\" PRODUCT_NAME=\"X\""; }

    TempDir dir_;
    Version version_;
    std::unique_ptr<CFlashContainer> container_;
};

TEST_F(Container, SampleContainer)
{
    const auto sample = flashlib_test::SampleContainer();
    if (sample.empty()) {
        GTEST_SKIP() << "TORVIK_SOURCE_DIR not set";
    }
    CFlashContainer container(FromUtf8(sample.string()));
    Version format;
    ASSERT_EQ(container.OpenContainer(format), 1);
    EXPECT_EQ(format, Version(1, 2));
    ASSERT_EQ(container.ParseValues(), 0);
    EXPECT_EQ(container.GetFWVer(), Version(1, 0));
    EXPECT_EQ(container.GetHWVerMin(), Version(1, 0));
    EXPECT_EQ(container.GetHWVerMax(), Version(1, 9));
    EXPECT_EQ(container.GetProductCode(), 0x4A01);
    EXPECT_EQ(container.GetProductName(), L"Torvik4");
    EXPECT_EQ(container.alternative_product_codes(), std::vector<int>{0x4A02});
    EXPECT_TRUE(container.IsEraseBlockDefined());
    std::set<int> firmware_sectors;
    for (int i = 0; i <= 27; ++i) {
        firmware_sectors.insert(i);
    }
    EXPECT_EQ(Flagged(container), firmware_sectors);

    FlashFileInfo info;
    ASSERT_EQ(container.GetFlashFileInfo(info), 0);
    EXPECT_EQ(info.fw_start, 0x300);
    EXPECT_EQ(info.hw_start, 0x302);
    EXPECT_EQ(info.product_code_start, 0x304);
    EXPECT_EQ(info.serial_start, 0x306);
    EXPECT_EQ(info.fw_length + info.hw_length + info.product_code_length + info.serial_length, 64);

    fm_connectoptions_com options;
    options.hwconfig = 0;
    EXPECT_EQ(container.LoadOptions(options), 0);
    EXPECT_EQ(options.osc, 12.0);
    EXPECT_EQ(options.baudrate, 230400);
    EXPECT_EQ(options.selecteddevice, 2011);
    EXPECT_EQ(options.hwconfig, 2);

    EXPECT_TRUE(container.checkHwVer(Version(1, 0)));
    EXPECT_TRUE(container.checkHwVer(Version(1, 9)));
    EXPECT_FALSE(container.checkHwVer(Version(2, 0)));
    EXPECT_FALSE(container.checkHwVer(Version(0, 9)));
    EXPECT_FALSE(container.checkHwVer(Version()));
    EXPECT_TRUE(container.CheckAltDestProductCode(0x4AFF));
    EXPECT_FALSE(container.CheckAltDestProductCode(0x4B01));
}

TEST_F(Container, OpenReadsFormatVersion)
{
    EXPECT_EQ(Open("<FLASHCONTAINER><FLASHELEMENT/></FLASHCONTAINER>"), 1);
    EXPECT_NE(version_.IsUninicialised(), 0);

    EXPECT_EQ(Open("<FLASHCONTAINER CONTAINER_VER=\"1\"/>"), -2);
    EXPECT_EQ(version_.GetMajor(), 1);

    version_ = Version();
    EXPECT_EQ(Open("<FLASHCONTAINER CONTAINER_VER=\"one.two\"/>"), -2);
    EXPECT_NE(version_.IsUninicialised(), 0);

    // Found anywhere in the document, also below another element.
    EXPECT_EQ(Open("<WRAP><FLASHCONTAINER container_ver=\"1.3\"/></WRAP>"), 1);
    EXPECT_EQ(version_, Version(1, 3));

    EXPECT_EQ(Open(""), -1);
    EXPECT_EQ(Open("<A><<B></A>"), -1);
    CFlashContainer missing(FromUtf8((dir_.path() / "missing.fkq").string()));
    EXPECT_EQ(missing.OpenContainer(version_), -1);
    EXPECT_LT(missing.ParseValues(), 0);
    EXPECT_EQ(missing.GetFlashElementHex(nullptr, 0), 0);
}

TEST_F(Container, ProductCode)
{
    struct Case {
        const char* code;
        int parse;
        int value;
    };
    const Case cases[] = {{"1A2", 0, 0x1A2}, {"0x1A2", 0, 0x1A2}, {" 4a01", 0, 0x4A01}, {"zz", -1, 0}, {"", -1, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        OpenElement(std::string("FW_VER=\"1.0\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.0\" PRODUCT_NAME=\"X\" PRODUCT_CODE=\"") +
                        c.code + "\"",
                    "");
        EXPECT_EQ(container_->ParseValues(), c.parse);
        if (c.parse == 0) {
            EXPECT_EQ(container_->GetProductCode(), c.value);
        }
    }
}

TEST_F(Container, MissingOrMalformedValuesMakeParseNegative)
{
    const char* const cases[] = {
        "MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.9\" PRODUCT_CODE=\"1\" PRODUCT_NAME=\"X\"",
        "FW_VER=\"1\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.9\" PRODUCT_CODE=\"1\" PRODUCT_NAME=\"X\"",
        "FW_VER=\"1.0\" MIN_HW_VER=\"a.b\" MAX_HW_VER=\"1.9\" PRODUCT_CODE=\"1\" PRODUCT_NAME=\"X\"",
        "FW_VER=\"1.0\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.9\" PRODUCT_CODE=\"1\"",
        "FW_VER=\"1.0\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.99999999999\" PRODUCT_CODE=\"1\" PRODUCT_NAME=\"X\"",
    };
    for (const char* attributes : cases) {
        SCOPED_TRACE(attributes);
        OpenElement(attributes, "");
        EXPECT_LT(container_->ParseValues(), 0);
    }
}

TEST_F(Container, ValueLengthLimits)
{
    OpenElement("FW_VER=\"1.0\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.0\" PRODUCT_CODE=\"" + std::string(125, '0') +
                    "1\" PRODUCT_NAME=\"" + std::string(1023, 'p') + "\"",
                "");
    EXPECT_EQ(container_->ParseValues(), 0);
    EXPECT_EQ(container_->GetProductCode(), 1);
    EXPECT_EQ(container_->GetProductName().size(), 1023u);

    OpenElement("FW_VER=\"1.0\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.0\" PRODUCT_CODE=\"" + std::string(126, '0') +
                    "1\" PRODUCT_NAME=\"X\"",
                "");
    EXPECT_EQ(container_->ParseValues(), -1);  // 127 characters count as absent
    OpenElement("FW_VER=\"1.0\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.0\" PRODUCT_CODE=\"1\" PRODUCT_NAME=\"" +
                    std::string(1024, 'p') + "\"",
                "");
    EXPECT_EQ(container_->ParseValues(), -1);
}

TEST_F(Container, EraseBlocks)
{
    struct Case {
        const char* element;
        int parse;
        std::set<int> sectors;
    };
    const Case cases[] = {
        {"<ERASE_BLOCKS START=\"28\" END=\"29\"/>", 0, {28, 29}},
        {"<ERASE_BLOCKS START=\"120\" END=\"200\"/>", 0, {120, 121, 122, 123, 124, 125, 126, 127}},
        {"<ERASE_BLOCKS START=\"9\" END=\"3\"/>", 0, {}},
        {"<ERASE_BLOCKS START=\"5\"/>", -1, {}},
        {"<ERASE_BLOCKS END=\"5\"/>", -1, {}},
        {"<ERASE_BLOCKS><BLOCK>3</BLOCK><OTHER>4</OTHER><BLOCK>7</BLOCK></ERASE_BLOCKS>", 0, {3, 7}},
        {"<ERASE_BLOCKS><BLOCK>200</BLOCK><BLOCK>-1</BLOCK><BLOCK>x</BLOCK></ERASE_BLOCKS>", 0, {}},
        {"<ERASE_BLOCKS/>", -1, {}},
        {"<ERASE_BLOCKS START=\"5\" PRODUCT_CODE=\"BEEF\"/>", 0, {}},  // the product code makes it good
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.element);
        OpenElement(Valid(), c.element);
        EXPECT_EQ(container_->ParseValues(), c.parse);
        EXPECT_EQ(Flagged(*container_), c.sectors);
        EXPECT_TRUE(container_->IsEraseBlockDefined());
    }
    OpenElement(Valid(), "<ERASE_BLOCKS START=\"1\" END=\"2\" PRODUCT_CODE=\"BEEF\"/>");
    EXPECT_EQ(container_->ParseValues(), 0);
    EXPECT_EQ(container_->GetProductCode(), 0xBEEF);

    OpenElement(Valid(), "");
    EXPECT_EQ(container_->ParseValues(), 0);
    EXPECT_FALSE(container_->IsEraseBlockDefined());
    EXPECT_TRUE(Flagged(*container_).empty());
}

TEST_F(Container, AlternativeProductCodesFromFirstProductCodeOn)
{
    OpenElement(Valid(),
                "<ALTERNATIVE_DESTINATIONS><OTHER>11</OTHER><PRODUCT_CODE>4A02</PRODUCT_CODE><CODE>0x4B</CODE>"
                "<PRODUCT_CODE>zz</PRODUCT_CODE><PRODUCT_CODE>7</PRODUCT_CODE></ALTERNATIVE_DESTINATIONS>");
    EXPECT_EQ(container_->ParseValues(), 0);
    EXPECT_EQ(container_->alternative_product_codes(), (std::vector<int>{0x4A02, 0x4B, 7}));
}

TEST_F(Container, LoadOptions)
{
    OpenElement(Valid(),
                "<UART_OPTIONS><OSC>0</OSC><BAUDRATE>0</BAUDRATE><SELECTEDDEVICE></SELECTEDDEVICE>"
                "<HIGHSPEED>yes</HIGHSPEED><HALFDUPLEX>YES</HALFDUPLEX><USINGINTERFACE>YES</USINGINTERFACE>"
                "<HWCONFIG>HWKEILMCB900</HWCONFIG><CLOCKS>3</CLOCKS><HWT1>7</HWT1><HWT2>8</HWT2>"
                "<MAXBAUDRATE>9600</MAXBAUDRATE><INTERFACETYPE>2</INTERFACETYPE><FLASHBANK>1</FLASHBANK>"
                "<PROTOCOLOPTIONS>5</PROTOCOLOPTIONS><POSTOPENDELAY>100</POSTOPENDELAY><UNKNOWN>1</UNKNOWN>"
                "<" + std::string(127, 'B') + ">1</" + std::string(127, 'B') + "></UART_OPTIONS>");
    fm_connectoptions_com options;
    options.highspeed = 1;
    EXPECT_EQ(container_->LoadOptions(options), 0);
    EXPECT_EQ(options.osc, 12.0);  // zero is not stored
    EXPECT_EQ(options.baudrate, 230400);
    EXPECT_EQ(options.selecteddevice, 2011);
    EXPECT_EQ(options.highspeed, 0);  // only "YES" counts
    EXPECT_EQ(options.halfduplex, 1);
    EXPECT_EQ(options.usinginterface, 1);
    EXPECT_EQ(options.hwconfig, 4);
    EXPECT_EQ(options.clocks, 3);
    EXPECT_EQ(options.hwt1, 7);
    EXPECT_EQ(options.hwt2, 8);
    EXPECT_EQ(options.maxbaudrate, 9600);
    EXPECT_EQ(options.interfacetype, 2);
    EXPECT_EQ(options.flashbank, 1);
    EXPECT_EQ(options.protocoloptions, 5);
    EXPECT_EQ(options.postopendelay, 100);

    OpenElement(Valid(), "<UART_OPTIONS><OSC>14.7456</OSC><HWCONFIG>hwassert</HWCONFIG></UART_OPTIONS>");
    container_->LoadOptions(options);
    EXPECT_DOUBLE_EQ(options.osc, 14.7456);
    EXPECT_EQ(options.hwconfig, 0);
}

TEST_F(Container, DeviceVersionInfo)
{
    FlashFileInfo info;
    OpenElement(Valid(), "<UART_OPTIONS/>");
    EXPECT_EQ(container_->GetFlashFileInfo(info), -4);

    OpenElement(Valid(),
                "<UART_OPTIONS><DEVICE_VERSION_INFO><SERIALNUMBER_INFO START_BYTE=\"0x1F0\" LENGTH=\"16\"/>"
                "<HW_VERSION_INFO START_BYTE=\"1F2\"/><OTHER/><FW_VERSION_INFO START_BYTE=\"1\" LENGTH=\"16\"/>"
                "</DEVICE_VERSION_INFO></UART_OPTIONS>");
    info.hw_length = 99;
    info.fw_start = 77;
    EXPECT_EQ(container_->GetFlashFileInfo(info), -2);  // two stored, the walk stops at OTHER
    EXPECT_EQ(info.serial_start, 0x1F0);
    EXPECT_EQ(info.serial_length, 16);
    EXPECT_EQ(info.hw_start, 0x1F2);
    EXPECT_EQ(info.hw_length, 0);  // no LENGTH: inapplicable
    EXPECT_EQ(info.fw_start, 77);  // not reached
}

TEST_F(Container, FlashElementHexText)
{
    OpenElement(Valid(), "<HEX>:00000001FF\n</HEX>");
    EXPECT_EQ(container_->GetFlashElementHex(nullptr, 0), 2 * 13);
    wchar_t buffer[20];
    EXPECT_EQ(container_->GetFlashElementHex(buffer, 20), 26);
    EXPECT_EQ(std::wstring(buffer), L":00000001FF\n");
    EXPECT_EQ(container_->GetFlashElementHex(buffer, 4), 26);
    EXPECT_EQ(std::wstring(buffer), L":00");
}

TEST_F(Container, TextRules)
{
    // Only the run after the comment remains; CDATA is not text; entities are replaced.
    OpenElement(Valid(), "<HEX>:0000000<!-- note -->:00000001FF\n<![CDATA[:11]]></HEX>");
    std::wstring hex(64, L'\0');
    container_->GetFlashElementHex(hex.data(), 64);
    EXPECT_EQ(hex.c_str(), std::wstring(L":00000001FF\n"));

    OpenElement("FW_VER=\"1.0\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.0\" PRODUCT_CODE=\"1\" "
                "PRODUCT_NAME=\"A &amp; B &copy; &#169; &lt;x&gt;\"",
                "");
    EXPECT_EQ(container_->ParseValues(), 0);
    EXPECT_EQ(container_->GetProductName(), L"A & B \u00A9 &#169; <x>");
}

TEST_F(Container, ElementNameFollowedByLineBreakIsNotFound)
{
    Open("<FLASHCONTAINER CONTAINER_VER=\"1.2\"><FLASHELEMENT\nFW_VER=\"1.0\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.0\" "
         "PRODUCT_CODE=\"1\" PRODUCT_NAME=\"X\"/></FLASHCONTAINER>");
    EXPECT_LT(container_->ParseValues(), 0);
    Open("<FLASHCONTAINER CONTAINER_VER=\"1.2\"><FLASHELEMENT\tFW_VER=\"1.0\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.0\" "
         "PRODUCT_CODE=\"1\" PRODUCT_NAME=\"X\"/></FLASHCONTAINER>");
    EXPECT_EQ(container_->ParseValues(), 0);
}

TEST_F(Container, Encodings)
{
    struct Case {
        const char* declaration;
        const char* name_bytes;
        const wchar_t* name;
    };
    const Case cases[] = {
        {"", "\xE1", L"\u00E1"},                                               // no declaration: Latin-2
        {"", "\xB5", L"\u013E"},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>", "\xB5\xA9", L"\u013E\u0160"},
        {"<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>", "\xB5\xE1", L"\u00B5\u00E1"},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "\xC3\xA1", L"\u00E1"},
        {"<?xml version=\"1.0\"?>", "\xC3\xA1", L"\u00E1"},                    // declaration without encoding: UTF-8
        {"\xEF\xBB\xBF<?xml version=\"1.0\"?>", "\xC5\xA1", L"\u0161"},        // byte order mark skipped
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.declaration);
        ASSERT_EQ(Open(std::string(c.declaration) +
                       "<FLASHCONTAINER><FLASHELEMENT FW_VER=\"1.0\" MIN_HW_VER=\"1.0\" MAX_HW_VER=\"1.0\" "
                       "PRODUCT_CODE=\"1\" PRODUCT_NAME=\"" +
                       c.name_bytes + "\"/></FLASHCONTAINER>"),
                  1);
        EXPECT_EQ(container_->ParseValues(), 0);
        EXPECT_EQ(container_->GetProductName(), c.name);
    }
    EXPECT_EQ(Open("<?xml version=\"1.0\" encoding=\"windows-1250\"?><FLASHCONTAINER/>"), -1);
}

}  // namespace
