// The wizard's list of files. Each entry shows its path and carries it as
// bytes, so a name that is not valid UTF-8 still reaches the reader
// unchanged. TPrima's list handlers are in ListaFile.cpp (Voce,
// AggiungiVoce, AggiungiClick, DropDropFiles, Elimina1Click,
// Eliminatutti1Click, Abilito, Contatore, PerformFileOpen).
#pragma once

#include <QString>

#include <string>

namespace velmar {

// A path that names a regular file.
bool EsisteFile(const std::string& Path);
// A path as the window shows it.
QString Testo(const std::string& Path);

// An entry's place in the run's batch, in the entry's data; none when its
// file was missing as the run started.
inline constexpr int RuoloIndice = Qt::UserRole + 1;

} // namespace velmar
