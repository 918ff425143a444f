#include "decor/VelmarRotateLabel.h"

#include "../support/QtTestApp.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <climits>
#include <gtest/gtest.h>

using namespace velmar;
using testing_support::QtTestApp;

namespace {

const QColor kLight(250, 250, 200);
const QColor kDark(40, 40, 120);
const QColor kGrey(128, 128, 128);
const QColor kInk(200, 0, 0);

// Known system colours for the 3-D copies and the disabled text, put back
// when the test ends.
class SystemColours {
public:
    SystemColours() : FSaved(QGuiApplication::palette())
    {
        QPalette p = FSaved;
        p.setColor(QPalette::Light, kLight);
        p.setColor(QPalette::Dark, kDark);
        p.setColor(QPalette::Disabled, QPalette::WindowText, kGrey);
        QApplication::setPalette(p);
    }
    ~SystemColours() { QApplication::setPalette(FSaved); }

private:
    QPalette FSaved;
};

// A label whose pixels are exact: no antialiasing, room around the text.
void Prepare(TVelmarRotateLabel& L, const QString& Caption)
{
    QFont f = L.font();
    f.setStyleStrategy(QFont::NoAntialias);
    f.setPointSize(20);
    L.setFont(f);
    L.SetFontColor(kInk);
    L.SetAngolo(0);
    L.SetAutoSize(false);
    L.setText(Caption);
    L.resize(200, 60);
}

QImage Render(QWidget& W)
{
    QImage img(W.size(), QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    W.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

struct Ink {
    int count = 0;
    int minX = 1 << 20, maxX = -1, minY = 1 << 20, maxY = -1;
};

Ink InkOf(const QImage& img, const QColor& c)
{
    Ink k;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) == c.rgba()) {
                ++k.count;
                k.minX = std::min(k.minX, x);
                k.maxX = std::max(k.maxX, x);
                k.minY = std::min(k.minY, y);
                k.maxY = std::max(k.maxY, y);
            }
    return k;
}

Ink AnyInk(const QImage& img)
{
    Ink k;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (qAlpha(img.pixel(x, y)) != 0) {
                ++k.count;
                k.minX = std::min(k.minX, x);
                k.maxX = std::max(k.maxX, x);
                k.minY = std::min(k.minY, y);
                k.maxY = std::max(k.maxY, y);
            }
    return k;
}

} // namespace

TEST(VelmarRotateLabel, Defaults)
{
    QtTestApp();
    TVelmarRotateLabel L;
    EXPECT_EQ(L.Angolo(), 90);
    EXPECT_EQ(L.Stile(), tsSollevato);
    EXPECT_TRUE(L.Transparent());
    EXPECT_EQ(L.font().pointSize(), 14);
    EXPECT_TRUE(L.font().bold());
    EXPECT_EQ(L.font().family(), "Tahoma");
    EXPECT_EQ(L.FontColor(), QColor(Qt::red));
}

// Dark ink of Text drawn in black on white at 11 pixels,
// at device pixel ratio Scale: the total darkness and the widest run of
// blank columns between the first and the last inked column.
struct Stroke {
    long long Darkness = 0;
    int WidestGap = 0;
};

Stroke Draw(const QString& Text, bool Bold, int Scale)
{
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(11);
    f.setBold(Bold);
    QImage img(80 * Scale, 20 * Scale, QImage::Format_RGB32);
    img.setDevicePixelRatio(Scale);
    img.fill(Qt::white);
    {
        QPainter p(&img);
        p.setFont(f);
        p.setPen(Qt::black);
        p.drawText(QPoint(4, 14), Text);
    }
    Stroke s;
    int run = 0;
    bool started = false;
    for (int x = 0; x < img.width(); ++x) {
        bool inked = false;
        for (int y = 0; y < img.height(); ++y) {
            const int grey = qGray(img.pixel(x, y));
            s.Darkness += 255 - grey;
            inked = inked || grey < 160;
        }
        if (inked) {
            if (started)
                s.WidestGap = std::max(s.WidestGap, run);
            started = true;
            run = 0;
        } else if (started) {
            ++run;
        }
    }
    return s;
}

// The face standing for Tahoma: bold visibly heavier than regular, and a
// slash that opens no wider gap than two plain letters do ("/tmp/ home"
// was the fault), at 1x and 2x.
TEST(EnsureTahomaFont, BoldIsHeavierAndTheSlashAddsNoGap)
{
    QtTestApp();
    ASSERT_TRUE(EnsureTahomaFont());
    for (int scale : {1, 2}) {
        SCOPED_TRACE(scale);
        const Stroke regular = Draw(QStringLiteral("Musica"), false, scale);
        const Stroke bold = Draw(QStringLiteral("Musica"), true, scale);
        EXPECT_GT(bold.Darkness, regular.Darkness * 6 / 5);
        for (bool b : {false, true})
            EXPECT_LE(Draw(QStringLiteral("a/b"), b, scale).WidestGap, Draw(QStringLiteral("ab"), b, scale).WidestGap)
                << (b ? "bold" : "regular");
    }
    // Lines do not touch: the line pitch is above the pixel size.
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(11);
    EXPECT_GE(QFontMetrics(f).lineSpacing(), 13);
}

TEST(VelmarRotateLabel, AngoloIsFoldedIntoOneTurn)
{
    QtTestApp();
    struct {
        int set, want;
    } cases[] = {
        {-30, 330}, {-400, 320}, {720, 360}, {360, 360}, {-360, 0}, {361, 1},
        {0, 0}, {45, 45}, {1080, 360}, {-720, 0}, {INT_MIN, 232}, {INT_MAX, 127},
    };
    for (auto c : cases) {
        TVelmarRotateLabel L;
        L.SetAngolo(c.set);
        EXPECT_EQ(L.Angolo(), c.want) << "set " << c.set;
    }
}

// Raised text has its light up-left and its shadow down-right; sunken text
// the reverse; flat text has neither.
TEST(VelmarRotateLabel, ThreeDStylesAtAngleZero)
{
    QtTestApp();
    SystemColours colours;
    struct {
        TTextStyle style;
        QColor upLeft, downRight; // invalid: must not appear
    } cases[] = {
        {tsSollevato, kLight, kDark},
        {tsIncassato, kDark, kLight},
        {tsNessuno, QColor(), QColor()},
    };
    for (auto c : cases) {
        SCOPED_TRACE(int(c.style));
        TVelmarRotateLabel L;
        Prepare(L, "Benvenuto");
        L.SetStile(c.style);
        const QImage img = Render(L);
        const Ink all = AnyInk(img);
        const Ink text = InkOf(img, kInk);
        ASSERT_GT(text.count, 50);
        if (c.style == tsNessuno) {
            EXPECT_EQ(all.count, text.count); // only the text itself
            continue;
        }
        const Ink ul = InkOf(img, c.upLeft);
        const Ink dr = InkOf(img, c.downRight);
        EXPECT_EQ(ul.minX, text.minX - 1);
        EXPECT_EQ(ul.minY, text.minY - 1);
        EXPECT_EQ(dr.maxX, text.maxX + 1);
        EXPECT_EQ(dr.maxY, text.maxY + 1);
        EXPECT_EQ(all.minX, ul.minX);
        EXPECT_EQ(all.maxY, dr.maxY);
    }
}

TEST(VelmarRotateLabel, DisabledTextIsGreyOverTheSameCopies)
{
    QtTestApp();
    SystemColours colours;
    TVelmarRotateLabel L;
    Prepare(L, "Benvenuto");
    L.setEnabled(false);
    const QImage img = Render(L);
    EXPECT_EQ(InkOf(img, kInk).count, 0);
    EXPECT_GT(InkOf(img, kGrey).count, 50);
    EXPECT_GT(InkOf(img, kLight).count, 0);
    EXPECT_GT(InkOf(img, kDark).count, 0);
}

TEST(VelmarRotateLabel, OpaqueLabelFillsWithItsColour)
{
    QtTestApp();
    TVelmarRotateLabel L;
    Prepare(L, "x");
    QPalette p = L.palette();
    p.setColor(QPalette::Window, QColor(1, 2, 3));
    L.setPalette(p);
    EXPECT_EQ(qAlpha(Render(L).pixel(199, 59)), 0) << "transparent after construction";
    L.SetTransparent(false);
    EXPECT_EQ(Render(L).pixel(199, 59), QColor(1, 2, 3).rgba());
}

TEST(VelmarRotateLabel, AlignmentAtAngleZero)
{
    QtTestApp();
    TVelmarRotateLabel left, right;
    Prepare(left, "Ab");
    Prepare(right, "Ab");
    left.SetStile(tsNessuno);
    right.SetStile(tsNessuno);
    right.setAlignment(Qt::AlignRight | Qt::AlignTop);
    const Ink l = InkOf(Render(left), kInk), r = InkOf(Render(right), kInk);
    EXPECT_LT(l.maxX, 100);
    EXPECT_GT(r.minX, 100);
    EXPECT_EQ(l.minY, r.minY);
}

// Turned text: the box is BW x BH as promised, AutoSize takes it, and the
// ink sits where a reference drawing (the text's centre on the box's
// centre) puts it.
TEST(VelmarRotateLabel, TurnedTextFillsItsBox)
{
    QtTestApp();
    const QString text = "Velmar Fennick gy";
    for (int angle : {30, 90, 135, 180, 225, 270, 315, 360}) {
        SCOPED_TRACE(angle);
        TVelmarRotateLabel L;
        Prepare(L, text);
        L.SetStile(tsNessuno);
        L.SetAutoSize(true);
        L.SetAngolo(angle);
        const QFontMetrics fm(L.font());
        const double b = angle * M_PI / 180;
        const int W = fm.horizontalAdvance(text), H = fm.height();
        const QSize want(std::abs(int(std::cos(b) * W)) + std::abs(int(std::sin(b) * H)),
                         std::abs(int(std::sin(b) * W)) + std::abs(int(std::cos(b) * H)));
        EXPECT_EQ(L.size(), want);
        EXPECT_EQ(L.BoxSize(), want);

        QImage ref(want, QImage::Format_ARGB32);
        ref.fill(Qt::transparent);
        QPainter p(&ref);
        p.setFont(L.font());
        p.setPen(kInk);
        p.translate(want.width() / 2.0, want.height() / 2.0);
        p.rotate(-angle);
        p.drawText(QPointF(-W / 2.0, -H / 2.0 + fm.ascent()), text);
        p.end();

        const Ink got = AnyInk(Render(L)), expect = AnyInk(ref);
        ASSERT_GT(got.count, 50);
        EXPECT_NEAR(got.minX, expect.minX, 2);
        EXPECT_NEAR(got.maxX, expect.maxX, 2);
        EXPECT_NEAR(got.minY, expect.minY, 2);
        EXPECT_NEAR(got.maxY, expect.maxY, 2);
        EXPECT_NEAR(got.count, expect.count, expect.count / 10);
    }
}

TEST(VelmarRotateLabel, RotatedCentredWithoutAutoSize)
{
    QtTestApp();
    TVelmarRotateLabel L;
    Prepare(L, "Fennick");
    L.SetStile(tsNessuno);
    L.SetAngolo(90);
    L.resize(200, 200);
    L.setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    const Ink k = InkOf(Render(L), kInk);
    const int centre = (k.minX + k.maxX) / 2;
    EXPECT_NEAR(centre, 100, QFontMetrics(L.font()).height() / 2 + 2);
}
