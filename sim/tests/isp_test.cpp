// The boot loader's bytes against hand-written exchanges, without a terminal in between.
#include <cstring>
#include <memory>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include <sim/isp.hpp>

namespace {

using torvik::sim::DeviceState;
using torvik::sim::IspQuirks;
using torvik::sim::IspSession;
using torvik::sim::Output;
using torvik::sim::SimMode;

constexpr std::uint32_t kRamBuffer = 0x10000200;

// The host's side of the data lines: 45 bytes a line, zero padding, backquote for zero.
std::vector<std::string> EncodeLines(const std::vector<std::uint8_t>& data)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < data.size(); at += 45) {
        const std::size_t n = std::min<std::size_t>(45, data.size() - at);
        std::string line(1, static_cast<char>(0x20 + n));
        for (std::size_t g = 0; g < n; g += 3) {
            std::uint32_t word = 0;
            for (std::size_t k = 0; k < 3; ++k) {
                word = (word << 8U) | (g + k < n ? data[at + g + k] : 0U);
            }
            for (int shift = 18; shift >= 0; shift -= 6) {
                const std::uint32_t v = (word >> static_cast<unsigned>(shift)) & 0x3FU;
                line.push_back(v == 0 ? '`' : static_cast<char>(0x20 + v));
            }
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::uint8_t> DecodeLine(std::string_view line)
{
    std::vector<std::uint8_t> bytes;
    const std::size_t n = static_cast<std::size_t>((line[0] - 0x20) & 0x3F);
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t word = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            word = (word << 6U) | static_cast<std::uint32_t>((line[1 + 4 * (i / 3) + k] - 0x20) & 0x3F);
        }
        bytes.push_back(static_cast<std::uint8_t>(word >> (16U - 8U * (i % 3))));
    }
    return bytes;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        lines.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 2;
    }
    return lines;
}

std::uint32_t Sum(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to)
{
    return std::accumulate(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                           bytes.begin() + static_cast<std::ptrdiff_t>(to), 0U);
}

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 7 + seed + i / 251) & 0xFF);
    }
    return bytes;
}

class IspTest : public ::testing::Test {
protected:
    IspTest() { Restart(); }

    void Restart(IspQuirks quirks = {}) { isp = std::make_unique<IspSession>(device, quirks); }

    Output Feed(std::string_view bytes, std::uint32_t baud = 115200)
    {
        Output out;
        EXPECT_EQ(isp->Receive(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), baud, out),
                  bytes.size());
        return out;
    }
    std::string Send(std::string_view bytes) { return Feed(bytes).Bytes(); }

    // The handshake with echo turned off at its end.
    void Synchronise()
    {
        ASSERT_EQ(Send("?"), "Synchronized\r\n");
        ASSERT_EQ(Send("Synchronized\r\n"), "Synchronized\rOK\r\n");
        ASSERT_EQ(Send("12000\r\n"), "12000\rOK\r\n");
        ASSERT_EQ(Send("A 0\r\n"), "A 0\r0\r\n");
    }

    // W of the data to the RAM buffer, block by block, each acknowledged.
    void WriteRam(const std::vector<std::uint8_t>& data)
    {
        ASSERT_EQ(Send("W 268435968 " + std::to_string(data.size()) + "\r\n"), "0\r\n");
        const auto lines = EncodeLines(data);
        for (std::size_t first = 0; first < lines.size(); first += 20) {
            const std::size_t last = std::min(lines.size(), first + 20);
            for (std::size_t i = first; i < last; ++i) {
                ASSERT_EQ(Send(lines[i] + "\r\n"), "");
            }
            const auto sum = Sum(data, first * 45, std::min(data.size(), last * 45));
            ASSERT_EQ(Send(std::to_string(sum) + "\r\n"), "OK\r\n");
        }
    }

    DeviceState device;
    std::unique_ptr<IspSession> isp;
};

TEST_F(IspTest, HandshakeEchoesUntilEchoIsOff)
{
    // Noise before the '?' and a wrong second line both leave the handler waiting for '?'.
    EXPECT_EQ(Send("x\r\n"), "");
    EXPECT_EQ(Send("?"), "Synchronized\r\n");
    EXPECT_EQ(Send("Synchronised\r\n"), "Synchronised\r");
    EXPECT_EQ(Send("Synchronized\r\n"), "");
    Synchronise();
    EXPECT_EQ(Send("J\r\n"), "0\r\n638664503\r\n");
    EXPECT_EQ(Send("A 1\r\n"), "0\r\n");
    // A bare LF ends a line as well; the echo of a line end is a CR.
    EXPECT_EQ(Send("J\n"), "J\r0\r\n638664503\r\n");

    Restart(IspQuirks{.echo_crlf = true});
    EXPECT_EQ(Send("?Synchronized\r\n14748\r\nA 0\r\n"),
              "Synchronized\r\nSynchronized\r\nOK\r\n14748\r\nOK\r\nA 0\r\n0\r\n");
}

TEST_F(IspTest, SynchronisesOnlyUpToTheHighestRate)
{
    Restart(IspQuirks{.max_sync_baud = 115200});
    EXPECT_EQ(Feed("?", 230400).Bytes(), "");
    EXPECT_EQ(Feed("?", 115200).Bytes(), "Synchronized\r\n");
}

TEST_F(IspTest, ProgramFourKilobytesIntoSector28)
{
    device.flash[0x71000] = 0x12;  // inside sector 28: the erase takes it
    device.flash[0x78000] = 0x34;  // sector 29: stays
    Synchronise();
    EXPECT_EQ(Send("J\r\n"), "0\r\n638664503\r\n");
    EXPECT_EQ(Send("U 23130\r\n"), "0\r\n");
    EXPECT_EQ(Send("P 28 28\r\n"), "0\r\n");
    const Output erase = Feed("E 28 28\r\n");
    EXPECT_EQ(erase.Bytes(), "0\r\n");
    EXPECT_EQ(erase.PauseUs(), 100000u);
    EXPECT_EQ(Send("I 28 28\r\n"), "0\r\n");
    const auto data = Pattern(4096, 3);
    WriteRam(data);
    // The erase protected the sector again.
    EXPECT_EQ(Send("C 458752 268435968 4096\r\n"), "9\r\n");
    EXPECT_EQ(Send("P 28 28\r\n"), "0\r\n");
    const Output copy = Feed("C 458752 268435968 4096\r\n");
    EXPECT_EQ(copy.Bytes(), "0\r\n");
    EXPECT_EQ(copy.PauseUs(), 16000u);
    EXPECT_EQ(Send("M 458752 268435968 4096\r\n"), "0\r\n");

    EXPECT_TRUE(std::equal(data.begin(), data.end(), device.flash.begin() + 0x70000));
    EXPECT_TRUE(std::all_of(device.flash.begin() + 0x71000, device.flash.begin() + 0x78000,
                            [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(device.flash[0x78000], 0x34);
    EXPECT_EQ(Send("I 28 28\r\n"),
              "8\r\n0\r\n" +
                  std::to_string(data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24) +
                  "\r\n");
}

TEST_F(IspTest, CopyOnlyClearsBits)
{
    device.flash[0x1000] = 0xF0;
    Synchronise();
    ASSERT_EQ(Send("U 23130\r\n"), "0\r\n");
    auto data = std::vector<std::uint8_t>(256, 0xFF);
    data[0] = 0x3C;
    WriteRam(data);
    ASSERT_EQ(Send("P 1 1\r\n"), "0\r\n");
    ASSERT_EQ(Send("C 4096 268435968 256\r\n"), "0\r\n");
    EXPECT_EQ(device.flash[0x1000], 0x30);
    EXPECT_EQ(Send("M 4096 268435968 4\r\n"), "10\r\n0\r\n");
}

TEST_F(IspTest, ReadOneKilobyteInTwoBlocks)
{
    const auto data = Pattern(1024, 9);
    std::copy(data.begin(), data.end(), device.flash.begin());
    Synchronise();
    auto first = SplitLines(Send("R 0 1024\r\n"));
    ASSERT_EQ(first.size(), 22u);
    EXPECT_EQ(first[0], "0");
    std::vector<std::uint8_t> got;
    for (std::size_t i = 1; i <= 20; ++i) {
        EXPECT_EQ(first[i].size(), 61u);
        EXPECT_EQ(first[i][0], 'M');
        const auto bytes = DecodeLine(first[i]);
        got.insert(got.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(first[21], std::to_string(Sum(data, 0, 900)));
    // RESEND repeats the block exactly.
    EXPECT_EQ(SplitLines(Send("RESEND\r\n")), std::vector<std::string>(first.begin() + 1, first.end()));
    const auto second = SplitLines(Send("OK\r\n"));
    ASSERT_EQ(second.size(), 4u);
    EXPECT_EQ(second[0][0], 'M');
    EXPECT_EQ(second[1][0], 'M');
    EXPECT_EQ(second[2][0], 'B');
    EXPECT_EQ(second[2].size(), 1u + 4u * 12u);
    for (std::size_t i = 0; i < 3; ++i) {
        const auto bytes = DecodeLine(second[i]);
        got.insert(got.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(second[3], std::to_string(Sum(data, 900, 1024)));
    EXPECT_EQ(got, data);
    EXPECT_EQ(Send("OK\r\n"), "");
    EXPECT_EQ(Send("J\r\n"), "0\r\n638664503\r\n");
}

struct Vector {
    std::vector<std::uint8_t> bytes;
    const char* line;
    std::uint32_t sum;
};

std::vector<std::uint8_t> Counting(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
    return bytes;
}

const Vector kVectors[] = {
    {{0xFC, 0x1F, 0x00, 0x10}, "$_!\\`$```", 299},
    {{0xDE, 0xAD, 0xBE, 0xEF}, "$WJV^[P``", 824},
    {{1, 2, 3, 4, 5, 6, 7, 8}, "(`0(#!`4&!P@`", 36},
    {Counting(45), R"uu(M``$"`P0%!@<("0H+#`T.#Q`1$A,4%187&!D:&QP='A\@(2(C)"4F)R@I*BLL)uu", 990},
    {std::vector<std::uint8_t>(45, 0xFF), "M____________________________________________________________", 11475},
};

TEST_F(IspTest, DataLinesMatchTheVectorsBothWays)
{
    Synchronise();
    for (const auto& v : kVectors) {
        SCOPED_TRACE(v.line);
        // Sent by R, with zero padding; the following flash byte must not leak into the pad. Counts are
        // whole words: a 45-byte line is followed by one of 3 bytes.
        const std::size_t count = (v.bytes.size() + 3) / 4 * 4;
        const bool whole = count == v.bytes.size();
        std::fill(device.flash.begin() + 0x1000, device.flash.begin() + 0x1100, 0x10);
        std::copy(v.bytes.begin(), v.bytes.end(), device.flash.begin() + 0x1000);
        const auto lines = SplitLines(Send("R 4096 " + std::to_string(count) + "\r\n"));
        ASSERT_EQ(lines.size(), whole ? 3u : 4u);
        EXPECT_EQ(lines[0], "0");
        EXPECT_EQ(lines[1], v.line);
        if (whole) {
            EXPECT_EQ(lines[2], std::to_string(v.sum));
        }
        EXPECT_EQ(Send("OK\r\n"), "");
        // Taken by W, also with spaces for zero sextets.
        for (char zero : {'`', ' '}) {
            std::string line = v.line;
            std::replace(line.begin() + 1, line.end(), '`', zero);
            ASSERT_EQ(Send("W 268435968 " + std::to_string(count) + "\r\n"), "0\r\n");
            const std::string rest = whole ? "" : "#````\r\n";
            EXPECT_EQ(Send(line + "\r\n" + rest + std::to_string(v.sum) + "\r\n"), "OK\r\n");
            EXPECT_TRUE(std::equal(v.bytes.begin(), v.bytes.end(), device.ram.begin() + 0x200));
        }
    }
    // The captured chip output: pad bytes from the memory that follows, and spaces where so set.
    Restart(IspQuirks{.zero_as_space = false, .pad_with_memory = true});
    Synchronise();
    std::fill(device.flash.begin() + 0x1000, device.flash.begin() + 0x1100, 0x10);
    std::copy(kVectors[0].bytes.begin(), kVectors[0].bytes.end(), device.flash.begin() + 0x1000);
    EXPECT_EQ(Send("R 4096 4\r\n"), "0\r\n$_!\\`$!`0\r\n299\r\n");
    EXPECT_EQ(Send("OK\r\n"), "");
    Restart(IspQuirks{.zero_as_space = true});
    Synchronise();
    EXPECT_EQ(Send("R 4096 4\r\n"), "0\r\n$_!\\ $   \r\n299\r\n");
}

TEST_F(IspTest, BadBlocksAreSentAgain)
{
    Synchronise();
    const auto data = Pattern(8, 1);
    const auto line = EncodeLines(data)[0];
    const auto sum = std::to_string(Sum(data, 0, 8));
    ASSERT_EQ(Send("W 268435968 8\r\n"), "0\r\n");
    // A wrong sum, a line that does not decode, then the block as sent.
    EXPECT_EQ(Send(line + "\r\n1\r\n"), "RESEND\r\n");
    EXPECT_EQ(Send(line.substr(0, 5) + "\r\n" + sum + "\r\n"), "RESEND\r\n");
    EXPECT_EQ(Send(line + "\r\n" + sum + "\r\n"), "OK\r\n");
    EXPECT_TRUE(std::equal(data.begin(), data.end(), device.ram.begin() + 0x200));

    // The fault: every second block, of either direction, goes wrong once.
    isp->SetCorruptEveryNth(2);
    ASSERT_EQ(Send("W 268435968 8\r\n"), "0\r\n");
    EXPECT_EQ(Send(line + "\r\n" + sum + "\r\n"), "OK\r\n");
    ASSERT_EQ(Send("W 268435968 8\r\n"), "0\r\n");
    EXPECT_EQ(Send(line + "\r\n" + sum + "\r\n"), "RESEND\r\n");
    EXPECT_EQ(Send(line + "\r\n" + sum + "\r\n"), "OK\r\n");
    std::copy(data.begin(), data.end(), device.flash.begin());
    const std::string block = "0\r\n" + line + "\r\n";
    EXPECT_EQ(Send("R 0 8\r\n"), block + sum + "\r\n");
    EXPECT_EQ(Send("OK\r\n"), "");
    EXPECT_EQ(Send("R 0 8\r\n"), block + std::to_string(Sum(data, 0, 8) + 1) + "\r\n");
    EXPECT_EQ(Send("RESEND\r\n"), line + "\r\n" + sum + "\r\n");
    EXPECT_EQ(Send("OK\r\n"), "");
}

TEST_F(IspTest, EscapeAbortsATransfer)
{
    Synchronise();
    ASSERT_EQ(Send("W 268435968 900\r\n"), "0\r\n");
    EXPECT_EQ(Send(EncodeLines(Pattern(45, 0))[0] + "\r\n\x1b"
                                                    "J\r\n"),
              "0\r\n638664503\r\n");
    ASSERT_EQ(Send("R 0 1024\r\n").substr(0, 3), "0\r\n");
    EXPECT_EQ(Send("\x1bJ\r\n"), "0\r\n638664503\r\n");
}

struct CodeCase {
    const char* name;
    std::vector<const char*> commands;  // the answer to the last one is checked
    const char* answer;
};

void PrintTo(const CodeCase& c, std::ostream* os)
{
    *os << c.name;
}

class IspCodeTest : public IspTest, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(IspCodeTest, AnswersWithTheReturnCode)
{
    Synchronise();
    std::string answer;
    for (const char* command : GetParam().commands) {
        answer = Send(std::string(command) + "\r\n");
    }
    EXPECT_EQ(answer, GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, IspCodeTest,
    ::testing::Values(
        CodeCase{"erase_locked", {"P 1 1", "E 1 1"}, "15\r\n"},
        CodeCase{"copy_locked", {"P 1 1", "C 4096 268435968 256"}, "15\r\n"},
        CodeCase{"go_locked", {"G 268464128 T"}, "15\r\n"},
        CodeCase{"copy_unprepared", {"U 23130", "C 4096 268435968 256"}, "9\r\n"},
        CodeCase{"erase_unprepared", {"U 23130", "P 2 2", "E 1 2"}, "9\r\n"},
        CodeCase{"copy_into_unprepared_sector", {"U 23130", "P 15 15", "C 65280 268435968 512"}, "9\r\n"},
        CodeCase{"copy_count_128", {"U 23130", "P 1 1", "C 4096 268435968 128"}, "6\r\n"},
        CodeCase{"copy_count_2048", {"U 23130", "P 1 1", "C 4096 268435968 2048"}, "6\r\n"},
        CodeCase{"copy_flash_unaligned", {"U 23130", "P 1 1", "C 4100 268435968 256"}, "3\r\n"},
        CodeCase{"copy_ram_unaligned", {"U 23130", "P 1 1", "C 4096 268435970 256"}, "2\r\n"},
        CodeCase{"copy_past_flash", {"U 23130", "P 29 29", "C 524032 268435968 512"}, "5\r\n"},
        CodeCase{"copy_from_unmapped", {"U 23130", "P 1 1", "C 4096 536870912 256"}, "4\r\n"},
        CodeCase{"write_reserved_ram", {"W 268435456 4"}, "14\r\n"},
        CodeCase{"write_stack", {"W 268467932 8"}, "14\r\n"}, CodeCase{"write_unaligned", {"W 268435970 4"}, "13\r\n"},
        CodeCase{"write_count", {"W 268435968 3"}, "6\r\n"}, CodeCase{"read_unaligned", {"R 2 4"}, "13\r\n"},
        CodeCase{"read_count", {"R 0 3"}, "6\r\n"}, CodeCase{"read_unmapped", {"R 524288 4"}, "14\r\n"},
        CodeCase{"compare_unmapped", {"M 0 805306368 4"}, "14\r\n"}, CodeCase{"unknown", {"X 1"}, "1\r\n"},
        CodeCase{"wrong_unlock_code", {"U 23131"}, "16\r\n"}, CodeCase{"baud_rate", {"B 1234 1"}, "17\r\n"},
        CodeCase{"stop_bits", {"B 115200 3"}, "18\r\n"}, CodeCase{"baud_ok", {"B 230400 1"}, "0\r\n"},
        CodeCase{"sectors_reversed", {"P 5 4"}, "7\r\n"}, CodeCase{"sector_30", {"P 0 30"}, "7\r\n"},
        CodeCase{"blank_check_sector_30", {"I 29 30"}, "7\r\n"}, CodeCase{"echo_2", {"A 2"}, "12\r\n"},
        CodeCase{"go_arm", {"U 23130", "G 268464128 A"}, "12\r\n"},
        CodeCase{"go_unaligned", {"U 23130", "G 268464130 T"}, "13\r\n"},
        CodeCase{"missing_parameter", {"P 1"}, "12\r\n"}, CodeCase{"extra_parameter", {"J 1"}, "12\r\n"},
        CodeCase{"not_a_number", {"P 1 0x2"}, "12\r\n"}, CodeCase{"past_32_bits", {"R 4294967296 4"}, "12\r\n"},
        CodeCase{"boot_code_major_first", {"K"}, "0\r\n4\r\n1\r\n"},
        CodeCase{"serial_number", {"N"}, "0\r\n710672401\r\n1863207483\r\n2359107111\r\n4110418004\r\n"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(IspTest, ProtectionIsReadAtReset)
{
    const auto set_crp = [&](std::uint32_t value) {
        std::memcpy(&device.flash[0x2FC], &value, 4);
        isp->Reset();
        Synchronise();
        ASSERT_EQ(Send("U 23130\r\n"), "0\r\n");
    };
    Synchronise();
    set_crp(0x12345678);
    EXPECT_EQ(Send("R 4096 4\r\n"), "19\r\n");
    EXPECT_EQ(Send("M 4096 268435968 4\r\n"), "19\r\n");
    EXPECT_EQ(Send("G 268464128 T\r\n"), "19\r\n");
    EXPECT_EQ(Send("P 0 29\r\nC 0 268435968 256\r\n"), "0\r\n19\r\n");
    EXPECT_EQ(Send("C 4096 268435968 256\r\n"), "0\r\n");
    EXPECT_EQ(Send("P 0 0\r\nE 0 0\r\n"), "0\r\n19\r\n");
    EXPECT_EQ(Send("I 1 1\r\n"), "8\r\n0\r\n0\r\n");  // position and value hidden
    // A new value takes effect at the next reset only.
    EXPECT_EQ(Send("P 0 29\r\nE 0 29\r\n"), "0\r\n0\r\n");
    EXPECT_EQ(Send("R 4096 4\r\n"), "19\r\n");

    set_crp(0x87654321);
    EXPECT_EQ(Send("W 268435968 4\r\n"), "19\r\n");
    EXPECT_EQ(Send("P 1 1\r\nE 1 1\r\n"), "0\r\n19\r\n");
    EXPECT_EQ(Send("C 4096 268435968 256\r\n"), "19\r\n");
    EXPECT_EQ(Send("J\r\n"), "0\r\n638664503\r\n");
    EXPECT_EQ(Send("P 0 29\r\nE 0 29\r\n"), "0\r\n0\r\n");

    isp->Reset();
    Synchronise();
    EXPECT_EQ(Send("R 4096 4\r\n"), "0\r\n$_____P``\r\n1020\r\n");
}

TEST_F(IspTest, QuirksOfBlankCheckAndVersion)
{
    device.flash[0x70124] = 0x5A;
    Synchronise();
    EXPECT_EQ(Send("I 28 29\r\n"), "8\r\n292\r\n4294967130\r\n");
    Restart(IspQuirks{.k_minor_first = true, .i_offset_absolute = true});
    Synchronise();
    EXPECT_EQ(Send("I 28 29\r\n"), "8\r\n459044\r\n4294967130\r\n");
    EXPECT_EQ(Send("K\r\n"), "0\r\n1\r\n4\r\n");
}

TEST_F(IspTest, RomOverlayHidesTheFirstBytesFromReadAndCompare)
{
    device.flash.assign(device.flash.size(), 0);
    Restart(IspQuirks{.rom_overlay = true});
    Synchronise();
    ASSERT_EQ(Send("U 23130\r\n"), "0\r\n");
    EXPECT_EQ(Send("M 0 512 4\r\n"), "10\r\n0\r\n");
    EXPECT_EQ(Send("M 508 512 4\r\n"), "10\r\n0\r\n");
    EXPECT_EQ(Send("M 512 516 4\r\n"), "0\r\n");
}

TEST_F(IspTest, GoLeavesTheBootLoaderAfterItsAnswer)
{
    device.mode = SimMode::Bootloader;
    Synchronise();
    ASSERT_EQ(Send("U 23130\r\n"), "0\r\n");
    const std::string input = "G 268464128 T\r\nafter";
    Output out;
    EXPECT_EQ(isp->Receive(reinterpret_cast<const std::uint8_t*>(input.data()), input.size(), 0, out),
              input.find('\n'));
    EXPECT_EQ(out.Bytes(), "0\r\n");
    EXPECT_EQ(device.mode, SimMode::Application);
    // Back in: waiting for '?', locked and echoing.
    device.mode = SimMode::Bootloader;
    isp->Reset();
    EXPECT_EQ(Send("?Synchronized\r\n"), "Synchronized\r\nSynchronized\rOK\r\n");
    EXPECT_EQ(Send("12000\r\nE 1 1\r\n"), "12000\rOK\r\nE 1 1\r15\r\n");
}

}  // namespace
