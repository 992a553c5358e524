// Log channels, the debug file and the C interface's printer functions.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include <devicelink/torvik_api.h>
#include <devicelink/torvik.hpp>

#include "fakes.hpp"

namespace torvik::devicelink::testing {
namespace {

std::string g_seen;

void Collect(const char* text)
{
    g_seen += text;
}

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::filesystem::path TempPath(const char* name)
{
    return std::filesystem::temp_directory_path() / (std::string(name) + "." + std::to_string(::getpid()));
}

TEST(Printer, RefusesBadChannelsAndFullChannels)
{
    EXPECT_THROW(Printer(0, 5), std::invalid_argument);
    EXPECT_THROW(Printer(3, 0), std::invalid_argument);
    Torvik session;
    std::ostringstream streams[5];
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(session.SetPrintStream(&streams[i], ERR), 0);  // cerr is the first
    }
    EXPECT_EQ(session.SetPrintStream(&streams[4], ERR), -2);
    EXPECT_EQ(session.SetPrintStream(&streams[4], 3), -1);
    EXPECT_EQ(session.SetPrintStream(&streams[4], -1), -1);
    EXPECT_EQ(session.ClearPrintStream(&streams[0], 3), -1);
}

TEST(Printer, SinksGetTextsInOrderAndClearRemovesEqualOnes)
{
    Torvik session;
    session.ClearPrintStream();
    std::ostringstream first;
    std::ostringstream second;
    g_seen.clear();
    session.SetPrintStream(&first, INF);
    session.SetPrintStream(&Collect, INF);
    session.SetPrintStream(&first, INF);
    session.SetPrintStream(&second, INF);
    EXPECT_EQ(session.Printf_inf("value %d%%", 5), 8);
    EXPECT_EQ(first.str(), "value 5%value 5%");
    EXPECT_EQ(g_seen, "value 5%");
    EXPECT_EQ(session.ClearPrintStream(&first, INF), 0);
    EXPECT_EQ(session.PrintStreamCount(INF), 2);
    session.Printf_inf("%s", "");  // an empty text goes nowhere
    session.Printf_inf("x");
    EXPECT_EQ(first.str(), "value 5%value 5%");
    EXPECT_EQ(second.str(), "value 5%x");
    EXPECT_EQ(session.ClearPrintStream(&Collect), 0);
    EXPECT_EQ(session.PrintStreamCount(INF), 1);
}

TEST(Printer, FileSinkWritesTextVerbatim)
{
    const auto path = TempPath("torvik-printer");
    std::FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    void* session = NewTorvik();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(SetPrintFileTorvik(session, file, COM), 0);
    EXPECT_EQ(PrintfErrTorvik(session, "%s", ""), 0);
    static_cast<Torvik*>(session)->DataPrint({0x25, 0x73}, -12);  // bytes that read like "%s"
    EXPECT_EQ(ClearPrintFileTorvik(session, file, COM), 0);
    DeleteTorvik(session);
    std::fclose(file);
    const std::string text = ReadFile(path);
    std::filesystem::remove(path);
    EXPECT_TRUE(std::regex_match(text, std::regex("[0-9]+:<< ERROR! 0x25 0x73 \n-{80}\n"))) << text;
}

TEST(Printer, DebugCommKeepsOneFileStreamPerChannel)
{
    const auto path = TempPath("torvik-debug");
    auto line = std::make_shared<FakeLine>();
    void* handle = NewTorvik();
    auto& session = *static_cast<Torvik*>(handle);
    session.GetSerialPort().SetOpener(FakeOpener(line));
    line->Reply(Status(5, 0));
    ASSERT_EQ(ConnectTorvik(handle, "COM3", 30, 100), 0);

    DebugCommTorvik(handle, path.c_str());
    DebugCommTorvik(handle, path.c_str());
    EXPECT_EQ(session.PrintStreamCount(ERR), 2);
    EXPECT_EQ(session.PrintStreamCount(INF), 2);
    EXPECT_EQ(session.PrintStreamCount(COM), 1);

    line->Reply(Status(6, 0));
    EXPECT_EQ(session.Ping(), 0);
    DebugCommTorvik(handle, nullptr);
    EXPECT_EQ(session.PrintStreamCount(ERR), 1);
    EXPECT_EQ(session.PrintStreamCount(INF), 1);
    EXPECT_EQ(session.PrintStreamCount(COM), 0);
    EXPECT_TRUE(std::regex_match(ReadFile(path), std::regex("[0-9]+:>> 0x01 0x06 0x09 0x00 0x10 \n"
                                                            "[0-9]+:<< 0x03 0x06 0x80 0x00 0x00 0x00 0x89 \n-{80}\n")))
        << ReadFile(path);

    // A file that cannot be opened is reported on ERR.
    std::ostringstream err;
    session.SetPrintStream(&err, ERR);
    DebugCommTorvik(handle, "/nonexistent-dir/x.log");
    EXPECT_EQ(err.str(), "Torvik::DebugComm: Unable to open file: /nonexistent-dir/x.log");
    session.ClearPrintStream(&err);
    EXPECT_EQ(DisconnectTorvik(handle), 0);
    DeleteTorvik(handle);
    std::filesystem::remove(path);
}

TEST(CInterface, NullArgumentsGiveNegativeResults)
{
    EXPECT_EQ(ConnectTorvik(nullptr, "COM1", 1, 1), TORVIK_INTERNAL_ERROR);
    DeleteTorvik(nullptr);
    void* session = NewTorvik();
    std::uint32_t value = 0;
    EXPECT_EQ(SignalReadValue32Torvik(session, 1, nullptr, nullptr, true), -5);
    EXPECT_EQ(SignalReadValue64Torvik(session, 1, nullptr, nullptr, true), -5);
    // An index that was never handed out is refused, not raised (the receiver check comes first).
    EXPECT_EQ(SignalReadValue32Torvik(session, 3, &value, nullptr, true), -3);
    tagAsyncMessage record{};
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ReadAsyncMsgTorvik(session, 0x10001, &record, nullptr, 0), -1);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(GetInternalThreadStatus(session), 0);
    DeleteTorvik(session);
}

}  // namespace
}  // namespace torvik::devicelink::testing
