// A finished Ogg Vorbis file's comment header replaced whole, every entry
// kept as given: the one rewrite the program makes of a file it wrote (a
// stopped part that must not carry the program's COMMENT).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmar {

class TTemporaryHold;

// Replaces the user comments of the Vorbis stream in File with Comments
// (lines NAME=value, verbatim, in order); the vendor string stays. The
// header pages are laid out anew, so the comment header may span pages and
// change size, and the audio pages are copied after them, renumbered when
// the header's page count changed. The new file is written beside File,
// created exclusively, with File's permissions, flushed and renamed over
// File, and the folder is synced: File is never missing or half-written.
// Hold, when given, receives the mark of the new file as a temporary one
// (File being itself a part that waits for its name).
// False, with File untouched and nothing left behind, when File does not
// begin as one Vorbis stream whose three header packets end their page, a
// page after them is broken, or a step of the copy fails.
bool ReplaceVorbisComments(const std::string& File, const std::vector<std::string>& Comments,
                           std::shared_ptr<TTemporaryHold>* Hold = nullptr);

// ReplaceVorbisComments with the file's own comments less every entry
// equal to Entry.
bool RemoveVorbisComment(const std::string& File, const std::string& Entry,
                         std::shared_ptr<TTemporaryHold>* Hold = nullptr);

// The same with the comments Edit makes of the file's own (false, as above,
// also when they cannot be read).
bool EditVorbisComments(const std::string& File,
                        const std::function<std::vector<std::string>(std::vector<std::string>)>& Edit,
                        std::shared_ptr<TTemporaryHold>* Hold = nullptr);

} // namespace velmar
