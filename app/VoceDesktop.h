// The file manager's command "Converti in Ogg Vorbis con Velmar Fennick":
// the per-user desktop entry a program run from its build folder writes,
// and what tells an installed program, whose system entry offers the
// command already.
#pragma once

#include <QString>

namespace velmar {

// Whether the program in Folder (ending in "/") is an installed one that
// the desktop offers through its system entry velmar-fennick.desktop: the
// install's data folder (Folder + DatiDaProgrammi) holds that entry and is
// one of the data folders the desktop reads ($XDG_DATA_HOME and
// $XDG_DATA_DIRS, default /usr/local/share:/usr/share).
bool Installato(const QString& Folder);

// The Exec value of the desktop entry for a program in Folder (ending in
// "/"): the quoted path of Folder + "fennick", escaped as desktop entries
// require, then " %F": every file selected goes to one window.
QString RigaExec(const QString& Folder);

// Writes $XDG_DATA_HOME/applications/velmar-fennick-converti.desktop for
// the program in CartellaProgramma (ending in "/"), whole through a
// temporary file renamed over the old one; a failure leaves the old entry
// and is not reported. For an installed program (Installato), an old
// per-user entry is removed instead: it would show the command twice.
void AggiornaVoceDesktop(const QString& CartellaProgramma);

} // namespace velmar
