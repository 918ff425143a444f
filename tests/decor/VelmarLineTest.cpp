#include "decor/VelmarLine.h"

#include "../support/QtTestApp.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <set>
#include <utility>

using namespace velmar;
using testing_support::QtTestApp;

namespace {

using PixelSet = std::set<std::pair<int, int>>;

QImage Render(TVelmarLine& line)
{
    QImage img(line.size(), QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    line.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

PixelSet Inked(const QImage& img)
{
    PixelSet s;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (qAlpha(img.pixel(x, y)) != 0)
                s.insert({x, y});
    return s;
}

PixelSet Box(int x0, int x1, int y0, int y1) // [x0, x1) x [y0, y1)
{
    PixelSet s;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            s.insert({x, y});
    return s;
}

} // namespace

TEST(VelmarLine, Defaults)
{
    QtTestApp();
    TVelmarLine line;
    EXPECT_EQ(line.size(), QSize(200, 10));
    EXPECT_EQ(line.Style(), TVelmarLineStyle(lsTop));
    EXPECT_EQ(line.Pen().width(), 1);
    EXPECT_EQ(line.Pen().color(), QColor(Qt::black));
    EXPECT_EQ(line.Pen().style(), Qt::SolidLine);
}

// Every edge line for pen widths 1, 2, 3: exactly the band the geometry
// promises, nothing else, and no background.
TEST(VelmarLine, EdgePixelsForPenWidths)
{
    QtTestApp();
    const int W = 40, H = 10;
    for (int w : {1, 2, 3}) {
        const int a = w / 2;
        const int right = W - (w + 1) / 2;
        const int bottom = H - (w + 1) / 2;
        struct Case {
            TVelmarLineStyles style;
            PixelSet want;
        } cases[] = {
            {lsTop, Box(a, right, 0, w)},
            {lsBottom, Box(a, right, H - w, H)},
            {lsLeft, Box(0, w, a, bottom)},
            {lsRight, Box(W - w, W, a, bottom)},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "width " << w << " style " << int(c.style));
            TVelmarLine line;
            line.resize(W, H);
            line.SetPen(QPen(Qt::black, w));
            line.SetStyle(c.style);
            const QImage img = Render(line);
            EXPECT_EQ(Inked(img), c.want);
            for (auto [x, y] : c.want)
                ASSERT_EQ(img.pixel(x, y), qRgba(0, 0, 0, 255)) << x << "," << y;
        }
    }
}

TEST(VelmarLine, MainWindowSeparatorTopAndLeft)
{
    QtTestApp();
    TVelmarLine line;
    line.resize(372, 10);
    line.SetStyle(lsTop | lsLeft);
    PixelSet want = Box(0, 371, 0, 1);
    PixelSet left = Box(0, 1, 0, 9);
    want.insert(left.begin(), left.end());
    EXPECT_EQ(Inked(Render(line)), want);
}

TEST(VelmarLine, DiagonalsStayInsideAndReachBothEnds)
{
    QtTestApp();
    const int W = 40, H = 10;
    for (int w : {1, 3}) {
        for (TVelmarLineStyles style : {lsUp, lsDown}) {
            SCOPED_TRACE(testing::Message() << "width " << w << " style " << int(style));
            TVelmarLine line;
            line.resize(W, H);
            line.SetPen(QPen(Qt::red, w));
            line.SetStyle(style);
            const PixelSet ink = Inked(Render(line));
            ASSERT_FALSE(ink.empty());
            int minX = W, maxX = -1;
            for (auto [x, y] : ink) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                // Rising line: ink near the left sits low; falling: high.
                if (x < 4) {
                    EXPECT_EQ(style == lsUp, y >= H / 2) << x << "," << y;
                }
            }
            EXPECT_LE(minX, 1);
            EXPECT_GE(maxX, W - 4);
        }
    }
}

TEST(VelmarLine, PenColourAndDashAreUsed)
{
    QtTestApp();
    TVelmarLine line;
    line.resize(100, 10);
    QPen pen(Qt::blue, 1, Qt::DashLine);
    line.SetPen(pen);
    const QImage img = Render(line);
    int inked = 0;
    for (int x = 0; x < 99; ++x)
        if (qAlpha(img.pixel(x, 0)) != 0) {
            ++inked;
            EXPECT_EQ(img.pixel(x, 0), qRgba(0, 0, 255, 255));
        }
    EXPECT_GT(inked, 20);
    EXPECT_LT(inked, 99); // the dashes leave gaps
}
