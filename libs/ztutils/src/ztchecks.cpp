#include "ztchecks.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace zt {

void calcCrc32::crc(const void* data, std::size_t length) {
    // zlib's crc32() takes and returns the complemented register (the finished checksum), so
    // the register goes in and comes back complemented.
    uLong running = ~mRegister & 0xFFFFFFFFu;
    const Bytef* p = static_cast<const Bytef*>(data);
    while (length > 0) {
        const uInt chunk = static_cast<uInt>(std::min<std::size_t>(length, std::numeric_limits<uInt>::max()));
        running = ::crc32(running, p, chunk);
        p += chunk;
        length -= chunk;
    }
    mRegister = ~static_cast<std::uint32_t>(running);
}

void calcCrc32::crcText(const zt::string& text) {
    // Up to the first NUL, then one NUL: the terminated text as it lies in memory.
    std::size_t units = text.find(u'\0');
    if (units == zt::string::npos) units = text.size();
    unsigned char buffer[512];
    std::size_t filled = 0;
    for (std::size_t i = 0; i <= units; ++i) {
        const char16_t c = i < units ? text[i] : u'\0';
        buffer[filled++] = static_cast<unsigned char>(c & 0xFFu);
        buffer[filled++] = static_cast<unsigned char>((c >> 8) & 0xFFu);
        if (filled == sizeof buffer) {
            crc(buffer, filled);
            filled = 0;
        }
    }
    if (filled) crc(buffer, filled);
}

} // namespace zt
