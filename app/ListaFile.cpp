#include "app/ListaFile.h"

#include "app/MessageDialog.h"
#include "app/Pagine.h"
#include "app/Primax.h"
#include "support/VelmarDropFiles.h"
#include "support/VelmarFileDialogEx.h"
#include "support/VelmarStatusBarImage.h"
#include "vorbis/VelmarVorbis.h"

#include <QFile>
#include <QListWidget>
#include <QPushButton>

#include <filesystem>

namespace velmar {

namespace {

// A dropped file's extension the list takes: WAVE files as their names are
// usually written, AIFF and FLAC in any case.
bool Trascinabile(const std::string& Ext)
{
    if (Ext == ".wav" || Ext == ".WAV")
        return true;
    const QString e = QString::fromStdString(Ext).toLower();
    return e == ".flac" || e == ".aif" || e == ".aiff" || e == ".aifc";
}

} // namespace

bool EsisteFile(const std::string& Path)
{
    std::error_code ec;
    return !Path.empty() && std::filesystem::is_regular_file(Path, ec);
}

QString Testo(const std::string& Path) { return QFile::decodeName(QByteArray::fromStdString(Path)); }

std::string TPrima::Voce(int Index) const
{
    const QListWidgetItem* item = Lista->item(Index);
    return item ? item->data(Qt::UserRole).toByteArray().toStdString() : std::string();
}

void TPrima::AggiungiVoce(const std::string& Path)
{
    // The text is for the eye; the bytes travel in the item's data, so a
    // name that is not valid UTF-8 still reaches the reader unchanged.
    auto* item = new QListWidgetItem(Testo(Path));
    item->setData(Qt::UserRole, QByteArray::fromStdString(Path));
    item->setToolTip(item->text());
    Lista->addItem(item);
    Accoda(Lista->count() - 1); // during a run, it joins it
}

void TPrima::AggiungiClick()
{
    TStringList files;
    bool confirmed;
    if (FApriHook) {
        confirmed = FApriHook(files);
    } else {
        confirmed = Apri->Execute();
        files = Apri->Files();
    }
    if (confirmed) {
        for (auto it = files.rbegin(); it != files.rend(); ++it)
            AggiungiVoce(*it);
    }
    Avanti->setEnabled(Lista->count() >= 1);
    PulsantePredefinito();
    Contatore();
}

void TPrima::DropDropFiles()
{
    for (int i = 0; i < Drop->Count(); ++i) {
        const std::string path = Drop->Files(i);
        const std::string name = path.substr(path.find_last_of('/') + 1);
        const size_t dot = name.find_last_of('.');
        const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
        if (Trascinabile(ext))
            AggiungiVoce(path);
        else
            Avviso(CaptionErrore, suiStop,
                   QStringLiteral("Il formato del file non \u00E8 supportato da Velmar Fennick!"));
    }
    Abilito();
    Contatore();
}

void TPrima::Elimina1Click()
{
    for (QListWidgetItem* item : Lista->selectedItems())
        delete Lista->takeItem(Lista->row(item));
    PulsantePredefinito();
    Contatore();
}

void TPrima::Eliminatutti1Click()
{
    if (Lista->count() > 0 && !Domanda(QStringLiteral("Eliminare tutti i brani dalla lista?")))
        return;
    Lista->clear();
    PulsantePredefinito();
    Contatore();
}

// During a run "Fine" stays disabled: files dropped then join the running
// batch, and a second run on the busy encoder must not be offered; "Salta"
// follows, a further file now existing.
void TPrima::Abilito()
{
    if (InCorso()) {
        Quantifile();
        return;
    }
    Avanti->setEnabled(Lista->count() >= 1);
    PulsantePredefinito();
}

void TPrima::Contatore()
{
    const int n = Lista->count();
    QString text;
    if (n == 0)
        text = QStringLiteral("Nessun brano presente");
    else if (n == 1)
        text = QStringLiteral("1 brano presente");
    else
        text = QString::number(n) + QStringLiteral(" brani presenti");
    Stato->Panels()->Items(0)->SetText(text);
}

void TPrima::PerformFileOpen()
{
    Annullato = false;
    for (const std::string& f : FileDaAprire)
        AggiungiVoce(f);
    Vorbis->SetCompression(0.4f);
    MostraPagina(2);
    Passo = 2;
    Avanti->setText(TestoFine);
    Avanti->setEnabled(true);
    Indietro->setEnabled(true);
    Verifico();
}

} // namespace velmar
