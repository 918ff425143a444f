// What the encoder shows of its stream to someone measuring it as it goes:
// the samples as they reach libvorbis, and comments filled in once the
// stream has ended (a loudness, say), so nothing is read or written twice.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace velmar {

class TVorbisTap {
public:
    virtual ~TVorbisTap() = default;
    // Each slice as it goes to libvorbis: planar, in Vorbis channel order,
    // full scale 1.0. The encoder's thread.
    virtual void Samples(const float* const* Planar, int Channels, int Frames) = 0;
    // Once the stream has ended, whole or stopped: each comment the header
    // was written with as a placeholder, and its final text, of the same
    // length. The encoder's thread.
    virtual std::vector<std::pair<std::string, std::string>> Final() = 0;
};

} // namespace velmar
