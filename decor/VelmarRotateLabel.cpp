#include "decor/VelmarRotateLabel.h"

#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <utility>

namespace velmar {

namespace {

struct TurnedText {
    int dx = 0, dy = 0; // origin of the text inside the box
    int bw = 0, bh = 0; // the box
};

int Trunc(double V) { return static_cast<int>(std::trunc(V)); }
double Rad(double Degrees) { return Degrees * std::numbers::pi / 180.0; }

// Where a W x H line of text turned by A degrees counter-clockwise about
// its top-left corner must start so that its box begins at (0, 0).
TurnedText Turn(int A, int W, int H)
{
    const double b = Rad(A);
    TurnedText t;
    if (A <= 90) {
        t.dy = Trunc(std::sin(b) * W);
    } else if (A <= 180) {
        t.dx = Trunc(-std::cos(b) * W);
        t.dy = Trunc(std::cos(Rad(180 - A)) * H + std::sin(b) * W);
    } else if (A <= 270) {
        t.dx = Trunc(std::sin(Rad(A - 180)) * H - std::cos(b) * W);
        t.dy = Trunc(std::sin(Rad(270 - A)) * H);
    } else {
        t.dx = Trunc(std::sin(Rad(360 - A)) * H);
    }
    t.bw = std::abs(Trunc(std::cos(b) * W)) + std::abs(Trunc(std::sin(b) * H));
    t.bh = std::abs(Trunc(std::sin(b) * W)) + std::abs(Trunc(std::cos(b) * H));
    return t;
}

} // namespace

bool EnsureTahomaFont()
{
    static const bool known = [] {
        const QStringList families = QFontDatabase::families();
        if (families.contains(QStringLiteral("Tahoma"), Qt::CaseInsensitive))
            return true;
        QStringList stand_ins;
        for (const char* name : {"DejaVu Sans Condensed", "DejaVu Sans"})
            if (families.contains(QLatin1String(name), Qt::CaseInsensitive))
                stand_ins << QLatin1String(name);
        QFont::insertSubstitutions(QStringLiteral("Tahoma"), stand_ins);
        return !stand_ins.isEmpty();
    }();
    return known;
}

TVelmarRotateLabel::TVelmarRotateLabel(QWidget* AParent) : QLabel(AParent)
{
    EnsureTahomaFont();
    QFont f(QStringLiteral("Tahoma"));
    f.setPointSize(14);
    f.setBold(true);
    setFont(f);
    SetFontColor(Qt::red);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setAutoFillBackground(false);
}

void TVelmarRotateLabel::SetAngolo(int AAngolo)
{
    if (AAngolo == FAngolo)
        return;
    int a = AAngolo;
    if (a < 0) {
        a %= 360;
        if (a < 0)
            a += 360;
    } else if (a > 360) {
        a %= 360;
        if (a == 0)
            a = 360;
    }
    FAngolo = a;
    ApplyAutoSize();
    update();
}

void TVelmarRotateLabel::SetStile(TTextStyle AStile)
{
    if (AStile == FStile)
        return;
    FStile = AStile;
    update();
}

void TVelmarRotateLabel::SetTransparent(bool ATransparent)
{
    if (ATransparent == FTransparent)
        return;
    FTransparent = ATransparent;
    update();
}

void TVelmarRotateLabel::SetAutoSize(bool AAutoSize)
{
    if (AAutoSize == FAutoSize)
        return;
    FAutoSize = AAutoSize;
    ApplyAutoSize();
    update();
}

void TVelmarRotateLabel::SetShowAccelChar(bool AShow)
{
    if (AShow == FShowAccelChar)
        return;
    FShowAccelChar = AShow;
    ApplyAutoSize();
    update();
}

QColor TVelmarRotateLabel::FontColor() const
{
    return palette().color(QPalette::Active, QPalette::WindowText);
}

void TVelmarRotateLabel::SetFontColor(const QColor& AColor)
{
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, AColor);
    setPalette(pal);
}

void TVelmarRotateLabel::SetCaption(const QString& ACaption)
{
    if (ACaption == text())
        return;
    QLabel::setText(ACaption);
    ApplyAutoSize();
    update();
}

void TVelmarRotateLabel::setWordWrap(bool AOn)
{
    QLabel::setWordWrap(AOn);
    ApplyAutoSize();
    update();
}

int TVelmarRotateLabel::TextFlags() const
{
    int flags = int(alignment()) | Qt::TextExpandTabs;
    if (wordWrap())
        flags |= Qt::TextWordWrap;
    if (FShowAccelChar)
        flags |= Qt::TextShowMnemonic;
    return flags;
}

QSize TVelmarRotateLabel::BoxSize() const
{
    const QFontMetrics fm(font());
    if (FAngolo == 0) {
        const int big = 1 << 20;
        const QRect room(0, 0, wordWrap() ? qMax(1, width()) : big, big);
        return fm.boundingRect(room, TextFlags(), text()).size();
    }
    const TurnedText t = Turn(FAngolo, fm.horizontalAdvance(text()), fm.height());
    return {t.bw, t.bh};
}

QSize TVelmarRotateLabel::sizeHint() const { return BoxSize(); }

QSize TVelmarRotateLabel::minimumSizeHint() const { return BoxSize(); }

void TVelmarRotateLabel::ApplyAutoSize()
{
    if (!FAutoSize)
        return;
    QSize s = BoxSize();
    if (FAngolo == 0 && wordWrap())
        s.setWidth(width());
    if (s != size())
        resize(s);
    updateGeometry();
}

void TVelmarRotateLabel::changeEvent(QEvent* Event)
{
    QLabel::changeEvent(Event);
    if (Event->type() == QEvent::FontChange)
        ApplyAutoSize();
}

void TVelmarRotateLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!FTransparent)
        painter.fillRect(rect(), palette().color(QPalette::Window));
    DrawCaption(painter, rect(), TextFlags());
}

void TVelmarRotateLabel::DrawCaption(QPainter& Painter, const QRect& R, int Flags) const
{
    const QPalette system = QGuiApplication::palette();
    QColor light = system.color(QPalette::Active, QPalette::Light);
    QColor shadow = system.color(QPalette::Active, QPalette::Dark);
    if (FStile == tsIncassato)
        std::swap(light, shadow);
    if (FStile != tsNessuno) {
        DrawOnce(Painter, R.translated(1, 1), Flags, shadow);
        DrawOnce(Painter, R.translated(-1, -1), Flags, light);
    }
    const QColor ink = isEnabled() ? FontColor() : system.color(QPalette::Disabled, QPalette::WindowText);
    DrawOnce(Painter, R, Flags, ink);
}

void TVelmarRotateLabel::DrawOnce(QPainter& Painter, const QRect& R, int Flags, const QColor& Color) const
{
    if (FAngolo != 0) {
        DrawRotated(Painter, R, Color);
        return;
    }
    Painter.setPen(Color);
    Painter.setFont(font());
    Painter.drawText(R, Flags, text());
}

void TVelmarRotateLabel::DrawRotated(QPainter& Painter, const QRect& R, const QColor& Color) const
{
    const QFontMetrics fm(font());
    const TurnedText t = Turn(FAngolo, fm.horizontalAdvance(text()), fm.height());
    int dx = t.dx;
    if (!FAutoSize) {
        const Qt::Alignment h = alignment() & Qt::AlignHorizontal_Mask;
        if (h & Qt::AlignHCenter)
            dx += (width() - t.bw) / 2;
        else if (h & Qt::AlignRight)
            dx += width() - t.bw;
    }
    Painter.save();
    Painter.setPen(Color);
    Painter.setFont(font());
    Painter.translate(R.left() + dx, R.top() + t.dy);
    Painter.rotate(-FAngolo); // Qt turns clockwise on a y-down surface
    Painter.drawText(QPoint(0, fm.ascent()), text());
    Painter.restore();
}

} // namespace velmar
