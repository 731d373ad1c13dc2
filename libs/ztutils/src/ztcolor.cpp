#include "ztcolor.h"

namespace zt {

void rgbColor::setRGB(unsigned char red, unsigned char green, unsigned char blue) {
    mRed = red;
    mGreen = green;
    mBlue = blue;
}

void rgbColor::setColorValue(std::uint32_t value) {
    mRed = static_cast<unsigned char>(value & 0xFFu);
    mGreen = static_cast<unsigned char>((value >> 8) & 0xFFu);
    mBlue = static_cast<unsigned char>((value >> 16) & 0xFFu);
}

std::uint32_t rgbColor::colorValue() const {
    return static_cast<std::uint32_t>(mRed) | (static_cast<std::uint32_t>(mGreen) << 8) |
           (static_cast<std::uint32_t>(mBlue) << 16);
}

} // namespace zt
