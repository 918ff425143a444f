#include "vorbis/ogg.h"

namespace velmar::ogg {

VELMAR_BINDING_MODULE(VELMAR_OGG_ENTRIES, OggLibLoaded, "libogg.so.0")

} // namespace velmar::ogg
