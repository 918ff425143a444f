// Run-time binding of libvorbisfile (libvorbisfile.so.3): the library handle, its loaded
// flag and one pointer per entry point, resolved by name at start-up.
#pragma once

#include "vorbis/CodecBinding.h"

#include <vorbis/vorbisfile.h>

#define VELMAR_VORBISFILE_ENTRIES(X) \
    X(ov_clear, 0) \
    X(ov_open_callbacks, 0) \
    X(ov_test_callbacks, 0) \
    X(ov_test_open, 0) \
    X(ov_bitrate, 0) \
    X(ov_bitrate_instant, 0) \
    X(ov_streams, 0) \
    X(ov_seekable, 0) \
    X(ov_serialnumber, 0) \
    X(ov_raw_total, 0) \
    X(ov_pcm_total, 0) \
    X(ov_time_total, 0) \
    X(ov_raw_seek, 0) \
    X(ov_pcm_seek, 0) \
    X(ov_pcm_seek_page, 0) \
    X(ov_time_seek, 0) \
    X(ov_time_seek_page, 0) \
    X(ov_raw_tell, 0) \
    X(ov_pcm_tell, 0) \
    X(ov_time_tell, 0) \
    X(ov_info, 0) \
    X(ov_comment, 0) \
    X(ov_read_float, 0) \
    X(ov_read, 0)

namespace velmar::VorbisFile {

// True once the library loaded with every entry point the encoder calls.
extern bool VorbisFileLibLoaded;
VELMAR_VORBISFILE_ENTRIES(VELMAR_DECLARE_ENTRY)

// Loads the library and resolves its entry points; run once at start-up,
// before any encoder exists. Calling it again reloads.
void Startup();
// Releases the library; every pointer is null and the flag false after it.
void Shutdown();
// The file Startup loads ("libvorbisfile.so.3"); tests name a missing one.
void SetLibraryFile(const std::string& FileName);
// The file Startup loads, as the user is told of it when it is missing.
const std::string& LibraryFile();

} // namespace velmar::VorbisFile
