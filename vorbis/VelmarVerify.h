// The check of a finished Ogg Vorbis file: decoded whole by libvorbisfile
// (an independent reader of what the encoder wrote), it must hold the
// channels and the frames that were fed.
#pragma once

#include <cstdint>
#include <string>

namespace velmar {

// True when libvorbisfile is loaded (LoadCodecLibraries) with every entry
// point the check calls; without them only the check is unavailable.
bool VerificaDisponibile();

// Decodes Path whole and checks that it is one Vorbis stream of Channels
// channels and Frames frames, that every packet decodes and that the length
// its last page states is the decoded one.
// Failure: VelmarException with TMotivo::VerificaFallita naming Path and
// what the decoder found; EStreamError when Path cannot be opened;
// VelmarException with TMotivo::LibreriaMancante when !VerificaDisponibile().
// Thread: any; calls on different files may run at once.
void VerificaOgg(const std::string& Path, int Channels, int64_t Frames);

} // namespace velmar
