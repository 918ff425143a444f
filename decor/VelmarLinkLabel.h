// What the web and the mail link labels share: an address opened by the
// desktop when the label is clicked, and the hover look of a link.
#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>

namespace velmar {

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
class TVelmarLinkLabel : public QLabel {
    Q_OBJECT
public:
    const QString& Indirizzo() const { return FIndirizzo; }
    void SetIndirizzo(const QString& AIndirizzo) { FIndirizzo = AIndirizzo; }

    // Opens Indirizzo; a failure to open is not reported, as a shell open is not.
    void Click();

protected:
    // Hand cursor, transparent, Caption, MinWidth pixels wide or as wide as
    // the caption needs, whichever is more.
    TVelmarLinkLabel(QWidget* AParent, const QString& AIndirizzo, const QString& Caption, int MinWidth);

    void mouseReleaseEvent(QMouseEvent* Event) override;
    void enterEvent(QEnterEvent* Event) override;
    void leaveEvent(QEvent* Event) override;

private:
    QString FIndirizzo;
    QColor FSavedColor; // colour and style at construction
    QFont FSavedStyle;
};

} // namespace velmar
