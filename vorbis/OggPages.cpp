#include "vorbis/OggPages.h"

#include <array>

namespace velmar {

namespace {

constexpr std::array<uint32_t, 256> MakeChecksumTable()
{
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i << 24;
        for (int b = 0; b < 8; ++b)
            r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : (r << 1);
        t[i] = r;
    }
    return t;
}
constexpr std::array<uint32_t, 256> OggChecksumTable = MakeChecksumTable();

} // namespace

uint32_t OggChecksumUpdate(uint32_t Checksum, const uint8_t* Bytes, size_t Count)
{
    for (size_t i = 0; i < Count; ++i)
        Checksum = (Checksum << 8) ^ OggChecksumTable[((Checksum >> 24) ^ Bytes[i]) & 0xFF];
    return Checksum;
}

} // namespace velmar
