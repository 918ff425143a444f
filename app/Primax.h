// The wizard window: three steps (settings, file list, run) that turn WAVE
// files into Ogg Vorbis files in the user's Musica folder.
#pragma once

#include "platform/Classes.h"

#include <QList>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QSlider;
class QStackedWidget;

namespace velmar {

class TMessageDialog;
class TVelmarDialogEx;
class TVelmarEstimatedTimer;
class TVelmarFolder;
class TVelmarFormDropFiles;
class TVelmarLine;
class TVelmarMailLabel;
class TVelmarNotifica;
class TVelmarOggVorbis;
class TVelmarPathLabel;
class TVelmarRateConverter;
class TVelmarRotateLabel;
class TVelmarStatusBarImage;
class TVelmarVorbisOut;
class TVelmarWaveIn;
class TVelmarWebLabel;
class TCodifica;
struct TEncodeSettings;

// TPrima: a fixed 454 x 349 frameless window whose frame `Forma` draws the
// title bar (icon opening the window menu `pop`, caption, close button).
// `Pagina` holds four pages: 0 welcome, 1 quality and sample rate, 2 file
// list, 3 the run. `Passo` (0..2) is the step navigation shows; page 3 is
// reached only by a run, with `Passo` staying 2.
//
// Construction runs FormCreate: the output folder CartellaMusica
// (Persona.Personale + "/Musica") is made with its parents and named on
// the welcome page, the wizard is put on page 0 with its count text, and
// the command line (the parameters without the program's name, as raw
// bytes) is read into RigaComando and FileComando. The first show centres
// the window on the screen that holds the pointer (before the window
// system makes it, so that the window knows its place under a window
// manager from the start), puts the focus on
// "Avanti" and runs FormShow: when the parameters joined with blanks name
// an existing file (a path split at its blanks comes back whole), that
// file opens on step 2; otherwise every parameter that names an existing
// file does, in the order given (a file manager's %F passes each selected
// file whole). Opened so, the program closes at the end of its run. The
// first activation gives the start settings (quality 4, "44.100 Hz").
//
// The open dialog `Apri` opens in the folder confirmed in it last, kept in
// $XDG_CONFIG_HOME/velmar-fennick/velmar-fennick.conf (the program's only
// setting), else in the music folder, else at home.
//
// Moving: dragging the title bar or the banner moves the window (Finestra.h).
//
// Keyboard: every button has an Alt accelerator, none shared among the
// buttons one page shows; the title bar's buttons take no focus. Enter
// presses the default button: "Avanti" on steps 0 and 1, on step 2 "Fine"
// while the list has entries and "Aggiungi files" while it is empty.
// Escape is "Chiudi". Delete on the list removes the selected entries;
// "Elimina tutti" asks first.
//
// The run: "Fine" (Go) reads the settings (Vorbis->Compression,
// Rate->OutSampleRate, Rate->AltaQualita) and queues every entry of
// `Lista` on a batch with one worker per processor (TCodifica), each file
// encoded and tagged off this thread into a part that waits for the
// window. Entry 0 is the file shown: page 3 gives its output path, its
// progress (as far as it has got when it is shown) and its times; when it
// ends, its part takes its name (Taggo) or its failure is reported in
// `Messaggio`, its entry goes and the next entry is shown, so files are
// shown, tagged, reported and dropped in list order while the next ones
// already encode. Outputs are named like the input with its extension
// (from the last dot of the name) replaced by "ogg"; a name taken twice in
// one run becomes "Nome (2).ogg". Files dropped during a run join it.
// Warnings (a truncated input, a renamed output, a missing comment) are
// listed in one box at the end of the run. The GUI thread never waits for
// the audio work: the batch's events arrive as queued calls, in order.
// The times read their captions alone at the start of each shown file. The
// end of a run with files encoded to the end (neither skipped nor cut off)
// is told by a desktop notification that counts them and says whether the
// run was cancelled (AvvisoFineCodifica).
//
// Closing: FormCloseQuery asks only while page 3 is shown (never after
// ChiudiSenzaChiedere, which app/Segnali's signals call); every close
// writes the per-user desktop entry of the file manager's command
// (Aggiornoregistro), unless the program is an installed one whose system
// entry offers it already: then an old per-user entry is removed instead.
// Closing or destroying the window during a run cancels it: the shown file
// ends as a complete stream without the comment, the others leave nothing.
//
// The window wires its parts, each defined in a file of its own: the
// window and its pages (Pagine.cpp), the list (ListaFile.cpp), the run
// (Esecuzione.cpp), the file manager's entry (VoceDesktop).
//
// Test seams: `Messaggio` takes an answer hook; SetApriHook replaces the
// open dialog; SetCartellaProgramma the running program's folder;
// `Notifica` takes another bus; Processi sets the workers of the next run.
// Lifecycle: a top-level widget; it owns every control and component, and
// the run, whose workers it joins as it goes (after telling them to stop).
// Thread: GUI thread only.
class TPrima : public QWidget {
    Q_OBJECT
public:
    // Returns whether the user confirmed; Files in the dialog's order.
    using TApriHook = std::function<bool(TStringList& Files)>;

    explicit TPrima(const std::vector<std::string>& Parametri = {}, QWidget* AParent = nullptr);
    ~TPrima() override;

    void SetApriHook(TApriHook Hook) { FApriHook = std::move(Hook); }
    // Folder ends in "/"; by default the running program's.
    void SetCartellaProgramma(const QString& Folder) { FCartellaProgramma = Folder; }

    // The output path for an input path.
    std::string NomeUscita(const std::string& Input) const;
    // Entry Index of Lista as the path's bytes.
    std::string Voce(int Index) const;
    void AggiungiVoce(const std::string& Path);

    // ---- handlers -----------------------------------------------------------
    void FormCreate();
    void FormShow();
    void FormActivate();
    void FormCloseQuery(bool& CanClose);
    void FormClose();
    void AvantiClick();
    void IndietroClick();
    void Verifico();
    void Qualita();
    void QualitaSample();
    void DefaultClick();
    void InformazioniClick();
    void ChiudiClick();
    void HimClick();
    void HeerClick();
    // File list.
    void AggiungiClick();
    void DropDropFiles();
    void Elimina1Click();
    void Eliminatutti1Click();
    void Abilito();
    void Contatore();
    // The run.
    void Go();
    void Altrifile();
    void AzzeroTutto();
    void Taggo();
    void Quantifile();
    void VorbisProgress(int Percent);
    void VorbisDone();
    void VorbisThreadException(const QString& Reason);
    void FermaClick();
    void SaltaClick();
    void StimaGetCurrentCount(int& Count);
    void StimaGetTotalCount(int& Count);
    void StimaDisplayElapsedTime(double TheTime);
    void StimaDisplayEstTime(double TheTime);
    // The desktop notification "Codifica completata: N file in <the output
    // folder>", "Codifica annullata: ..." when the user cancelled the run;
    // nothing when NumeroFile is 0.
    void AvvisoFineCodifica(int NumeroFile, bool Annullata);
    // The file manager's command.
    void Aggiornoregistro();
    void PerformFileOpen();

    // A run is in progress (page 3 shown).
    bool InCorso() const;
    // "Chiudi" confirmed without asking (a signal: a logout must not wait
    // on a question): open boxes are closed first, then the window, a run
    // in progress cancelled as closing cancels it.
    void ChiudiSenzaChiedere();

    void setVisible(bool Visible) override;

    // ---- state ----------------------------------------------------------------
    int Passo = 0;
    bool Annullato = false;
    bool ChiudiAllaFine = false;
    // Files a run encodes at once; 0: one per processor.
    unsigned Processi = 0;
    std::string CartellaMusica;
    std::string RigaComando;
    std::string FileComando;
    // What FormShow opened from the command line, in list order.
    std::vector<std::string> FileDaAprire;

    // ---- controls -------------------------------------------------------------
    QWidget* Forma;
    QLabel* Banner;
    TVelmarLine* Linea;
    QStackedWidget* Pagina;
    QPushButton* Indietro;
    QPushButton* Avanti;
    QPushButton* Chiudi;
    TVelmarStatusBarImage* Stato;
    TVelmarWebLabel* Home;
    TVelmarMailLabel* Mail;
    QLabel* Icone[4];
    // Page 0.
    TVelmarRotateLabel* Titolo;
    QLabel* Label1;
    // Page 1.
    QLabel* Label2;
    QGroupBox* QualitaOgg;
    QSlider* BarraOgg;
    QGroupBox* SampleOgg;
    QComboBox* SampleBox;
    QPushButton* Default;
    QLabel* Label5;
    // Page 2.
    QLabel* Label4;
    QListWidget* Lista;
    QPushButton* Aggiungi;
    QLabel* Label3;
    // Page 3.
    QLabel* Label6;
    QLabel* Label7;
    TVelmarPathLabel* Porco;
    QProgressBar* Barra;
    QLabel* TraLab;
    QLabel* TotLab;
    QPushButton* Salta;
    QPushButton* Ferma;
    // Menus.
    QMenu* pop;
    QAction* Informazioni;
    QAction* Him;
    QAction* Heer;
    QAction* Chiudi1;
    QMenu* Popup;
    QAction* Aggiungi1;
    QAction* Elimina1;
    QAction* Eliminatutti1;

    // ---- components -----------------------------------------------------------
    TVelmarWaveIn* Wave;
    TVelmarRateConverter* Rate;
    TVelmarVorbisOut* Vorbis;
    TVelmarOggVorbis* Oggo;
    TVelmarEstimatedTimer* Stima;
    TVelmarFolder* Persona;
    TVelmarFormDropFiles* Drop;
    TVelmarDialogEx* Apri;
    TMessageDialog* Messaggio;
    TVelmarNotifica* Notifica;
    QList<QPixmap> Immagini2;

protected:
    void showEvent(QShowEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    bool event(QEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;

private:
    void CreaFinestra();
    void CreaPagina0(QWidget* P);
    void CreaPagina1(QWidget* P);
    void CreaPagina2(QWidget* P);
    void CreaPagina3(QWidget* P);
    void CreaMenu();
    void CreaComponenti();
    void CollegaEncoder(const TEncodeSettings& Settings);
    void LeggoRigaComando(const std::vector<std::string>& Parametri);
    void MostraPagina(int Index);
    void Avviso(const QString& Caption, int Icon, const QString& Text);
    bool Domanda(const QString& Text);
    void ProssimaVoce();
    void MostraCartella();
    void PulsantePredefinito();
    void AzzeroTempi();
    void Accoda(int Row);
    long long Mostrata() const;
    bool MostraVoce();
    bool ChiudiVoce();
    void AvviaStima();
    void MostraAvvisi();

    // Owner of the components that hold the run's settings.
    TComponent FComponenti;
    // The run in progress (a child); null between runs.
    TCodifica* FCodifica = nullptr;
    // "\"file\" warning" lines of the run, shown at its end.
    QStringList FAvvisi;
    std::vector<std::string> FParametri;
    TApriHook FApriHook;
    QString FCartellaProgramma;
    bool FPosta = false;    // centred on the screen, before the first show
    bool FMostrata = false;
    bool FAttivata = false;
    bool FChiusa = false;
    bool FSenzaDomanda = false; // ChiudiSenzaChiedere: the close is confirmed
    int FCompletati = 0;  // files of this run encoded to their end
};

} // namespace velmar
