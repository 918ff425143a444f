#include "engine/OutputNames.h"

#include "platform/Classes.h"

#include <gtest/gtest.h>

using namespace velmar;

TEST(OutputNames, ReplaceTheExtensionAndNeverMeet)
{
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"/a/b/Brano.wav", "/o/Brano.ogg"}, {"Brano.WAV", "/o/Brano.ogg"}, {"Brano.wave", "/o/Brano.ogg"},
        {"Brano", "/o/Brano.ogg"},          {"/x.y/Brano", "/o/Brano.ogg"}, {"a.b.wav", "/o/a.b.ogg"},
    };
    for (const Case& k : cases)
        EXPECT_EQ(OutputNameFor(k.in, "/o"), k.out) << k.in;

    TOutputNames names;
    std::string renamed;
    EXPECT_EQ(names.Claim("/a/x.wav", "/o", &renamed), "/o/x.ogg");
    EXPECT_EQ(renamed, "");
    EXPECT_EQ(names.Claim("/b/x.wav", "/o", &renamed), "/o/x (2).ogg");
    EXPECT_EQ(renamed, "/o/x.ogg");
    EXPECT_EQ(names.Claim("/c/x.WAV", "/o"), "/o/x (3).ogg");
    EXPECT_EQ(names.Claim("/c/x.wav", "/p"), "/p/x.ogg");
}

// A pattern builds folders of its own; a tag never does, nor a hidden file,
// nor a name a file system refuses; a missing tag has a stand-in.
TEST(OutputNames, PatternsFromTagsMissingAndHostile)
{
    const TStringList full = {"ARTIST=Artista", "ALBUM=Album", "TRACKNUMBER=4/12", "TITLE=Brano", "DATE=2024",
                              "GENRE=Jazz"};
    struct Row {
        std::string pattern;
        TStringList tags;
        std::string name;
    };
    const std::string longTitle(300, 't');
    const Row rows[] = {
        {"%a/%l/%n %t", full, "Artista/Album/04 Brano.ogg"},
        {"%d - %g - %f - 100%%.ogg", full, "2024 - Jazz - 01 orig - 100%.ogg"},
        {"%a/%l/%n %t", {}, "Artista sconosciuto/Album sconosciuto/senza numero 01 orig.ogg"},
        {"%a/%t", {"ARTIST=AC/DC", "TITLE=../../etc"}, "AC_DC/_._.._etc.ogg"},
        {"%a/%t", {"ARTIST=..", "TITLE=a:b*c?\"<>|\\\x01"}, "_./a_b_c_______.ogg"},
        {"%a/%t", {"ARTIST=  ", "TITLE=.nascosto"}, "Artista sconosciuto/_nascosto.ogg"},
        {"%n", {"TRACKNUMBER=300"}, "300.ogg"},
        {"%n", {"TRACKNUMBER=A1"}, "A1.ogg"},
        {"/%t/", {"title=minuscolo"}, "minuscolo/01 orig.ogg"},
        {"%t %x", {}, "01 orig %x.ogg"},
        {"%t", {"TITLE=" + longTitle}, std::string(235, 't') + ".ogg"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(NameFromPattern(r.pattern, r.tags, "/in/01 orig.wav"), r.name) << r.pattern;
    // A name a pattern gave twice in one batch still becomes "(2)".
    TOutputNames names;
    EXPECT_EQ(names.Claim("/a/x.wav", "/o", nullptr, "A/B.ogg"), "/o/A/B.ogg");
    EXPECT_EQ(names.Claim("/b/y.wav", "/o", nullptr, "A/B.ogg"), "/o/A/B (2).ogg");
}
