#include "vorbis/VorbisEnc.h"

namespace velmar::VorbisEnc {

VELMAR_BINDING_MODULE(VELMAR_VORBISENC_ENTRIES, VorbisEncLibLoaded, "libvorbisenc.so.2")

} // namespace velmar::VorbisEnc
