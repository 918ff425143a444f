#include "decor/VelmarWebLabel.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

namespace velmar {

const char* const TVelmarWebLabel::DefaultAddress = "https://www.velmarsystems.example/";

namespace {

void CopyStyle(QFont& To, const QFont& From)
{
    To.setBold(From.bold());
    To.setItalic(From.italic());
    To.setUnderline(From.underline());
    To.setStrikeOut(From.strikeOut());
}

void SetTextColour(QLabel& L, const QColor& C)
{
    QPalette p = L.palette();
    p.setColor(QPalette::WindowText, C);
    L.setPalette(p);
}

} // namespace

TVelmarWebLabel::TVelmarWebLabel(QWidget* AParent)
    : QLabel(AParent), FIndirizzo(QString::fromLatin1(DefaultAddress))
{
    setCursor(Qt::PointingHandCursor);
    setAutoFillBackground(false);
    setText(QStringLiteral("Velmar Systems, Inc. - Home Page"));
    const QSize hint = sizeHint();
    resize(qMax(149, hint.width()), hint.height());
    FSavedColor = palette().color(QPalette::WindowText);
    FSavedStyle = font();
}

void TVelmarWebLabel::Click()
{
    QDesktopServices::openUrl(QUrl(FIndirizzo));
}

void TVelmarWebLabel::mouseReleaseEvent(QMouseEvent* Event)
{
    QLabel::mouseReleaseEvent(Event);
    if (Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint()))
        Click();
}

void TVelmarWebLabel::enterEvent(QEnterEvent* Event)
{
    QLabel::enterEvent(Event);
    SetTextColour(*this, QColor(0, 0, 255));
    QFont f = font();
    QFont underlineOnly;
    underlineOnly.setUnderline(true);
    CopyStyle(f, underlineOnly);
    setFont(f);
}

void TVelmarWebLabel::leaveEvent(QEvent* Event)
{
    QLabel::leaveEvent(Event);
    SetTextColour(*this, FSavedColor);
    QFont f = font();
    CopyStyle(f, FSavedStyle);
    setFont(f);
}

} // namespace velmar
