// A one-line label for file paths that shortens a path too wide for it,
// keeping the start and the file name visible.
#pragma once

#include <QLabel>
#include <QString>

#include <functional>
#include <mutex>
#include <string>

namespace velmar {

// Caption holds the full text (UTF-8); the label shows the shortened form
// computed when Caption is written, against the label's width at that
// moment. Resizing or changing the font later does not recompute it: write
// Caption again for a fresh fit (an unchanged value is recomputed too).
// The text is plain, never rich text, and never wraps; what still does not
// fit is clipped at the right edge.
//
// Shortening (ShortenPath), a text fitting when its width <= the width:
//   - a text that fits is shown as it is;
//   - a text starting with a drive ("C:") uses "\" folders and the drive
//     rule: C:\Documenti\Musica\brano.ogg becomes C:\...\Musica\brano.ogg,
//     then C:\...\brano.ogg, and when even that does not fit
//     C:\...\brano.ogg\... (a text whose only "\" follows the drive ends
//     the same way); with no "\" at all it is shown as it is;
//   - any other text uses "/" folders: the folders nearest the root are
//     replaced by "..." one at a time, /home/anna/Documenti/Musica/brano.ogg
//     becoming /.../anna/Documenti/Musica/brano.ogg and so on down to
//     /.../brano.ogg, which is shown (clipped) when nothing fits; a
//     relative path keeps no root (.../brano.ogg). A trailing "/" is kept
//     with the last folder. A text without "/" is shown as it is.
//
// Construction: owned by a form (a top-level widget), the label is 75 pixels
// wide and as high as the text "Aj|" in the form's font; otherwise it keeps
// Qt's default size. Its width never follows its text, in a layout either.
//
// Lifecycle: owned by its Qt parent. Thread: a widget of the GUI thread.
// SetCaption may be called from any thread: the full text is stored at once
// under a lock (Caption returns it right away) and the measuring and display
// happen in the label's thread, directly there, by a queued call from
// elsewhere. Failure: nothing here raises.
class TVelmarPathLabel : public QLabel {
    Q_OBJECT
public:
    explicit TVelmarPathLabel(QWidget* AOwner = nullptr);

    std::string Caption() const;
    void SetCaption(const std::string& ACaption);

    // Width in pixels of a text; the label measures with its own font.
    using TTextWidth = std::function<int(const QString& Text)>;
    // The display text of Full in Width, by the rules above.
    static QString ShortenPath(const QString& Full, int Width, const TTextWidth& Measure);

private:
    void ShowCaption();
    int TextRoom() const;

    mutable std::mutex FLock; // guards FCaption
    std::string FCaption;
};

} // namespace velmar
