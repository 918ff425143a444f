#include "engine/EncodeFile.h"

#include "engine/Extras.h"
#include "engine/Loudness.h"
#include "engine/OutputNames.h"
#include "platform/TempFiles.h"
#include "sources/VelmarConverters.h"
#include "sources/VelmarSource.h"
#include "vorbis/VelmarVerify.h"
#include "vorbis/VelmarVorbis.h"
#include "vorbis/VorbisComments.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <new>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// One of the hidden files written on the way to Output.
bool TemporaryOf(const std::string& File, const std::string& Output)
{
    const std::string folder = FolderOf(Output);
    return FolderOf(File) == folder && IsTemporaryName(File.substr(folder.size()));
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

// A source whose length was known before it was read, cut short: as the
// header showed, or as it ended (a pipe that ends early). Handed: the
// frames it gave.
std::vector<std::string> WarningsFor(const TSourceDescription& D, int64_t Handed)
{
    std::vector<std::string> w;
    const int64_t held = std::min(D.Frames, Handed);
    if (D.Frames >= 0 && D.DeclaredFrames > held)
        w.push_back(TestoMotivo(TMotivo::Troncato, Secondi(held, D.SampleRate) + " dei " +
                                                       Secondi(D.DeclaredFrames, D.SampleRate) + " dichiarati"));
    w.insert(w.end(), D.Warnings.begin(), D.Warnings.end());
    return w;
}

// The chain of one file, and waiting for its run to end.
class TEncodeRun {
public:
    TEncodeRun(const std::string& Input, const std::string& Output, const TEncodeSettings& S)
        : FInput(Input), FOutput(Output)
    {
        Source = CreateSource(&FRoot, Input);
        auto* rate = TComponent::Create<TVelmarRateConverter>(&FRoot);
        Vorbis = TComponent::Create<TVelmarVorbisOut>(&FRoot);
        rate->SetInput(Source);
        rate->SetOutSampleRate(S.OutSampleRate);
        rate->SetAltaQualita(S.HighQualityResampling);
        Vorbis->SetInput(rate);
        Vorbis->SetFileName(Output);
        Vorbis->SetCompression(S.Compression);
        Vorbis->SetMode(S.Mode);
        Vorbis->SetDownmix(S.Downmix);
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

    TVelmarSourceIn* Source;
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

// The name of a "NAME=value" line.
std::string NameOf(const std::string& Line) { return Line.substr(0, Line.find('=')); }

bool SameName(const std::string& A, const std::string& B)
{
    return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

// The source's tags as they are, but the names the user gave, then the user's.
TStringList MergedTags(const TStringList& Carried, const TEncodeSettings& S)
{
    TStringList lines;
    if (S.CarryTags)
        for (const std::string& line : Carried)
            if (std::none_of(S.Tags.begin(), S.Tags.end(),
                             [&](const std::string& u) { return SameName(NameOf(u), NameOf(line)); }))
                lines.push_back(line);
    lines.insert(lines.end(), S.Tags.begin(), S.Tags.end());
    return lines;
}

// What goes into the comment header: the tags, then the program's comment.
TStringList CommentsFor(const TStringList& Tags, const TEncodeSettings& S)
{
    TStringList lines = Tags;
    const std::string comment = "COMMENT=" + S.Comment;
    if (!S.Comment.empty() && std::find(lines.begin(), lines.end(), comment) == lines.end())
        lines.push_back(comment);
    return lines;
}

// The METADATA_BLOCK_PICTURE comments an output of Input gets, and the
// warnings for the pictures left out.
TStringList PictureComments(const std::string& Input, const TSourceDescription& D, const TEncodeSettings& S,
                            std::vector<std::string>& Warnings)
{
    std::vector<std::pair<TPicture, std::string>> pictures; // with the name a warning gives it
    if (S.CarryTags)
        for (const TPicture& p : D.Pictures)
            pictures.emplace_back(p, "\"" + (p.Description.empty() ? p.Mime : p.Description) + "\"");
    const std::string file = S.Cover != "auto" ? S.Cover : pictures.empty() ? CoverBeside(Input) : std::string();
    if (!file.empty()) {
        TPicture cover;
        std::string warning;
        if (ReadCover(file, cover, warning)) {
            std::erase_if(pictures, [](const auto& p) { return p.first.Type == 3; });
            pictures.emplace(pictures.begin(), std::move(cover), "\"" + file + "\"");
        } else {
            Warnings.push_back(warning);
        }
    }
    TStringList lines;
    for (const auto& [p, name] : pictures) {
        const std::string refusal = PictureRefusal(p, name);
        if (refusal.empty())
            lines.push_back(PictureComment(p));
        else
            Warnings.push_back(refusal);
    }
    return lines;
}

bool HasTag(const TStringList& Tags, const std::string& Name)
{
    return std::any_of(Tags.begin(), Tags.end(), [&](const std::string& l) { return SameName(NameOf(l), Name); });
}

// The source's modification time on the part; it goes with the rename.
void KeepDateOf(const std::string& Input, const std::string& Part)
{
    struct stat st {};
    if (::stat(Input.c_str(), &st) != 0)
        return;
    const timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    ::utimensat(AT_FDCWD, Part.c_str(), times, 0);
}

// A stopped part that must not carry the program's comment loses it; on
// failure it keeps it (nothing else is lost).
void Untag(TEncodeResult& R, const std::string& Comment)
{
    std::shared_ptr<TTemporaryHold> hold;
    if (RemoveVorbisComment(R.Part, "COMMENT=" + Comment, &hold)) {
        R.PartHold = std::move(hold);
        R.Tagged = false;
    }
}

} // namespace

TEncodeResult EncodeToPart(const std::string& Input, const std::string& Output, const TEncodeSettings& Settings,
                           TEncodeControl* Control, const std::function<void(int Percent)>& OnProgress)
{
    TEncodeResult r;
    r.Output = Output;
    const bool toStdout = Output == StandardOutputName;
    try {
        std::error_code ec;
        if (!toStdout && std::filesystem::exists(Output, ec) && std::filesystem::equivalent(Input, Output, ec)) {
            r.Reason = TestoMotivo(TMotivo::UscitaUgualeIngresso);
            return r;
        }
        if (Control && Control->Mode() != TStopMode::None) {
            r.Outcome = Control->Mode() == TStopMode::Discard ? TEncodeOutcome::Discarded : TEncodeOutcome::Stopped;
            return r;
        }
        if (Settings.SkipUpToDate && !toStdout && UpToDate(Input, Output)) {
            r.Outcome = TEncodeOutcome::Skipped;
            return r;
        }
        std::unique_ptr<TLoudnessTap> tap; // outlives the run that feeds it
        TEncodeRun run(Input, Output, Settings);
        const TSourceDescription description = run.Source->Description();
        TEncodeSettings settings = Settings;
        // The standard output cannot be written again: its header carries no placeholders.
        if (Settings.ReplayGain && !HasTag(Settings.Tags, "REPLAYGAIN_TRACK_GAIN") && !toStdout) {
            // Measured as it is encoded; the header's placeholders take the values at the end.
            tap = std::make_unique<TLoudnessTap>(Settings.Downmix ? 1 : description.Channels, Settings.OutSampleRate);
            run.Vorbis->SetTap(tap.get());
            const TStringList placeholders = TLoudnessTap::Placeholders();
            settings.Tags.insert(settings.Tags.end(), placeholders.begin(), placeholders.end());
        }
        const TStringList tags = MergedTags(description.Tags, settings);
        TStringList lines = tags;
        if (Settings.CarryTags) {
            const TStringList chapters =
                ChapterComments(description.Cues, description.SampleRate, Settings.OutSampleRate, description.Frames);
            lines.insert(lines.end(), chapters.begin(), chapters.end());
        }
        std::vector<std::string> pictureWarnings;
        for (const std::string& p : PictureComments(Input, description, Settings, pictureWarnings))
            lines.push_back(p);
        run.Vorbis->SetComments(CommentsFor(lines, Settings));
        run.Vorbis->SetSerial(Settings.Serial >= 0 ? static_cast<int32_t>(uint32_t(Settings.Serial))
                                                   : SerialFor(Output));
        std::unique_ptr<TFileStream> standardOutput;
        if (toStdout) {
            const int handle = ::dup(STDOUT_FILENO);
            if (handle < 0)
                throw EStreamError(TMotivo::ScritturaImpossibile, Output, TestoErrno(errno));
            standardOutput = std::make_unique<TFileStream>(Output, handle);
            run.Vorbis->SetStream(standardOutput.get());
        } else {
            r.Reason = MakeFolderFor(Output);
            if (!r.Reason.empty())
                return r;
            RemoveStaleTemporariesOnce(FolderOf(Output));
        }
        if (!run.Run(Control, OnProgress)) {
            r.Reason = run.Failure;
            return r;
        }
        const TStopMode stop = Control ? Control->Mode() : TStopMode::None;
        const int64_t frameBytes =
            int64_t(description.Channels) * (description.Format == TSampleFormat::Float32 ? 4 : 2);
        if (toStdout) {
            // Written as it came: there is no file to keep or drop.
            r.Outcome = stop == TStopMode::None ? TEncodeOutcome::Done : TEncodeOutcome::Discarded;
            r.Tagged = r.Outcome == TEncodeOutcome::Done && !Settings.Comment.empty();
            if (r.Outcome == TEncodeOutcome::Done)
                r.Warnings = WarningsFor(description, run.Source->Position() / frameBytes);
            return r;
        }
        r.Part = run.Vorbis->TemporaryFileName();
        r.PartHold = run.Vorbis->PartHold();
        if (stop == TStopMode::Discard || !std::filesystem::exists(r.Part, ec)) {
            DiscardPart(r);
            return r;
        }
        r.Outcome = stop == TStopMode::None ? TEncodeOutcome::Done : TEncodeOutcome::Stopped;
        if (r.Outcome == TEncodeOutcome::Done)
            r.Warnings = WarningsFor(description, run.Source->Position() / frameBytes);
        r.Warnings.insert(r.Warnings.end(), pictureWarnings.begin(), pictureWarnings.end());
        r.Tagged = !Settings.Comment.empty();
        if (stop == TStopMode::KeepUntagged && r.Tagged)
            Untag(r, Settings.Comment);
        if (Settings.KeepDate)
            KeepDateOf(Input, r.Part);
        if (Settings.Verify)
            VerificaOgg(r.Part, Settings.Downmix ? 1 : description.Channels, run.Vorbis->FramesFed());
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

TStringList TagsFor(const std::string& Input, const TEncodeSettings& Settings)
{
    TStringList carried;
    if (Settings.CarryTags) {
        try {
            TComponent root;
            carried = CreateSource(&root, Input)->Description().Tags;
        } catch (const std::exception&) {
        }
    }
    return MergedTags(carried, Settings);
}

int32_t SerialFor(const std::string& Output)
{
    uint32_t h = 2166136261u; // FNV-1a
    for (unsigned char c : Output)
        h = (h ^ c) * 16777619u;
    return static_cast<int32_t>(h == 0 ? 1 : h);
}

void CommitPart(TEncodeResult& Result)
{
    if (Result.Part.empty())
        return;
    const std::string part = std::exchange(Result.Part, {});
    // A stopped part never takes the place of an earlier file: only a new
    // name may be given it, which the kernel checks in the rename itself.
    int failed = 0;
    if (Result.Outcome == TEncodeOutcome::Stopped) {
        if (::renameat2(AT_FDCWD, part.c_str(), AT_FDCWD, Result.Output.c_str(), RENAME_NOREPLACE) != 0) {
            failed = errno;
            // A file system without the check: look, then rename.
            std::error_code ec;
            if ((failed == EINVAL || failed == ENOSYS) && !std::filesystem::exists(Result.Output, ec) && !ec)
                failed = std::rename(part.c_str(), Result.Output.c_str()) == 0 ? 0 : errno;
        }
        if (failed == EEXIST || failed == EINVAL || failed == ENOSYS) {
            Result.Part = part;
            DiscardPart(Result);
            return;
        }
    } else if (std::rename(part.c_str(), Result.Output.c_str()) != 0) {
        failed = errno;
    }
    if (failed != 0) {
        std::remove(part.c_str());
        Result.PartHold.reset();
        Result.Outcome = TEncodeOutcome::Failed;
        Result.Reason = Quoted(Result.Output) + ": " + TestoMotivo(TMotivo::RinominaImpossibile, TestoErrno(failed));
        return;
    }
    SyncFolderOf(Result.Output);
    Result.PartHold.reset();
}

void DiscardPart(TEncodeResult& Result)
{
    if (!Result.Part.empty())
        std::remove(Result.Part.c_str());
    Result.Part.clear();
    Result.PartHold.reset();
    Result.Outcome = TEncodeOutcome::Discarded;
}

} // namespace velmar
