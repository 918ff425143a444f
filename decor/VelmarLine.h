// A separator: thin lines along chosen edges or diagonals of the control.
#pragma once

#include <QFlags>
#include <QPen>
#include <QWidget>

namespace velmar {

enum TVelmarLineStyles {
    lsTop = 0x01,
    lsBottom = 0x02,
    lsLeft = 0x04,
    lsRight = 0x08,
    lsUp = 0x10,   // bottom-left to top-right
    lsDown = 0x20, // top-left to bottom-right
};
Q_DECLARE_FLAGS(TVelmarLineStyle, TVelmarLineStyles)
Q_DECLARE_OPERATORS_FOR_FLAGS(TVelmarLineStyle)

// Draws only its lines; the control paints no background, so the parent
// shows through.
//
// Geometry, with w the pen's width (0 counts as 1): a = w / 2,
// right = width() - ceil(w / 2), bottom = height() - ceil(w / 2). A line from
// P to Q is a stroke w pixels thick; across the line its band starts a
// pixels before the line's coordinate, so every stroke lies inside the
// control; along the line it runs from P up to Q, Q itself not drawn. The
// lines, in the order of this table:
//
//   lsTop    (a, a)      -> (right, a)
//   lsBottom (a, bottom) -> (right, bottom)
//   lsLeft   (a, a)      -> (a, bottom)
//   lsRight  (right, a)  -> (right, bottom)
//   lsUp     (a, bottom) -> (right, a)
//   lsDown   (a, a)      -> (right, bottom)
//
// The pen's colour, width and dash style are used; its cap is always flat so
// that the ends stay where the table puts them (square caps would draw past
// the end point). Diagonals are drawn without antialiasing, like the rest.
//
// Lifecycle: owned by its Qt parent. Thread: GUI thread only.
class TVelmarLine : public QWidget {
    Q_OBJECT
public:
    // Starts 200 x 10 with a black solid pen of width 1 and style lsTop.
    explicit TVelmarLine(QWidget* AParent = nullptr);

    const QPen& Pen() const { return FPen; }
    // A pen that differs from the current one is stored and repainted.
    void SetPen(const QPen& APen);

    TVelmarLineStyle Style() const { return FStyle; }
    void SetStyle(TVelmarLineStyle AStyle);

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    QPen FPen;
    TVelmarLineStyle FStyle = lsTop;
};

} // namespace velmar
