// Ogg pages as bytes: the checksum and the fixed places of a page header,
// for the code that reads or rewrites pages itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmar {

constexpr int OggPageHeaderSize = 27; // up to the segment count, inclusive
constexpr int OggHeaderTypeAt = 5;
constexpr int OggGranuleAt = 6;
constexpr int OggSerialAt = 14;
constexpr int OggSequenceAt = 18;
constexpr int OggChecksumAt = 22;
constexpr int OggSegmentCountAt = 26;

// The page checksum (CRC-32, polynomial 0x04C11DB7, not reflected, no
// inversion) of Count more bytes after Checksum; a page's is taken with its
// own checksum field zeroed, starting from 0.
uint32_t OggChecksumUpdate(uint32_t Checksum, const uint8_t* Bytes, size_t Count);

} // namespace velmar
