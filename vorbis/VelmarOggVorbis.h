// Technical data and comments of an Ogg Vorbis file, read by parsing its
// pages directly, and the rewriting of its comment header in a copy of the
// file. Used once per produced file to write its COMMENT field.
#pragma once

#include "platform/Classes.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velmar {

// Reads the first two Ogg pages (identification and comment headers, after
// an optional ID3v2 tag) and the last page's granule position of a file
// holding one Vorbis stream; WriteTags puts the seven comment fields back.
//
// Lifecycle: passive. Holds the values of the last successful load, or
//   cleared values after a failed one; a new component holds zeros and
//   empty strings. WriteTags changes the file, never the properties.
// Thread: none of its own; use from one thread at a time.
// Files: opened read-only for the length of one call, closed on every path.
// Failure: a file that cannot be opened or read raises EStreamError from
//   LoadInfo, SetNomedelfile (when the file exists) and WriteTags (before
//   anything is written). Every other problem, including any failure of
//   the rewrite, is reported by the Boolean results.
// Text: UTF-8, as stored in the file; values are cut to what the first
//   250 bytes of their comment entry hold.
class TVelmarOggVorbis : public TComponent {
public:
    explicit TVelmarOggVorbis(TComponent* AOwner = nullptr);

    // Stores the name; loads the file when one of that name exists (again
    // on every write, so writing the same name reloads), otherwise the
    // previous values stay.
    const std::string& Nomedelfile() const { return FNomedelfile; }
    void SetNomedelfile(const std::string& Value);

    // Playing time as "mm:ss" (minutes not limited to two digits).
    std::string TempoDelBrano() const;
    // The computed properties accept a value (a stored form sets them); it is
    // kept apart and never changes what they read.
    void SetTempoDelBrano(const std::string& Value) { FTempoDelBranoStored = Value; }

    const std::string& Artista() const { return FArtista; }
    void SetArtista(const std::string& Value) { FArtista = Value; }
    const std::string& Titolo() const { return FTitolo; }
    void SetTitolo(const std::string& Value) { FTitolo = Value; }
    const std::string& Album() const { return FAlbum; }
    void SetAlbum(const std::string& Value) { FAlbum = Value; }
    // Loaded as the low 8 bits of TRACKNUMBER's number; 0 writes none.
    uint16_t Traccia() const { return FTraccia; }
    void SetTraccia(uint16_t Value) { FTraccia = Value; }
    const std::string& Anno() const { return FAnno; }
    void SetAnno(const std::string& Value) { FAnno = Value; }
    const std::string& Genere() const { return FGenere; }
    void SetGenere(const std::string& Value) { FGenere = Value; }
    const std::string& Commento() const { return FCommento; }
    void SetCommento(const std::string& Value) { FCommento = Value; }
    const std::string& Vendor() const { return FVendor; }
    // File size in bytes (saturated at the 32-bit maximum).
    int32_t Lunghezza() const { return FLunghezza; }
    void SetLunghezza(int32_t Value) { FLunghezza = Value; }
    // Channel count of the identification header.
    uint8_t ChannelModeID() const { return FChannelModeID; }
    // "Mono", "Stereo", or "Sconosciuto" for any other channel count.
    std::string Modo() const;
    void SetModo(const std::string& Value) { FModoStored = Value; }
    // The low 16 bits of the header's sample rate.
    uint16_t SampleRate() const { return FSampleRate; }
    void SetSampleRate(uint16_t Value) { FSampleRate = Value; }
    // kbit/s, 0 when the header gives none; at most 65535.
    uint16_t BitRateNominal() const { return FBitRateNominal; }
    // Seconds: Samples / SampleRate, else an estimate from the nominal bit
    // rate, else 0.
    double Durata() const;
    void SetDurata(double Value) { FDurataStored = Value; }
    // Average kbit/s over the file after any ID3v2 tag; at most 65535.
    uint16_t BitRate() const;
    void SetBitRate(uint16_t Value) { FBitRateStored = Value; }
    bool ID3v2() const { return FID3v2Size > 0; }
    // The data read look like a playable Vorbis file.
    bool Valido() const;

    // Not published: total samples per channel (low 32 bits of the last
    // page's granule position) and the size of a leading ID3v2 tag.
    int32_t Samples() const { return FSamples; }
    int32_t ID3v2Size() const { return FID3v2Size; }

    // ClearInfo, then parse FileName: true with the properties set when it
    // starts (after an optional ID3v2 tag) with a Vorbis identification
    // page, false with everything cleared otherwise. Comments are read when
    // the comment header directly follows that page.
    bool LoadInfo(const std::string& FileName);
    void ClearInfo();

    // Parses FileName again and rewrites its comment header from Titolo,
    // Artista, Album, Traccia, Anno, Genere and Commento (blanks stripped;
    // every other comment is dropped, the vendor string stays). The copy is
    // written to a hidden temporary file beside it, created exclusively
    // (TFileStream::CreateTemporaryFor), with the original's permissions,
    // flushed to disk and renamed over FileName, so the original is never
    // missing.
    // False, with FileName untouched and no temporary file left, when the
    // file is not Ogg Vorbis, its comment header is not complete on the
    // second page, the new header with the rest of that page needs more
    // than 255 lacing values, or any step of the copy fails.
    bool WriteTags(const std::string& FileName);

    // Test seam: called before each step of the rewrite (creating the
    // temporary file, each write into it, the flush, the rename);
    // returning false makes that step fail as its system call would.
    enum class TRewriteStep { rsCreateTemp, rsWrite, rsFlush, rsRename };
    using TRewriteHook = std::function<bool(TRewriteStep Step)>;
    void SetRewriteHook(TRewriteHook AHook) { FRewriteHook = std::move(AHook); }

private:
    struct TVorbisTag {
        std::array<uint8_t, 7> Signature{};
        int32_t CommentCount = 0;
        std::array<std::string, 10> Texts; // [0] vendor, [1..9] FieldNames
    };

    // What one parse of a file finds.
    struct TFileInfo {
        std::array<uint8_t, 282> FirstPage{};  // page header as read
        std::array<uint8_t, 282> SecondPage{};
        std::array<uint8_t, 30> IdentHeader{};
        TVorbisTag Tag;
        int64_t FileSize = 0;
        int32_t Samples = 0;
        int64_t ID3v2Size = 0;
        int64_t SecondPagePos = 0;
        int64_t CommentEndPos = 0;  // just after the last comment read
        bool HasComments = false;   // the comment header signature matched
        bool CommentsComplete = false; // read to its last entry inside the file
    };

    bool ParseOggVorbisFile(const std::string& FileName, TFileInfo& Info);
    bool ParseOggVorbisStream(TStream& Stream, TFileInfo& Info);
    static int64_t ReadID3v2Size(TStream& Stream);
    static void ReadComments(TStream& Stream, TFileInfo& Info);
    static void StoreComment(const std::string& Text, TFileInfo& Info, bool IsVendor);
    static int32_t ReadTotalSamples(TStream& Stream, int64_t Size);
    static int TrackNumberOf(const std::string& Text);
    static std::string Utf8ToText(const std::string& Bytes);
    static std::string TextToUtf8(const std::string& Text);

    static bool LayoutAllowsRewrite(const TFileInfo& Info);
    void FillTexts(TFileInfo& Info) const;
    static std::vector<uint8_t> BuildCommentData(const TFileInfo& Info);
    static bool RebuildSegmentTable(TFileInfo& Info, int64_t NewSize);
    bool RewriteWithComments(TFileStream& Source, const std::string& FileName, const std::vector<uint8_t>& Data,
                             TFileInfo& Info);
    void UpdatePageChecksum(TStream& Stream, const TFileInfo& Info);
    void CopyToTemp(TStream& Source, TStream& Temp, int64_t From, int64_t Count);
    void WriteToTemp(TStream& Temp, const void* Buffer, int64_t Count);
    void Step(TRewriteStep AStep);

    std::string FNomedelfile;
    std::string FArtista, FTitolo, FAlbum, FAnno, FGenere, FCommento, FVendor;
    uint16_t FTraccia = 0;
    int32_t FLunghezza = 0;
    uint8_t FChannelModeID = 0;
    uint16_t FSampleRate = 0;
    uint16_t FBitRateNominal = 0;
    int32_t FSamples = 0;
    int32_t FID3v2Size = 0;
    // Values assigned to the computed properties; kept, never read back.
    std::string FTempoDelBranoStored, FModoStored;
    double FDurataStored = 0;
    uint16_t FBitRateStored = 0;
    TRewriteHook FRewriteHook;
};

} // namespace velmar
