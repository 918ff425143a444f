#include "support/VelmarStatusBarImage.h"

#include "platform/Classes.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QSizeGrip>
#include <QStatusTipEvent>
#include <QToolTip>

#include <algorithm>
#include <utility>

namespace velmar {

namespace {

bool SysLocaleMiddleEast() { return QLocale::system().textDirection() == Qt::RightToLeft; }

TAlignment Mirrored(TAlignment A)
{
    if (A == taLeftJustify)
        return taRightJustify;
    if (A == taRightJustify)
        return taLeftJustify;
    return A;
}

int LogicalWidth(const QPixmap& P) { return qRound(P.deviceIndependentSize().width()); }
int LogicalHeight(const QPixmap& P) { return qRound(P.deviceIndependentSize().height()); }

} // namespace

// ---- TVelmarStatusPanel -------------------------------------------------

TVelmarStatusPanel::TVelmarStatusPanel(TVelmarStatusPanelsPro* ACollection)
    : QObject(ACollection), FCollection(ACollection)
{
}

int TVelmarStatusPanel::Index() const { return FCollection->IndexOf(this); }

void TVelmarStatusPanel::Changed(bool AllItems) { FCollection->Update(AllItems ? nullptr : this); }

void TVelmarStatusPanel::SetAlignment(TAlignment A)
{
    if (A == FAlignment)
        return;
    FAlignment = A;
    Changed(false);
}

void TVelmarStatusPanel::SetBevel(TStatusPanelBevel B)
{
    if (B == FBevel)
        return;
    FBevel = B;
    Changed(false);
}

TBiDiMode TVelmarStatusPanel::BiDiMode() const
{
    return FParentBiDiMode ? FCollection->Bar()->BiDiMode() : FBiDiMode;
}

void TVelmarStatusPanel::SetBiDiMode(TBiDiMode M)
{
    FParentBiDiMode = false;
    if (M == FBiDiMode)
        return;
    FBiDiMode = M;
    Changed(false);
}

void TVelmarStatusPanel::SetParentBiDiMode(bool P)
{
    if (P == FParentBiDiMode)
        return;
    FParentBiDiMode = P;
    Changed(false);
}

void TVelmarStatusPanel::SetImageIndex(int I)
{
    if (I == FImageIndex)
        return;
    FImageIndex = I;
    Changed(false);
}

void TVelmarStatusPanel::SetStyle(TStatusPanelStyle S)
{
    if (S == FStyle)
        return;
    FStyle = S;
    Changed(false);
}

void TVelmarStatusPanel::SetText(const QString& T)
{
    if (T == FText)
        return;
    FText = T;
    Changed(false);
}

void TVelmarStatusPanel::SetWidth(int W)
{
    if (W == FWidth)
        return;
    FWidth = W;
    Changed(true);
}

QString TVelmarStatusPanel::DisplayName() const
{
    return FText.isEmpty() ? QStringLiteral("TVelmarStatusPanel") : FText;
}

void TVelmarStatusPanel::Assign(const TVelmarStatusPanel& Source)
{
    if (&Source == this)
        return;
    FAlignment = Source.FAlignment;
    FBevel = Source.FBevel;
    FBiDiMode = Source.FBiDiMode;
    FParentBiDiMode = Source.FParentBiDiMode;
    FHint = Source.FHint;
    FImageIndex = Source.FImageIndex;
    FPopupMenu = Source.FPopupMenu;
    FStyle = Source.FStyle;
    FText = Source.FText;
    FWidth = Source.FWidth;
    FOnClick = Source.FOnClick;
    FOnDblClick = Source.FOnDblClick;
    Changed(true);
}

bool TVelmarStatusPanel::UseRightToLeftAlignment() const
{
    return SysLocaleMiddleEast() && BiDiMode() == bdRightToLeft;
}

bool TVelmarStatusPanel::UseRightToLeftReading() const
{
    return SysLocaleMiddleEast() && BiDiMode() != bdLeftToRight;
}

// ---- TVelmarStatusPanelsPro ---------------------------------------------

TVelmarStatusPanelsPro::TVelmarStatusPanelsPro(TVelmarStatusBarImage* ABar) : QObject(ABar), FBar(ABar) {}

TVelmarStatusPanel* TVelmarStatusPanelsPro::Add()
{
    auto* panel = new TVelmarStatusPanel(this);
    FItems.append(panel);
    Update(nullptr);
    return panel;
}

TVelmarStatusPanel* TVelmarStatusPanelsPro::Items(int Index) const
{
    if (Index < 0 || Index >= Count())
        throw Exception("List index out of bounds (" + std::to_string(Index) + ")");
    return FItems[Index];
}

void TVelmarStatusPanelsPro::Delete(int Index)
{
    TVelmarStatusPanel* panel = Items(Index);
    FItems.removeAt(Index);
    delete panel; // a child of this collection
    Update(nullptr);
}

void TVelmarStatusPanelsPro::Clear()
{
    const QList<TVelmarStatusPanel*> gone = std::exchange(FItems, {});
    qDeleteAll(gone); // children of this collection
    Update(nullptr);
}

void TVelmarStatusPanelsPro::Reverse()
{
    std::reverse(FItems.begin(), FItems.end());
    Update(nullptr);
}

void TVelmarStatusPanelsPro::Update(TVelmarStatusPanel* Item)
{
    if (Item)
        FBar->UpdatePanel(Item->Index());
    else
        FBar->UpdatePanels();
}

// ---- TVelmarStatusBarImage ----------------------------------------------

TVelmarStatusBarImage::TVelmarStatusBarImage(QWidget* AParent)
    : QWidget(AParent), FPanels(new TVelmarStatusPanelsPro(this)), FGrip(new QSizeGrip(this))
{
    resize(width(), 19);
    setBackgroundRole(QPalette::Button);
    setMouseTracking(true);
    FGrip->hide();
    ApplySystemFont();
    Watch();
    FollowParent();
}

void TVelmarStatusBarImage::SetAutoHint(bool A)
{
    FAutoHint = A;
    Watch();
}

void TVelmarStatusBarImage::SetImmagini(const QList<QPixmap>& Images)
{
    FImmagini = Images;
    update();
}

void TVelmarStatusBarImage::SetSimplePanel(bool S)
{
    if (S == FSimplePanel)
        return;
    FSimplePanel = S;
    update();
}

void TVelmarStatusBarImage::SetSimpleText(const QString& T)
{
    if (T == FSimpleText)
        return;
    FSimpleText = T;
    if (FSimplePanel)
        update();
}

void TVelmarStatusBarImage::SetSizeGrip(bool S)
{
    if (S == FSizeGrip)
        return;
    FSizeGrip = S;
    PlaceSizeGrip();
}

void TVelmarStatusBarImage::SetUseSystemFont(bool U)
{
    if (U == FUseSystemFont)
        return;
    FUseSystemFont = U;
    if (U)
        ApplySystemFont();
}

void TVelmarStatusBarImage::SetAlign(TAlign A)
{
    if (A == FAlign)
        return;
    FAlign = A;
    FollowParent();
}

QColor TVelmarStatusBarImage::Color() const { return palette().color(QPalette::Button); }

void TVelmarStatusBarImage::SetColor(const QColor& C)
{
    QPalette p = palette();
    p.setColor(QPalette::Button, C);
    setPalette(p);
    update();
}

TBiDiMode TVelmarStatusBarImage::BiDiMode() const
{
    return layoutDirection() == Qt::RightToLeft ? bdRightToLeft : bdLeftToRight;
}

int TVelmarStatusBarImage::PartCount() const
{
    return std::clamp(FPanels->Count(), 1, MaxParts);
}

QRect TVelmarStatusBarImage::PanelRect(int Index) const
{
    const int parts = std::min(FPanels->Count(), MaxParts);
    if (FSimplePanel || Index < 0 || Index >= parts)
        return {};
    int64_t left = 0;
    for (int i = 0; i < Index; ++i)
        left += std::max(0, FPanels->Items(i)->Width());
    left = std::min<int64_t>(left, width());
    int64_t right = width();
    if (Index < parts - 1)
        right = std::min<int64_t>(left + std::max(0, FPanels->Items(Index)->Width()), width());
    return QRect(int(left), 0, int(right - left), height());
}

TVelmarStatusPanel* TVelmarStatusBarImage::PanelAt(const QPoint& Pos) const
{
    const int parts = std::min(FPanels->Count(), MaxParts);
    for (int i = 0; i < parts; ++i)
        if (PanelRect(i).contains(Pos))
            return FPanels->Items(i);
    return nullptr;
}

void TVelmarStatusBarImage::UpdatePanel(int Index)
{
    const QRect r = PanelRect(Index);
    if (!r.isEmpty())
        update(r);
}

void TVelmarStatusBarImage::UpdatePanels() { update(); }

bool TVelmarStatusBarImage::DoHint(const QString& Hint)
{
    if (!FOnHint)
        return false;
    FOnHint(this, Hint);
    return true;
}

void TVelmarStatusBarImage::FlipChildren()
{
    const int n = FPanels->Count();
    if (FSimplePanel || n == 0)
        return;
    int64_t shown = 0; // widths of the old panels 0..n-2
    for (int i = 0; i < n - 1; ++i)
        shown += FPanels->Items(i)->Width();
    FPanels->Reverse();
    const int64_t first = width() - shown;
    FPanels->Items(0)->SetWidth(int(std::clamp<int64_t>(first, 0, INT32_MAX)));
    UpdatePanels();
}

// ---- painting -------------------------------------------------------------

void TVelmarStatusBarImage::paintEvent(QPaintEvent* Event)
{
    QPainter painter(this);
    painter.fillRect(Event->rect(), Color());
    if (FSimplePanel) {
        DrawSimple(painter);
        return;
    }
    const int parts = std::min(FPanels->Count(), MaxParts);
    if (parts == 0)
        DrawBevel(painter, rect(), pbLowered);
    for (int i = 0; i < parts; ++i) {
        const QRect part = PanelRect(i);
        if (part.isEmpty() || !part.intersects(Event->rect()))
            continue;
        TVelmarStatusPanel* panel = FPanels->Items(i);
        DrawBevel(painter, part, panel->Bevel());
        const QRect inner = part.adjusted(1, 1, -1, -1);
        painter.save();
        painter.setClipRect(inner);
        painter.setFont(font());
        painter.setBrush(Color());
        painter.setPen(palette().color(QPalette::WindowText));
        FCanvas = &painter;
        DrawPanel(panel, inner);
        FCanvas = nullptr;
        painter.restore();
    }
}

void TVelmarStatusBarImage::DrawBevel(QPainter& P, const QRect& R, TStatusPanelBevel B) const
{
    if (B == pbNone || R.width() < 2 || R.height() < 2)
        return;
    QColor topLeft = palette().color(QPalette::Dark);
    QColor bottomRight = palette().color(QPalette::Light);
    if (B == pbRaised)
        std::swap(topLeft, bottomRight);
    P.fillRect(R.left(), R.top(), R.width(), 1, topLeft);
    P.fillRect(R.left(), R.top(), 1, R.height(), topLeft);
    P.fillRect(R.left(), R.bottom(), R.width(), 1, bottomRight);
    P.fillRect(R.right(), R.top(), 1, R.height(), bottomRight);
}

void TVelmarStatusBarImage::DrawSimple(QPainter& P)
{
    const QFontMetrics fm(font());
    P.setFont(font());
    P.setPen(palette().color(QPalette::WindowText));
    const int y = (height() - fm.height()) / 2 + fm.ascent();
    P.drawText(QPoint(2, y), FSimpleText);
}

void TVelmarStatusBarImage::DrawPanel(TVelmarStatusPanel* Panel, const QRect& Rect)
{
    if (Panel->Style() == psOwnerDraw && FOnDrawPanel) {
        FOnDrawPanel(this, Panel, Rect);
        return;
    }
    QPainter& P = *FCanvas;
    const bool rtlAlign = Panel->UseRightToLeftAlignment();
    const TAlignment a = rtlAlign ? Mirrored(Panel->Alignment()) : Panel->Alignment();
    const bool fromRight = a == taRightJustify || (a == taCenter && rtlAlign);

    const int index = Panel->ImageIndex();
    const bool hasImage = index >= 0 && index < FImmagini.size() && !FImmagini[index].isNull();
    const int imgW = hasImage ? LogicalWidth(FImmagini[index]) : 0;

    const QFontMetrics fm(P.font());
    const int tw = fm.horizontalAdvance(Panel->Text());
    const int w = Rect.width();
    int x = Rect.left() + 1;
    if (a == taRightJustify)
        x = Rect.left() + w - 1 - imgW;
    else if (a == taCenter && rtlAlign)
        x = Rect.left() + (tw + imgW + w) / 2 - imgW;
    else if (a == taCenter)
        x = Rect.left() + (w - (tw + imgW)) / 2;

    P.fillRect(Rect, P.brush());
    if (hasImage) {
        const QPixmap& img = FImmagini[index];
        P.drawPixmap(x, Rect.top() + (Rect.height() - LogicalHeight(img)) / 2, img);
        x = fromRight ? x - 2 : x + imgW + 2;
    }
    if (fromRight)
        x -= tw;
    const int y = Rect.top() + (Rect.height() - fm.height()) / 2;
    P.setLayoutDirection(Panel->UseRightToLeftReading() ? Qt::RightToLeft : Qt::LeftToRight);
    P.drawText(QPoint(x, y + fm.ascent()), Panel->Text());
}

// ---- mouse, hints, menus --------------------------------------------------

void TVelmarStatusBarImage::SetPanelUnderMouse(TVelmarStatusPanel* Panel)
{
    if (Panel != FPanelUnderMouse)
        QToolTip::hideText(); // the next hint is the new panel's
    FPanelUnderMouse = Panel;
}

void TVelmarStatusBarImage::mousePressEvent(QMouseEvent* Event)
{
    if (Event->button() == Qt::LeftButton || Event->button() == Qt::RightButton)
        SetPanelUnderMouse(PanelAt(Event->position().toPoint()));
    if (Event->button() == Qt::LeftButton)
        FPressed = true;
    QWidget::mousePressEvent(Event);
}

void TVelmarStatusBarImage::mouseReleaseEvent(QMouseEvent* Event)
{
    QWidget::mouseReleaseEvent(Event);
    if (Event->button() != Qt::LeftButton)
        return;
    // The release that ends a double click is no click of its own.
    const bool pressed = std::exchange(FPressed, false);
    if (!pressed || !rect().contains(Event->position().toPoint()))
        return;
    TVelmarStatusPanel* panel = FPanelUnderMouse;
    if (panel && panel->OnClick())
        panel->OnClick()(panel);
    else if (FOnClick)
        FOnClick(this);
}

void TVelmarStatusBarImage::mouseDoubleClickEvent(QMouseEvent* Event)
{
    QWidget::mouseDoubleClickEvent(Event);
    if (Event->button() != Qt::LeftButton)
        return;
    FPressed = false;
    SetPanelUnderMouse(PanelAt(Event->position().toPoint()));
    TVelmarStatusPanel* panel = FPanelUnderMouse;
    if (panel && panel->OnDblClick())
        panel->OnDblClick()(panel);
    else if (FOnDblClick)
        FOnDblClick(this);
}

void TVelmarStatusBarImage::mouseMoveEvent(QMouseEvent* Event)
{
    SetPanelUnderMouse(PanelAt(Event->position().toPoint()));
    QWidget::mouseMoveEvent(Event);
}

void TVelmarStatusBarImage::contextMenuEvent(QContextMenuEvent* Event)
{
    SetPanelUnderMouse(PanelAt(Event->pos()));
    TVelmarStatusPanel* panel = FPanelUnderMouse;
    QMenu* menu = FPopupMenu;
    if (panel && panel->PopupMenu()) {
        menu = panel->PopupMenu();
        menu->setLayoutDirection(panel->UseRightToLeftReading() ? Qt::RightToLeft : Qt::LeftToRight);
    }
    if (!menu) {
        Event->ignore();
        return;
    }
    menu->popup(Event->globalPos());
    Event->accept();
}

bool TVelmarStatusBarImage::ShowHint(QHelpEvent* Event)
{
    SetPanelUnderMouse(PanelAt(Event->pos()));
    TVelmarStatusPanel* panel = FPanelUnderMouse;
    const QString hint = panel && !panel->Hint().isEmpty() ? panel->Hint() : toolTip();
    if (hint.isEmpty()) {
        QToolTip::hideText();
        Event->ignore();
        return true;
    }
    QToolTip::showText(Event->globalPos(), hint, this, panel ? PanelRect(panel->Index()) : QRect());
    return true;
}

bool TVelmarStatusBarImage::event(QEvent* Event)
{
    if (Event->type() == QEvent::ToolTip)
        return ShowHint(static_cast<QHelpEvent*>(Event));
    return QWidget::event(Event);
}

bool TVelmarStatusBarImage::TakeStatusTip(const QString& Tip)
{
    if (DoHint(Tip))
        return true;
    if (FSimplePanel || FPanels->Count() == 0)
        SetSimpleText(Tip);
    else
        FPanels->Items(0)->SetText(Tip);
    return true;
}

bool TVelmarStatusBarImage::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Watched == FWatchedWindow && FAutoHint && Event->type() == QEvent::StatusTip)
        return TakeStatusTip(static_cast<QStatusTipEvent*>(Event)->tip());
    if (Watched == FWatchedParent && Event->type() == QEvent::Resize)
        FollowParent();
    return QWidget::eventFilter(Watched, Event);
}

// ---- fonts, placement -----------------------------------------------------

void TVelmarStatusBarImage::ApplySystemFont()
{
    QFont f = QApplication::font("QStatusBar");
    f.setResolveMask(QFont::AllPropertiesResolved); // not inherited from the parent
    FApplyingFont = true;
    setFont(f);
    FApplyingFont = false;
}

void TVelmarStatusBarImage::changeEvent(QEvent* Event)
{
    QWidget::changeEvent(Event);
    switch (Event->type()) {
    case QEvent::ApplicationFontChange:
        if (FUseSystemFont)
            ApplySystemFont();
        break;
    case QEvent::FontChange:
        if (!FApplyingFont && FUseSystemFont)
            FUseSystemFont = false; // someone chose another font
        update();
        break;
    case QEvent::ParentChange:
        Watch();
        FollowParent();
        break;
    case QEvent::PaletteChange:
    case QEvent::LayoutDirectionChange:
        update();
        break;
    default:
        break;
    }
}

void TVelmarStatusBarImage::Watch()
{
    if (FWatchedParent)
        FWatchedParent->removeEventFilter(this);
    if (FWatchedWindow)
        FWatchedWindow->removeEventFilter(this);
    FWatchedParent = parentWidget();
    FWatchedWindow = window() != this ? window() : nullptr;
    if (FWatchedParent)
        FWatchedParent->installEventFilter(this);
    if (FWatchedWindow)
        FWatchedWindow->installEventFilter(this);
}

void TVelmarStatusBarImage::FollowParent()
{
    QWidget* parent = parentWidget();
    if (FAlign == alBottom && parent && !isWindow())
        setGeometry(0, parent->height() - height(), parent->width(), height());
}

void TVelmarStatusBarImage::PlaceSizeGrip()
{
    const QWidget* win = window();
    const bool resizable = win->minimumSize() != win->maximumSize();
    FGrip->setVisible(FSizeGrip && resizable && win != this);
    const QSize s = FGrip->sizeHint();
    FGrip->setGeometry(width() - s.width(), height() - s.height(), s.width(), s.height());
}

void TVelmarStatusBarImage::resizeEvent(QResizeEvent* Event)
{
    QWidget::resizeEvent(Event);
    PlaceSizeGrip();
}

void TVelmarStatusBarImage::showEvent(QShowEvent* Event)
{
    QWidget::showEvent(Event);
    Watch();
    FollowParent();
    PlaceSizeGrip();
}

} // namespace velmar
