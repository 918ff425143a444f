#include "engine/Extras.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

using namespace velmar;
using namespace testing_support;

namespace {

std::vector<uint8_t> FromBase64(const std::string& S)
{
    std::vector<uint8_t> out;
    uint32_t v = 0;
    int bits = 0;
    for (char c : S) {
        const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const char* p = std::strchr(a, c);
        if (c == '=' || !p)
            break;
        v = v << 6 | uint32_t(p - a);
        if ((bits += 6) >= 8)
            out.push_back(static_cast<uint8_t>(v >> (bits -= 8)));
    }
    return out;
}

uint32_t Be32(const std::vector<uint8_t>& B, size_t At)
{
    return uint32_t(B.at(At)) << 24 | uint32_t(B.at(At + 1)) << 16 | uint32_t(B.at(At + 2)) << 8 | B.at(At + 3);
}

// A PNG of Width x Height, 8-bit RGB: signature and IHDR are enough here.
std::vector<uint8_t> Png(uint32_t Width, uint32_t Height, size_t Total = 64)
{
    std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    for (uint32_t v : {Width, Height})
        for (int i = 3; i >= 0; --i)
            b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    b.insert(b.end(), {8, 2, 0, 0, 0});
    b.resize(std::max(Total, b.size()), 0xAB);
    return b;
}

} // namespace

// A picture goes into the comment byte for byte, with its type, MIME type,
// description and the size its own header gives.
TEST(Extras, APictureBlockCarriesEveryByte)
{
    const std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 'J', 'F', 0xFF, 0xC0, 0, 11, 8, 0, 90, 1, 44, 3, 1,
                                       0x22, 0, 0xFF, 0xD9};
    struct Row {
        TPicture picture;
        std::string mime;
        uint32_t width, height, depth;
    };
    const Row rows[] = {
        {{3, "image/png", "Copertina", Png(600, 400)}, "image/png", 600, 400, 24},
        {{4, "", "retro \xC3\xA8", jpeg}, "image/jpeg", 300, 90, 24}, // the MIME type from the data
    };
    for (const Row& r : rows) {
        const std::string c = PictureComment(r.picture);
        ASSERT_EQ(c.rfind("METADATA_BLOCK_PICTURE=", 0), 0u);
        const std::vector<uint8_t> b = FromBase64(c.substr(23));
        size_t at = 0;
        EXPECT_EQ(Be32(b, at), r.picture.Type);
        const uint32_t mime = Be32(b, at += 4);
        EXPECT_EQ(std::string(b.begin() + long(at + 4), b.begin() + long(at + 4 + mime)), r.mime);
        const uint32_t desc = Be32(b, at += 4 + mime);
        EXPECT_EQ(std::string(b.begin() + long(at + 4), b.begin() + long(at + 4 + desc)), r.picture.Description);
        at += 4 + desc;
        EXPECT_EQ(Be32(b, at), r.width);
        EXPECT_EQ(Be32(b, at + 4), r.height);
        EXPECT_EQ(Be32(b, at + 8), r.depth);
        EXPECT_EQ(Be32(b, at + 16), r.picture.Data.size());
        EXPECT_EQ(std::vector<uint8_t>(b.begin() + long(at + 20), b.end()), r.picture.Data);
    }
    // What is left out, and why.
    EXPECT_EQ(PictureRefusal({3, "", "", Png(1, 1)}, "\"a\""), "");
    EXPECT_NE(PictureRefusal({3, "", "", Png(1, 1, MaxPictureBytes + 1)}, "\"a\"").find("16 MiB"), std::string::npos);
    EXPECT_NE(PictureRefusal({3, "image/gif", "", {'G', 'I', 'F', '8', '9', 'a'}}, "\"a\"").find("JPEG"),
              std::string::npos);
}

TEST(Extras, ACoverBesideTheSourceByNameInAnyCase)
{
    TempDir dir;
    WriteBytes(dir.File("brano.wav"), {1});
    EXPECT_EQ(CoverBeside(dir.File("brano.wav")), "");
    for (const char* name : {"copertina.jpg", "Front.PNG", "FOLDER.Jpeg", "cover.gif"})
        WriteBytes(dir.File(name), Png(1, 1));
    EXPECT_EQ(CoverBeside(dir.File("brano.wav")), dir.File("FOLDER.Jpeg")); // folder before front
    WriteBytes(dir.File("Cover.JPG"), Png(1, 1));
    EXPECT_EQ(CoverBeside(dir.File("brano.wav")), dir.File("Cover.JPG"));
    TPicture p;
    std::string warning;
    EXPECT_TRUE(ReadCover(dir.File("Cover.JPG"), p, warning));
    EXPECT_EQ(p.Mime, "image/png"); // what the bytes are, not the name
    EXPECT_FALSE(ReadCover(dir.File("manca.jpg"), p, warning));
    EXPECT_NE(warning.find("manca.jpg"), std::string::npos);
}

// Chapters at the output's times: a cue at frame 66150 of 44.1 kHz is at
// 1.5 s; at 22.05 kHz it sits on frame 33075, still 1.5 s.
TEST(Extras, ChaptersInTimeOrderAtTheOutputsTimes)
{
    const std::vector<TCuePoint> cues = {{44100 * 3723 + 4410, "Fine"}, {66150, ""}, {0, "Inizio"}, {200000000, "oltre"}};
    EXPECT_EQ(ChapterComments(cues, 44100, 22050, 44100 * 4000),
              (TStringList{"CHAPTER001=00:00:00.000", "CHAPTER001NAME=Inizio", "CHAPTER002=00:00:01.500",
                           "CHAPTER003=01:02:03.100", "CHAPTER003NAME=Fine"}));
    // 48 kHz to 44.1 kHz: frame 1 (20.8 us) lands on frame 1 of the output (22.7 us): 0 ms.
    EXPECT_EQ(ChapterComments({{48001, "x"}}, 48000, 44100, -1),
              (TStringList{"CHAPTER001=00:00:01.000", "CHAPTER001NAME=x"}));
}
