// Every reason a user can read, in Italian, in one table: the command line
// and the window say the same thing about the same file.
#pragma once

#include <cstdint>
#include <string>

namespace velmar {

enum class TMotivo {
    Nessuno,
    // The file system (from errno).
    FileInesistente,
    CartellaInesistente,
    PermessoNegato,
    DiscoPieno,
    QuotaEsaurita,
    ECartella,
    NonCartella,
    SolaLettura,
    NomeTroppoLungo,
    TroppiFileAperti,
    FileTroppoGrande,
    ErroreDisco,
    EsisteGia,
    ErroreSistema,      // Dettaglio: the errno value
    // What could not be done with a file (Dettaglio: the cause).
    AperturaImpossibile,
    LetturaImpossibile,
    ScritturaImpossibile,
    CreazioneImpossibile,
    RinominaImpossibile,
    CartellaImpossibile,
    CartellaIllegibile,
    FileCambiato,
    FineInattesa,
    FlussoNonRiavvolgibile, // a pipe asked for bytes it has let go
    // The audio file's contents.
    NonWave,
    FormatoSconosciuto,    // not WAVE, AIFF nor FLAC by its first bytes
    SenzaFormato,
    SenzaDati,
    FormatoNonSupportato,  // Dettaglio: the format's name and tag
    DatiDanneggiati,       // Dettaglio: what is wrong
    CanaliNonValidi,       // Dettaglio: the count
    FrequenzaNonValida,    // Dettaglio: the rate in Hz
    AmpiezzaNonSupportata, // Dettaglio: bits per sample
    EstensibileDanneggiato,
    // Warnings about a file that was encoded: they follow its quoted name
    // ("\"x.wav\" è troncato: ...").
    Troncato,              // Dettaglio: "5,0 s dei 20,0 s dichiarati"
    OltreDichiarato,       // Dettaglio: "7452,3 s invece dei 10,2 s dichiarati"
    SenzaWav,              // a folder with no audio file in it
    // Encoding and checking.
    LibreriaMancante,      // Dettaglio: the library's file name
    CodificatoreRifiuta,   // Dettaglio: channels, rate and quality
    MonoSoloDaStereo,      // --downmix of a file that is not stereo; Dettaglio: its channels
    RicampionamentoImpossibile, // Dettaglio: channels and rates
    LunghezzaErrata,       // Dettaglio: what was counted against what
    VerificaFallita,       // Dettaglio: what the decoder found
    UscitaUgualeIngresso,
    UscitaDoppia,          // a warning; Dettaglio: the name given instead
    ImmagineTroppoGrande,  // a warning: a picture left out; Dettaglio: its name
    ImmagineNonSupportata, // likewise, neither JPEG nor PNG
    ImmagineIllegibile,    // likewise, a cover file that cannot be read
    Interrotto,
    CartellaSenzaRicorsivo, // a folder given where a file is expected, without -R
    MemoriaEsaurita,
    ErroreInterno,         // Dettaglio: what the program found
};

// The reason's text; Dettaglio fills its "%s" where it has one.
std::string TestoMotivo(TMotivo Motivo, const std::string& Dettaglio = {});

// The reason for an errno value left by a file operation.
TMotivo MotivoErrno(int Errno);
// TestoMotivo(MotivoErrno(Errno)) with the errno value where it has no name.
std::string TestoErrno(int Errno);

// "5,0 s": Frames at Rate as seconds with one decimal and the Italian comma.
std::string Secondi(int64_t Frames, int Rate);

} // namespace velmar
