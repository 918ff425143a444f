#include "engine/OutputNames.h"

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
