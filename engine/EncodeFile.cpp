#include "engine/EncodeFile.h"

#include "sources/VelmarConverters.h"
#include "sources/VelmarWave.h"
#include "vorbis/VelmarOggVorbis.h"
#include "vorbis/VelmarVerify.h"
#include "vorbis/VelmarVorbis.h"

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <new>
#include <utility>

namespace velmar {

void TEncodeControl::Stop(TStopMode Mode)
{
    std::lock_guard<std::mutex> lock(FLock);
    TStopMode none = TStopMode::None;
    if (!FMode.compare_exchange_strong(none, Mode) || !FOutput)
        return;
    if (Mode == TStopMode::Discard)
        FOutput->Discard();
    else
        FOutput->Stop();
}

void TEncodeControl::Attach(TVelmarVorbisOut* Output)
{
    std::lock_guard<std::mutex> lock(FLock);
    FOutput = Output;
    // A request that came while the run was being prepared.
    if (FMode == TStopMode::Discard)
        Output->Discard();
    else if (FMode != TStopMode::None)
        Output->Stop();
}

void TEncodeControl::Detach()
{
    std::lock_guard<std::mutex> lock(FLock);
    FOutput = nullptr;
}

namespace {

std::string Quoted(const std::string& Path) { return "\"" + Path + "\""; }

std::string FolderOf(const std::string& Path) { return Path.substr(0, Path.rfind('/') + 1); }

// One of the hidden files written on the way to Output (".NAME.XXXXXX",
// the name maybe shortened, and its tag rewrite's "~").
bool TemporaryOf(std::string File, const std::string& Output)
{
    if (!File.empty() && File.back() == '~')
        File.pop_back();
    const std::string folder = FolderOf(Output);
    if (FolderOf(File) != folder)
        return false;
    const std::string name = File.substr(folder.size()), out = Output.substr(folder.size());
    return name.size() > 8 && name[0] == '.' && out.compare(0, name.size() - 8, name, 1, name.size() - 8) == 0;
}

// The cause of a failure as the user reads it: the file is named unless it
// is the input, which the caller names; the hidden files on the way to the
// output are the output to the user.
std::string Cause(const std::exception& E, const std::string& Input, const std::string& Output)
{
    if (const auto* v = dynamic_cast<const Exception*>(&E)) {
        if (v->File().empty() || v->File() == Input)
            return v->Causa();
        return Quoted(TemporaryOf(v->File(), Output) ? Output : v->File()) + ": " + v->Causa();
    }
    if (dynamic_cast<const std::bad_alloc*>(&E))
        return TestoMotivo(TMotivo::MemoriaEsaurita);
    return TestoMotivo(TMotivo::ErroreInterno, E.what());
}

// An output that exists and was written no earlier than its input changed.
bool UpToDate(const std::string& Input, const std::string& Output)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_regular_file(Output, ec))
        return false;
    const auto out = fs::last_write_time(Output, ec);
    if (ec)
        return false;
    const auto in = fs::last_write_time(Input, ec);
    return !ec && out >= in;
}

// Creates Output's folder with its parents; the reason, naming the folder, when it cannot.
std::string MakeFolderFor(const std::string& Output)
{
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(Output).parent_path();
    if (folder.empty())
        return {};
    std::error_code ec, exists;
    fs::create_directories(folder, ec);
    if (fs::is_directory(folder, exists))
        return {};
    if (!ec)
        ec = std::make_error_code(std::errc::file_exists);
    return Quoted(folder.string()) + ": " + TestoMotivo(TMotivo::CartellaImpossibile, TestoErrno(ec.value()));
}

std::vector<std::string> WarningsFor(const TWaveDescription& D)
{
    std::vector<std::string> w;
    if (D.Frames >= 0 && D.DeclaredFrames > D.Frames)
        w.push_back(TestoMotivo(TMotivo::Troncato, Secondi(D.Frames, D.SampleRate) + " dei " +
                                                       Secondi(D.DeclaredFrames, D.SampleRate) + " dichiarati"));
    return w;
}

// The chain of one file, and waiting for its run to end.
class TEncodeRun {
public:
    TEncodeRun(const std::string& Input, const std::string& Output, const TEncodeSettings& S)
        : FInput(Input), FOutput(Output)
    {
        Wave = TComponent::Create<TVelmarWaveIn>(&FRoot);
        auto* rate = TComponent::Create<TVelmarRateConverter>(&FRoot);
        Vorbis = TComponent::Create<TVelmarVorbisOut>(&FRoot);
        Wave->SetFileName(Input);
        Wave->SetLoop(false);
        rate->SetInput(Wave);
        rate->SetOutSampleRate(S.OutSampleRate);
        rate->SetAltaQualita(S.HighQualityResampling);
        Vorbis->SetInput(rate);
        Vorbis->SetFileName(Output);
        Vorbis->SetCompression(S.Compression);
        Vorbis->SetRenameWhenDone(false);
    }

    // Runs the chain to its end; false, with Failure set, when it failed.
    bool Run(TEncodeControl* Control, const std::function<void(int)>& OnProgress)
    {
        Vorbis->OnProgress = [&](TComponent*) {
            if (OnProgress)
                OnProgress(Vorbis->Progress());
        };
        Vorbis->OnDone = [this](TComponent*) { End(nullptr); };
        Vorbis->OnThreadException = [this](TComponent*, const std::exception& E) { End(&E); };
        Vorbis->Run();
        if (Control)
            Control->Attach(Vorbis);
        std::unique_lock<std::mutex> lock(FLock);
        FEnded.wait(lock, [this] { return FFinished; });
        lock.unlock();
        if (Control)
            Control->Detach();
        return Failure.empty();
    }

    TVelmarWaveIn* Wave;
    TVelmarVorbisOut* Vorbis;
    std::string Failure;

private:
    void End(const std::exception* E)
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (E) {
            Failure = Cause(*E, FInput, FOutput);
            if (Failure.empty())
                Failure = TestoMotivo(TMotivo::ErroreInterno, "?");
        }
        FFinished = true;
        FEnded.notify_all();
    }

    std::string FInput, FOutput;
    TComponent FRoot;
    std::mutex FLock;
    std::condition_variable FEnded;
    bool FFinished = false;
};

// Writes the comment into the finished stream; a failure leaves the stream
// as it was and becomes a warning.
void Tag(TEncodeResult& R, const std::string& Input, const std::string& Comment)
{
    try {
        TVelmarOggVorbis oggo;
        oggo.SetNomedelfile(R.Part);
        oggo.SetCommento(Comment);
        R.Tagged = oggo.WriteTags(R.Part);
        if (!R.Tagged)
            R.Warnings.push_back(TestoMotivo(TMotivo::CommentoImpossibile, TestoMotivo(TMotivo::IntestazioneBloccata)));
    } catch (const std::exception& e) {
        R.Warnings.push_back(TestoMotivo(TMotivo::CommentoImpossibile, Cause(e, Input, R.Output)));
    }
}

} // namespace

TEncodeResult EncodeToPart(const std::string& Input, const std::string& Output, const TEncodeSettings& Settings,
                           TEncodeControl* Control, const std::function<void(int Percent)>& OnProgress)
{
    TEncodeResult r;
    r.Output = Output;
    try {
        std::error_code ec;
        if (std::filesystem::exists(Output, ec) && std::filesystem::equivalent(Input, Output, ec)) {
            r.Reason = TestoMotivo(TMotivo::UscitaUgualeIngresso);
            return r;
        }
        if (Control && Control->Mode() != TStopMode::None) {
            r.Outcome = Control->Mode() == TStopMode::Discard ? TEncodeOutcome::Discarded : TEncodeOutcome::Stopped;
            return r;
        }
        if (Settings.SkipUpToDate && UpToDate(Input, Output)) {
            r.Outcome = TEncodeOutcome::Skipped;
            return r;
        }
        TEncodeRun run(Input, Output, Settings);
        const TWaveDescription description = run.Wave->Description();
        if (Settings.CarryTags)
            run.Vorbis->SetComments(description.Tags);
        r.Reason = MakeFolderFor(Output);
        if (!r.Reason.empty())
            return r;
        if (!run.Run(Control, OnProgress)) {
            r.Reason = run.Failure;
            return r;
        }
        r.Part = run.Vorbis->TemporaryFileName();
        const TStopMode stop = Control ? Control->Mode() : TStopMode::None;
        if (stop == TStopMode::Discard || !std::filesystem::exists(r.Part, ec)) {
            DiscardPart(r);
            return r;
        }
        r.Outcome = stop == TStopMode::None ? TEncodeOutcome::Done : TEncodeOutcome::Stopped;
        if (r.Outcome == TEncodeOutcome::Done)
            r.Warnings = WarningsFor(description);
        if (stop != TStopMode::KeepUntagged)
            Tag(r, Input, Settings.Comment);
        if (Settings.Verify)
            VerificaOgg(r.Part, description.Channels, run.Vorbis->FramesFed());
        return r;
    } catch (const std::exception& e) {
        DiscardPart(r);
        r.Outcome = TEncodeOutcome::Failed;
        r.Reason = Cause(e, Input, Output);
        return r;
    }
}

TEncodeResult EncodeFile(const std::string& Input, const std::string& Output, const TEncodeSettings& Settings,
                         TEncodeControl* Control, const std::function<void(int Percent)>& OnProgress)
{
    TEncodeResult r = EncodeToPart(Input, Output, Settings, Control, OnProgress);
    CommitPart(r);
    return r;
}

void CommitPart(TEncodeResult& Result)
{
    if (Result.Part.empty())
        return;
    const std::string part = std::exchange(Result.Part, {});
    if (std::rename(part.c_str(), Result.Output.c_str()) != 0) {
        const int e = errno;
        std::remove(part.c_str());
        Result.Outcome = TEncodeOutcome::Failed;
        Result.Reason = Quoted(Result.Output) + ": " + TestoMotivo(TMotivo::RinominaImpossibile, TestoErrno(e));
    }
}

void DiscardPart(TEncodeResult& Result)
{
    if (!Result.Part.empty())
        std::remove(Result.Part.c_str());
    Result.Part.clear();
    Result.Outcome = TEncodeOutcome::Discarded;
}

} // namespace velmar
