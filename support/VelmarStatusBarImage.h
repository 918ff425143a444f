// A status bar whose panels can show an image before their text and carry
// their own hint, pop-up menu and click handlers.
#pragma once

#include <QList>
#include <QMenu>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>
#include <functional>

class QHelpEvent;
class QPainter;
class QSizeGrip;

namespace velmar {

// A Qt component's notify event: called only when assigned.
using TVelmarNotifyEvent = std::function<void(QObject* Sender)>;

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TStatusPanelBevel { pbNone, pbLowered, pbRaised };
enum TStatusPanelStyle { psText, psOwnerDraw };
enum TBiDiMode { bdLeftToRight, bdRightToLeft, bdRightToLeftNoAlign, bdRightToLeftReadingOnly };
enum TAlign { alNone, alBottom };

class TVelmarStatusBarImage;
class TVelmarStatusPanelsPro;

// One panel. Made by TVelmarStatusPanelsPro::Add and owned by the collection.
// Every setter returns at once for an unchanged value; otherwise it stores
// the value and has the bar repaint: the whole bar for Width, only this
// panel's rectangle for the others.
class TVelmarStatusPanel : public QObject {
    Q_OBJECT
public:
    explicit TVelmarStatusPanel(TVelmarStatusPanelsPro* ACollection);

    TVelmarStatusPanelsPro* Collection() const { return FCollection; }
    int Index() const;

    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment A);
    TStatusPanelBevel Bevel() const { return FBevel; }
    void SetBevel(TStatusPanelBevel B);
    // The bar's (from its layoutDirection) while ParentBiDiMode.
    TBiDiMode BiDiMode() const;
    // Clears ParentBiDiMode.
    void SetBiDiMode(TBiDiMode M);
    bool ParentBiDiMode() const { return FParentBiDiMode; }
    void SetParentBiDiMode(bool P);
    const QString& Hint() const { return FHint; }
    void SetHint(const QString& H) { FHint = H; } // read when the hint is shown
    int ImageIndex() const { return FImageIndex; }
    void SetImageIndex(int I);
    // Held weakly: a menu that is destroyed leaves the panel with none.
    QMenu* PopupMenu() const { return FPopupMenu; }
    void SetPopupMenu(QMenu* M) { FPopupMenu = M; }
    TStatusPanelStyle Style() const { return FStyle; }
    void SetStyle(TStatusPanelStyle S);
    const QString& Text() const { return FText; }
    void SetText(const QString& T);
    int Width() const { return FWidth; }
    void SetWidth(int W);
    const TVelmarNotifyEvent& OnClick() const { return FOnClick; }
    void SetOnClick(TVelmarNotifyEvent E) { FOnClick = std::move(E); }
    const TVelmarNotifyEvent& OnDblClick() const { return FOnDblClick; }
    void SetOnDblClick(TVelmarNotifyEvent E) { FOnDblClick = std::move(E); }

    // Text, or "TVelmarStatusPanel" when the text is empty.
    QString DisplayName() const;
    // Copies every property and both events.
    void Assign(const TVelmarStatusPanel& Source);

    // Right-to-left needs a right-to-left system locale (QLocale::system()):
    // alignment then mirrors for bdRightToLeft, reading order is right to
    // left for anything but bdLeftToRight.
    bool UseRightToLeftAlignment() const;
    bool UseRightToLeftReading() const;

private:
    void Changed(bool AllItems);

    TVelmarStatusPanelsPro* FCollection;
    TAlignment FAlignment = taLeftJustify;
    TStatusPanelBevel FBevel = pbLowered;
    TBiDiMode FBiDiMode = bdLeftToRight;
    bool FParentBiDiMode = true;
    QString FHint;
    int FImageIndex = -1;
    QPointer<QMenu> FPopupMenu;
    TStatusPanelStyle FStyle = psText;
    QString FText;
    int FWidth = 50;
    TVelmarNotifyEvent FOnClick;
    TVelmarNotifyEvent FOnDblClick;
};

// The bar's panels, left to right. Owned by the bar; owns its panels.
class TVelmarStatusPanelsPro : public QObject {
    Q_OBJECT
public:
    explicit TVelmarStatusPanelsPro(TVelmarStatusBarImage* ABar);

    TVelmarStatusBarImage* Bar() const { return FBar; }
    // Appends a panel with the defaults (width 50, lowered, left, text).
    TVelmarStatusPanel* Add();
    int Count() const { return static_cast<int>(FItems.size()); }
    // Raises Exception("List index out of bounds (<Index>)") outside 0..Count-1.
    TVelmarStatusPanel* Items(int Index) const;
    int IndexOf(const TVelmarStatusPanel* Panel) const { return FItems.indexOf(Panel); }
    void Delete(int Index);
    void Clear();
    // Puts the panels in reverse order (for FlipChildren).
    void Reverse();

    // A panel's change: nullptr for a change that affects all panels.
    void Update(TVelmarStatusPanel* Item);

private:
    TVelmarStatusBarImage* FBar;
    QList<TVelmarStatusPanel*> FItems;
};

// TVelmarStatusBarImage paints itself; it stands in for the status-bar
// common control:
//   - Parts: the first min(Count, 128) panels, side by side from the left,
//     each Width wide, the last reaching the right end whatever its Width.
//     PanelRect(i) is a part's rectangle (empty for panels past the 128th
//     and in simple mode); the bevel is drawn on its 1-pixel frame and
//     DrawPanel gets the rectangle inside it. With no panels there is one
//     empty part across the bar.
//   - Every panel is drawn through DrawPanel (the default draws an image
//     and the text, below), so a psOwnerDraw panel with no OnDrawPanel is
//     drawn like any other.
//   - SimplePanel: one part across the bar showing SimpleText.
//
// DrawPanel(Panel, R), R inside the bevel; Canvas() is the painter, with the
// bar's font and a solid brush in Color():
//   1. psOwnerDraw with OnDrawPanel: call it and stop.
//   2. The image of ImageIndex when 0 <= ImageIndex < Immagini().size(); its
//      width ImgW, else ImgW = 0 and no image.
//   3. X: left alignment R.left + 1; right alignment R.right_excl - 1 - ImgW;
//      centred R.left + (R.width - (TW + ImgW)) / 2 (TW the text's width).
//   4. Fill R; draw the image at X, vertically centred; text at X + ImgW + 2
//      (right alignment: text ends 2 pixels left of the image, which ends
//      1 pixel inside the right edge), vertically centred by the font's
//      line height.
//
// Mouse: a left or right press, a double click and (hover) a move set
// PanelUnderMouse to the panel whose rectangle holds the point, or none; a
// move that changes it hides the shown hint. A left click calls the panel's
// OnClick with the panel as sender, or else the bar's OnClick with the bar;
// a double click the same with OnDblClick. The hint (tooltip) is the
// panel's Hint when not empty, else the bar's toolTip(). The context menu is
// the panel's PopupMenu (its layout direction set to the panel's reading
// order), else the bar's PopupMenu; it pops up without blocking.
//
// AutoHint: status tips (QStatusTipEvent) reaching the bar's window go to
// OnHint when assigned (DoHint), else to SimpleText (in simple mode or with
// no panels) or to panel 0's Text.
//
// UseSystemFont (true after construction): the bar's font is the desktop's
// status-bar font (QApplication::font("QStatusBar")), taken again when the
// application font changes; setting another font turns it off.
//
// Align alBottom (after construction): the bar keeps itself along the
// bottom edge of its parent, full width, at its own height (19 at start).
// SizeGrip: a QSizeGrip at the bottom-right, shown only when the window can
// be resized (minimum size differs from maximum size).
//
// Lifecycle: owned by its Qt parent; owns its panels. Thread: GUI thread
// only. Writing a panel's text from another thread must go through a
// queued call (QMetaObject::invokeMethod with the bar as context).
class TVelmarStatusBarImage : public QWidget {
    Q_OBJECT
public:
    static constexpr int MaxParts = 128;
    using TDrawPanelProEvent =
        std::function<void(TVelmarStatusBarImage* StatusBar, TVelmarStatusPanel* Panel, const QRect& Rect)>;
    // Takes an automatic hint; Hint is the status tip's text.
    using TVelmarHintEvent = std::function<void(QObject* Sender, const QString& Hint)>;

    explicit TVelmarStatusBarImage(QWidget* AParent = nullptr);

    TVelmarStatusPanelsPro* Panels() const { return FPanels; }
    bool AutoHint() const { return FAutoHint; }
    void SetAutoHint(bool A);
    // Images by value; setting them repaints.
    const QList<QPixmap>& Immagini() const { return FImmagini; }
    void SetImmagini(const QList<QPixmap>& Images);
    bool SimplePanel() const { return FSimplePanel; }
    void SetSimplePanel(bool S);
    const QString& SimpleText() const { return FSimpleText; }
    void SetSimpleText(const QString& T);
    bool SizeGrip() const { return FSizeGrip; }
    void SetSizeGrip(bool S);
    bool UseSystemFont() const { return FUseSystemFont; }
    void SetUseSystemFont(bool U);
    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign A);
    // The palette's Button colour (the system's button face at start).
    QColor Color() const;
    void SetColor(const QColor& C);
    QMenu* PopupMenu() const { return FPopupMenu; }
    void SetPopupMenu(QMenu* M) { FPopupMenu = M; }
    // bdRightToLeft when layoutDirection() is right to left.
    TBiDiMode BiDiMode() const;

    const TVelmarHintEvent& OnHint() const { return FOnHint; }
    void SetOnHint(TVelmarHintEvent E) { FOnHint = std::move(E); }
    const TDrawPanelProEvent& OnDrawPanel() const { return FOnDrawPanel; }
    void SetOnDrawPanel(TDrawPanelProEvent E) { FOnDrawPanel = std::move(E); }
    const TVelmarNotifyEvent& OnClick() const { return FOnClick; }
    void SetOnClick(TVelmarNotifyEvent E) { FOnClick = std::move(E); }
    const TVelmarNotifyEvent& OnDblClick() const { return FOnDblClick; }
    void SetOnDblClick(TVelmarNotifyEvent E) { FOnDblClick = std::move(E); }

    // Number of parts: min(Count, 128), at least 1 (the empty part).
    int PartCount() const;
    QRect PanelRect(int Index) const;
    // The first panel whose rectangle holds Pos, or nullptr.
    TVelmarStatusPanel* PanelAt(const QPoint& Pos) const;
    TVelmarStatusPanel* PanelUnderMouse() const { return FPanelUnderMouse; }
    // The painter while panels are drawn; nullptr otherwise.
    QPainter* Canvas() const { return FCanvas; }

    // Calls OnHint when assigned; true when it did.
    virtual bool DoHint(const QString& Hint);
    // Reverses the panels for a right-to-left layout; the new first panel
    // takes the width the old last one showed. Not in simple mode, not
    // without panels.
    void FlipChildren();

    // Called by the collection.
    void UpdatePanel(int Index);
    void UpdatePanels();

protected:
    virtual void DrawPanel(TVelmarStatusPanel* Panel, const QRect& Rect);

    bool event(QEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void showEvent(QShowEvent* Event) override;
    void changeEvent(QEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void contextMenuEvent(QContextMenuEvent* Event) override;

private:
    void DrawBevel(QPainter& P, const QRect& R, TStatusPanelBevel B) const;
    void DrawSimple(QPainter& P);
    void SetPanelUnderMouse(TVelmarStatusPanel* Panel);
    bool ShowHint(QHelpEvent* Event);
    bool TakeStatusTip(const QString& Tip);
    void ApplySystemFont();
    void Watch();
    void FollowParent();
    void PlaceSizeGrip();

    TVelmarStatusPanelsPro* FPanels;
    QSizeGrip* FGrip;
    bool FAutoHint = false;
    QList<QPixmap> FImmagini;
    bool FSimplePanel = false;
    QString FSimpleText;
    bool FSizeGrip = true;
    bool FUseSystemFont = true;
    bool FApplyingFont = false;
    TAlign FAlign = alBottom;
    QPointer<QMenu> FPopupMenu;
    TVelmarHintEvent FOnHint;
    TDrawPanelProEvent FOnDrawPanel;
    TVelmarNotifyEvent FOnClick;
    TVelmarNotifyEvent FOnDblClick;
    QPointer<TVelmarStatusPanel> FPanelUnderMouse;
    bool FPressed = false; // a left press not yet released
    QPainter* FCanvas = nullptr;
    QPointer<QWidget> FWatchedParent;
    QPointer<QWidget> FWatchedWindow;
};

} // namespace velmar
