#include "vorbis/VelmarVerify.h"

#include "vorbis/VelmarVorbis.h"

#include "TestSupport.h"
#include "VelmarOggVorbisTestFiles.h"

#include <gtest/gtest.h>

using namespace velmar;
using namespace testing_support;
using oggvorbis_test::Bytes;

TEST(VelmarVerify, AcceptsOnlyTheWholeStreamOfWhatWasFed)
{
    LoadCodecLibraries();
    oggvorbis_test::SineFile sine;
    sine.rate = 44100;
    sine.channels = 2;
    sine.seconds = 4.0;
    const Bytes stereo = oggvorbis_test::EncodeSine(sine);
    const int64_t n = 4 * 44100;
    const auto pages = oggvorbis_test::ListPages(stereo);
    ASSERT_GE(pages.size(), 5u); // two of headers, audio on the rest
    Bytes holed = stereo; // a page in the middle fails its checksum
    holed[pages[pages.size() / 2].End() - 10] ^= 0x55;
    // Long enough to be decoded in two halves side by side.
    sine.seconds = 20.0;
    const Bytes longer = oggvorbis_test::EncodeSine(sine);
    const auto longPages = oggvorbis_test::ListPages(longer);
    Bytes lateHole = longer; // a page of the second half fails its checksum
    lateHole[longPages[longPages.size() * 3 / 4].End() - 10] ^= 0x55;
    Bytes chained = stereo;
    chained.insert(chained.end(), stereo.begin(), stereo.end());

    struct Case {
        const char* name;
        Bytes file;
        int channels;
        int64_t frames;
        const char* fault; // part of the reason; nullptr: accepted
    };
    const Case cases[] = {
        {"whole", stereo, 2, n, nullptr},
        {"stereo counted as mono", stereo, 1, n, "ha 2 canali invece di 1"},
        {"a frame more than it holds", stereo, 2, n + 1, "campioni per canale invece di 176401"},
        {"cut short", Bytes(stereo.begin(), stereo.begin() + long(pages[pages.size() / 2].End())), 2, n,
         "campioni per canale invece di 176400"},
        {"a damaged page", holed, 2, n, "campioni per canale invece di 176400"},
        {"a stream after the end", chained, 2, 2 * n, "dati danneggiati dopo 176400 campioni"},
        {"not Ogg", Bytes(5000, 'x'), 2, n, "non è un file Ogg Vorbis leggibile"},
        {"long, whole", longer, 2, 5 * n, nullptr},
        {"long, a frame more than it holds", longer, 2, 5 * n + 1, "invece di 882001"},
        {"long, a damaged page in its second half", lateHole, 2, 5 * n, "dati danneggiati dopo"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TempDir dir;
        const std::string path = dir.File("x.ogg");
        WriteBytes(path, k.file);
        try {
            VerificaOgg(path, k.channels, k.frames);
            EXPECT_EQ(k.fault, nullptr) << "accepted";
        } catch (const VelmarException& e) {
            ASSERT_NE(k.fault, nullptr) << e.what();
            EXPECT_EQ(e.Motivo(), TMotivo::VerificaFallita);
            EXPECT_EQ(e.File(), path);
            EXPECT_NE(std::string(e.what()).find(k.fault), std::string::npos) << e.what();
        }
    }
    try {
        VerificaOgg("/nonexistent/x.ogg", 2, 1);
        ADD_FAILURE() << "accepted";
    } catch (const EStreamError& e) {
        EXPECT_EQ(e.Motivo(), TMotivo::FileInesistente);
    }

    // A libvorbisfile without the decoding entry points only disables the check.
    VorbisFile::SetLibraryFile("libvorbis.so.0");
    LoadCodecLibraries();
    EXPECT_FALSE(VerificaDisponibile());
    try {
        VerificaOgg("/nonexistent/x.ogg", 2, 1);
        ADD_FAILURE() << "accepted";
    } catch (const VelmarException& e) {
        EXPECT_EQ(e.Motivo(), TMotivo::LibreriaMancante);
    }
    VorbisFile::SetLibraryFile("libvorbisfile.so.3");
    LoadCodecLibraries();
    EXPECT_TRUE(VerificaDisponibile());
}
