// The bit-rate choice of a Vorbis encoding, apart from the encoder so that
// settings can carry it without the codec's headers.
#pragma once

namespace velmar {

// How the bit rate is chosen, as oggenc's options choose it (kbit/s; -1:
// not given). With none of Nominal, Minimum and Maximum the quality
// (Compression) alone decides, variable; Nominal aims at an average; with
// Managed the bit-rate manager holds the stream to Minimum and Maximum (to
// the average too when Nominal is given). Quality and limits together: the
// quality, held within the limits.
struct TVorbisMode {
    bool Quality = false; // a quality was asked for (it wins over Nominal)
    int Nominal = -1;
    int Minimum = -1;
    int Maximum = -1;
    bool Managed = false;
    bool QualitySet() const { return Quality || (Nominal < 0 && Minimum < 0 && Maximum < 0); }
    bool operator==(const TVorbisMode&) const = default;
};

} // namespace velmar
