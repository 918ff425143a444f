#include "engine/Extras.h"

#include "platform/Motivi.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace velmar {

namespace {

void PutBe32(std::vector<uint8_t>& B, uint32_t V)
{
    for (int i = 3; i >= 0; --i)
        B.push_back(static_cast<uint8_t>(V >> (8 * i)));
}

std::string Base64(const std::vector<uint8_t>& In)
{
    static const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((In.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= In.size(); i += 3) {
        const uint32_t v = uint32_t(In[i]) << 16 | uint32_t(In[i + 1]) << 8 | In[i + 2];
        for (int k = 3; k >= 0; --k)
            out += Alphabet[(v >> (6 * k)) & 63];
    }
    if (const size_t rest = In.size() - i) {
        const uint32_t v = uint32_t(In[i]) << 16 | (rest > 1 ? uint32_t(In[i + 1]) << 8 : 0);
        out += Alphabet[(v >> 18) & 63];
        out += Alphabet[(v >> 12) & 63];
        out += rest > 1 ? Alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string Lower(std::string S)
{
    for (char& c : S)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return S;
}

} // namespace

std::string PictureComment(const TPicture& P)
{
    const std::string mime = P.Mime.empty() ? PictureMimeOf(P.Data) : P.Mime;
    const TPictureSize size = PictureSizeOf(P.Data);
    std::vector<uint8_t> block;
    block.reserve(P.Data.size() + mime.size() + P.Description.size() + 32);
    PutBe32(block, P.Type);
    PutBe32(block, static_cast<uint32_t>(mime.size()));
    block.insert(block.end(), mime.begin(), mime.end());
    PutBe32(block, static_cast<uint32_t>(P.Description.size()));
    block.insert(block.end(), P.Description.begin(), P.Description.end());
    PutBe32(block, size.Width);
    PutBe32(block, size.Height);
    PutBe32(block, size.Depth);
    PutBe32(block, 0); // colours: for indexed pictures only, and 0 is allowed
    PutBe32(block, static_cast<uint32_t>(P.Data.size()));
    block.insert(block.end(), P.Data.begin(), P.Data.end());
    return "METADATA_BLOCK_PICTURE=" + Base64(block);
}

std::string PictureRefusal(const TPicture& P, const std::string& Name)
{
    if (P.Data.size() > MaxPictureBytes)
        return TestoMotivo(TMotivo::ImmagineTroppoGrande, Name);
    if (PictureMimeOf(P.Data).empty())
        return TestoMotivo(TMotivo::ImmagineNonSupportata, Name);
    return {};
}

std::string CoverBeside(const std::string& Input)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path folder = fs::path(Input).parent_path().empty() ? fs::path(".") : fs::path(Input).parent_path();
    std::vector<fs::path> files;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec))
            files.push_back(it->path());
    std::sort(files.begin(), files.end());
    for (const char* stem : {"cover", "folder", "front"})
        for (const char* ext : {".jpg", ".jpeg", ".png"})
            for (const fs::path& f : files)
                if (Lower(f.filename().string()) == std::string(stem) + ext)
                    return f.string();
    return {};
}

bool ReadCover(const std::string& File, TPicture& Picture, std::string& Warning)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(File, ec);
    if (!ec && size > MaxPictureBytes) {
        Warning = TestoMotivo(TMotivo::ImmagineTroppoGrande, "\"" + File + "\"");
        return false;
    }
    std::ifstream in(File, std::ios::binary);
    Picture = TPicture{};
    if (ec || !in) {
        Warning = TestoMotivo(TMotivo::ImmagineIllegibile, "\"" + File + "\"");
        return false;
    }
    Picture.Data.assign(std::istreambuf_iterator<char>(in), {});
    if (in.bad()) {
        Warning = TestoMotivo(TMotivo::ImmagineIllegibile, "\"" + File + "\"");
        return false;
    }
    Picture.Mime = PictureMimeOf(Picture.Data);
    return true;
}

TStringList ChapterComments(std::vector<TCuePoint> Cues, int InRate, int OutRate, int64_t Frames)
{
    std::stable_sort(Cues.begin(), Cues.end(), [](const TCuePoint& a, const TCuePoint& b) { return a.Frame < b.Frame; });
    TStringList lines;
    int n = 0;
    for (const TCuePoint& c : Cues) {
        if (c.Frame < 0 || (Frames >= 0 && c.Frame > Frames) || InRate <= 0 || OutRate <= 0 || n == 999)
            continue;
        // The frame the converter puts it on, and that frame's time.
        const int64_t out = (c.Frame * OutRate + InRate / 2) / InRate;
        const int64_t ms = (out * 1000 + OutRate / 2) / OutRate;
        char id[16], time[32];
        std::snprintf(id, sizeof id, "%03d", ++n);
        std::snprintf(time, sizeof time, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(ms / 3600000),
                      static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                      static_cast<long long>(ms % 1000));
        lines.push_back(std::string("CHAPTER") + id + "=" + time);
        if (!c.Name.empty())
            lines.push_back(std::string("CHAPTER") + id + "NAME=" + c.Name);
    }
    return lines;
}

} // namespace velmar
