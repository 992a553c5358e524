#include <algorithm>

#include <gtest/gtest.h>

#include <project/ts_project.hpp>
#include <project/user_block.hpp>

#include "model_builder.hpp"

namespace {

using namespace torvik::studio;
using torvik::studio::test::ModelBuilder;
using Bytes = std::vector<std::uint8_t>;

Bytes Image(const TS_Project& project)
{
    return Bytes(project.GetUserBlock(), project.GetUserBlock() + project.GetUserBlockLength());
}

// A project whose channels 3 and 4 have the default setup, as the main window leaves it.
std::unique_ptr<TS_Project> NewProject()
{
    auto project = std::make_unique<TS_Project>();
    project->SetChannelSetup(3, -1, kSetupFd2000);
    project->SetChannelSetup(4, -1, kSetupFd2000);
    return project;
}

Bytes Build(ModelBuilder& db)
{
    auto project = NewProject();
    project->AppendDatabase(db.Take());
    const int length = project->BuildUserBlock();
    EXPECT_GT(length, 0);
    const Bytes image = Image(*project);
    return Bytes(image.begin() + 9, image.end());  // without 0xFF and the channel setups
}

TEST(UserBlock, ProjectWithoutMessagesHoldsTheChannelSetupsOnly)
{
    auto project = NewProject();
    project->SetChannelSetup(4, kSetupHs500, kSetupFd2000);
    ModelBuilder db(L"Db");
    db.AddMessage(0x10, L"Unselected", 8);
    project->AppendDatabase(db.Take());
    EXPECT_EQ(project->BuildUserBlock(), 9);
    EXPECT_EQ(Image(*project), (Bytes{0xFF, 0x03, 0x34, 0x03, 0x06, 0x03, 0x34, 0x04, 0x02}));
}

TEST(UserBlock, ClassicMessageRecord)
{
    ModelBuilder db(L"Db");
    auto& m = db.AddMessage(0x123, L"M", 8);
    m.channelMask = 0x01;
    ModelBuilder::SetInt(m, L"GenMsgCycleTime", 100);
    db.AddSignal(m, {L"A", 0, 8}).rawValue = 0x11;
    db.AddSignal(m, {L"B", 60, 4}).rawValue = 0xF;
    EXPECT_EQ(Build(db), (Bytes{0x1A, 0x01, 0x01, 0x01, 0x00, 0x00, 0x01, 0x23, 0x00, 0x00, 0x00, 0x08, 0x64, 0x00,
                                0x00, 0x00, 0x00, 0x00, 0x01, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0}));
}

TEST(UserBlock, MessageFieldsFromAttributesAndOverrides)
{
    ModelBuilder db(L"Db");
    auto& ext = db.AddMessage(0x98FEF100, L"Ext", 2);
    ext.channelMask = 0x05;  // CAN 1 and CAN 3
    ModelBuilder::SetInt(ext, L"GenMsgCycleTime", 100);
    ModelBuilder::SetInt(ext, L"GenMsgStartDelayTime", 0x1234);
    ModelBuilder::SetInt(ext, L"GenMsgCycleTimeFast", 0x12345);  // low 16 bits
    ext.attributeOverrides[L"GenMsgCycleTime"] =
        std::make_shared<kq::dbclib::Dbc_AttributeSpec<int>>(ext.definitions->at(L"GenMsgCycleTime"), 1000);
    EXPECT_EQ(Build(db), (Bytes{0x14, 0x01, 0x05, 0x05, 0x98, 0xFE, 0xF1, 0x00, 0x00, 0x00, 0x00, 0x02, 0xE8, 0x03,
                                0x34, 0x12, 0x45, 0x23, 0x01, 0x00, 0x00}));
}

TEST(UserBlock, CanFdFrameFormatAndDlcCode)
{
    struct Case {
        int frameFormat;
        int brs;
        std::uint32_t length;
        std::uint8_t format;
        std::uint8_t dlc;
    };
    const Case cases[] = {
        {14, 1, 64, 0xD0, 15}, {15, 0, 12, 0x40, 9}, {14, 2, 20, 0x40, 11}, {0, 1, 8, 0x00, 8}, {13, 1, 48, 0x00, 14},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        ModelBuilder db(L"Db");
        auto& m = db.AddMessage(0x7FF, L"Fd", c.length);
        m.channelMask = 0x08;
        ModelBuilder::SetInt(m, L"VFrameFormat", c.frameFormat);
        ModelBuilder::SetInt(m, L"CANFD_BRS", c.brs);
        db.AddSignal(m, {L"Last", c.length * 8 - 8, 8}).rawValue = 0xEE;
        const Bytes record = Build(db);
        ASSERT_EQ(record.size(), 19 + c.length);
        EXPECT_EQ(record[0], 18 + c.length);
        EXPECT_EQ(record[8], c.format);
        EXPECT_EQ(record[11], c.dlc);
        EXPECT_EQ(record.back(), 0xEE);  // bytes past the eighth carry the signals too
    }
    EXPECT_EQ(DlcCode(9), 8);
    EXPECT_EQ(DlcCode(11), 8);
    EXPECT_EQ(DlcCode(13), 9);
    EXPECT_EQ(DlcCode(63), 14);
}

TEST(UserBlock, ConstantsRecords)
{
    std::wstring sixteen;
    for (int i = 0; i < 16; ++i) {
        sixteen += (i == 0 ? L"0x" : L", ") + std::to_wstring(i + 10);
    }
    const Bytes sixteenBytes{0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
                             0x18, 0x19, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25};
    struct Case {
        int check;
        std::wstring pdu;
        Bytes want;  // what follows the message record
    };
    Bytes withHeader{0x13, 0x0B, 0x00, 0x00};
    withHeader.insert(withHeader.end(), sixteenBytes.begin(), sixteenBytes.end());
    Bytes lowBytes = withHeader;
    lowBytes[4] = 0xFF;
    const Case cases[] = {
        {0x1A5, sixteen, {0x04, 0x0B, 0x00, 0x00, 0xA5}},  // the check constant wins
        {0, sixteen, withHeader},
        {0, sixteen + L",zz,1", withHeader},  // reading stops at a token that is no number
        {0, L"1FF" + sixteen.substr(4), lowBytes},
        {0, sixteen.substr(0, sixteen.rfind(L',')), {}},  // 15 values
        {0, sixteen + L",26", {}},                       // 17 values
        {0, sixteen.substr(0, 4) + L",123456789" + sixteen.substr(4), {}},  // overflow stops reading at 2
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pdu.begin(), c.pdu.end()));
        ModelBuilder db(L"Db");
        auto& m = db.AddMessage(1, L"M", 0);
        m.channelMask = 1;
        ModelBuilder::SetInt(m, L"GenMsgChkConstant", c.check);
        ModelBuilder::SetString(m, L"GenMsgPDUConstants", c.pdu);
        const Bytes image = Build(db);
        EXPECT_EQ(Bytes(image.begin() + 19, image.end()), c.want);
    }
}

TEST(UserBlock, SixteenBitForm)
{
    struct Case {
        std::uint32_t length;
        RawNumber value;
        std::uint16_t want;
    };
    const Case cases[] = {
        {1, 1, 0x8000},
        {4, 0xF, 0xF000},
        {16, 0xBEEF, 0xBEEF},
        {20, 0xABCDE, 0xABCD},
        {40, RawNumber(0xABCD) << 24, 0xABCD},  // longer than 32 bits: the top bits of the whole value
        {64, RawNumber(0xFEDC) << 48, 0xFEDC},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        EXPECT_EQ(SixteenBitForm(c.value, c.length), c.want);
    }
}

TEST(UserBlock, SignalRecordsForDynamicSignalsWithAControl)
{
    ModelBuilder db(L"Db");
    auto& m = db.AddMessage(1, L"M", 8);
    m.channelMask = 1;
    auto& mux = db.AddSignal(m, {L"Mux", 56, 8});
    db.SetMultiplexor(m, mux);
    auto dynamic = [&](const std::wstring& name, std::uint32_t start, std::uint32_t length, int control) -> TS_Signal& {
        auto& s = db.AddSignal(m, {name, start, length});
        s.signalType = kDynamicSignal;
        s.dynamicControl = control;
        return s;
    };
    auto& dip = dynamic(L"Dip", 5, 1, 20);  // "DIP switch 3"
    dip.startValue = 0;
    dip.endValue = 1;
    auto& sw = dynamic(L"Switch", 8, 8, 13);  // "Switch 4": three positions
    sw.startValue = 0x10;
    sw.middleValue = 0x80;
    sw.endValue = 0xFF;
    auto& pot = dynamic(L"Pot", 20, 20, 5);  // "Potentiometer 1", multiplexed under 3
    db.Multiplex(m, pot, 3);
    pot.startValue = 0x00010;
    pot.endValue = 0xFFFFF;
    pot.middleValue = 0x12345;  // not written for a continuous control
    dynamic(L"None", 0, 4, kNoControl);
    auto& constant = db.AddSignal(m, {L"Constant", 0, 4});
    constant.dynamicControl = 5;  // a constant signal never writes records
    const Bytes image = Build(db);
    // Name order: Constant, Dip, Mux, None, Pot, Switch.
    EXPECT_EQ(Bytes(image.begin() + 27, image.end()),
              (Bytes{0x09, 0x14, 0x00, 0x00, 0x14, 0x00, 0x05, 0x00, 0x05, 0x00,  // Dip position
                     0x09, 0x18, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00,  // Dip values
                     0x09, 0x14, 0x00, 0x00, 0x05, 0x00, 0x14, 0x00, 0x27, 0x03,  // Pot position
                     0x07, 0x18, 0x00, 0x00, 0x00, 0x01, 0xFF, 0xFF,              // Pot values
                     0x09, 0x14, 0x00, 0x00, 0x0D, 0x00, 0x08, 0x00, 0x0F, 0x00,  // Switch position
                     0x09, 0x18, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0xFF, 0x00}));  // Switch values
}

TEST(UserBlock, MultiplexedMessageWithoutChosenValuesGetsAZeroPayload)
{
    ModelBuilder db(L"Db");
    auto& m = db.AddMessage(1, L"M", 3);
    m.channelMask = 2;
    auto& mux = db.AddSignal(m, {L"Mux", 0, 8});
    db.SetMultiplexor(m, mux);
    db.AddSignal(m, {L"Plain", 8, 8}).rawValue = 0x55;
    const Bytes image = Build(db);
    EXPECT_EQ(Bytes(image.begin() + 18, image.end()), (Bytes{0x01, 0x00, 0x00, 0x00}));
}

TEST(UserBlock, RecordsThatDoNotFitFailTheBuild)
{
    ModelBuilder db(L"Db");
    auto& m = db.AddMessage(1, L"M", 8);
    m.channelMask = 1;
    auto& s = db.AddSignal(m, {L"S", 0, 8});
    s.signalType = kDynamicSignal;
    s.dynamicControl = 8;  // two-state: 10 + 10 bytes
    Bytes window(47, 0xAA);
    EXPECT_EQ(TS_Project::AppendMessage(m, window.data(), 47), 47);  // exactly fills
    window.assign(47, 0xAA);
    EXPECT_EQ(TS_Project::AppendSignal(s, window.data(), 19), -20);
    EXPECT_EQ(window, Bytes(47, 0xAA));
    EXPECT_EQ(TS_Project::AppendMessage(m, window.data(), 26), -27);
    EXPECT_EQ(window, Bytes(47, 0xAA));
    // The message record fits, its signal does not: the failure passes up unchanged.
    EXPECT_EQ(TS_Project::AppendMessage(m, window.data(), 46), -20);

    ModelBuilder big(L"Big");
    for (std::uint32_t id = 0; id < 800; ++id) {
        big.AddMessage(id, L"M" + std::to_wstring(id), 64).channelMask = 1;  // 83 bytes each
    }
    auto project = NewProject();
    project->AppendDatabase(big.Take());
    project->SetModified(false);
    EXPECT_EQ(project->BuildUserBlock(), -83);
    EXPECT_FALSE(project->IsModified());
    EXPECT_EQ(project->GetUserBlock()[0], 0xFF);
}

TEST(UserBlockReader, ReadsWhatTheBuilderWrote)
{
    ModelBuilder db(L"Db");
    auto& m = db.AddMessage(0x80000123, L"M", 12);
    m.channelMask = 0x0C;
    ModelBuilder::SetInt(m, L"VFrameFormat", 15);
    ModelBuilder::SetInt(m, L"GenMsgCycleTime", 250);
    ModelBuilder::SetInt(m, L"GenMsgChkConstant", 0x5A);
    auto& s = db.AddSignal(m, {L"S", 80, 16});
    s.rawValue = 0xBEEF;
    s.signalType = kDynamicSignal;
    s.dynamicControl = 10;
    s.startValue = 1;
    s.middleValue = 2;
    s.endValue = 3;
    auto project = NewProject();
    project->AppendDatabase(db.Take());
    ASSERT_GT(project->BuildUserBlock(), 0);
    const Bytes image = Image(*project);

    const auto decoded = DecodeUserBlock(image);
    ASSERT_FALSE(decoded.errorOffset) << decoded.error;
    ASSERT_EQ(decoded.records.size(), 6u);
    EXPECT_EQ(decoded.records[1].setupCode, 6);
    const auto& msg = decoded.records[2];
    EXPECT_EQ(msg.offset, 9u);
    EXPECT_EQ(msg.id, 0x80000123u);
    EXPECT_EQ(msg.channelMask, 0x0C);
    EXPECT_EQ(msg.frameFormat, 0x40);
    EXPECT_EQ(msg.dlc, 9);
    EXPECT_EQ(msg.cycleTimeMs, 250);
    EXPECT_EQ(msg.payload, (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xEF, 0xBE}));
    EXPECT_EQ(decoded.records[3].constants, Bytes{0x5A});
    EXPECT_EQ(decoded.records[4].startBit, 80);
    EXPECT_EQ(decoded.records[4].lastBit, 95);
    EXPECT_EQ(decoded.records[5].middleValue, 2);
    EXPECT_EQ(decoded.records[5].endValue, 3);

    // Cut anywhere, the image reads up to the cut and reports it unless the cut falls between records.
    const std::size_t boundaries[] = {1, 5, 9, 40, 45, 55, 65};
    for (std::size_t cut = 0; cut < image.size(); ++cut) {
        SCOPED_TRACE(cut);
        const auto part = DecodeUserBlock(std::span(image.data(), cut));
        const bool boundary = std::find(std::begin(boundaries), std::end(boundaries), cut) != std::end(boundaries);
        // A cut between a signal's two records is still an error.
        EXPECT_EQ(part.errorOffset.has_value(), !boundary || cut == 55);
        if (part.errorOffset) {
            EXPECT_LE(*part.errorOffset, cut);
        }
    }
}

TEST(UserBlockReader, ReportsWhereAMalformedImageGoesWrong)
{
    struct Case {
        Bytes image;
        std::size_t offset;
    };
    const Case cases[] = {
        {{0x00}, 0},
        {{0xFF, 0x03, 0x35, 0x03, 0x06}, 2},                             // unknown type
        {{0xFF, 0x02, 0x34, 0x03}, 1},                                   // length too small
        {{0xFF, 0x04, 0x34, 0x03, 0x06, 0x00}, 1},                       // channel setup too long
        {{0xFF, 0x09, 0x14, 0, 0, 5, 0, 0, 0, 7, 0}, 1},                 // signal before any message
        {{0xFF, 0x12, 0x01, 0x01, 0x02, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01}, 4},  // masks differ
        {{0xFF, 0x12, 0x01, 0x01, 0x01, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x01}, 12},  // DLC 1, no payload
        {{0xFF, 0x12, 0x01, 0x01, 0x01, 0, 0, 0, 1, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01}, 9},  // frame format
        {{0xFF, 0x12, 0x01, 0x01, 0x01, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x02}, 19},  // not 0x01
        {{0xFF, 0x12, 0x01, 0x01, 0x01, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01,
          0x09, 0x14, 0, 0, 20, 0, 0, 0, 0, 0, 0x07, 0x18, 0, 0, 0, 0, 0x80, 0}, 30},  // two-state needs 10 bytes
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const auto decoded = DecodeUserBlock(cases[i].image);
        ASSERT_TRUE(decoded.errorOffset);
        EXPECT_EQ(*decoded.errorOffset, cases[i].offset) << decoded.error;
    }
}

}  // namespace
