#include "vorbis/Codec.h"

namespace velmar::Codec {

VELMAR_BINDING_MODULE(VELMAR_CODEC_ENTRIES, VorbisLibLoaded, "libvorbis.so.0")

} // namespace velmar::Codec
