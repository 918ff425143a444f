// A caption drawn flat, raised or sunken, and rotated at any angle.
#pragma once

#include <QColor>
#include <QLabel>
#include <QSize>

class QPainter;

namespace velmar {

// 3-D style of the text.
enum TTextStyle { tsNessuno, tsSollevato, tsIncassato };

// Makes the family name "Tahoma", which every text of the program asks
// for, give a face whose regular and bold both render crisply at 11 to 19
// pixels with normal line spacing: a Tahoma that fontconfig knows when
// there is one, else DejaVu Sans Condensed (fonts-dejavu-extra, nearly
// Tahoma's widths), else DejaVu Sans. Wine's Tahoma is not used: its bold
// is no heavier than its regular and its slash is too wide. Idempotent;
// false when none of these faces is installed (Qt then picks any face).
bool EnsureTahomaFont();

// A QLabel that paints its caption itself:
//   1. unless Transparent, fill the widget with the palette's Window colour;
//   2. for tsSollevato and tsIncassato, draw the caption moved by (+1, +1)
//      in the shadow colour, then moved by (-1, -1) in the highlight colour
//      (the system's button shadow and light, QPalette::Dark and Light of
//      the application palette; swapped for tsIncassato);
//   3. draw the caption in FontColor(), or in the system's disabled text
//      colour when the label is disabled.
// At Angolo 0 each draw is a formatted draw in the whole widget rectangle
// with alignment(), word wrap, expanded tabs and, when ShowAccelChar, '&'
// marking a mnemonic. At other angles the caption is written as one line,
// turned Angolo degrees counter-clockwise about its top-left corner and
// placed so that the turned box (BoxSize()) starts at the left (or centred,
// or right, by alignment()) top of the widget.
//
// AutoSize (true after construction): the widget is resized to the text's
// box whenever the caption, font, angle, word wrap or AutoSize change; set
// the caption through setText/SetCaption of this class (QLabel::setText
// through a base pointer does not resize).
//
// Departures from a standard label kept on purpose: the alignment's
// vertical part defaults to top, as the text is laid out from the top.
//
// Lifecycle: owned by its Qt parent. Thread: GUI thread only.
class TVelmarRotateLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(int Angolo READ Angolo WRITE SetAngolo)
public:
    // Angolo 90, tsSollevato, bold Tahoma 14 pt in red, transparent.
    explicit TVelmarRotateLabel(QWidget* AParent = nullptr);

    int Angolo() const { return FAngolo; }
    // A value different from the current one (compared before folding) is
    // folded into 0..360 (adding or subtracting whole turns; 360 stays 360,
    // 720 becomes 360, -30 becomes 330) and repaints.
    void SetAngolo(int AAngolo);

    TTextStyle Stile() const { return FStile; }
    void SetStile(TTextStyle AStile);

    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool ATransparent);

    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool AAutoSize);

    bool ShowAccelChar() const { return FShowAccelChar; }
    void SetShowAccelChar(bool AShow);

    // The palette's WindowText colour: the colour of the text itself.
    QColor FontColor() const;
    void SetFontColor(const QColor& AColor);

    QString Caption() const { return text(); }
    void SetCaption(const QString& ACaption);
    void setText(const QString& AText) { SetCaption(AText); }
    void setWordWrap(bool AOn);

    // Width and height of the turned text: |cos b W| + |sin b H| by
    // |sin b W| + |cos b H|, W and H the caption's advance and line height
    // (each term cut toward zero). At Angolo 0, the formatted text's size.
    QSize BoxSize() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* Event) override;
    void changeEvent(QEvent* Event) override;

private:
    int TextFlags() const;
    void DrawCaption(QPainter& Painter, const QRect& R, int Flags) const;
    void DrawOnce(QPainter& Painter, const QRect& R, int Flags, const QColor& Color) const;
    void DrawRotated(QPainter& Painter, const QRect& R, const QColor& Color) const;
    void ApplyAutoSize();

    int FAngolo = 90;
    TTextStyle FStile = tsSollevato;
    bool FTransparent = true;
    bool FAutoSize = true;
    bool FShowAccelChar = true;
};

} // namespace velmar
