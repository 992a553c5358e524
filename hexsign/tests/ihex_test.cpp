#include <hexsign/ihex.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace {

using namespace torvik::hexsign;

// A FILE* over a copy of `text`, closed with the fixture.
class MemFile {
public:
    explicit MemFile(std::string text) : text_(std::move(text))
    {
        file_ = text_.empty() ? std::tmpfile() : fmemopen(text_.data(), text_.size(), "r");
    }
    ~MemFile() { std::fclose(file_); }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;
    std::FILE* get() const { return file_; }

private:
    std::string text_;
    std::FILE* file_ = nullptr;
};

TEST(ReadIHexRecord, ResultCodes)
{
    struct Case {
        std::string_view line;
        int want;
    };
    constexpr Case kCases[] = {
        {":00000001FF\r\n", kIHexOk},
        {":00000001FF", kIHexOk},                     // last line without line break
        {":00000001FF\r\r\n", kIHexOk},               // CR written twice by a text-mode writer
        {":00000001fe\n", kIHexErrorInvalidChecksum},
        {":00000001FE\n", kIHexErrorInvalidChecksum},
        {"\r\n", kIHexErrorNewline},
        {"\n", kIHexErrorNewline},
        {"", kIHexErrorEof},
        {"00000001FF\n", kIHexErrorInvalidRecord},     // no colon
        {":0000000\n", kIHexErrorInvalidRecord},       // shorter than 9
        {":0200000400\n", kIHexErrorInvalidRecord},    // two data bytes announced, none there
        {":020000040006F\n", kIHexErrorInvalidRecord}, // checksum cut short
        {":0G000001FF\n", kIHexErrorInvalidRecord},    // not a hex digit
        {":02000004zz06F4\n", kIHexErrorInvalidRecord},
        {":00000001FFFF\n", kIHexErrorInvalidRecord},   // characters after the checksum
        {":00000001FF \n", kIHexErrorInvalidRecord},
        {":0200000000010203040506070809FD\n", kIHexErrorInvalidRecord},  // byte count short of the data
        {":00000001FF\r:00000001FF\r", kIHexErrorInvalidRecord},        // CR alone as line end
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.line));
        MemFile in{std::string(c.line)};
        IHexRecord record;
        EXPECT_EQ(Read_IHexRecord(&record, in.get()), c.want);
    }
}

TEST(ReadIHexRecord, DecodesFieldsAndFillsRecordOnChecksumMismatch)
{
    MemFile in(":10FFF000A0A1A2A3A4A5A6A7A8A9AAABACADAEAF89\r\n:020000040006F5\r\n");
    IHexRecord record;
    ASSERT_EQ(Read_IHexRecord(&record, in.get()), kIHexOk);
    EXPECT_EQ(record.address, 0xFFF0);
    EXPECT_EQ(record.type, 0);
    EXPECT_EQ(record.dataLen, 16);
    EXPECT_EQ(record.data[0], 0xA0);
    EXPECT_EQ(record.data[15], 0xAF);
    EXPECT_EQ(record.checksum, 0x89);

    ASSERT_EQ(Read_IHexRecord(&record, in.get()), kIHexErrorInvalidChecksum);
    EXPECT_EQ(record.type, 4);
    EXPECT_EQ(record.dataLen, 2);
    EXPECT_EQ(record.data[1], 0x06);
    EXPECT_EQ(record.checksum, 0xF5);
    EXPECT_EQ(Checksum_IHexRecord(&record), 0xF4);
    EXPECT_EQ(Read_IHexRecord(&record, in.get()), kIHexErrorEof);
}

TEST(ReadIHexRecord, OverlongLineIsInvalidAndReadToItsEnd)
{
    MemFile in(":00000001FF" + std::string(2000, '0') + "\n:00000001FF\n");
    IHexRecord record;
    EXPECT_EQ(Read_IHexRecord(&record, in.get()), kIHexErrorInvalidRecord);
    EXPECT_EQ(Read_IHexRecord(&record, in.get()), kIHexOk);
    EXPECT_EQ(Read_IHexRecord(&record, in.get()), kIHexErrorEof);
}

TEST(WriteIHexRecord, UpperCaseWithCrLfAndFreshChecksum)
{
    char buffer[128] = {};
    std::FILE* out = fmemopen(buffer, sizeof buffer - 1, "w");
    ASSERT_NE(out, nullptr);
    IHexRecord record;
    const std::uint8_t data[] = {0xAB, 0x3A};
    ASSERT_EQ(New_IHexRecord(0, 0xFFFE, data, 2, &record), kIHexOk);
    record.checksum = 0;  // ignored by the writer
    EXPECT_EQ(Write_IHexRecord(&record, out), kIHexOk);
    ASSERT_EQ(New_IHexRecord(1, 0, nullptr, 0, &record), kIHexOk);
    EXPECT_EQ(Write_IHexRecord(&record, out), kIHexOk);
    std::fclose(out);
    EXPECT_STREQ(buffer, ":02FFFE00AB3A1C\r\n:00000001FF\r\n");
}

TEST(WriteIHexRecord, RefusesWhatItCannotEncode)
{
    IHexRecord record;
    record.dataLen = 256;  // needs three hex digits
    EXPECT_EQ(Write_IHexRecord(&record, stdout), kIHexErrorInvalidRecord);
    record.dataLen = -1;
    EXPECT_EQ(Write_IHexRecord(&record, stdout), kIHexErrorInvalidRecord);
    EXPECT_EQ(Write_IHexRecord(nullptr, stdout), kIHexErrorInvalidArguments);
    record.dataLen = 0;
    EXPECT_EQ(Write_IHexRecord(&record, nullptr), kIHexErrorInvalidArguments);
    EXPECT_EQ(Read_IHexRecord(nullptr, stdin), kIHexErrorInvalidArguments);
}

}  // namespace
