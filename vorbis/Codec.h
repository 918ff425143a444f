// Run-time binding of libvorbis (libvorbis.so.0): the library handle, its loaded
// flag and one pointer per entry point, resolved by name at start-up.
#pragma once

#include "vorbis/CodecBinding.h"

#include <vorbis/codec.h>

#define VELMAR_CODEC_ENTRIES(X) \
    X(vorbis_info_init, 1) \
    X(vorbis_info_clear, 1) \
    X(vorbis_info_blocksize, 0) \
    X(vorbis_comment_init, 1) \
    X(vorbis_comment_add, 0) \
    X(vorbis_comment_add_tag, 1) \
    X(vorbis_comment_query, 0) \
    X(vorbis_comment_query_count, 0) \
    X(vorbis_comment_clear, 1) \
    X(vorbis_block_init, 1) \
    X(vorbis_block_clear, 1) \
    X(vorbis_dsp_clear, 1) \
    X(vorbis_analysis_init, 1) \
    X(vorbis_commentheader_out, 0) \
    X(vorbis_analysis_headerout, 1) \
    X(vorbis_analysis_buffer, 1) \
    X(vorbis_analysis_wrote, 1) \
    X(vorbis_analysis_blockout, 1) \
    X(vorbis_analysis, 1) \
    X(vorbis_bitrate_addblock, 1) \
    X(vorbis_bitrate_flushpacket, 1) \
    X(vorbis_synthesis_headerin, 0) \
    X(vorbis_synthesis_init, 0) \
    X(vorbis_synthesis, 0) \
    X(vorbis_synthesis_blockin, 0) \
    X(vorbis_synthesis_pcmout, 0) \
    X(vorbis_synthesis_read, 0) \
    X(vorbis_packet_blocksize, 0)

namespace velmar::Codec {

// True once the library loaded with every entry point the encoder calls.
extern bool VorbisLibLoaded;
VELMAR_CODEC_ENTRIES(VELMAR_DECLARE_ENTRY)

// Loads the library and resolves its entry points; run once at start-up,
// before any encoder exists. Calling it again reloads.
void Startup();
// Releases the library; every pointer is null and the flag false after it.
void Shutdown();
// The file Startup loads ("libvorbis.so.0"); tests name a missing one.
void SetLibraryFile(const std::string& FileName);
// The file Startup loads, as the user is told of it when it is missing.
const std::string& LibraryFile();

} // namespace velmar::Codec
