#include "sources/VelmarSource.h"

#include "platform/PipeStream.h"
#include "sources/FlacMetadata.h"
#include "sources/VelmarSndfile.h"
#include "sources/VelmarWave.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace velmar {

void TVelmarSourceIn::SourceChanged()
{
    std::lock_guard<std::mutex> lock(FLookLock);
    FLook.reset();
    FLookError = nullptr;
}

std::shared_ptr<const TSourceDescription> TVelmarSourceIn::Look()
{
    std::lock_guard<std::mutex> lock(FLookLock);
    if (FLook)
        return FLook;
    if (FLookError)
        std::rethrow_exception(FLookError);
    try {
        if (FStreamAssigned) {
            FLook = std::make_shared<const TSourceDescription>(Describe(*FStream));
        } else {
            if (FFileName.empty())
                throw VelmarException("The file name is not assigned");
            TFileStream file(FFileName, TFileMode::fmOpenRead);
            FLook = std::make_shared<const TSourceDescription>(Describe(file));
        }
    } catch (...) {
        FLookError = std::current_exception();
        throw;
    }
    return FLook;
}

void TVelmarSourceIn::OpenLooked(const std::function<TSourceDescription(TStream& S)>& Open)
{
    std::lock_guard<std::mutex> lock(FLookLock);
    try {
        if (!FStreamAssigned) {
            FFileStream = std::make_unique<TFileStream>(FFileName, TFileMode::fmOpenRead);
            FStream = FFileStream.get();
        }
        FLook = std::make_shared<const TSourceDescription>(Open(*FStream));
        FLookError = nullptr;
    } catch (...) {
        FLook.reset();
        FLookError = std::current_exception();
        throw;
    }
}

int TVelmarSourceIn::HandOut(const uint8_t* Block, void* Buffer, int BufferSize)
{
    const int count = std::max(0, std::min(BufferSize, BufEnd - BufStart + 1));
    std::memcpy(Buffer, Block + BufStart - 1, static_cast<size_t>(count));
    BufStart += count;
    FPosition += count;
    return count;
}

TSourceDescription TVelmarSourceIn::Description() { return *Look(); }

int TVelmarSourceIn::GetBitsPerSample() { return Look()->Format == TSampleFormat::Float32 ? 32 : 16; }

int TVelmarSourceIn::GetChannels() { return Look()->Channels; }

int TVelmarSourceIn::GetSampleRate() { return Look()->SampleRate; }

TSampleFormat TVelmarSourceIn::GetSampleFormat() { return Look()->Format; }

int TVelmarSourceIn::GetTotalTime()
{
    const auto d = Look();
    return d->Frames > 0 ? static_cast<int>(std::nearbyint(double(d->Frames) / d->SampleRate)) : 0;
}

TSourceKind SourceKindOf(TStream& S)
{
    uint8_t head[12];
    S.SetPosition(0);
    if (S.Read(head, sizeof head) != sizeof head)
        return TSourceKind::Unknown;
    const auto is = [&](int At, const char* Tag) { return std::memcmp(head + At, Tag, 4) == 0; };
    if ((is(0, "RIFF") || is(0, "RIFX") || is(0, "RF64") || is(0, "BW64")) && is(8, "WAVE"))
        return TSourceKind::Wave;
    if (is(0, "FORM") && is(8, "AIFF"))
        return TSourceKind::Aiff;
    if (is(0, "FORM") && is(8, "AIFC"))
        return TSourceKind::AiffC;
    if (is(0, "fLaC"))
        return TSourceKind::Flac;
    if (const int64_t tag = Id3v2Length(head, sizeof head)) {
        uint8_t magic[4];
        S.SetPosition(tag);
        if (S.Read(magic, 4) == 4 && std::memcmp(magic, "fLaC", 4) == 0)
            return TSourceKind::Flac;
    }
    return TSourceKind::Unknown;
}

const char* KindName(TSourceKind Kind)
{
    switch (Kind) {
    case TSourceKind::Wave: return "WAVE";
    case TSourceKind::Aiff: return "AIFF";
    case TSourceKind::AiffC: return "AIFF-C";
    case TSourceKind::Flac: return "FLAC";
    default: return "?";
    }
}

TVelmarSourceIn* CreateSource(TComponent* Owner, const std::string& File, TStream* Stream)
{
    if (!Stream && File == StandardInputName)
        Stream = &StandardInput();
    TSourceKind kind;
    if (Stream) {
        kind = SourceKindOf(*Stream);
    } else {
        TFileStream file(File, TFileMode::fmOpenRead);
        kind = SourceKindOf(file);
    }
    TVelmarSourceIn* source;
    if (kind == TSourceKind::Wave)
        source = TComponent::Create<TVelmarWaveIn>(Owner);
    else if (kind != TSourceKind::Unknown)
        source = TComponent::Create<TVelmarSndfileIn>(Owner);
    else
        throw VelmarException(TMotivo::FormatoSconosciuto, File);
    source->SetFileName(File);
    if (Stream)
        source->SetStream(Stream);
    source->SetLoop(false);
    return source;
}

bool HasSourceExtension(const std::string& Name)
{
    const auto dot = Name.find_last_of("./");
    if (dot == std::string::npos || Name[dot] != '.')
        return false;
    std::string ext = Name.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == "wav" || ext == "flac" || ext == "aif" || ext == "aiff" || ext == "aifc";
}

void TVelmarSourceIn::CloseSource()
{
    if (FOpenCount == 1)
        ReleaseStreams();
    if (FOpenCount > 0)
        --FOpenCount;
}

} // namespace velmar
