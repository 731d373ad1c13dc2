// Colours as red, green and blue components of 8 bits each.
#pragma once

#include "ztexport.h"

#include <cstdint>

namespace zt {

// The colour value packs the components as 0x00BBGGRR: red in the lowest byte, then green, then
// blue; the top byte is 0. Red (255, 0, 0) is 255, green 65280, blue 16711680, white 16777215.
class ZTUTILS_API rgbColor {
public:
    rgbColor() = default;
    rgbColor(unsigned char red, unsigned char green, unsigned char blue) { setRGB(red, green, blue); }

    void setRGB(unsigned char red, unsigned char green, unsigned char blue);
    // Takes the components from a colour value; the top byte is ignored.
    void setColorValue(std::uint32_t value);

    unsigned char red() const { return mRed; }
    unsigned char green() const { return mGreen; }
    unsigned char blue() const { return mBlue; }
    std::uint32_t colorValue() const;

    bool operator==(const rgbColor&) const = default;

private:
    unsigned char mRed = 0;
    unsigned char mGreen = 0;
    unsigned char mBlue = 0;
};

} // namespace zt
