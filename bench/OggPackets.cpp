// Compares the audio packets of two Ogg Vorbis files (the three header
// packets are left out: the comment header differs by design) and prints
// the share that is identical, packet for packet in order.
// Usage: ogg_packets A.ogg B.ogg
#include <ogg/ogg.h>

#include <cstdio>
#include <vector>

using Packet = std::vector<unsigned char>;

// The packets of the first logical stream of Path, headers included.
static std::vector<Packet> Packets(const char* Path)
{
    std::vector<Packet> out;
    std::FILE* f = std::fopen(Path, "rb");
    if (!f)
        return out;
    ogg_sync_state sync;
    ogg_stream_state stream;
    ogg_sync_init(&sync);
    bool started = false;
    for (;;) {
        char* buf = ogg_sync_buffer(&sync, 65536);
        const size_t n = std::fread(buf, 1, 65536, f);
        ogg_sync_wrote(&sync, long(n));
        ogg_page page;
        while (ogg_sync_pageout(&sync, &page) == 1) {
            if (!started) {
                ogg_stream_init(&stream, ogg_page_serialno(&page));
                started = true;
            }
            if (ogg_stream_pagein(&stream, &page) != 0)
                continue; // another stream's page
            ogg_packet p;
            while (ogg_stream_packetout(&stream, &p) == 1)
                out.emplace_back(p.packet, p.packet + p.bytes);
        }
        if (n == 0)
            break;
    }
    if (started)
        ogg_stream_clear(&stream);
    ogg_sync_clear(&sync);
    std::fclose(f);
    return out;
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: ogg_packets A.ogg B.ogg\n");
        return 2;
    }
    const auto a = Packets(argv[1]), b = Packets(argv[2]);
    if (a.size() < 3 || b.size() < 3) {
        std::fprintf(stderr, "ogg_packets: not an Ogg Vorbis file\n");
        return 1;
    }
    const size_t na = a.size() - 3, nb = b.size() - 3;
    size_t same = 0;
    for (size_t i = 0; i < na && i < nb; ++i)
        same += a[i + 3] == b[i + 3];
    const size_t most = na > nb ? na : nb;
    std::printf("%zu of %zu audio packets identical (%.2f %%; %zu and %zu packets)\n", same, most,
                most ? 100.0 * double(same) / double(most) : 100.0, na, nb);
    return 0;
}
