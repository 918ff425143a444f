// Helpers shared by the tests: temporary folders, WAVE files built in
// memory, and an independent look at Ogg Vorbis files through libvorbisfile.
#pragma once

#include "pipeline/VelmarClasses.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under /tmp, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return FPath; }
    std::string File(const std::string& Name) const { return FPath + "/" + Name; }

private:
    std::string FPath;
};

void WriteBytes(const std::string& Path, const std::vector<uint8_t>& Bytes);
std::vector<uint8_t> ReadBytes(const std::string& Path);
bool FileExists(const std::string& Path);

// Little-endian appenders for building RIFF data.
void PutU16(std::vector<uint8_t>& B, uint16_t V);
void PutU32(std::vector<uint8_t>& B, uint32_t V);
void PutTag(std::vector<uint8_t>& B, const char* Tag);
void PutChunk(std::vector<uint8_t>& B, const char* Tag, const std::vector<uint8_t>& Body, bool Pad = true);

// Interleaved 16-bit samples: a sine of Freq[c] Hz on channel c, at Amp of full scale.
std::vector<int16_t> Sine(int Frames, int Rate, const std::vector<double>& Freq, double Amp = 0.5);
std::vector<uint8_t> Samples16ToBytes(const std::vector<int16_t>& S);
// Native 32-bit floats, as an input of TSampleFormat::Float32 hands them out.
std::vector<uint8_t> FloatsToBytes(const std::vector<float>& S);
std::vector<float> BytesToFloats(const std::vector<uint8_t>& B);

// An input handing out Data (interleaved samples in Format) in pieces of at
// most Piece bytes. Size is Declared when that is -1 or more, else Data's
// size; an estimate when Exact is false.
class MemoryInput : public velmar::TVelmarInput {
public:
    MemoryInput(velmar::TComponent* Owner, std::vector<uint8_t> Data, int Channels, int Rate,
                velmar::TSampleFormat Format = velmar::TSampleFormat::Int16, int Piece = 32768);
    int GetBitsPerSample() override { return Format == velmar::TSampleFormat::Float32 ? 32 : 16; }
    int GetChannels() override { return Channels; }
    int GetSampleRate() override { return Rate; }
    velmar::TSampleFormat GetSampleFormat() override { return Format; }
    int ReadData(void* Buffer, int BufferSize) override;
    void BeginRead() override;
    void EndRead() override { FBusy = false; }

    std::vector<uint8_t> Data;
    int Channels, Rate;
    velmar::TSampleFormat Format;
    int Piece;
    int64_t Declared = -2;
    bool Exact = true;
    int Calls = 0;
};

// A file of Format (libsndfile's SF_FORMAT_*) holding the samples, as
// libsndfile writes it; floats are scaled to -1..1 as real files hold them.
// Empty when libsndfile cannot write that format.
std::vector<uint8_t> SndfileBytes(int Format, const std::vector<int16_t>& Samples, int Channels, int Rate);
// The same from samples at full 32-bit scale, of which a format keeps its
// width (24 bits: the top three bytes).
std::vector<uint8_t> SndfileBytes(int Format, const std::vector<int32_t>& Samples, int Channels, int Rate);

// MPEG layer 3 (libsndfile's writer: variable bit rate, a first frame that
// tells the length) wrapped as WAVE format 0x55, with a fact chunk when
// FactFrames >= 0. LengthTag false drops that first frame, as writers that
// cannot seek back (ffmpeg into WAV) leave it out. Empty when libsndfile
// cannot write MPEG.
std::vector<uint8_t> Mp3WaveBytes(const std::vector<int16_t>& Samples, int Channels, int Rate, bool LengthTag = true,
                                  int64_t FactFrames = -1);

// A canonical 44-byte-header PCM WAVE image.
std::vector<uint8_t> MakeWav16(const std::vector<int16_t>& Samples, int Channels, int Rate);

struct DecodedOgg {
    bool ok = false;
    int channels = 0;
    long rate = 0;
    int64_t pcmTotal = -1;            // ov_pcm_total
    std::vector<std::vector<float>> pcm; // per channel
    std::vector<std::string> comments;   // user comments, NAME=value
    std::string vendor;
};
DecodedOgg DecodeOgg(const std::string& Path);
// Comments without the REPLAYGAIN_ ones, whose values depend on the signal.
std::vector<std::string> WithoutReplayGain(std::vector<std::string> Comments);

struct OggPages {
    bool ok = false;              // every page's checksum and number verify and the stream is complete
    int pages = 0;
    bool lastIsEos = false;
    int64_t lastGranule = -1;
    std::vector<uint32_t> serials;
};
OggPages ScanOggPages(const std::string& Path);

// Level (RMS) of a frequency component in a signal, relative to full scale 1.0, in dB.
double ToneLevelDb(const std::vector<float>& Signal, double Rate, double Freq);

} // namespace testing_support
