// The tags a WAVE or AIFF file carries, from the bytes of the chunks that
// hold them: LIST chunks of type INFO, "id3 "/"ID3 " chunks holding an
// ID3v2.3 or v2.4 tag, the Broadcast WAVE "bext" chunk, and AIFF's text
// chunks NAME, AUTH, "(c) " and ANNO.
//
// Pure functions over untrusted bytes: nothing is read outside the bytes
// given, nothing throws but std::bad_alloc, and a malformed part (a size
// past the end, a compressed or encrypted ID3 frame) is skipped, keeping
// what was read before it. Every value handed out is valid UTF-8: text that
// is not valid UTF-8 is taken as Windows-1252. Values are cut at their first
// NUL and trimmed of blanks; empty values count as absent.
#pragma once

#include "platform/Classes.h"
#include "sources/Pictures.h"

#include <array>
#include <cstdint>
#include <string>
#include <map>
#include <string_view>
#include <vector>

namespace velmar {

// The keys carried over, in the order their lines are written.
enum class TTag { Title, Artist, Album, TrackNumber, Date, Genre };
constexpr size_t TagCount = 6;
using TTagValues = std::array<std::string, TagCount>; // empty: absent

// Body of a LIST chunk (its type first); nothing unless the type is INFO.
TTagValues TagsFromInfo(const uint8_t* Body, size_t Size, bool BigEndian = false);
// Body of an id3 chunk: an ID3v2.3 or v2.4 tag from its "ID3" header on.
// A v2.4 frame size that is plain where it should be syncsafe is taken as
// plain when only that reading ends the frame where another begins (or at
// the padding or the tag's end).
TTagValues TagsFromId3(const uint8_t* Body, size_t Size);
// The attached pictures (APIC frames) of an ID3v2.3 or v2.4 tag, in order.
std::vector<TPicture> PicturesFromId3(const uint8_t* Body, size_t Size);
// Body of a bext chunk: Description as the title, OriginationDate as the date.
TTagValues TagsFromBext(const uint8_t* Body, size_t Size);

// Gathers the tags of a file chunk by chunk and gives every key from the
// first source that has it: ID3 chunks, then INFO, then bext, then AIFF's
// NAME (the title) and AUTH (the artist).
class TWaveTagReader {
public:
    explicit TWaveTagReader(bool BigEndian = false) : FBigEndian(BigEndian) {}
    // A chunk's identifier ("LIST", "id3 ", "ID3 ", "bext", "cue ", "NAME",
    // "AUTH", "(c) ", "ANNO"; others are ignored) and body.
    void Add(std::string_view Id, const uint8_t* Body, size_t Size);
    // "NAME=value" lines in the order of TTag: TITLE, ARTIST, ALBUM,
    // TRACKNUMBER, DATE, GENRE; then COPYRIGHT from the first "(c) " chunk
    // and one COMMENT for each ANNO chunk.
    TStringList Lines() const;
    // The ID3 chunks' pictures, in file order.
    const std::vector<TPicture>& Pictures() const { return FPictures; }
    // The cue points (their sample offsets in the data), named by the labl
    // entries of LIST/adtl chunks where they have one, in file order.
    std::vector<TCuePoint> Cues() const;

private:
    bool FBigEndian;
    TTagValues FId3, FInfo, FBext, FAiff;
    std::string FCopyright;
    TStringList FNotes;
    std::vector<TPicture> FPictures;
    std::vector<std::pair<uint32_t, int64_t>> FCues; // identifier, frame
    std::map<uint32_t, std::string> FLabels;
};

// Raw text as UTF-8: kept when it is valid UTF-8, else read as Windows-1252.
// Cut at the first NUL and trimmed.
std::string TagText(std::string_view Raw);

} // namespace velmar
