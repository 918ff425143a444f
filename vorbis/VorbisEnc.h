// Run-time binding of libvorbisenc (libvorbisenc.so.2): the library handle, its loaded
// flag and one pointer per entry point, resolved by name at start-up.
#pragma once

#include "vorbis/CodecBinding.h"

#include <vorbis/vorbisenc.h>

#define VELMAR_VORBISENC_ENTRIES(X) \
    X(vorbis_encode_init, 0) \
    X(vorbis_encode_setup_managed, 1) \
    X(vorbis_encode_setup_vbr, 1) \
    X(vorbis_encode_init_vbr, 0) \
    X(vorbis_encode_setup_init, 1) \
    X(vorbis_encode_ctl, 1)

namespace velmar::VorbisEnc {

// True once the library loaded with every entry point the encoder calls.
extern bool VorbisEncLibLoaded;
VELMAR_VORBISENC_ENTRIES(VELMAR_DECLARE_ENTRY)

// Loads the library and resolves its entry points; run once at start-up,
// before any encoder exists. Calling it again reloads.
void Startup();
// Releases the library; every pointer is null and the flag false after it.
void Shutdown();
// The file Startup loads ("libvorbisenc.so.2"); tests name a missing one.
void SetLibraryFile(const std::string& FileName);
// The file Startup loads, as the user is told of it when it is missing.
const std::string& LibraryFile();

} // namespace velmar::VorbisEnc
