#include "platform/Motivi.h"

#include <cerrno>
#include <cstdio>
#include <iterator>

namespace velmar {

namespace {

struct TRiga {
    TMotivo Motivo;
    const char* Testo;
};

// One row per reason; "%s" takes the detail.
const TRiga Tabella[] = {
    {TMotivo::Nessuno, ""},
    {TMotivo::FileInesistente, "il file non esiste"},
    {TMotivo::CartellaInesistente, "la cartella non esiste"},
    {TMotivo::PermessoNegato, "permesso negato"},
    {TMotivo::DiscoPieno, "il disco è pieno"},
    {TMotivo::QuotaEsaurita, "lo spazio su disco concesso all'utente è esaurito"},
    {TMotivo::ECartella, "è una cartella"},
    {TMotivo::NonCartella, "una parte del percorso non è una cartella"},
    {TMotivo::SolaLettura, "il disco è di sola lettura"},
    {TMotivo::NomeTroppoLungo, "il nome è troppo lungo"},
    {TMotivo::TroppiFileAperti, "troppi file aperti"},
    {TMotivo::FileTroppoGrande, "il file è troppo grande"},
    {TMotivo::ErroreDisco, "errore di lettura o scrittura sul disco"},
    {TMotivo::EsisteGia, "esiste già un file con questo nome"},
    {TMotivo::ErroreSistema, "errore del sistema (codice %s)"},
    {TMotivo::AperturaImpossibile, "impossibile aprire il file: %s"},
    {TMotivo::LetturaImpossibile, "impossibile leggere il file: %s"},
    {TMotivo::ScritturaImpossibile, "impossibile scrivere il file: %s"},
    {TMotivo::CreazioneImpossibile, "impossibile creare il file: %s"},
    {TMotivo::RinominaImpossibile, "impossibile rinominare il file: %s"},
    {TMotivo::CartellaImpossibile, "impossibile creare la cartella: %s"},
    {TMotivo::CartellaIllegibile, "impossibile leggere la cartella: %s"},
    {TMotivo::FileCambiato, "il file è cambiato durante la lettura"},
    {TMotivo::FineInattesa, "il file finisce prima del previsto"},
    {TMotivo::FlussoNonRiavvolgibile, "da un flusso non si possono rileggere i dati già passati"},
    {TMotivo::NonWave, "non è un file WAVE"},
    {TMotivo::FormatoSconosciuto, "non è un file WAVE, AIFF o FLAC"},
    {TMotivo::SenzaFormato, "manca la descrizione del formato (blocco \"fmt \")"},
    {TMotivo::SenzaDati, "mancano i dati audio (blocco \"data\")"},
    {TMotivo::FormatoNonSupportato, "formato non supportato: %s"},
    {TMotivo::DatiDanneggiati, "dati audio danneggiati: %s"},
    {TMotivo::CanaliNonValidi, "numero di canali non valido: %s"},
    {TMotivo::FrequenzaNonValida, "frequenza di campionamento non valida: %s Hz"},
    {TMotivo::AmpiezzaNonSupportata, "ampiezza dei campioni non supportata: %s bit"},
    {TMotivo::EstensibileDanneggiato, "intestazione WAVE_FORMAT_EXTENSIBLE danneggiata o sconosciuta"},
    {TMotivo::Troncato, "è troncato: %s"},
    {TMotivo::OltreDichiarato, "ha dati audio oltre la lunghezza dichiarata: letto fino alla fine del file, %s"},
    {TMotivo::SenzaWav, "non contiene file .wav, .flac, .aif, .aiff o .aifc"},
    {TMotivo::LibreriaMancante, "manca la libreria %s"},
    {TMotivo::CodificatoreRifiuta, "il codificatore Vorbis non accetta %s"},
    {TMotivo::MonoSoloDaStereo, "si può passare a mono solo un file stereo, questo ha %s canali"},
    {TMotivo::RicampionamentoImpossibile, "impossibile ricampionare %s"},
    {TMotivo::LunghezzaErrata, "la lunghezza codificata non torna: %s"},
    {TMotivo::VerificaFallita, "la verifica del file prodotto è fallita: %s"},
    {TMotivo::UscitaUgualeIngresso, "il file di uscita coincide con il file di ingresso"},
    {TMotivo::UscitaDoppia, "è salvato come %s: il nome è già usato da un altro file della lista"},
    {TMotivo::ImmagineTroppoGrande, "è senza l'immagine %s: supera i 16 MiB"},
    {TMotivo::ImmagineNonSupportata, "è senza l'immagine %s: non è un JPEG né un PNG"},
    {TMotivo::ImmagineIllegibile, "è senza l'immagine %s: non si può leggere"},
    {TMotivo::Interrotto, "interrotto"},
    {TMotivo::CartellaSenzaRicorsivo, "è una cartella (-R, --ricorsivo, converte i file che contiene)"},
    {TMotivo::MemoriaEsaurita, "memoria insufficiente"},
    {TMotivo::ErroreInterno, "errore interno: %s"},
};

} // namespace

std::string TestoMotivo(TMotivo Motivo, const std::string& Dettaglio)
{
    for (const TRiga& r : Tabella) {
        if (r.Motivo != Motivo)
            continue;
        std::string t = r.Testo;
        const auto at = t.find("%s");
        if (at != std::string::npos)
            t.replace(at, 2, Dettaglio);
        return t;
    }
    return {};
}

TMotivo MotivoErrno(int Errno)
{
    switch (Errno) {
    case ENOENT: return TMotivo::FileInesistente;
    case EEXIST: return TMotivo::EsisteGia;
    case EACCES:
    case EPERM: return TMotivo::PermessoNegato;
    case ENOSPC: return TMotivo::DiscoPieno;
    case EDQUOT: return TMotivo::QuotaEsaurita;
    case EISDIR: return TMotivo::ECartella;
    case ENOTDIR: return TMotivo::NonCartella;
    case EROFS: return TMotivo::SolaLettura;
    case ENAMETOOLONG: return TMotivo::NomeTroppoLungo;
    case EMFILE:
    case ENFILE: return TMotivo::TroppiFileAperti;
    case EFBIG: return TMotivo::FileTroppoGrande;
    case EIO: return TMotivo::ErroreDisco;
    default: return TMotivo::ErroreSistema;
    }
}

std::string TestoErrno(int Errno)
{
    return TestoMotivo(MotivoErrno(Errno), std::to_string(Errno));
}

std::string Secondi(int64_t Frames, int Rate)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.1f s", Rate > 0 ? double(Frames) / Rate : 0.0);
    std::string s = text;
    if (auto dot = s.find('.'); dot != std::string::npos)
        s[dot] = ',';
    return s;
}

} // namespace velmar
