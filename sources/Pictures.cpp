#include "sources/Pictures.h"

#include <cstring>

namespace velmar {

namespace {

uint32_t Be16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
uint32_t Be32(const uint8_t* p) { return Be16(p) << 16 | Be16(p + 2); }

} // namespace

std::string PictureMimeOf(const std::vector<uint8_t>& Data)
{
    static const uint8_t png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (Data.size() >= 8 && std::memcmp(Data.data(), png, 8) == 0)
        return "image/png";
    if (Data.size() >= 3 && Data[0] == 0xFF && Data[1] == 0xD8 && Data[2] == 0xFF)
        return "image/jpeg";
    return {};
}

TPictureSize PictureSizeOf(const std::vector<uint8_t>& Data)
{
    TPictureSize s;
    const std::string mime = PictureMimeOf(Data);
    const uint8_t* d = Data.data();
    if (mime == "image/png") {
        // IHDR first: width, height, bit depth, colour type.
        if (Data.size() >= 26 && std::memcmp(d + 12, "IHDR", 4) == 0) {
            s.Width = Be32(d + 16);
            s.Height = Be32(d + 20);
            const uint32_t channels[] = {1, 0, 3, 1, 2, 0, 4};
            const uint8_t type = d[25];
            s.Depth = type < 7 ? d[24] * channels[type] : 0;
            if (type == 3)
                s.Depth = d[24]; // palette: the index's bits
        }
        return s;
    }
    if (mime == "image/jpeg") {
        // Segment by segment to a start of frame: precision, height, width, components.
        size_t at = 2;
        while (at + 4 <= Data.size()) {
            if (d[at] != 0xFF) {
                ++at;
                continue;
            }
            const uint8_t marker = d[at + 1];
            if (marker == 0xFF) {
                ++at;
                continue;
            }
            if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
                at += 2;
                continue;
            }
            const uint32_t length = Be16(d + at + 2);
            const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
            if (frame && at + 10 <= Data.size()) {
                s.Height = Be16(d + at + 5);
                s.Width = Be16(d + at + 7);
                s.Depth = uint32_t(d[at + 4]) * d[at + 9];
                return s;
            }
            if (length < 2)
                break;
            at += 2 + length;
        }
    }
    return s;
}

} // namespace velmar
