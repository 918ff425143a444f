// The wizard's run: the list's files queued on the engine's batch (TCodifica),
// shown, committed and reported in list order while the next ones encode
// in the background. TPrima's run handlers are in Esecuzione.cpp (Go,
// Altrifile, AzzeroTutto, Taggo, Quantifile, the Vorbis and Stima events,
// FermaClick, SaltaClick, AvvisoFineCodifica).
#pragma once

#include <QString>

namespace velmar {

// The duration TheTime (a day fraction) as "hh:mm:ss", to the nearest
// second; the hours go past 23 instead of wrapping, so a long estimate is
// not shown as a short one.
QString FormatoOre(double TheTime);

} // namespace velmar
