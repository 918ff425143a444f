#include "app/Finestra.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace velmar {

TTrascina::TTrascina(QWidget* Maniglia, TZona Zona) : QObject(Maniglia), FManiglia(Maniglia), FZona(std::move(Zona))
{
    Maniglia->installEventFilter(this);
}

bool TTrascina::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Watched != FManiglia)
        return false;
    QWidget* window = FManiglia->window();
    switch (Event->type()) {
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(Event);
        if (e->button() != Qt::LeftButton || (FZona && !FZona(e->position().toPoint())))
            return false;
        QWindow* handle = window->windowHandle();
        if (handle && handle->startSystemMove())
            return true;
        FSegue = true;
        FPresa = e->globalPosition().toPoint() - window->pos();
        return true;
    }
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(Event);
        if (!FSegue)
            return false;
        if (!(e->buttons() & Qt::LeftButton)) {
            FSegue = false; // the release went elsewhere
            return false;
        }
        window->move(e->globalPosition().toPoint() - FPresa);
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!FSegue || static_cast<QMouseEvent*>(Event)->button() != Qt::LeftButton)
            return false;
        FSegue = false;
        return true;
    default:
        return false;
    }
}

void CentraSullaFinestra(QWidget* Box)
{
    const QWidget* parent = Box->parentWidget() ? Box->parentWidget()->window() : nullptr;
    if (!parent || !parent->isVisible())
        return;
    Box->adjustSize();
    QRect place(QPoint(), Box->size());
    place.moveCenter(parent->geometry().center());
    if (const QScreen* screen = parent->screen()) {
        const QRect room = screen->availableGeometry();
        place.moveLeft(std::clamp(place.left(), room.left(), std::max(room.left(), room.right() + 1 - place.width())));
        place.moveTop(std::clamp(place.top(), room.top(), std::max(room.top(), room.bottom() + 1 - place.height())));
    }
    Box->setGeometry(place);
}

void CentraSulloSchermo(QWidget* Window)
{
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect place = Window->frameGeometry();
    place.moveCenter(screen->availableGeometry().center());
    Window->move(place.topLeft());
}

} // namespace velmar
