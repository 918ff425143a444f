// Arbitrary bytes as a WAVE file through the reader: its description, then a
// whole read cycle. Stops (abort) when the description's tags are not the
// six names with valid, trimmed UTF-8 values in order, when a description
// taken disagrees with what BeginRead finds, when a read cycle hands out
// another size than the one described, or when at its end the input's Size
// is not exactly what it handed out. Coded data found corrupt on the way is
// the documented DatiDanneggiati, not a finding. The same bytes go through
// the header walks of the other sources (kind, AIFF chunks and their tags,
// FLAC metadata), which must stay inside the stream.
#include "sources/AiffChunks.h"
#include "sources/FlacMetadata.h"
#include "sources/VelmarWave.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool ValidUtf8(const std::string& S)
{
    for (size_t i = 0; i < S.size();) {
        const auto c = static_cast<uint8_t>(S[i]);
        const size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        if (len == 0 || (len == 2 && c < 0xC2) || i + len > S.size())
            return false;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<uint8_t>(S[i + k]) & 0xC0) != 0x80)
                return false;
        i += len;
    }
    return true;
}

void CheckTags(const velmar::TStringList& Tags)
{
    static const std::string names[] = {"TITLE=", "ARTIST=", "ALBUM=", "TRACKNUMBER=", "DATE=", "GENRE="};
    size_t next = 0;
    for (const std::string& line : Tags) {
        while (next < 6 && line.rfind(names[next], 0) != 0)
            ++next;
        if (next == 6)
            std::abort(); // an unknown name, or out of order
        const std::string value = line.substr(names[next++].size());
        if (value.empty() || !ValidUtf8(value) || value.find('\0') != std::string::npos || value.front() == ' ' ||
            value.back() == ' ')
            std::abort();
    }
}

// The walks of the other sources' headers: any bytes, no throw but the
// stream's, every chunk they keep inside it.
void OtherHeaders(velmar::TMemoryStream& S)
{
    velmar::SourceKindOf(S);
    const velmar::TAiffChunks a = velmar::WalkAiffChunks(S);
    for (const velmar::TChunkRef& r : a.Tags)
        if (r.Pos < 0 || r.Size < 0 || r.Pos + r.Size > S.Size())
            std::abort();
    if (a.SoundEnd > S.Size())
        std::abort();
    for (const std::string& line : velmar::ReadTagChunks(S, a.Tags, true).Lines())
        if (!ValidUtf8(line))
            std::abort();
    const velmar::TFlacMetadata f = velmar::ReadFlacMetadata(S);
    for (const std::string& c : f.Comments)
        if (c.empty() || c.size() > size_t(S.Size()))
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    velmar::TMemoryStream stream;
    stream.Write(Data, static_cast<int64_t>(Size));
    OtherHeaders(stream);
    velmar::TVelmarWaveIn wave;
    wave.SetStream(&stream);
    velmar::TWaveDescription looked;
    bool described = false;
    try {
        looked = wave.Description();
        described = true;
        CheckTags(looked.Tags);
    } catch (const velmar::Exception&) {
    }
    try {
        wave.BeginRead();
    } catch (const velmar::Exception&) {
        return 0; // a coded file whose data does not decode may still have been described
    }
    if (!described)
        std::abort(); // BeginRead took what the description refused
    const velmar::TWaveDescription d = wave.Description();
    if (d.Channels != looked.Channels || d.Format != looked.Format || d.Size != looked.Size ||
        d.Tags != looked.Tags || d.Warnings != looked.Warnings || wave.GetChannels() != d.Channels)
        std::abort();
    int64_t total = 0;
    bool ended = false;
    uint8_t buf[65536];
    try {
        // Each call moves at most one block, so this bounds the run.
        for (int i = 0; i < 4096 && !ended; ++i) {
            const int n = wave.ReadData(buf, sizeof buf);
            total += n;
            ended = n == 0;
        }
    } catch (const velmar::VelmarException& e) {
        if (e.Motivo() != velmar::TMotivo::DatiDanneggiati)
            std::abort();
        wave.CancelRead();
        return 0;
    }
    if (ended && ((d.Size >= 0 && total != d.Size) || !wave.SizeExact() || wave.Size() != total))
        std::abort();
    wave.EndRead();
    return 0;
}
