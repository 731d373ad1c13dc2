// Angles, colours and checksums of the utility library (dbleq is stated by
// tests/scripts/math/numbers.ztscr).
#include <ztchecks.h>
#include <ztcolor.h>
#include <ztmath.h>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(MathAngle, KeepsItsUnitAndConvertsOnRead) {
    EXPECT_EQ(zt::angle::fromDegree(90).radians(), kPi / 2);
    EXPECT_EQ(zt::angle::fromDegree(90).degree(), 90.0);
    EXPECT_EQ(zt::angle::fromRadians(kPi / 2).degree(), 90.0);
    EXPECT_EQ(zt::angle::fromRadians(kPi / 4).degree(), 45.0);
    EXPECT_EQ(zt::angle::fromRadians(1.25).radians(), 1.25);
    EXPECT_EQ(zt::angle::fromDegree(-90).radians(), -kPi / 2);
    EXPECT_EQ(zt::angle().radians(), 0.0);
}

// Angles are not normalised: tests/scripts/math/trig.ztscr.

// The values of colours as scripts see them: tests/scripts/math/color.ztscr.
TEST(MathColor, ValueIsBlueGreenRed) {
    zt::rgbColor c;
    EXPECT_EQ(c.colorValue(), 0u);
    c.setRGB(0x12, 0x34, 0x56);
    EXPECT_EQ(c.colorValue(), 0x563412u);
    EXPECT_EQ(c.red(), 0x12);
    EXPECT_EQ(c.green(), 0x34);
    EXPECT_EQ(c.blue(), 0x56);

    // The top byte of a value is ignored.
    c = zt::rgbColor();
    c.setColorValue(0xAB563412u);
    EXPECT_EQ(c, zt::rgbColor(0x12, 0x34, 0x56));
    EXPECT_EQ(c.colorValue(), 0x563412u);
}

// Bitwise reference CRC-32 (reflected, polynomial 0xEDB88320) to check the zlib-based one.
std::uint32_t referenceCrc(const std::vector<unsigned char>& bytes) {
    std::uint32_t r = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
        r ^= b;
        for (int i = 0; i < 8; ++i) r = (r >> 1) ^ (0xEDB88320u & (0u - (r & 1u)));
    }
    return ~r;
}

std::vector<unsigned char> utf16leWithNul(const std::u16string& s) {
    std::vector<unsigned char> out;
    for (char16_t c : s) {
        out.push_back(static_cast<unsigned char>(c & 0xFF));
        out.push_back(static_cast<unsigned char>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

TEST(MathCrc32, StandardCheckValue) {
    zt::calcCrc32 crc;
    EXPECT_EQ(crc.value(), 0xFFFFFFFFu);
    EXPECT_EQ(crc.result(), 0u);
    crc.crc("123456789", 9);
    EXPECT_EQ(crc.result(), 0xCBF43926u);
    EXPECT_EQ(crc.value(), ~0xCBF43926u);
    crc.reset();
    EXPECT_EQ(crc.result(), 0u);
}

TEST(MathCrc32, PiecesGiveTheSameAsAWhole) {
    const char* text = "The quick brown fox jumps over the lazy dog";
    zt::calcCrc32 whole, pieces;
    whole.crc(text, 43);
    pieces.crc(text, 10);
    zt::calcCrc32 copy = pieces; // copies run on independently
    pieces.crc(text + 10, 0);
    pieces.crc(text + 10, 33);
    EXPECT_EQ(whole.result(), 0x414FA339u);
    EXPECT_EQ(pieces.result(), whole.result());
    EXPECT_NE(copy.result(), whole.result());
    copy.crc(text + 10, 33);
    EXPECT_EQ(copy, whole);
}

TEST(MathCrc32, TextIsUtf16LowByteFirstWithOneNul) {
    const std::u16string samples[] = {u"", u"abc", u"123456789", u"\u00e4\u20ac\U0001F600", std::u16string(700, u'\u0142')};
    for (const std::u16string& s : samples) {
        zt::calcCrc32 crc;
        crc.crcText(zt::string(s));
        EXPECT_EQ(crc.result(), referenceCrc(utf16leWithNul(s))) << zt::string(s).toUtf8();
    }
    // (The values of texts as scripts see them: tests/scripts/math/crc.ztscr.)
}

TEST(MathCrc32, TextEndsAtFirstNul) {
    zt::calcCrc32 full, cut;
    full.crcText(zt::string(std::u16string(u"ab\0cd", 5)));
    cut.crcText(u"ab");
    EXPECT_EQ(full, cut);
}

} // namespace
