// Moving and placing the program's frameless windows: they draw their own
// title bars, so the window manager neither drags nor places them.
#pragma once

#include <QObject>
#include <QPoint>
#include <Qt>

#include <functional>

class QWidget;

namespace velmar {

// TTrascina watches one widget (a title bar, the banner, the splash): a
// left-button press on it, inside Zona (the widget's own coordinates; the
// whole widget when Zona is empty), moves the top-level window the widget
// belongs to. The press first asks the window system to move the window
// (QWindow::startSystemMove), which lets the window manager drag it with
// its own snapping; where that is refused (no window manager, offscreen)
// the window follows the pointer itself until the button is released.
// A press that starts a drag is consumed; every other event goes on.
//
// Lifecycle: a child of the widget it watches. Thread: GUI thread only.
class TTrascina : public QObject {
public:
    using TZona = std::function<bool(const QPoint& At)>;

    explicit TTrascina(QWidget* Maniglia, TZona Zona = {});

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    QWidget* FManiglia;
    TZona FZona;
    bool FSegue = false; // the window follows the pointer
    QPoint FPresa;       // the pointer less the window's place, at the press
};

// The program's dialogs: a title and a close button, no minimise or
// maximise (a fixed size keeps even the managers that ignore these hints
// from maximising). Given a parent, a dialog is transient for its window.
inline constexpr Qt::WindowFlags StileDialogo =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;

// Places Box, a dialog not shown yet, with its client area centred on the
// window of its parent and within that screen's free room. Qt's own
// placing guesses the title bar's height and misses the centre by it.
void CentraSullaFinestra(QWidget* Box);

// Centres the top-level Window on the screen that holds the pointer (the
// primary screen when none does), within the room the panels leave.
void CentraSulloSchermo(QWidget* Window);

} // namespace velmar
