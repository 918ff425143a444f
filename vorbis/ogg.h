// Run-time binding of libogg (libogg.so.0): the library handle, its loaded
// flag and one pointer per entry point, resolved by name at start-up.
#pragma once

#include "vorbis/CodecBinding.h"

#include <ogg/ogg.h>

// Still named by the binding though current libogg no longer exports them;
// declared here only so their pointer types can be spelled.
extern "C" long oggpack_look_huff(oggpack_buffer* b, int bits);
extern "C" void oggpack_adv_huff(oggpack_buffer* b, int bits);

#define VELMAR_OGG_ENTRIES(X) \
    X(ogg_stream_init, 1) \
    X(ogg_stream_clear, 1) \
    X(ogg_stream_reset, 0) \
    X(ogg_stream_destroy, 0) \
    X(ogg_stream_eos, 0) \
    X(ogg_page_checksum_set, 0) \
    X(ogg_page_version, 0) \
    X(ogg_page_continued, 0) \
    X(ogg_page_bos, 0) \
    X(ogg_page_eos, 1) \
    X(ogg_page_granulepos, 1) \
    X(ogg_page_serialno, 0) \
    X(ogg_page_pageno, 0) \
    X(ogg_page_packets, 0) \
    X(ogg_packet_clear, 0) \
    X(oggpack_writeinit, 0) \
    X(oggpack_reset, 0) \
    X(oggpack_writeclear, 0) \
    X(oggpack_readinit, 0) \
    X(oggpack_write, 0) \
    X(oggpack_look, 0) \
    X(oggpack_look_huff, 0) \
    X(oggpack_look1, 0) \
    X(oggpack_adv, 0) \
    X(oggpack_adv_huff, 0) \
    X(oggpack_adv1, 0) \
    X(oggpack_read, 0) \
    X(oggpack_read1, 0) \
    X(oggpack_bytes, 0) \
    X(oggpack_bits, 0) \
    X(oggpack_get_buffer, 0) \
    X(ogg_stream_packetin, 1) \
    X(ogg_stream_pageout, 1) \
    X(ogg_stream_flush, 1) \
    X(ogg_sync_init, 0) \
    X(ogg_sync_clear, 0) \
    X(ogg_sync_reset, 0) \
    X(ogg_sync_destroy, 0) \
    X(ogg_sync_buffer, 0) \
    X(ogg_sync_wrote, 0) \
    X(ogg_sync_pageseek, 0) \
    X(ogg_sync_pageout, 0) \
    X(ogg_stream_pagein, 0) \
    X(ogg_stream_packetout, 0) \
    X(ogg_stream_packetpeek, 0)

namespace velmar::ogg {

// True once the library loaded with every entry point the encoder calls.
extern bool OggLibLoaded;
VELMAR_OGG_ENTRIES(VELMAR_DECLARE_ENTRY)

// Loads the library and resolves its entry points; run once at start-up,
// before any encoder exists. Calling it again reloads.
void Startup();
// Releases the library; every pointer is null and the flag false after it.
void Shutdown();
// The file Startup loads ("libogg.so.0"); tests name a missing one.
void SetLibraryFile(const std::string& FileName);
// The file Startup loads, as the user is told of it when it is missing.
const std::string& LibraryFile();

} // namespace velmar::ogg
