#include "vorbis/VelmarVerify.h"

#include "pipeline/VelmarClasses.h"
#include "vorbis/VorbisFile.h"

#include <cerrno>

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

// Clears a file libvorbisfile opened.
struct TOpened {
    OggVorbis_File* File;
    ~TOpened() { VF::ov_clear(File); }
};

} // namespace

bool VerificaDisponibile()
{
    return VF::VorbisFileLibLoaded && VF::ov_open_callbacks && VF::ov_clear && VF::ov_streams && VF::ov_info &&
           VF::ov_pcm_total && VF::ov_read_float;
}

void VerificaOgg(const std::string& Path, int Channels, int64_t Frames)
{
    if (!VerificaDisponibile())
        throw VelmarException(TMotivo::LibreriaMancante, {}, "libvorbisfile.so.3");
    TFileStream file(Path, TFileMode::fmOpenRead);
    OggVorbis_File vf;
    const ov_callbacks io{ReadFile, SeekFile, nullptr, TellFile};
    if (VF::ov_open_callbacks(&file, &vf, nullptr, 0, io) < 0)
        throw Failed(Path, "non è un file Ogg Vorbis leggibile");
    TOpened opened{&vf};

    const long streams = VF::ov_streams(&vf);
    if (streams != 1)
        throw Failed(Path, "contiene " + std::to_string(streams) + " flussi invece di uno");
    const vorbis_info* info = VF::ov_info(&vf, -1);
    if (!info || info->channels != Channels)
        throw Failed(Path, "ha " + std::to_string(info ? info->channels : 0) + " canali invece di " +
                               std::to_string(Channels));
    int64_t decoded = 0;
    for (;;) {
        float** pcm = nullptr;
        int section = 0;
        const long n = VF::ov_read_float(&vf, &pcm, 4096, &section);
        if (n == 0)
            break;
        if (n < 0)
            throw Failed(Path, "dati danneggiati dopo " + std::to_string(decoded) + " campioni per canale");
        decoded += n;
    }
    if (decoded != Frames)
        throw Failed(Path, "contiene " + std::to_string(decoded) + " campioni per canale invece di " +
                               std::to_string(Frames));
    const int64_t stated = VF::ov_pcm_total(&vf, -1);
    if (stated != decoded)
        throw Failed(Path, "l'ultima pagina indica " + std::to_string(stated) + " campioni per canale, decodificati " +
                               std::to_string(decoded));
}

} // namespace velmar
