#include "vorbis/VorbisComments.h"

#include "TestSupport.h"
#include "VelmarOggVorbisTestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace velmar;
using namespace testing_support;

// The header grows over several pages and shrinks back: the audio and the
// pages after it stay whole, renumbered, and nothing but the comments changes.
TEST(VorbisComments, ReplacedVerbatimWhateverTheHeaderTakes)
{
    TempDir dir;
    const std::string out = dir.File("out.ogg");
    oggvorbis_test::SineFile sine;
    sine.seconds = 3;
    sine.channels = 2;
    sine.comments = {"TITLE=uno", "COMMENT=via"};
    WriteBytes(out, oggvorbis_test::EncodeSine(sine));
    const DecodedOgg before = DecodeOgg(out);
    const int pagesBefore = ScanOggPages(out).pages;
    const std::vector<std::vector<std::string>> rounds = {
        {"TITLE=uno", "TITLE=due", "DESCRIPTION=" + std::string(200000, 'd')}, // over many pages
        {"TITLE=uno"},
        {},
    };
    for (const auto& comments : rounds) {
        SCOPED_TRACE(comments.size());
        ASSERT_TRUE(ReplaceVorbisComments(out, comments));
        const DecodedOgg d = DecodeOgg(out);
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.comments, comments);
        EXPECT_EQ(d.vendor, before.vendor);
        EXPECT_EQ(d.pcm, before.pcm);
        const OggPages pages = ScanOggPages(out);
        EXPECT_TRUE(pages.ok && pages.lastIsEos);
        if (comments.size() < 3) {
            EXPECT_EQ(pages.pages, pagesBefore);
        }
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1); // no temporary left
    }
    // What is not a Vorbis stream is left as it was.
    WriteBytes(dir.File("x.ogg"), {'O', 'g', 'g', 'S', 0, 2});
    EXPECT_FALSE(ReplaceVorbisComments(dir.File("x.ogg"), {}));
    EXPECT_EQ(ReadBytes(dir.File("x.ogg")), (std::vector<uint8_t>{'O', 'g', 'g', 'S', 0, 2}));
}
