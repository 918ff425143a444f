// Ogg Vorbis test files for the file-information tests: real streams encoded
// with libvorbisenc, and small hand-made page sequences for exact values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace oggvorbis_test {

using Bytes = std::vector<uint8_t>;

struct SineFile {
    int rate = 8000;
    int channels = 1;
    double seconds = 0.25;
    std::vector<std::string> comments;  // NAME=value, in this order
    std::optional<Bytes> commentPacket; // replaces the encoder's comment header
    Bytes prefix;                       // put in front of the stream (an ID3v2 tag)
};

// A sine encoded by libvorbisenc at quality 0, pages as libogg cuts them.
Bytes EncodeSine(const SineFile& Opt);

// A comment header packet; Count defaults to the number of entries.
Bytes CommentPacket(const std::string& Vendor, const std::vector<std::string>& Entries,
                    std::optional<uint32_t> Count = std::nullopt, bool Framing = true);

// A 30-byte identification header.
Bytes IdentPacket(uint32_t Rate, uint8_t Channels, int32_t Nominal);

// An ID3v2.3 tag with a body of zeros; total size 10 + Body (+ 10 with a footer).
Bytes Id3v2Tag(size_t Body, bool Footer);

struct RawPacket {
    Bytes bytes;
    int64_t granule = 0;
    bool eos = false;
};
// Each packet on a page of its own (the first page gets the first packet).
Bytes BuildPages(const std::vector<RawPacket>& Packets);

// One page holding Packets, each ending on it; its checksum set by libogg.
Bytes RawPage(uint8_t HeaderType, int64_t Granule, uint32_t Serial, uint32_t Sequence,
              const std::vector<Bytes>& Packets);

struct PageAt {
    size_t offset = 0;
    size_t headerSize = 0; // 27 + segment count
    size_t bodySize = 0;
    std::vector<uint8_t> lacing;
    size_t End() const { return offset + headerSize + bodySize; }
};
// The pages found one after another from From; stops at anything else.
std::vector<PageAt> ListPages(const Bytes& File, size_t From = 0);

} // namespace oggvorbis_test
