#include "decor/VelmarLinkLabel.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

namespace velmar {

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

TVelmarLinkLabel::TVelmarLinkLabel(QWidget* AParent, const QString& AIndirizzo, const QString& Caption,
                                   int MinWidth)
    : QLabel(AParent), FIndirizzo(AIndirizzo)
{
    setCursor(Qt::PointingHandCursor);
    setAutoFillBackground(false);
    setText(Caption);
    const QSize hint = sizeHint();
    resize(qMax(MinWidth, hint.width()), hint.height());
    FSavedColor = palette().color(QPalette::WindowText);
    FSavedStyle = font();
}

void TVelmarLinkLabel::Click()
{
    QDesktopServices::openUrl(QUrl(FIndirizzo));
}

void TVelmarLinkLabel::mouseReleaseEvent(QMouseEvent* Event)
{
    QLabel::mouseReleaseEvent(Event);
    if (Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint()))
        Click();
}

void TVelmarLinkLabel::enterEvent(QEnterEvent* Event)
{
    QLabel::enterEvent(Event);
    SetTextColour(*this, QColor(0, 0, 255));
    QFont f = font();
    QFont underlineOnly;
    underlineOnly.setUnderline(true);
    CopyStyle(f, underlineOnly);
    setFont(f);
}

void TVelmarLinkLabel::leaveEvent(QEvent* Event)
{
    QLabel::leaveEvent(Event);
    SetTextColour(*this, FSavedColor);
    QFont f = font();
    CopyStyle(f, FSavedStyle);
    setFont(f);
}

} // namespace velmar
