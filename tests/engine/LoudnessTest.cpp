#include "engine/Loudness.h"

#include "engine/EncodeFile.h"
#include "vorbis/VelmarVorbis.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace velmar;
using namespace testing_support;

namespace {

// The gain a tag says, in dB.
double GainOf(const TStringList& Tags, const std::string& Name)
{
    for (const std::string& t : Tags)
        if (t.rfind(Name + "=", 0) == 0)
            return std::stod(t.substr(Name.size() + 1));
    return NAN;
}

} // namespace

// BS.1770: a 1 kHz sine at 0 dBFS in one channel reads -3.01 LUFS, so in
// both channels at -23 dBFS it reads -23 LUFS, 5 dB under the reference.
TEST(Loudness, GainsOfKnownSignals)
{
    LoadCodecLibraries();
    TempDir dir;
    struct Row {
        const char* name;
        int channels;
        double dbfs;     // each channel's peak
        bool downmix;
        double gain;     // by hand, dB
        double peak;     // linear
    };
    const Row rows[] = {
        {"stereo at -23 dBFS", 2, -23, false, 5.00, 0.070795},
        {"stereo at -13 dBFS", 2, -13, false, -5.00, 0.223872},
        {"mono at -23 dBFS", 1, -23, false, 8.01, 0.070795},   // one channel: 3.01 dB quieter
        {"stereo mixed to mono", 2, -23, true, 8.01, 0.070795}, // the mean of two equal channels
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const double amp = std::pow(10.0, r.dbfs / 20.0);
        std::vector<double> freqs(size_t(r.channels), 1000.0);
        WriteBytes(dir.File("s.wav"), MakeWav16(Sine(48000 * 10, 48000, freqs, amp), r.channels, 48000));
        const auto meter = MeasureSource(dir.File("s.wav"), r.downmix);
        ASSERT_TRUE(meter);
        const TStringList tags = ReplayGainTags("TRACK", meter->Lufs(), meter->Peak());
        EXPECT_NEAR(GainOf(tags, "REPLAYGAIN_TRACK_GAIN"), r.gain, 0.05);
        EXPECT_NEAR(meter->Peak(), r.peak, 2e-4);
        // Measured while it is encoded, the values written over the header's
        // placeholders: a valid stream whose gain is the source's.
        TEncodeSettings settings;
        settings.OutSampleRate = 48000;
        settings.Downmix = r.downmix;
        const TEncodeResult done = EncodeFile(dir.File("s.wav"), dir.File("s.ogg"), settings);
        ASSERT_EQ(done.Outcome, TEncodeOutcome::Done) << done.Reason;
        EXPECT_TRUE(ScanOggPages(dir.File("s.ogg")).ok);
        const DecodedOgg d = DecodeOgg(dir.File("s.ogg"));
        EXPECT_NEAR(GainOf(d.comments, "REPLAYGAIN_TRACK_GAIN"), r.gain, 0.05);
        EXPECT_NEAR(GainOf(d.comments, "REPLAYGAIN_TRACK_PEAK"), r.peak, 2e-4);
    }
    // Silence has no loudness: no gain to apply.
    WriteBytes(dir.File("zero.wav"), MakeWav16(std::vector<int16_t>(48000 * 2, 0), 2, 48000));
    const auto silent = MeasureSource(dir.File("zero.wav"), false);
    ASSERT_TRUE(silent);
    EXPECT_EQ(ReplayGainTags("TRACK", silent->Lufs(), silent->Peak()),
              (TStringList{"REPLAYGAIN_TRACK_GAIN=0.0000 dB", "REPLAYGAIN_TRACK_PEAK=0.000000"}));
    EXPECT_FALSE(MeasureSource(dir.File("missing.wav"), false));
}
