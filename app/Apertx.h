// The splash shown while the program starts, and the start-up sequence
// that shows it before the main window.
#pragma once

#include <QImage>
#include <QWidget>

namespace velmar {

// TApertura: a frameless 300 x 215 window, white, centred on the screen
// that holds the pointer, showing only its picture `Skin`. The window is
// cut to the picture: the pixels of the transparent colour (white) fall
// outside it. Dragging it with the left button moves it.
//
// Lifecycle: owned by whoever shows it. Thread: GUI thread only.
class TApertura : public QWidget {
    Q_OBJECT
public:
    explicit TApertura(QWidget* AParent = nullptr);

    const QImage& Skin() const { return FSkin; }
    // Sets the picture and cuts the window to it (the client area takes the
    // picture's size); an empty picture leaves the window as it is.
    void SetSkin(const QImage& Picture);
    QRgb TransparentColor() const { return FTransparentColor; }
    void SetTransparentColor(QRgb Color);

protected:
    void paintEvent(QPaintEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;

private:
    void CutToPicture();

    QImage FSkin;
    QRgb FTransparentColor = 0xFFFF00FF;
};

// The start-up after the main form's creation: a TApertura is shown for
// DurationMs, then destroyed, and only then is Main shown. The wait runs
// on the event loop (the splash keeps painting; Main does not exist on
// screen meanwhile). Returns the splash, which destroys itself then.
TApertura* MostraApertura(QWidget* Main, int DurationMs = 1500);

// The application's look, set once after the QApplication is made: title
// "Velmar Fennick", the Fusion style, Qt's own texts in Italian, Tahoma
// 8 pt (11 pixels) and the window icon.
void PreparaApplicazione();

} // namespace velmar
