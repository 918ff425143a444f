// A label that opens a web address in the user's browser when clicked.
#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>

namespace velmar {

// How the opened window is shown. Linux gives a program no say over how
// the browser's window appears, so the value is kept for the form's sake
// and does not change what Click does.
enum TModo { Ingrandita, Normale };

// Click() hands Indirizzo to QDesktopServices::openUrl (the desktop's
// default handler; a test can catch it with QDesktopServices::setUrlHandler).
// A left click released inside the label calls Click().
//
// Hover: entering the label turns its text blue (0, 0, 255) and its font
// style to underline only; leaving puts back the colour and the font style
// (bold, italic, underline, strike-out) the label had when it was
// constructed, even if they were changed since.
//
// The text colour is the palette's WindowText. Lifecycle: owned by its Qt
// parent. Thread: GUI thread only.
class TVelmarWebLabel : public QLabel {
    Q_OBJECT
public:
    // Hand cursor, transparent, caption "Velmar Systems, Inc. - Home Page",
    // 149 pixels wide or as wide as the caption needs, whichever is more.
    explicit TVelmarWebLabel(QWidget* AParent = nullptr);

    static const char* const DefaultAddress;

    const QString& Indirizzo() const { return FIndirizzo; }
    void SetIndirizzo(const QString& AIndirizzo) { FIndirizzo = AIndirizzo; }
    TModo Modo() const { return FModo; }
    void SetModo(TModo AModo) { FModo = AModo; }

    // Opens Indirizzo; a failure to open is not reported, as a shell open is not.
    void Click();

protected:
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void enterEvent(QEnterEvent* Event) override;
    void leaveEvent(QEvent* Event) override;

private:
    QString FIndirizzo;
    TModo FModo = Ingrandita;
    QColor FSavedColor; // colour and style at construction
    QFont FSavedStyle;
};

} // namespace velmar
