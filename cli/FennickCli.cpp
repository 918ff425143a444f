#include "cli/FennickCli.h"

#include "pipeline/VelmarBatch.h"
#include "platform/XdgDirs.h"
#include "vorbis/VelmarVorbis.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <ostream>
#include <thread>

namespace velmar::cli {

namespace {

const int Rates[] = {48000, 44100, 32000, 24000, 22050, 16000, 11025, 8000};

bool ParseInt(const std::string& S, int& Value)
{
    if (S.empty() || S.size() > 9 || !std::all_of(S.begin(), S.end(), ::isdigit))
        return false;
    Value = std::stoi(S);
    return true;
}

std::string BaseName(const std::string& Path)
{
    auto slash = Path.find_last_of('/');
    return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

// Progress of the running files on one terminal line.
class TProgressLine {
public:
    TProgressLine(std::ostream& Err, bool Enabled) : FErr(Err), FEnabled(Enabled) {}

    void Set(const std::string& File, int Percent)
    {
        std::lock_guard<std::mutex> lock(FLock);
        FRunning[File] = Percent;
        Draw(false);
    }
    void Remove(const std::string& File)
    {
        std::lock_guard<std::mutex> lock(FLock);
        FRunning.erase(File);
        Draw(true);
    }
    // Writes a whole line (an error) without tearing the progress line.
    void Line(const std::string& Text)
    {
        std::lock_guard<std::mutex> lock(FLock);
        Clear();
        FErr << Text << '\n';
        FErr.flush();
        Draw(true);
    }
    void Finish()
    {
        std::lock_guard<std::mutex> lock(FLock);
        Clear();
    }

private:
    void Clear()
    {
        if (FEnabled && FWidth > 0)
            FErr << '\r' << std::string(FWidth, ' ') << '\r';
        FWidth = 0;
    }
    void Draw(bool Force)
    {
        if (!FEnabled)
            return;
        auto now = std::chrono::steady_clock::now();
        if (!Force && now - FLast < std::chrono::milliseconds(100))
            return;
        FLast = now;
        std::string text;
        for (auto& [file, pct] : FRunning)
            text += (text.empty() ? "" : "  ") + BaseName(file) + " " + std::to_string(std::max(pct, 0)) + "%";
        if (text.size() > 150)
            text = text.substr(0, 147) + "...";
        Clear();
        FErr << text;
        FErr.flush();
        FWidth = text.size();
    }

    std::ostream& FErr;
    bool FEnabled;
    std::mutex FLock;
    std::map<std::string, int> FRunning;
    std::chrono::steady_clock::time_point FLast{};
    size_t FWidth = 0;
};

} // namespace

std::string UsageText()
{
    return "Uso: fennick-cli [-q 1..9] [-r FREQUENZA] [-o CARTELLA] [-j PROCESSI]\n"
           "                  [--ricampionamento alta|veloce] [--quiet] FILE...\n"
           "Converte file Audio Wave (.wav) in file Ogg Vorbis.\n"
           "\n"
           "  -q N          qualità della codifica, da 1 a 9 (predefinita 4)\n"
           "  -r FREQUENZA  velocità del campione in uscita: 48000, 44100, 32000, 24000,\n"
           "                22050, 16000, 11025 o 8000 Hz (predefinita 44100)\n"
           "  -o CARTELLA   cartella dei file creati (predefinita: Documenti/Musica)\n"
           "  -j PROCESSI   file codificati insieme (predefinito: numero di processori)\n"
           "  --ricampionamento alta|veloce\n"
           "                filtro di alta qualità (predefinito) o conversione veloce\n"
           "  --quiet       nessuna indicazione di avanzamento\n"
           "  -h, --help    mostra questo aiuto\n"
           "  --version     mostra la versione\n";
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
        } else if (a == "-q") {
            if (!value(v))
                return false;
            if (!ParseInt(v, O.Quality) || O.Quality < 1 || O.Quality > 9) {
                Error = "qualità non valida: " + v + " (da 1 a 9)";
                return false;
            }
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
    if (!O.Help && !O.Version && O.Files.empty()) {
        Error = "nessun file da codificare";
        return false;
    }
    return true;
}

int RunBatch(const TOptions& O, std::ostream& Err, bool ShowProgress)
{
    LoadCodecLibraries();
    const std::string outDir = O.OutputDir.empty() ? XdgUserDir("DOCUMENTS") + "/Musica" : O.OutputDir;
    TProgressLine progress(Err, ShowProgress && !O.Quiet);
    if (!ForceDirectories(outDir)) {
        progress.Line("fennick-cli: impossibile creare la cartella \"" + outDir + "\"");
        return 1;
    }

    TEncodeSettings settings;
    settings.Compression = static_cast<float>(O.Quality) / 10.0f;
    settings.OutSampleRate = O.Rate;
    settings.HighQualityResampling = O.HighQualityResampling;
    std::atomic<bool> anyFailed{false};
    TVelmarBatch::TEvents events;
    events.OnProgress = [&](size_t i, int Percent) { progress.Set(O.Files[i], Percent); };
    events.OnEnd = [&](size_t i, TEncodeResult& r) {
        const std::string& in = O.Files[i];
        progress.Remove(in);
        if (r.Outcome == TEncodeOutcome::Failed) {
            anyFailed = true;
            progress.Line("fennick-cli: impossibile codificare \"" + in + "\": " + r.Reason);
            return;
        }
        for (const std::string& w : r.Warnings)
            progress.Line("fennick-cli: attenzione: \"" + in + "\" " + w);
        if (!r.Tagged)
            anyFailed = true;
    };
    unsigned jobs = O.Jobs > 0 ? unsigned(O.Jobs) : std::max(1u, std::thread::hardware_concurrency());
    {
        TVelmarBatch batch(settings, std::min<unsigned>(jobs, static_cast<unsigned>(O.Files.size())), false, events);
        for (const std::string& f : O.Files)
            batch.Add(f, outDir);
        batch.Close();
        batch.Wait();
    }
    progress.Finish();
    return anyFailed ? 1 : 0;
}

} // namespace velmar::cli
