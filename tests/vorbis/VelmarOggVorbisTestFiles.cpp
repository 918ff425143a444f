#include "VelmarOggVorbisTestFiles.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include <ogg/ogg.h>
#include <vorbis/vorbisenc.h>

namespace oggvorbis_test {

namespace {

void PutLe32(Bytes& B, uint32_t V)
{
    for (int i = 0; i < 4; ++i)
        B.push_back(static_cast<uint8_t>(V >> (8 * i)));
}

void AppendPage(Bytes& Out, const ogg_page& Page)
{
    Out.insert(Out.end(), Page.header, Page.header + Page.header_len);
    Out.insert(Out.end(), Page.body, Page.body + Page.body_len);
}

// The encoder's state, released on every path.
struct Encoder {
    vorbis_info vi;
    vorbis_comment vc;
    vorbis_dsp_state vd;
    vorbis_block vb;
    ogg_stream_state os;
    Encoder(int Channels, int Rate)
    {
        vorbis_info_init(&vi);
        if (vorbis_encode_init_vbr(&vi, Channels, Rate, 0.0f) != 0) {
            vorbis_info_clear(&vi);
            throw std::runtime_error("vorbis_encode_init_vbr failed");
        }
        vorbis_comment_init(&vc);
        vorbis_analysis_init(&vd, &vi);
        vorbis_block_init(&vd, &vb);
        ogg_stream_init(&os, 4242);
    }
    ~Encoder()
    {
        ogg_stream_clear(&os);
        vorbis_block_clear(&vb);
        vorbis_dsp_clear(&vd);
        vorbis_comment_clear(&vc);
        vorbis_info_clear(&vi);
    }
    void Drain(Bytes& Out)
    {
        ogg_packet op;
        ogg_page og;
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            while (vorbis_bitrate_flushpacket(&vd, &op)) {
                ogg_stream_packetin(&os, &op);
                while (ogg_stream_pageout(&os, &og))
                    AppendPage(Out, og);
            }
        }
    }
};

} // namespace

Bytes EncodeSine(const SineFile& Opt)
{
    Encoder e(Opt.channels, Opt.rate);
    for (const auto& c : Opt.comments)
        vorbis_comment_add(&e.vc, c.c_str());
    Bytes out = Opt.prefix;

    ogg_packet ident, comment, setup;
    vorbis_analysis_headerout(&e.vd, &e.vc, &ident, &comment, &setup);
    Bytes replaced;
    if (Opt.commentPacket) {
        replaced = *Opt.commentPacket;
        comment.packet = replaced.data();
        comment.bytes = static_cast<long>(replaced.size());
    }
    ogg_stream_packetin(&e.os, &ident);
    ogg_stream_packetin(&e.os, &comment);
    ogg_stream_packetin(&e.os, &setup);
    ogg_page og;
    while (ogg_stream_flush(&e.os, &og))
        AppendPage(out, og);

    const long frames = std::lround(Opt.rate * Opt.seconds);
    const long block = 1024;
    for (long done = 0; done < frames; done += block) {
        const long n = std::min(block, frames - done);
        float** buf = vorbis_analysis_buffer(&e.vd, static_cast<int>(n));
        for (int c = 0; c < Opt.channels; ++c)
            for (long i = 0; i < n; ++i)
                buf[c][i] = 0.4f * static_cast<float>(std::sin(2 * M_PI * (440.0 + 110 * c) * double(done + i) / Opt.rate));
        vorbis_analysis_wrote(&e.vd, static_cast<int>(n));
        e.Drain(out);
    }
    vorbis_analysis_wrote(&e.vd, 0);
    e.Drain(out);
    while (ogg_stream_flush(&e.os, &og))
        AppendPage(out, og);
    return out;
}

Bytes CommentPacket(const std::string& Vendor, const std::vector<std::string>& Entries,
                    std::optional<uint32_t> Count, bool Framing)
{
    Bytes p{3, 'v', 'o', 'r', 'b', 'i', 's'};
    PutLe32(p, static_cast<uint32_t>(Vendor.size()));
    p.insert(p.end(), Vendor.begin(), Vendor.end());
    PutLe32(p, Count.value_or(static_cast<uint32_t>(Entries.size())));
    for (const auto& e : Entries) {
        PutLe32(p, static_cast<uint32_t>(e.size()));
        p.insert(p.end(), e.begin(), e.end());
    }
    if (Framing)
        p.push_back(1);
    return p;
}

Bytes IdentPacket(uint32_t Rate, uint8_t Channels, int32_t Nominal)
{
    Bytes p{1, 'v', 'o', 'r', 'b', 'i', 's'};
    PutLe32(p, 0);
    p.push_back(Channels);
    PutLe32(p, Rate);
    PutLe32(p, 0);
    PutLe32(p, static_cast<uint32_t>(Nominal));
    PutLe32(p, 0);
    p.push_back(0xB8); // block sizes 256 and 2048
    p.push_back(1);
    return p;
}

Bytes Id3v2Tag(size_t Body, bool Footer)
{
    Bytes t{'I', 'D', '3', 3, 0, static_cast<uint8_t>(Footer ? 0x10 : 0)};
    for (int shift = 21; shift >= 0; shift -= 7)
        t.push_back(static_cast<uint8_t>((Body >> shift) & 0x7F));
    t.resize(t.size() + Body, 0);
    if (Footer) {
        Bytes f{'3', 'D', 'I', 3, 0, 0x10, t[6], t[7], t[8], t[9]};
        t.insert(t.end(), f.begin(), f.end());
    }
    return t;
}

Bytes BuildPages(const std::vector<RawPacket>& Packets)
{
    ogg_stream_state os;
    ogg_stream_init(&os, 77);
    Bytes out;
    ogg_page og;
    long no = 0;
    for (const auto& p : Packets) {
        ogg_packet op{};
        Bytes copy = p.bytes;
        op.packet = copy.data();
        op.bytes = static_cast<long>(copy.size());
        op.b_o_s = no == 0;
        op.e_o_s = p.eos;
        op.granulepos = p.granule;
        op.packetno = no++;
        ogg_stream_packetin(&os, &op);
        while (ogg_stream_flush(&os, &og))
            AppendPage(out, og);
    }
    ogg_stream_clear(&os);
    return out;
}

Bytes RawPage(uint8_t HeaderType, int64_t Granule, uint32_t Serial, uint32_t Sequence,
              const std::vector<Bytes>& Packets)
{
    Bytes header{'O', 'g', 'g', 'S', 0, HeaderType};
    for (int i = 0; i < 8; ++i)
        header.push_back(static_cast<uint8_t>(uint64_t(Granule) >> (8 * i)));
    PutLe32(header, Serial);
    PutLe32(header, Sequence);
    PutLe32(header, 0);
    Bytes lacing, body;
    for (const auto& p : Packets) {
        for (size_t left = p.size();; left -= 255) {
            lacing.push_back(static_cast<uint8_t>(std::min<size_t>(left, 255)));
            if (left < 255)
                break;
        }
        body.insert(body.end(), p.begin(), p.end());
    }
    if (lacing.size() > 255)
        throw std::runtime_error("RawPage: too many lacing values");
    header.push_back(static_cast<uint8_t>(lacing.size()));
    header.insert(header.end(), lacing.begin(), lacing.end());
    ogg_page og{header.data(), long(header.size()), body.data(), long(body.size())};
    ogg_page_checksum_set(&og);
    header.insert(header.end(), body.begin(), body.end());
    return header;
}

std::vector<PageAt> ListPages(const Bytes& File, size_t From)
{
    std::vector<PageAt> pages;
    size_t pos = From;
    while (pos + 27 <= File.size() && std::memcmp(File.data() + pos, "OggS", 4) == 0) {
        PageAt p;
        p.offset = pos;
        const size_t segs = File[pos + 26];
        if (pos + 27 + segs > File.size())
            break;
        p.headerSize = 27 + segs;
        p.lacing.assign(File.begin() + long(pos + 27), File.begin() + long(pos + 27 + segs));
        for (uint8_t v : p.lacing)
            p.bodySize += v;
        if (p.End() > File.size())
            break;
        pages.push_back(p);
        pos = p.End();
    }
    return pages;
}

} // namespace oggvorbis_test
