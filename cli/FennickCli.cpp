#include "cli/FennickCli.h"

#include "cli/StatusLine.h"
#include "engine/Loudness.h"
#include "engine/VelmarBatch.h"
#include "platform/Motivi.h"
#include "platform/XdgDirs.h"
#include "sources/VelmarSource.h"
#include "vorbis/VelmarVorbis.h"

#include <algorithm>
#include <charconv>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <map>
#include <numeric>
#include <ostream>
#include <thread>

#include <poll.h>
#include <signal.h>
#include <unistd.h>

namespace velmar::cli {

namespace {

const int Rates[] = {48000, 44100, 32000, 24000, 22050, 16000, 11025, 8000};

bool ParseInt(const std::string& S, int& Value)
{
    if (S.empty() || S.size() > 9 || !std::all_of(S.begin(), S.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    Value = std::stoi(S);
    return true;
}

// "4", "4.5", "4,5", "-1": a quality as oggenc reads it (its float, then a
// tenth of it in double and back to float, so the encoder gets the same
// value oggenc gives it).
bool ParseQuality(std::string S, float& Compression)
{
    std::replace(S.begin(), S.end(), ',', '.');
    float q = 0;
    const auto [end, ec] = std::from_chars(S.data(), S.data() + S.size(), q);
    if (S.empty() || ec != std::errc() || end != S.data() + S.size() || !(q >= -1.0f && q <= 10.0f))
        return false;
    Compression = static_cast<float>(double(q) * 0.1);
    return true;
}

bool ParseSerial(const std::string& S, int64_t& Serial)
{
    uint64_t v = 0;
    const auto [end, ec] = std::from_chars(S.data(), S.data() + S.size(), v);
    if (S.empty() || ec != std::errc() || end != S.data() + S.size() || v > 0xFFFFFFFFu)
        return false;
    Serial = static_cast<int64_t>(v);
    return true;
}

// The field of a tag option.
const char* TagOfOption(const std::string& A)
{
    static const std::pair<const char*, const char*> options[] = {
        {"-t", "TITLE"},       {"--title", "TITLE"}, {"-a", "ARTIST"},      {"--artist", "ARTIST"},
        {"-l", "ALBUM"},       {"--album", "ALBUM"}, {"-N", "TRACKNUMBER"}, {"--tracknum", "TRACKNUMBER"},
        {"-d", "DATE"},        {"--date", "DATE"},   {"-G", "GENRE"},       {"--genre", "GENRE"},
    };
    for (const auto& [option, tag] : options)
        if (A == option)
            return tag;
    return nullptr;
}

// A Vorbis comment's name: printable ASCII but "=", not empty.
bool IsTagName(const std::string& Name)
{
    return !Name.empty() && std::all_of(Name.begin(), Name.end(), [](char c) { return c >= 0x20 && c <= 0x7D && c != '='; });
}

std::string BaseName(const std::string& Path)
{
    auto slash = Path.find_last_of('/');
    return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

std::string Quoted(const std::string& Path) { return "\"" + Path + "\""; }

// The name an output of the standard input takes in an output folder.
constexpr const char* StdinOutputName = "stdin.ogg";

// Folder's audio files, in name order, into Into (their folders below it).
void Walk(const std::filesystem::path& Folder, const std::filesystem::path& Into, std::vector<TJob>& Jobs,
          std::vector<std::string>& Errors)
{
    namespace fs = std::filesystem;
    std::vector<fs::directory_entry> entries;
    std::error_code ec;
    for (fs::directory_iterator it(Folder, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(*it);
    if (ec)
        Errors.push_back(Quoted(Folder.string()) + ": " +
                         TestoMotivo(TMotivo::CartellaIllegibile, TestoErrno(ec.value())));
    std::sort(entries.begin(), entries.end(), [](const fs::directory_entry& a, const fs::directory_entry& b) {
        return a.path().filename() < b.path().filename();
    });
    for (const fs::directory_entry& e : entries) {
        const fs::path name = e.path().filename();
        if (e.is_directory(ec) && !e.is_symlink(ec))
            Walk(e.path(), Into / name, Jobs, Errors);
        else if (HasSourceExtension(name.string()) && e.is_regular_file(ec))
            Jobs.push_back({e.path().string(), Into.string()});
    }
}

std::string Counted(size_t N, const char* One, const char* Many)
{
    return std::to_string(N) + " " + (N == 1 ? One : Many);
}

int64_t FileSize(const std::string& Path)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(Path, ec);
    return ec ? 0 : static_cast<int64_t>(size);
}

// The jobs grouped by their input's folder, in the order of their first
// file; each group an album.
std::vector<std::vector<size_t>> Albums(const std::vector<TJob>& Jobs)
{
    std::vector<std::vector<size_t>> albums;
    std::map<std::string, size_t> where;
    for (size_t i = 0; i < Jobs.size(); ++i) {
        const std::string folder = std::filesystem::path(Jobs[i].Input).lexically_normal().parent_path().string();
        const auto [it, added] = where.emplace(folder, albums.size());
        if (added)
            albums.emplace_back();
        albums[it->second].push_back(i);
    }
    return albums;
}

} // namespace

std::string UsageText()
{
    return "Uso: fennick-cli [OPZIONI] FILE|CARTELLA|-...\n"
           "Converte file audio WAVE (.wav), AIFF e AIFF-C (.aif, .aiff, .aifc) e FLAC\n"
           "(.flac) in file Ogg Vorbis; il formato si riconosce dal contenuto del file.\n"
           "                    es. fennick-cli brano.flac disco.aiff\n"
           "  -                 l'ingresso standard (una volta sola): il flusso va\n"
           "                    sull'uscita standard, o in CARTELLA/stdin.ogg con -o\n"
           "                    es. ffmpeg -i x.mkv -f wav - | fennick-cli - > x.ogg\n"
           "\n"
           "Codifica:\n"
           "  -q, --quality N   qualità, da -1 a 10, anche con decimali (predefinita 4)\n"
           "                    es. -q 4,5\n"
           "  -b, --bitrate KBPS\n"
           "                    velocità in bit media al posto della qualità  es. -b 128\n"
           "  -m, --min-bitrate KBPS, -M, --max-bitrate KBPS\n"
           "                    limiti della velocità in bit (gestita)  es. -q 5 -M 192\n"
           "  --managed         gestione della velocità in bit  es. -b 128 --managed\n"
           "  --downmix         stereo in mono  es. --downmix\n"
           "  -r FREQUENZA      velocità del campione in uscita: 48000, 44100, 32000,\n"
           "                    24000, 22050, 16000, 11025 o 8000 Hz (predefinita 44100)\n"
           "                    es. -r 48000\n"
           "  --ricampionamento alta|veloce\n"
           "                    filtro di alta qualità (predefinito) o conversione veloce\n"
           "  -s, --serial N    numero di serie del flusso del primo file, poi N+1...\n"
           "                    (predefinito: uno per file, dal suo percorso)  es. -s 1000\n"
           "\n"
           "File e nomi:\n"
           "  -o CARTELLA       cartella dei file creati (predefinita: Documenti/Musica)\n"
           "                    es. -o ~/ogg\n"
           "  -n, --names SCHEMA\n"
           "                    nomi dai tag: %a artista, %t titolo, %l album, %n traccia,\n"
           "                    %d data, %g genere, %f nome del file, %% un %\n"
           "                    es. -n \"%a/%l/%n %t\"\n"
           "  -R, --ricorsivo   converte i file audio (.wav, .flac, .aif, .aiff, .aifc)\n"
           "                    delle cartelle indicate e delle loro sottocartelle,\n"
           "                    ricreandone la struttura  es. -R Archivio\n"
           "  -j PROCESSI       file codificati insieme (predefinito: numero di processori)\n"
           "                    es. -j 2\n"
           "  --salta-esistenti salta i file già convertiti (il file .ogg esiste e non è\n"
           "                    più vecchio dell'originale): ripetere il comando riprende\n"
           "                    il lavoro\n"
           "  --verifica        rilegge ogni file prodotto e ne controlla canali e durata\n"
           "\n"
           "Tag (in ogni file prodotto, al posto di quelli dell'originale):\n"
           "  -t, --title T  -a, --artist A  -l, --album L  -N, --tracknum N\n"
           "  -d, --date D  -G, --genre G  es. -a \"Quartetto\" -d 2024\n"
           "  -c, --comment NOME=VALORE\n"
           "                    un tag qualsiasi, anche più volte  es. -c COMPOSER=Verdi\n"
           "  --nessun-tag      non riporta titolo, artista, album... dell'originale\n"
           "\n"
           "Volume (ReplayGain 2.0, misurato durante la codifica):\n"
           "  --nessun-replaygain\n"
           "                    non scrive REPLAYGAIN_TRACK_GAIN e REPLAYGAIN_TRACK_PEAK\n"
           "  --album-gain      i file di una stessa cartella sono un album: ognuno porta\n"
           "                    anche REPLAYGAIN_ALBUM_GAIN e _PEAK\n"
           "                    es. --album-gain -R Archivio\n"
           "  --mantieni-data   ogni file prodotto prende la data di modifica del suo .wav\n"
           "\n"
           "Immagini (quelle del file d'ingresso passano da sé):\n"
           "  --copertina auto  se il file non ne ha, la copertina della sua cartella\n"
           "                    (cover, folder o front .jpg/.jpeg/.png)\n"
           "  --copertina FILE  quell'immagine in ogni file prodotto\n"
           "                    es. --copertina front.jpg\n"
           "\n"
           "  --quiet           nessuna indicazione di avanzamento né riepilogo\n"
           "  -h, --help        mostra questo aiuto\n"
           "  --version         mostra la versione\n";
}

bool ParseOptions(const std::vector<std::string>& Args, TOptions& O, std::string& Error)
{
    for (size_t i = 0; i < Args.size(); ++i) {
        const std::string& a = Args[i];
        auto value = [&](std::string& V) {
            if (i + 1 >= Args.size()) {
                Error = "manca il valore dell'opzione " + a;
                return false;
            }
            V = Args[++i];
            return true;
        };
        std::string v;
        if (a == "-h" || a == "--help") {
            O.Help = true;
        } else if (a == "--version") {
            O.Version = true;
        } else if (a == "--quiet") {
            O.Quiet = true;
        } else if (a == "-R" || a == "--ricorsivo") {
            O.Recursive = true;
        } else if (a == "--salta-esistenti") {
            O.SkipExisting = true;
        } else if (a == "--nessun-tag") {
            O.CarryTags = false;
        } else if (a == "--verifica") {
            O.Verify = true;
        } else if (a == "--nessun-replaygain") {
            O.ReplayGain = false;
        } else if (a == "--album-gain") {
            O.AlbumGain = true;
        } else if (a == "--mantieni-data") {
            O.KeepDate = true;
        } else if (a == "--copertina") {
            if (!value(O.Cover))
                return false;
            if (O.Cover.empty()) {
                Error = "copertina vuota (auto o un file)";
                return false;
            }
        } else if (a == "-q" || a == "--quality") {
            if (!value(v))
                return false;
            if (!ParseQuality(v, O.Compression)) {
                Error = "qualità non valida: " + v + " (da -1 a 10, anche con decimali)";
                return false;
            }
            O.Mode.Quality = true;
        } else if (a == "-b" || a == "--bitrate" || a == "-m" || a == "--min-bitrate" || a == "-M" ||
                   a == "--max-bitrate") {
            if (!value(v))
                return false;
            int kbps = 0;
            if (!ParseInt(v, kbps) || kbps < 1 || kbps > 10000) {
                Error = "velocità in bit non valida: " + v + " (kbit/s)";
                return false;
            }
            if (a == "-b" || a == "--bitrate") {
                O.Mode.Nominal = kbps;
            } else {
                (a == "-m" || a == "--min-bitrate" ? O.Mode.Minimum : O.Mode.Maximum) = kbps;
                O.Mode.Managed = true; // limits are the manager's
            }
        } else if (a == "--managed") {
            O.Mode.Managed = true;
        } else if (a == "--downmix") {
            O.Downmix = true;
        } else if (a == "-s" || a == "--serial") {
            if (!value(v))
                return false;
            if (!ParseSerial(v, O.Serial)) {
                Error = "numero di serie non valido: " + v + " (da 0 a 4294967295)";
                return false;
            }
        } else if (a == "-n" || a == "--names") {
            if (!value(O.Names))
                return false;
            if (O.Names.empty()) {
                Error = "schema dei nomi vuoto";
                return false;
            }
        } else if (const char* tag = TagOfOption(a)) {
            if (!value(v))
                return false;
            const std::string line = std::string(tag) + "=" + v;
            std::erase_if(O.Tags, [&](const std::string& l) { return l.starts_with(std::string(tag) + "="); });
            O.Tags.push_back(line);
        } else if (a == "-c" || a == "--comment") {
            if (!value(v))
                return false;
            if (!IsTagName(v.substr(0, v.find('='))) || v.find('=') == std::string::npos) {
                Error = "commento non valido: " + v + " (NOME=valore)";
                return false;
            }
            O.Tags.push_back(v);
        } else if (a == "-r") {
            if (!value(v))
                return false;
            if (!ParseInt(v, O.Rate) || std::find(std::begin(Rates), std::end(Rates), O.Rate) == std::end(Rates)) {
                Error = "frequenza non valida: " + v;
                return false;
            }
        } else if (a == "-o") {
            if (!value(O.OutputDir))
                return false;
            if (O.OutputDir.empty()) {
                Error = "cartella di uscita vuota";
                return false;
            }
        } else if (a == "-j") {
            if (!value(v))
                return false;
            if (!ParseInt(v, O.Jobs) || O.Jobs < 1 || O.Jobs > 256) {
                Error = "numero di processi non valido: " + v;
                return false;
            }
        } else if (a == "--ricampionamento") {
            if (!value(v))
                return false;
            if (v != "alta" && v != "veloce") {
                Error = "ricampionamento non valido: " + v + " (alta o veloce)";
                return false;
            }
            O.HighQualityResampling = v == "alta";
        } else if (a == "--") {
            O.Files.insert(O.Files.end(), Args.begin() + static_cast<long>(i) + 1, Args.end());
            break;
        } else if (a.size() > 1 && a[0] == '-') {
            Error = "opzione sconosciuta: " + a;
            return false;
        } else {
            O.Files.push_back(a);
        }
    }
    if (O.AlbumGain && !O.ReplayGain) {
        Error = "--album-gain e --nessun-replaygain insieme";
        return false;
    }
    if (!O.Help && !O.Version && O.Files.empty()) {
        Error = "nessun file da codificare";
        return false;
    }
    if (std::count(O.Files.begin(), O.Files.end(), StandardInputName) > 1) {
        Error = "l'ingresso standard (-) si può leggere una volta sola";
        return false;
    }
    if (O.Verify && WritesStandardOutput(O)) {
        Error = "--verifica non può rileggere l'uscita standard: usa -o CARTELLA";
        return false;
    }
    return true;
}

bool WritesStandardOutput(const TOptions& O)
{
    return O.OutputDir.empty() && std::find(O.Files.begin(), O.Files.end(), StandardInputName) != O.Files.end();
}

std::vector<TJob> ListJobs(const TOptions& O, const std::string& OutDir, std::vector<std::string>& Errors,
                           std::vector<std::string>& Warnings)
{
    namespace fs = std::filesystem;
    std::vector<TJob> jobs;
    for (const std::string& arg : O.Files) {
        std::error_code ec;
        if (arg == StandardInputName || !fs::is_directory(arg, ec)) {
            jobs.push_back({arg, OutDir});
            continue;
        }
        if (!O.Recursive) {
            Errors.push_back("impossibile codificare " + Quoted(arg) + ": " +
                             TestoMotivo(TMotivo::CartellaSenzaRicorsivo));
            continue;
        }
        // "Archivio/" and "Archivio" alike; "." and ".." have no name of their own.
        fs::path name = fs::path(arg).lexically_normal();
        if (!name.has_filename())
            name = name.parent_path();
        name = name.filename();
        if (name == "." || name == "..")
            name.clear();
        const size_t before = jobs.size();
        Walk(arg, name.empty() ? fs::path(OutDir) : fs::path(OutDir) / name, jobs, Errors);
        if (jobs.size() == before)
            Warnings.push_back(Quoted(arg) + " " + TestoMotivo(TMotivo::SenzaWav));
    }
    return jobs;
}

void TInterruption::Interrupt(int Signal)
{
    std::lock_guard<std::mutex> lock(FLock);
    if (FSignal != 0)
        return;
    FSignal = Signal;
    if (FStop)
        FStop();
}

int TInterruption::Signal() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FSignal;
}

void TInterruption::Attach(std::function<void()> Stop)
{
    std::lock_guard<std::mutex> lock(FLock);
    FStop = std::move(Stop);
    if (FSignal != 0 && FStop)
        FStop();
}

void TInterruption::Detach()
{
    std::lock_guard<std::mutex> lock(FLock);
    FStop = nullptr;
}

namespace {

// The reader of the standard output has gone (a closed pipe).
bool StandardOutputClosed()
{
    pollfd out{STDOUT_FILENO, POLLOUT, 0};
    return ::poll(&out, 1, 0) == 1 && (out.revents & POLLERR);
}

} // namespace

int RunBatch(const TOptions& O, std::ostream& Out, std::ostream& Err, const std::function<int()>& TerminalWidth,
             TInterruption* Interruption)
{
    // The standard output carries a stream: not a byte of text goes there.
    const bool toStdout = WritesStandardOutput(O);
    std::ostream& summary = toStdout ? Err : Out;
    LoadCodecLibraries();
    const std::string outDir = O.OutputDir.empty() ? XdgUserDir("DOCUMENTS") + "/Musica" : O.OutputDir;
    std::vector<std::string> listErrors, listWarnings;
    const std::vector<TJob> jobs = ListJobs(O, outDir, listErrors, listWarnings);
    std::vector<int64_t> work;
    for (const TJob& j : jobs)
        work.push_back(FileSize(j.Input));
    TStatusLine status(Err, O.Quiet ? std::function<int()>() : TerminalWidth, jobs.size(),
                       std::accumulate(work.begin(), work.end(), int64_t(0)));
    for (const std::string& e : listErrors)
        status.Line("fennick-cli: " + e);
    for (const std::string& w : listWarnings)
        status.Line("fennick-cli: attenzione: " + w);

    TEncodeSettings settings;
    settings.Compression = O.Compression;
    settings.Mode = O.Mode;
    settings.Downmix = O.Downmix;
    settings.Serial = O.Serial;
    settings.Tags = O.Tags;
    settings.ReplayGain = O.ReplayGain;
    settings.KeepDate = O.KeepDate;
    settings.Cover = O.Cover;
    settings.OutSampleRate = O.Rate;
    settings.HighQualityResampling = O.HighQualityResampling;
    settings.CarryTags = O.CarryTags;
    settings.Verify = O.Verify;
    settings.SkipUpToDate = O.SkipExisting;
    std::atomic<size_t> encoded{0}, skipped{0}, failed{listErrors.size()};
    TVelmarBatch::TEvents events;
    events.OnStart = [&](size_t i) { status.Started(i, BaseName(jobs[i].Input), work[i]); };
    events.OnProgress = [&](size_t i, int Percent) { status.Progress(i, Percent); };
    events.OnEnd = [&](size_t i, TEncodeResult& r) {
        const std::string& in = jobs[i].Input;
        const bool worked = r.Outcome != TEncodeOutcome::Skipped && r.Outcome != TEncodeOutcome::Discarded;
        status.Ended(i, worked);
        if (r.Outcome == TEncodeOutcome::Skipped)
            ++skipped;
        if (r.Outcome == TEncodeOutcome::Failed && r.Output == StandardOutputName && Interruption &&
            StandardOutputClosed()) {
            // Whoever read the stream has gone: the end of a closed pipe,
            // as SIGPIPE would have it, not a failure of the file.
            Interruption->Interrupt(SIGPIPE);
            return;
        }
        if (r.Outcome == TEncodeOutcome::Failed) {
            ++failed;
            status.Line("fennick-cli: impossibile codificare " + Quoted(in) + ": " + r.Reason);
        }
        if (r.Outcome != TEncodeOutcome::Done && r.Outcome != TEncodeOutcome::Stopped)
            return;
        for (const std::string& w : r.Warnings)
            status.Line("fennick-cli: attenzione: " + Quoted(in) + " " + w);
        ++encoded; // written whole: a warning does not make it a failure
    };
    if (!jobs.empty()) {
        unsigned n = O.Jobs > 0 ? unsigned(O.Jobs) : std::max(1u, std::thread::hardware_concurrency());
        TVelmarBatch batch(settings, std::min<unsigned>(n, static_cast<unsigned>(jobs.size())), false, events);
        struct TAttached {
            TInterruption* I;
            ~TAttached()
            {
                if (I)
                    I->Detach();
            }
        } attached{Interruption};
        if (Interruption)
            Interruption->Attach([&batch] { batch.StopAll(TStopMode::Discard); });
        const auto name = [&](const TJob& j) -> std::string {
            const bool stdinJob = j.Input == StandardInputName;
            if (stdinJob && toStdout)
                return StandardOutputName;
            if (!O.Names.empty())
                return NameFromPattern(O.Names, TagsFor(j.Input, settings), stdinJob ? "stdin" : j.Input);
            return stdinJob ? StdinOutputName : "";
        };
        if (O.AlbumGain) {
            // Album by album: its files measured together, then queued
            // with their gains while the albums before them encode.
            const auto stopped = [Interruption] { return Interruption && Interruption->Signal() != 0; };
            for (const std::vector<size_t>& album : Albums(jobs)) {
                std::vector<std::string> inputs;
                for (size_t i : album)
                    inputs.push_back(jobs[i].Input);
                const std::vector<TStringList> gains = AlbumGains(inputs, O.Downmix, stopped);
                for (size_t k = 0; k < album.size(); ++k)
                    batch.Add(jobs[album[k]].Input, jobs[album[k]].Folder, name(jobs[album[k]]), gains[k]);
            }
        } else {
            for (const TJob& j : jobs)
                batch.Add(j.Input, j.Folder, name(j));
        }
        batch.Close();
        batch.Wait();
    }
    status.Finish();
    if (const int signal = Interruption ? Interruption->Signal() : 0) {
        Err << "fennick-cli: " << TestoMotivo(TMotivo::Interrotto) << std::endl;
        return 128 + signal;
    }
    if (!O.Quiet)
        summary << Counted(encoded, "file codificato", "file codificati") << ", " << Counted(skipped, "saltato", "saltati")
            << ", " << Counted(failed, "errore", "errori") << " → "
            << (toStdout && jobs.size() == 1 ? "uscita standard" : outDir) << std::endl;
    return failed > 0 ? 1 : 0;
}

} // namespace velmar::cli
