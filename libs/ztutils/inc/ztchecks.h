// Checksums.
#pragma once

#include "ztexport.h"
#include "ztstring.h"

#include <cstddef>
#include <cstdint>

namespace zt {

// CRC-32 as zip, PNG and zlib use it: reflected, polynomial 0xEDB88320, register starting at
// 0xFFFFFFFF, final value the register's complement. The checksum of the nine bytes "123456789"
// is 0xCBF43926.
//
// The object is the running register: feed bytes with crc() as often as needed, read the
// checksum with result(). Copies are independent.
class ZTUTILS_API calcCrc32 {
public:
    calcCrc32() = default;

    // Feeds length bytes from data into the register.
    void crc(const void* data, std::size_t length);
    // Feeds the text's UTF-16 code units up to its first NUL, and one NUL code unit after them,
    // each as two bytes, low byte first. "ab" feeds the six bytes 61 00 62 00 00 00.
    void crcText(const zt::string& text);

    // The register as it stands (0xFFFFFFFF before any byte).
    std::uint32_t value() const { return mRegister; }
    // The checksum of the bytes fed so far: the register's complement (0 before any byte).
    std::uint32_t result() const { return ~mRegister; }
    void reset() { mRegister = 0xFFFFFFFFu; }

    bool operator==(const calcCrc32&) const = default;

private:
    std::uint32_t mRegister = 0xFFFFFFFFu;
};

} // namespace zt
