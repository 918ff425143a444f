// What an output carries besides the tags: the pictures (the source's, or a
// cover file) as METADATA_BLOCK_PICTURE comments, and the source's cue
// points as chapters (the Vorbis chapter extension).
#pragma once

#include "platform/Classes.h"
#include "sources/Pictures.h"

#include <string>
#include <vector>

namespace velmar {

// The largest picture put into a stream; a larger one is left out with a
// warning (players read the whole comment header before the audio).
inline constexpr size_t MaxPictureBytes = 16u << 20;

// "METADATA_BLOCK_PICTURE=" and the base64 of P as a FLAC picture block
// (type, MIME type, description, width, height, depth, data): what taggers
// and players read in Vorbis comments. The MIME type is the data's own
// when the source gave none.
std::string PictureComment(const TPicture& P);

// Why P is left out (an Italian warning naming Name), or "" when it goes in:
// larger than MaxPictureBytes, or neither a JPEG nor a PNG.
std::string PictureRefusal(const TPicture& P, const std::string& Name);

// A cover beside Input: in its folder, a file named cover, folder or front
// with the extension .jpg, .jpeg or .png, in any case (in that order of
// names); "" when there is none.
std::string CoverBeside(const std::string& Input);

// File read as a front cover; false, with an Italian warning naming it,
// when it cannot be read or is larger than MaxPictureBytes.
bool ReadCover(const std::string& File, TPicture& Picture, std::string& Warning);

// CHAPTER001=HH:MM:SS.mmm and CHAPTER001NAME=... for each cue point, in
// time order, at the output's times: a point's frame at InRate becomes the
// frame at OutRate the rate converter puts it on (rounded). Points past
// Frames (when >= 0) are left out.
TStringList ChapterComments(std::vector<TCuePoint> Cues, int InRate, int OutRate, int64_t Frames);

} // namespace velmar
