// The boot loader client's bytes, exchange by exchange, against scripted answers of the chip.
#include <platform/isp.hpp>

#include <chrono>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace torvik::platform::isp;
using namespace std::chrono_literals;

// A chip that answers each expected piece of host output with its scripted reply, and stays silent
// on anything else.
class ScriptedChip final : public Port {
public:
    struct Step {
        std::string host;
        std::string chip;
    };
    explicit ScriptedChip(std::vector<Step> steps) : steps_(steps.begin(), steps.end()) {}

    std::error_code Write(std::string_view bytes) override
    {
        written_ += bytes;
        unmatched_ += bytes;
        while (!steps_.empty() && unmatched_.rfind(steps_.front().host, 0) == 0) {
            unmatched_.erase(0, steps_.front().host.size());
            incoming_ += steps_.front().chip;
            steps_.pop_front();
        }
        return {};
    }
    std::error_code Read(std::string& into, std::chrono::milliseconds timeout) override
    {
        if (incoming_.empty()) {
            std::this_thread::sleep_for(std::min(timeout, std::chrono::milliseconds(20)));
            return std::make_error_code(std::errc::timed_out);
        }
        into += incoming_;
        incoming_.clear();
        return {};
    }
    std::error_code SetBaud(std::uint32_t) override { return {}; }
    void DiscardInput() override { incoming_.clear(); }
    bool SetLines(bool, bool) override { return false; }

    const std::string& written() const { return written_; }
    bool done() const { return steps_.empty() && unmatched_.empty(); }

private:
    std::deque<Step> steps_;
    std::string written_;
    std::string unmatched_;
    std::string incoming_;
};

ClientOptions Quick()
{
    ClientOptions options;
    options.answer_timeout = 200ms;
    options.erase_timeout = 200ms;
    options.sync_timeout = 30ms;
    options.sync_attempts = 3;
    return options;
}

TEST(UuLines, EncodeAndDecodeTheReferenceVectors)
{
    std::vector<std::uint8_t> counting(45);
    for (std::size_t i = 0; i < counting.size(); ++i) {
        counting[i] = static_cast<std::uint8_t>(i);
    }
    struct Case {
        std::vector<std::uint8_t> bytes;
        std::string line;
    };
    const Case kCases[] = {
        {{0xFC, 0x1F, 0x00, 0x10}, "$_!\\`$```"},
        {{0xDE, 0xAD, 0xBE, 0xEF}, "$WJV^[P``"},
        {{1, 2, 3, 4, 5, 6, 7, 8}, "(`0(#!`4&!P@`"},
        {counting, "M``$\"`P0%!@<(\"0H+#`T.#Q`1$A,4%187&!D:&QP='A\\@(2(C)\"4F)R@I*BLL"},
        {std::vector<std::uint8_t>(45, 0xFF), "M" + std::string(60, '_')},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(UuEncodeLine(c.bytes.data(), c.bytes.size()), c.line);
        std::vector<std::uint8_t> decoded;
        ASSERT_TRUE(UuDecodeLine(c.line, decoded));
        EXPECT_EQ(decoded, c.bytes);
    }
    // The chip pads with the memory that follows and may send space for zero: neither is data.
    std::vector<std::uint8_t> decoded;
    ASSERT_TRUE(UuDecodeLine("$_!\\`$!`0", decoded));
    EXPECT_EQ(decoded, (std::vector<std::uint8_t>{0xFC, 0x1F, 0x00, 0x10}));
    for (const std::string& bad : std::vector<std::string>{"", "$_!\\`$!`", "N" + std::string(60, '_'), "$_!\\`$!\x7f" "0"}) {
        EXPECT_FALSE(UuDecodeLine(bad, decoded)) << bad;
    }
}

TEST(IspClient, SynchronizesThroughEchoAndTurnsEchoOff)
{
    // No answer to the first '?'; the chip echoes lines with CR only until "A 0".
    ScriptedChip chip({{"?", ""},
                       {"\r\n", ""},
                       {"?", "?Synchronized\r\n"},
                       {"Synchronized\r\n", "Synchronized\rOK\r\n"},
                       {"12000\r\n", "12000\rOK\r\n"},
                       {"A 0\r\n", "A 0\r0\r\n"},
                       {"U 23130\r\n", "0\r\n"},
                       {"J\r\n", "0\r\n638664503\r\n"},
                       {"K\r\n", "0\r\n4\r\n13\r\n"}});
    Client client(chip, Quick());
    ASSERT_TRUE(client.Synchronize(12000).ok());
    ASSERT_TRUE(client.Unlock().ok());
    std::uint32_t id = 0;
    ASSERT_TRUE(client.ReadPartId(id).ok());
    EXPECT_EQ(id, kLpc1769PartId);
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    ASSERT_TRUE(client.ReadBootCodeVersion(major, minor).ok());
    EXPECT_EQ(major, 4u);
    EXPECT_EQ(minor, 13u);
    EXPECT_TRUE(chip.done());
    EXPECT_EQ(chip.written(), "?\r\n?Synchronized\r\n12000\r\nA 0\r\nU 23130\r\nJ\r\nK\r\n");
}

TEST(IspClient, WritesBlocksWithChecksumsResendingOnRequest)
{
    const std::vector<std::uint8_t> word = {0xDE, 0xAD, 0xBE, 0xEF};
    ScriptedChip chip({{"W 268435968 4\r\n", "0\r\n"},
                       {"$WJV^[P``\r\n824\r\n", "RESEND\r\n"},
                       {"$WJV^[P``\r\n824\r\n", "OK\r\n"},
                       {"P 28 28\r\n", "0\r\n"},
                       {"C 458752 268435968 256\r\n", "0\r\n"}});
    Client client(chip, Quick());
    ASSERT_TRUE(client.WriteToRam(kRamBuffer, word.data(), word.size()).ok());
    ASSERT_TRUE(client.Prepare(28, 28).ok());
    ASSERT_TRUE(client.CopyRamToFlash(0x70000, kRamBuffer, 256).ok());
    EXPECT_TRUE(chip.done());

    // 1024 bytes go as a block of 20 lines and one of 3, each with its own sum.
    std::vector<std::uint8_t> data(1024);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7);
    }
    std::string first;
    std::string second;
    std::uint32_t sums[2] = {};
    for (std::size_t at = 0; at < data.size(); at += 45) {
        const std::size_t n = std::min<std::size_t>(45, data.size() - at);
        (at < 900 ? first : second) += UuEncodeLine(data.data() + at, n) + "\r\n";
        for (std::size_t i = at; i < at + n; ++i) {
            sums[at < 900 ? 0 : 1] += data[i];
        }
    }
    ScriptedChip big({{"W 268435968 1024\r\n", "0\r\n"},
                      {first + std::to_string(sums[0]) + "\r\n", "OK\r\n"},
                      {second + std::to_string(sums[1]) + "\r\n", "OK\r\n"}});
    Client bigClient(big, Quick());
    ASSERT_TRUE(bigClient.WriteToRam(kRamBuffer, data.data(), data.size()).ok());
    EXPECT_TRUE(big.done());
    EXPECT_EQ(std::count(second.begin(), second.end(), '\n'), 3);
    EXPECT_EQ(second.substr(second.rfind("\r\n", second.size() - 3) + 2, 1), "B");  // 34 bytes on the last line

    // A line so noisy that every try fails gives up after three sends.
    ScriptedChip noisy({{"W 268435968 4\r\n", "0\r\n"},
                        {"$WJV^[P``\r\n824\r\n", "RESEND\r\n"},
                        {"$WJV^[P``\r\n824\r\n", "RESEND\r\n"},
                        {"$WJV^[P``\r\n824\r\n", "RESEND\r\n"}});
    Client noisyClient(noisy, Quick());
    EXPECT_EQ(noisyClient.WriteToRam(kRamBuffer, word.data(), word.size()).code, kRetriesSpent);
}

TEST(IspClient, ReadsAsksAgainForABadBlockAndDecodesTheGoodOne)
{
    ScriptedChip chip({{"R 0 4\r\n", "0\r\n$_!\\`$!`0\r\n300\r\n"},
                       {"RESEND\r\n", "$_!\\`$!`0\r\n299\r\n"},
                       {"OK\r\n", ""}});
    Client client(chip, Quick());
    std::uint8_t out[4] = {};
    ASSERT_TRUE(client.ReadMemory(0, 4, out).ok());
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 4), (std::vector<std::uint8_t>{0xFC, 0x1F, 0x00, 0x10}));
    EXPECT_TRUE(chip.done());
    EXPECT_EQ(chip.written(), "R 0 4\r\nRESEND\r\nOK\r\n");
}

TEST(IspClient, ReturnCodesAndSilenceBecomeClearFailures)
{
    struct Case {
        std::string answer;
        int code;
        std::string text;
    };
    const Case kCases[] = {
        {"9\r\n", 9, "'E 1 2' failed: SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION (9)"},
        {"15\r\n", 15, "'E 1 2' failed: CMD_LOCKED (15)"},
        {"19\r\n", 19, "'E 1 2' failed: CODE_READ_PROTECTION_ENABLED (19)"},
        {"42\r\n", 42, "'E 1 2' failed: unknown code 42 (42)"},
        {"what\r\n", kBadAnswer, "the boot loader answered 'what' to 'E 1 2'"},
        {"", kTimedOut, "no answer from the boot loader to 'E 1 2'"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.text);
        ScriptedChip chip({{"E 1 2\r\n", c.answer}});
        Client client(chip, Quick());
        const auto started = std::chrono::steady_clock::now();
        const auto s = client.Erase(1, 2);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);  // bounded, not a speed check
        EXPECT_EQ(s.code, c.code);
        EXPECT_EQ(s.message, c.text);
    }
    ScriptedChip mute({});
    Client client(mute, Quick());
    EXPECT_EQ(client.Synchronize(12000).code, kTimedOut);
    EXPECT_EQ(mute.written(), "?\r\n?\r\n?\r\n");

    // A boot loader left synchronised by an earlier session takes "?" as a command: it needs no handshake.
    ScriptedChip awake({{"?", ""}, {"\r\n", "1\r\n"}, {"A 0\r\n", "0\r\n"}});
    Client again(awake, Quick());
    EXPECT_TRUE(again.Synchronize(12000).ok());
    EXPECT_TRUE(awake.done());
}

TEST(IspClient, BlankCheckAndCompareReportTheirFindings)
{
    ScriptedChip chip({{"I 28 29\r\n", "8\r\n16\r\n305419896\r\n"},
                       {"I 0 0\r\n", "0\r\n"},
                       {"M 458752 268435968 4096\r\n", "10\r\n24\r\n"},
                       {"G 268464128 T\r\n", "0\r\n"}});
    Client client(chip, Quick());
    bool blank = true;
    ASSERT_TRUE(client.BlankCheck(28, 29, blank).ok());
    EXPECT_FALSE(blank);
    ASSERT_TRUE(client.BlankCheck(0, 0, blank).ok());
    EXPECT_TRUE(blank);
    bool same = true;
    std::uint32_t offset = 0;
    ASSERT_TRUE(client.Compare(0x70000, kRamBuffer, 4096, same, offset).ok());
    EXPECT_FALSE(same);
    EXPECT_EQ(offset, 24u);
    EXPECT_TRUE(client.Go(0x10007000).ok());
    EXPECT_TRUE(chip.done());
}

TEST(FlashLayout, SectorsOfBothSizes)
{
    EXPECT_EQ(SectorOf(0), 0);
    EXPECT_EQ(SectorOf(0xFFFF), 15);
    EXPECT_EQ(SectorOf(0x10000), 16);
    EXPECT_EQ(SectorOf(0x70000), 28);
    EXPECT_EQ(SectorOf(0x7FFFF), 29);
    EXPECT_EQ(SectorOf(0x80000), -1);
    EXPECT_EQ(SectorStart(29), 0x78000u);
    EXPECT_EQ(SectorEnd(15), 0xFFFFu);
    EXPECT_EQ(SectorEnd(29), 0x7FFFFu);
}

}  // namespace
