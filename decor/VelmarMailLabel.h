// A label that starts the user's mail program on a support address when clicked.
#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>

namespace velmar {

// Click() hands Indirizzo (a "mailto:" address) to QDesktopServices::openUrl,
// which starts the desktop's mail handler on its own terms (a test can
// catch it with QDesktopServices::setUrlHandler). A left click released
// inside the label calls Click().
//
// Hover: entering the label turns its text blue (0, 0, 255) and its font
// style to underline only; leaving puts back the colour and the font style
// the label had when it was constructed, even if they were changed since.
//
// The text colour is the palette's WindowText. Lifecycle: owned by its Qt
// parent. Thread: GUI thread only.
class TVelmarMailLabel : public QLabel {
    Q_OBJECT
public:
    // Hand cursor, transparent, the support address as caption, 69 pixels
    // wide or as wide as the caption needs, whichever is more.
    explicit TVelmarMailLabel(QWidget* AParent = nullptr);

    static const char* const DefaultAddress;

    const QString& Indirizzo() const { return FIndirizzo; }
    void SetIndirizzo(const QString& AIndirizzo) { FIndirizzo = AIndirizzo; }

    // Opens Indirizzo; a failure to open is not reported.
    void Click();

protected:
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void enterEvent(QEnterEvent* Event) override;
    void leaveEvent(QEvent* Event) override;

private:
    QString FIndirizzo;
    QColor FSavedColor; // colour and style at construction
    QFont FSavedStyle;
};

} // namespace velmar
