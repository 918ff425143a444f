#include "engine/OutputNames.h"

#include <cctype>
#include <cstring>

namespace velmar {

namespace {

// Bytes a name made from a pattern may take: room for " (2)", ".ogg" and
// the temporary file's dots and letters within 255.
constexpr size_t NameRoom = 235;

std::string StemOf(const std::string& Input)
{
    const auto slash = Input.find_last_of('/');
    std::string name = slash == std::string::npos ? Input : Input.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}

bool EndsWithOgg(const std::string& S)
{
    if (S.size() < 4)
        return false;
    std::string e = S.substr(S.size() - 4);
    for (char& c : e)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return e == ".ogg";
}

// At most Room bytes, never cutting a UTF-8 character.
std::string Cut(std::string S, size_t Room)
{
    if (S.size() <= Room)
        return S;
    size_t n = Room;
    while (n > 0 && (static_cast<unsigned char>(S[n]) & 0xC0) == 0x80)
        --n;
    S.resize(n);
    return S;
}

std::string Trim(const std::string& S)
{
    const auto b = S.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    return S.substr(b, S.find_last_not_of(" \t") - b + 1);
}

// A tag's value as part of a file name: nothing in it makes a folder, a
// hidden file, or a name some file system refuses.
std::string Clean(const std::string& Value)
{
    std::string v = Trim(Value);
    for (char& c : v) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || std::strchr("/\\:*?\"<>|", c))
            c = '_';
    }
    if (!v.empty() && v[0] == '.')
        v[0] = '_';
    return Cut(v, NameRoom);
}

std::string TagValue(const TStringList& Tags, const char* Name)
{
    const size_t n = std::strlen(Name);
    for (const std::string& line : Tags) {
        if (line.size() <= n || line[n] != '=')
            continue;
        bool same = true;
        for (size_t k = 0; k < n && same; ++k)
            same = std::toupper(static_cast<unsigned char>(line[k])) == Name[k];
        if (same)
            return line.substr(n + 1);
    }
    return {};
}

// "4/12" gives "04", "300" stays, "A1" is kept as written.
std::string TrackText(const std::string& Value)
{
    size_t digits = 0;
    while (digits < Value.size() && std::isdigit(static_cast<unsigned char>(Value[digits])))
        ++digits;
    if (digits == 0)
        return Value;
    std::string n = Value.substr(0, digits);
    return n.size() < 2 ? "0" + n : n;
}

} // namespace

std::string OutputNameFor(const std::string& Input, const std::string& Folder)
{
    return Folder + "/" + StemOf(Input) + ".ogg";
}

std::string TOutputNames::Claim(const std::string& Input, const std::string& Folder, std::string* Renamed,
                                const std::string& Name)
{
    if (Name == StandardOutputName)
        return Name;
    const std::string first = Name.empty() ? OutputNameFor(Input, Folder) : Folder + "/" + Name;
    std::lock_guard<std::mutex> lock(FLock);
    std::string name = first;
    const std::string stem = first.substr(0, first.size() - 4);
    for (int n = 2; !FTaken.insert(name).second; ++n)
        name = stem + " (" + std::to_string(n) + ").ogg";
    if (Renamed)
        *Renamed = name == first ? std::string() : first;
    return name;
}

std::string NameFromPattern(const std::string& Pattern, const TStringList& Tags, const std::string& Input)
{
    const auto field = [&](char Code) -> std::string {
        struct TField {
            char Code;
            const char* Tag;
            const char* Missing;
        };
        static const TField fields[] = {
            {'a', "ARTIST", "Artista sconosciuto"}, {'l', "ALBUM", "Album sconosciuto"},
            {'n', "TRACKNUMBER", "senza numero"},   {'d', "DATE", "senza data"},
            {'g', "GENRE", "senza genere"},         {'t', "TITLE", nullptr},
        };
        if (Code == 'f')
            return Clean(StemOf(Input));
        for (const TField& f : fields) {
            if (f.Code != Code)
                continue;
            std::string v = TagValue(Tags, f.Tag);
            if (Code == 'n')
                v = TrackText(Trim(v));
            v = Clean(v);
            return !v.empty() ? v : f.Missing ? f.Missing : Clean(StemOf(Input));
        }
        return std::string("%") + Code; // not ours: kept as written
    };
    std::string out, part;
    const auto endPart = [&] {
        part = Cut(part, NameRoom);
        if (!part.empty())
            out += (out.empty() ? "" : "/") + part;
        part.clear();
    };
    for (size_t i = 0; i < Pattern.size(); ++i) {
        const char c = Pattern[i];
        if (c == '/') {
            endPart();
        } else if (c == '%' && i + 1 < Pattern.size()) {
            const char code = Pattern[++i];
            part += code == '%' ? std::string("%") : field(code);
        } else {
            part += c;
        }
    }
    if (part.empty() && !Pattern.empty() && Pattern.back() == '/')
        part = Clean(StemOf(Input));
    endPart();
    if (out.empty())
        out = Clean(StemOf(Input));
    return EndsWithOgg(out) ? out : out + ".ogg";
}

} // namespace velmar
