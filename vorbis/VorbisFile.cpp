#include "vorbis/VorbisFile.h"

namespace velmar::VorbisFile {

VELMAR_BINDING_MODULE(VELMAR_VORBISFILE_ENTRIES, VorbisFileLibLoaded, "libvorbisfile.so.3")

} // namespace velmar::VorbisFile
