#include "vorbis/VelmarVerify.h"

#include "pipeline/VelmarClasses.h"
#include "vorbis/VorbisFile.h"

#include <algorithm>
#include <cerrno>
#include <thread>

namespace velmar {

namespace VF = velmar::VorbisFile;

namespace {

// libvorbisfile reads through these; no exception may cross into it.
size_t ReadFile(void* Ptr, size_t Size, size_t Count, void* Source)
{
    if (Size == 0)
        return 0;
    try {
        const int64_t got = static_cast<TFileStream*>(Source)->Read(Ptr, static_cast<int64_t>(Size * Count));
        return static_cast<size_t>(got) / Size;
    } catch (const std::exception&) {
        errno = EIO;
        return 0;
    }
}

int SeekFile(void* Source, ogg_int64_t Offset, int Whence)
{
    const TSeekOrigin origin = Whence == SEEK_SET   ? TSeekOrigin::soBeginning
                             : Whence == SEEK_CUR   ? TSeekOrigin::soCurrent
                                                    : TSeekOrigin::soEnd;
    try {
        static_cast<TFileStream*>(Source)->Seek(Offset, origin);
        return 0;
    } catch (const std::exception&) {
        return -1;
    }
}

long TellFile(void* Source)
{
    try {
        return static_cast<long>(static_cast<TFileStream*>(Source)->Position());
    } catch (const std::exception&) {
        return -1;
    }
}

VelmarException Failed(const std::string& Path, const std::string& What)
{
    return VelmarException(TMotivo::VerificaFallita, Path, What);
}


} // namespace

bool VerificaDisponibile()
{
    return VF::VorbisFileLibLoaded && VF::ov_open_callbacks && VF::ov_clear && VF::ov_streams && VF::ov_info &&
           VF::ov_pcm_total && VF::ov_read_float;
}

namespace {

// One opening of the file by libvorbisfile.
struct TReading {
    TFileStream File;
    OggVorbis_File Vf{};
    bool Open = false;

    explicit TReading(const std::string& Path) : File(Path, TFileMode::fmOpenRead)
    {
        const ov_callbacks io{ReadFile, SeekFile, nullptr, TellFile};
        Open = VF::ov_open_callbacks(&File, &Vf, nullptr, 0, io) == 0;
    }
    ~TReading()
    {
        if (Open)
            VF::ov_clear(&Vf);
    }

    // Decodes up to Limit frames (all that follow when Limit < 0); the count.
    // Broken: a packet did not decode (the count is where).
    int64_t Decode(int64_t Limit, bool& Broken)
    {
        int64_t decoded = 0;
        Broken = false;
        while (Limit < 0 || decoded < Limit) {
            float** pcm = nullptr;
            int section = 0;
            const int want = Limit < 0 ? 4096 : static_cast<int>(std::min<int64_t>(4096, Limit - decoded));
            const long n = VF::ov_read_float(&Vf, &pcm, want, &section);
            if (n == 0)
                break;
            if (n < 0) {
                Broken = true;
                break;
            }
            decoded += n;
        }
        return decoded;
    }
};

// Below this many frames one thread decodes all.
constexpr int64_t SplitFrames = 44100 * 10;

} // namespace

void VerificaOgg(const std::string& Path, int Channels, int64_t Frames)
{
    if (!VerificaDisponibile())
        throw VelmarException(TMotivo::LibreriaMancante, {}, "libvorbisfile.so.3");
    TReading first(Path);
    if (!first.Open)
        throw Failed(Path, "non è un file Ogg Vorbis leggibile");
    const long streams = VF::ov_streams(&first.Vf);
    if (streams != 1)
        throw Failed(Path, "contiene " + std::to_string(streams) + " flussi invece di uno");
    const vorbis_info* info = VF::ov_info(&first.Vf, -1);
    if (!info || info->channels != Channels)
        throw Failed(Path, "ha " + std::to_string(info ? info->channels : 0) + " canali invece di " +
                               std::to_string(Channels));
    const int64_t stated = VF::ov_pcm_total(&first.Vf, -1);

    // A long file is decoded in two halves side by side: the second from the
    // middle to the end, the first up to the middle; together, every packet.
    int64_t middle = stated >= SplitFrames && std::thread::hardware_concurrency() > 1 && VF::ov_pcm_seek
                         ? stated / 2
                         : -1;
    int64_t tail = 0;
    bool tailBroken = false;
    std::exception_ptr tailFailure;
    std::thread second;
    if (middle > 0) {
        second = std::thread([&] {
            try {
                TReading from(Path);
                if (from.Open && VF::ov_pcm_seek(&from.Vf, middle) == 0)
                    tail = from.Decode(-1, tailBroken);
                else
                    tailBroken = true;
            } catch (...) {
                tailFailure = std::current_exception();
            }
        });
    }
    bool headBroken = false;
    const int64_t head = first.Decode(middle, headBroken);
    if (second.joinable())
        second.join();
    if (tailFailure)
        std::rethrow_exception(tailFailure);
    const bool whole = middle < 0 || head == middle;
    if (headBroken || (whole && tailBroken))
        throw Failed(Path, "dati danneggiati dopo " + std::to_string(headBroken ? head : head + tail) +
                               " campioni per canale");
    const int64_t decoded = whole ? head + tail : head;
    if (decoded != Frames)
        throw Failed(Path, "contiene " + std::to_string(decoded) + " campioni per canale invece di " +
                               std::to_string(Frames));
    if (stated != decoded)
        throw Failed(Path, "l'ultima pagina indica " + std::to_string(stated) + " campioni per canale, decodificati " +
                               std::to_string(decoded));
}

} // namespace velmar
