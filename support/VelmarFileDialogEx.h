// The open-file dialog with settable captions and a places bar that can be
// hidden.
#pragma once

#include "platform/Classes.h"

#include <QFileDialog>
#include <QString>
#include <functional>
#include <string>

class QCheckBox;
class QPushButton;

namespace velmar {

// A Qt component's notify event: called only when assigned.
using TVelmarNotifyEvent = std::function<void(QObject* Sender)>;

// TVelmarDialogEx is a QFileDialog that always uses Qt's own (non-native)
// dialog, so that its captions can be set. When the dialog is shown, every
// caption is applied, an empty one included:
//
//   Property          Default                 Control
//   TestoOK           "&Apri"                 open button (QFileDialog::Accept;
//                                             Qt puts its own caption back
//                                             for an empty text)
//   TestoAnnulla      "Annulla"               cancel button (QFileDialog::Reject)
//   TestoDrive        "Cerca in:"             label of the folder box (LookIn)
//   TestoNome         "Nome del file:"        label of the file-name box (FileName)
//   TestoTipo         "Tipo di file:"         label of the file-type box (FileType)
//   TestoSolalettura  "Apri in sola lettura"  read-only check box
//   TestoAiuto        "&Aiuto"                help button
//
// Qt's dialog has neither a read-only check box nor a help button; this one
// adds them, hidden unless HideReadOnly is false (the check box) or
// ShowHelp is true (the button, which calls OnHelp).
//
// ShowPlacesBar (true at start) shows or hides the dialog's sidebar of
// places (found by its object name "sidebar"; a Qt without it just has
// nothing to hide).
//
// The program speaks Italian whatever the system's language: the detail
// view shows sizes and dates in Italian (QLocale Italian, Italy) and a
// folder's type as "Cartella" (TestoDettaglio); its column headers and the
// sidebar are made wide enough for their texts (Qt sizes them for English)
// whenever the dialog is shown. When the dialog hides, so does its name box's
// completion list.
//
// The name box takes several quoted names, relative to the folder shown or
// absolute ("a.wav" "/b/c d.wav"); Files() then lists them in the box's
// order.
//
// Memoria (empty at start) names a settings file (INI) of the program's
// own. Set, every Execute opens in the folder of the last confirmed
// dialog, kept there between sessions; without one, or with that folder
// gone, in the user's music folder (XDG MUSIC) when it exists, else in the
// home folder. Empty, the dialog keeps the folder it was given.
//
// Use: set the filter (SetFilter takes "Name|patterns|Name|patterns",
// patterns separated by ';'), setWindowTitle, setFileMode(ExistingFiles)
// for multiple selection, then Execute(). True: the user confirmed, and
// Files() holds every chosen path (full, in the file system's encoding),
// FileName() the first. False: cancelled, Files() empty.
//
// Lifecycle: owned by its Qt parent. Thread: GUI thread only; Execute is
// modal and runs a local event loop.
class TVelmarDialogEx : public QFileDialog {
    Q_OBJECT
public:
    explicit TVelmarDialogEx(QWidget* AParent = nullptr);

    bool Execute();
    const TStringList& Files() const { return FFiles; }
    std::string FileName() const { return FFiles.empty() ? std::string() : FFiles.front(); }

    const QString& Filter() const { return FFilter; }
    void SetFilter(const QString& AFilter);

    const QString& TestoOK() const { return FTestoOK; }
    void SetTestoOK(const QString& T) { FTestoOK = T; }
    const QString& TestoAnnulla() const { return FTestoAnnulla; }
    void SetTestoAnnulla(const QString& T) { FTestoAnnulla = T; }
    const QString& TestoDrive() const { return FTestoDrive; }
    void SetTestoDrive(const QString& T) { FTestoDrive = T; }
    const QString& TestoNome() const { return FTestoNome; }
    void SetTestoNome(const QString& T) { FTestoNome = T; }
    const QString& TestoTipo() const { return FTestoTipo; }
    void SetTestoTipo(const QString& T) { FTestoTipo = T; }
    const QString& TestoSolalettura() const { return FTestoSolalettura; }
    void SetTestoSolalettura(const QString& T) { FTestoSolalettura = T; }
    const QString& TestoAiuto() const { return FTestoAiuto; }
    void SetTestoAiuto(const QString& T) { FTestoAiuto = T; }

    bool ShowPlacesBar() const { return FShowPlacesBar; }
    void SetShowPlacesBar(bool S);
    bool HideReadOnly() const { return FHideReadOnly; }
    void SetHideReadOnly(bool H);
    bool ShowHelp() const { return FShowHelp; }
    void SetShowHelp(bool S);
    // The read-only check box: set before Execute, read after it.
    bool ReadOnly() const;
    void SetReadOnly(bool R);
    const QString& Memoria() const { return FMemoria; }
    void SetMemoria(const QString& File) { FMemoria = File; }
    const TVelmarNotifyEvent& OnHelp() const { return FOnHelp; }
    void SetOnHelp(TVelmarNotifyEvent E) { FOnHelp = std::move(E); }

protected:
    void showEvent(QShowEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;
    // Sets the seven captions and the optional controls; runs on every show.
    virtual void DoShow();

private:
    void Allarga();
    QString CartellaIniziale() const;

    QString FTestoOK = QStringLiteral("&Apri");
    QString FTestoAnnulla = QStringLiteral("Annulla");
    QString FTestoDrive = QStringLiteral("Cerca in:");
    QString FTestoNome = QStringLiteral("Nome del file:");
    QString FTestoTipo = QStringLiteral("Tipo di file:");
    QString FTestoSolalettura = QStringLiteral("Apri in sola lettura");
    QString FTestoAiuto = QStringLiteral("&Aiuto");
    QString FFilter;
    bool FShowPlacesBar = true;
    bool FHideReadOnly = true;
    bool FShowHelp = false;
    QCheckBox* FReadOnlyBox;
    QPushButton* FHelpButton = nullptr;
    TVelmarNotifyEvent FOnHelp;
    TStringList FFiles;
    QString FMemoria;
};

// What the detail view shows for Index of the dialog's file model: sizes
// and dates in Italian, "Cartella" for a folder's type.
QString TestoDettaglio(const QModelIndex& Index);

} // namespace velmar
