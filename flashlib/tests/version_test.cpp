#include <flashlib/version.hpp>

#include <gtest/gtest.h>

namespace {

using kq::flashlib::Version;

TEST(Version, DefaultIsUninitialised)
{
    const Version v;
    EXPECT_EQ(v.GetMajor(), -1);
    EXPECT_EQ(v.GetMinor(), -1);
    EXPECT_EQ(v.GetString(), L"-1.-1");
    EXPECT_NE(v.IsUninicialised(), 0);
    EXPECT_NE(Version(1, -1).IsUninicialised(), 0);
    EXPECT_EQ(Version(0, 0).IsUninicialised(), 0);
}

TEST(Version, BytePairIsPackedBcd)
{
    struct Case {
        unsigned char bytes[2];
        int major;
        int minor;
        const wchar_t* text;
    };
    const Case cases[] = {
        {{0xFF, 0xFF}, -1, -1, L"-1.-1"},
        {{0x02, 0x00}, 2, 0, L"2.0"},
        {{0x12, 0x34}, 12, 34, L"12.34"},
        {{0x1A, 0xFF}, 20, -1, L"20.-1"},  // nibbles are not checked for being digits
    };
    for (const auto& c : cases) {
        const Version v(c.bytes);
        EXPECT_EQ(v.GetMajor(), c.major) << c.bytes[0];
        EXPECT_EQ(v.GetMinor(), c.minor) << c.bytes[1];
        EXPECT_EQ(v.GetString(), c.text);
    }
    EXPECT_EQ(Version::_trans(0xFF), -1);
    EXPECT_EQ(Version::_trans(0x12), 0x12);
}

TEST(Version, ComparesMajorThenMinorIgnoringText)
{
    EXPECT_LT(Version(-1, 5), Version(0, 0));
    EXPECT_LT(Version(1, -1), Version(1, 0));
    EXPECT_LT(Version(1, 9), Version(2, 0));
    EXPECT_GT(Version(2, 10), Version(2, 9));
    EXPECT_LE(Version(2, 0), Version(2, 0));
    EXPECT_GE(Version(2, 0), Version(2, 0));
    EXPECT_FALSE(Version(2, 0) < Version(2, 0));
    EXPECT_FALSE(Version(2, 0) > Version(2, 0));

    Version parsed;
    ASSERT_EQ(parsed.Parse(L"2.00"), 0);  // text "2.0" either way
    EXPECT_TRUE(parsed == Version(2, 0));
    EXPECT_FALSE(parsed != Version(2, 0));
    EXPECT_TRUE(Version(2, 0) != Version(2, 1));
}

TEST(Version, Parse)
{
    struct Case {
        const wchar_t* text;
        int result;
        int major;
        int minor;
    };
    // Each case starts from 7.7, so a kept part shows.
    const Case cases[] = {
        {L"2.0", 0, 2, 0},
        {L"1.2.3", 0, 1, 2},
        {L"2.0b", 0, 2, 0},
        {L" +3. -4", 0, 3, -4},
        {L"3", -1, 3, 7},               // no '.': major taken, minor kept
        {L"x.1", -1, 7, 7},             // not a number: unchanged
        {L"1.x", -1, 7, 7},
        {L"", -1, 7, 7},
        {L"99999999999.0", -1, 7, 7},   // does not fit 32 bits
        {L"1.2147483648", -1, 7, 7},
        {L"-2147483648.2147483647", 0, -2147483647 - 1, 2147483647},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "text '" << c.text << "'");
        Version v(7, 7);
        EXPECT_EQ(v.Parse(c.text), c.result);
        EXPECT_EQ(v.GetMajor(), c.major);
        EXPECT_EQ(v.GetMinor(), c.minor);
        EXPECT_EQ(v.GetString(), std::to_wstring(c.major) + L"." + std::to_wstring(c.minor));
    }
}

TEST(Version, TextFollowsEveryChange)
{
    Version v(1, 2);
    v.SetMajor(10);
    EXPECT_EQ(v.GetString(), L"10.2");
    v.SetMinor(-1);
    EXPECT_EQ(v.GetString(), L"10.-1");
    Version copy;
    copy = v;
    EXPECT_EQ(copy.GetString(), L"10.-1");
    Version moved;
    moved = std::move(copy);
    EXPECT_EQ(moved.GetString(), L"10.-1");
    EXPECT_EQ(moved.GetMajor(), 10);
}

}  // namespace
