#include "support/VelmarStatusBarImage.h"

#include "QtTestApp.h"
#include "platform/Classes.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QSizeGrip>
#include <QStatusTipEvent>
#include <QToolTip>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace velmar;
using testing_support::QtTestApp;

namespace {

const QColor kFace(200, 200, 200);
const QColor kImage(0, 200, 0);

// A form-sized parent with a bar of the main window's size at its bottom.
struct Fixture {
    std::unique_ptr<QWidget> form;
    TVelmarStatusBarImage* bar;
    explicit Fixture(int W = 452, int H = 348)
    {
        QtTestApp();
        form = std::make_unique<QWidget>();
        form->resize(W, H);
        bar = new TVelmarStatusBarImage(form.get());
    }
    TVelmarStatusPanel* Add(int Width, const QString& Text = {})
    {
        TVelmarStatusPanel* p = bar->Panels()->Add();
        p->SetWidth(Width);
        p->SetText(Text);
        return p;
    }
};

QPixmap Solid(int W, int H, const QColor& C)
{
    QPixmap p(W, H);
    p.fill(C);
    return p;
}

QImage Render(QWidget& W)
{
    QImage img(W.size(), QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    W.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

struct Columns {
    int first = -1, last = -1;
};

// Columns of the row band [Y0, Y1) holding a pixel of colour C.
Columns ColumnsOf(const QImage& img, QRgb C, int X0, int X1, int Y0, int Y1)
{
    Columns c;
    for (int x = X0; x < X1; ++x)
        for (int y = Y0; y < Y1; ++y)
            if (img.pixel(x, y) == C) {
                if (c.first < 0)
                    c.first = x;
                c.last = x;
                break;
            }
    return c;
}

void Click(QWidget& W, QPoint At, bool Double = false)
{
    const QPointF p(At);
    QMouseEvent press(QEvent::MouseButtonPress, p, W.mapToGlobal(p), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, p, W.mapToGlobal(p), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, p, W.mapToGlobal(p), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&W, Double ? &dbl : &press);
    QApplication::sendEvent(&W, &release);
}

} // namespace

TEST(VelmarStatusBarImage, DefaultsAndBottomAlignment)
{
    Fixture f;
    EXPECT_EQ(f.bar->geometry(), QRect(0, 329, 452, 19));
    EXPECT_EQ(f.bar->Align(), alBottom);
    EXPECT_TRUE(f.bar->SizeGrip());
    EXPECT_TRUE(f.bar->UseSystemFont());
    EXPECT_FALSE(f.bar->AutoHint());
    EXPECT_FALSE(f.bar->SimplePanel());
    EXPECT_EQ(f.bar->Panels()->Count(), 0);
    EXPECT_EQ(f.bar->PartCount(), 1);
    f.form->show();
    f.form->resize(600, 400);
    EXPECT_EQ(f.bar->geometry(), QRect(0, 381, 600, 19));

    TVelmarStatusPanel* p = f.bar->Panels()->Add();
    EXPECT_EQ(p->Width(), 50);
    EXPECT_EQ(p->Bevel(), pbLowered);
    EXPECT_EQ(p->Alignment(), taLeftJustify);
    EXPECT_EQ(p->Style(), psText);
    EXPECT_EQ(p->ImageIndex(), -1);
    EXPECT_TRUE(p->ParentBiDiMode());
    EXPECT_EQ(p->DisplayName(), "TVelmarStatusPanel");
    p->SetText("Nessun brano presente");
    EXPECT_EQ(p->DisplayName(), "Nessun brano presente");
}

// Parts side by side; the last always reaches the right end of the bar.
TEST(VelmarStatusBarImage, PanelGeometry)
{
    struct {
        std::vector<int> widths;
        std::vector<QRect> want;
    } cases[] = {
        {{250, 50}, {QRect(0, 0, 250, 19), QRect(250, 0, 202, 19)}},
        {{250, 500}, {QRect(0, 0, 250, 19), QRect(250, 0, 202, 19)}},
        {{10}, {QRect(0, 0, 452, 19)}},
        {{100, 0, -5, 20}, {QRect(0, 0, 100, 19), QRect(100, 0, 0, 19), QRect(100, 0, 0, 19), QRect(100, 0, 352, 19)}},
        {{400, 400, 10}, {QRect(0, 0, 400, 19), QRect(400, 0, 52, 19), QRect(452, 0, 0, 19)}},
    };
    for (const auto& c : cases) {
        Fixture f;
        for (int w : c.widths)
            f.Add(w);
        for (size_t i = 0; i < c.want.size(); ++i)
            EXPECT_EQ(f.bar->PanelRect(int(i)), c.want[i]) << "panel " << i << " of " << c.widths.size();
    }
}

TEST(VelmarStatusBarImage, AtMost128Parts)
{
    Fixture f(1000, 100);
    for (int i = 0; i < 130; ++i)
        f.Add(5);
    EXPECT_EQ(f.bar->PartCount(), 128);
    EXPECT_EQ(f.bar->PanelRect(126), QRect(630, 0, 5, 19));
    EXPECT_EQ(f.bar->PanelRect(127), QRect(635, 0, 365, 19)); // the last part
    EXPECT_TRUE(f.bar->PanelRect(128).isNull());
    EXPECT_TRUE(f.bar->PanelRect(129).isNull());
    EXPECT_EQ(f.bar->PanelAt({999, 5}), f.bar->Panels()->Items(127));
    EXPECT_EQ(f.bar->PanelAt({632, 5}), f.bar->Panels()->Items(126));
}

TEST(VelmarStatusBarImage, CollectionEditing)
{
    Fixture f;
    TVelmarStatusPanel* a = f.Add(10, "a");
    TVelmarStatusPanel* b = f.Add(20, "b");
    f.Add(30, "c");
    EXPECT_EQ(b->Index(), 1);
    try {
        f.bar->Panels()->Items(3);
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (3)");
    }
    f.bar->Panels()->Delete(1);
    EXPECT_EQ(f.bar->Panels()->Count(), 2);
    EXPECT_EQ(f.bar->Panels()->Items(1)->Text(), "c");

    int clicks = 0;
    a->SetOnClick([&](QObject*) { ++clicks; });
    a->SetBevel(pbRaised);
    a->SetImageIndex(2);
    TVelmarStatusPanel* c = f.bar->Panels()->Items(1);
    c->Assign(*a);
    EXPECT_EQ(c->Text(), "a");
    EXPECT_EQ(c->Width(), 10);
    EXPECT_EQ(c->Bevel(), pbRaised);
    EXPECT_EQ(c->ImageIndex(), 2);
    ASSERT_TRUE(c->OnClick());
    c->OnClick()(c);
    EXPECT_EQ(clicks, 1);

    f.bar->Panels()->Clear();
    EXPECT_EQ(f.bar->Panels()->Count(), 0);
    EXPECT_EQ(f.bar->PanelAt({5, 5}), nullptr);
}

// The default drawing: image then text from the left, text then image from
// the right, text alone 1 pixel inside when there is no usable image.
TEST(VelmarStatusBarImage, DrawPanelPlacesImageAndText)
{
    struct {
        TAlignment align;
        int imageIndex;
        bool images;
    } cases[] = {
        {taLeftJustify, 0, true}, {taRightJustify, 0, true}, {taCenter, 0, true},
        {taLeftJustify, -1, true}, {taLeftJustify, 1, true}, {taLeftJustify, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "align " << c.align << " image " << c.imageIndex << " list " << c.images);
        Fixture f;
        f.bar->SetColor(kFace);
        QFont font = f.bar->font();
        font.setStyleStrategy(QFont::NoAntialias);
        f.bar->setFont(font);
        QPalette pal = f.bar->palette();
        pal.setColor(QPalette::WindowText, Qt::black);
        f.bar->setPalette(pal);
        if (c.images)
            f.bar->SetImmagini({Solid(8, 8, kImage)});
        f.Add(100, "x");
        TVelmarStatusPanel* p = f.Add(200, "Brani");
        p->SetAlignment(c.align);
        p->SetImageIndex(c.imageIndex);

        const QImage img = Render(*f.bar);
        const QRect inner = f.bar->PanelRect(1).adjusted(1, 1, -1, -1);
        const int right = inner.left() + inner.width(); // exclusive
        const Columns image = ColumnsOf(img, kImage.rgba(), inner.left(), right, 0, 19);
        const Columns text = ColumnsOf(img, QColor(Qt::black).rgba(), inner.left(), right, 0, 19);
        ASSERT_GE(text.first, 0);
        const bool shown = c.images && c.imageIndex == 0;
        if (!shown) {
            EXPECT_EQ(image.first, -1);
            EXPECT_GE(text.first, inner.left() + 1);
            EXPECT_LE(text.first, inner.left() + 3); // the glyph's own bearing
            continue;
        }
        const int tw = QFontMetrics(f.bar->font()).horizontalAdvance("Brani");
        EXPECT_EQ(image.last - image.first + 1, 8);
        if (c.align == taLeftJustify) {
            EXPECT_EQ(image.first, inner.left() + 1);
            EXPECT_GE(text.first, image.last + 1 + 2);
            EXPECT_LE(text.first, image.last + 1 + 4);
        } else if (c.align == taRightJustify) {
            EXPECT_EQ(image.last, right - 2); // ends 1 pixel inside
            EXPECT_LE(text.last, image.first - 2 - 1);
            EXPECT_GE(text.last, image.first - 2 - 4);
        } else {
            EXPECT_EQ(image.first, inner.left() + (inner.width() - (tw + 8)) / 2);
        }
        // The image is centred vertically.
        int top = -1;
        for (int y = 0; y < 19 && top < 0; ++y)
            if (img.pixel(image.first, y) == kImage.rgba())
                top = y;
        EXPECT_EQ(top, inner.top() + (inner.height() - 8) / 2);
    }
}

TEST(VelmarStatusBarImage, OwnerDrawPanels)
{
    Fixture f;
    TVelmarStatusPanel* p = f.Add(100, "Brani");
    p->SetStyle(psOwnerDraw);
    // Without OnDrawPanel: drawn like any other panel.
    QImage plain = Render(*f.bar);
    std::vector<std::pair<TVelmarStatusPanel*, QRect>> calls;
    f.bar->SetOnDrawPanel([&](TVelmarStatusBarImage* bar, TVelmarStatusPanel* panel, const QRect& r) {
        EXPECT_EQ(bar, f.bar);
        ASSERT_NE(bar->Canvas(), nullptr);
        bar->Canvas()->fillRect(r, Qt::magenta);
        calls.push_back({panel, r});
    });
    QImage owner = Render(*f.bar);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].first, p);
    EXPECT_EQ(calls[0].second, f.bar->PanelRect(0).adjusted(1, 1, -1, -1));
    EXPECT_EQ(owner.pixel(50, 9), QColor(Qt::magenta).rgba());
    EXPECT_NE(plain.pixel(50, 9), QColor(Qt::magenta).rgba());
    EXPECT_EQ(f.bar->Canvas(), nullptr);
    // A text panel ignores OnDrawPanel.
    p->SetStyle(psText);
    calls.clear();
    Render(*f.bar);
    EXPECT_TRUE(calls.empty());
}

namespace {
// Records which panels each paint draws.
class LoggingBar : public TVelmarStatusBarImage {
public:
    using TVelmarStatusBarImage::TVelmarStatusBarImage;
    std::vector<int> Drawn;

protected:
    void DrawPanel(TVelmarStatusPanel* Panel, const QRect& Rect) override
    {
        Drawn.push_back(Panel->Index());
        TVelmarStatusBarImage::DrawPanel(Panel, Rect);
    }
};
} // namespace

TEST(VelmarStatusBarImage, ATextChangeRepaintsOnlyItsPanel)
{
    QtTestApp();
    QWidget form;
    form.resize(452, 348);
    auto* bar = new LoggingBar(&form);
    for (int i = 0; i < 3; ++i)
        bar->Panels()->Add()->SetWidth(100);
    form.show();
    QApplication::processEvents();
    bar->Drawn.clear();
    bar->repaint();
    EXPECT_EQ(bar->Drawn, (std::vector<int>{0, 1, 2}));

    bar->Drawn.clear();
    bar->Panels()->Items(1)->SetText("1 brano presente");
    QApplication::processEvents();
    EXPECT_EQ(bar->Drawn, (std::vector<int>{1}));

    bar->Drawn.clear();
    bar->Panels()->Items(1)->SetText("1 brano presente"); // unchanged: nothing
    QApplication::processEvents();
    EXPECT_TRUE(bar->Drawn.empty());

    bar->Drawn.clear();
    bar->Panels()->Items(0)->SetWidth(120); // moves every part
    QApplication::processEvents();
    EXPECT_EQ(bar->Drawn, (std::vector<int>{0, 1, 2}));
}

TEST(VelmarStatusBarImage, ClicksGoToThePanelOrElseTheBar)
{
    Fixture f;
    TVelmarStatusPanel* counted = f.Add(250);
    f.Add(50); // no handlers
    std::vector<QObject*> clicks, dbl;
    counted->SetOnClick([&](QObject* s) { clicks.push_back(s); });
    counted->SetOnDblClick([&](QObject* s) { dbl.push_back(s); });
    f.bar->SetOnClick([&](QObject* s) { clicks.push_back(s); });
    f.bar->SetOnDblClick([&](QObject* s) { dbl.push_back(s); });

    Click(*f.bar, {10, 9});
    Click(*f.bar, {300, 9});
    Click(*f.bar, {10, 9}, true);
    Click(*f.bar, {440, 9}, true);
    EXPECT_EQ(clicks, (std::vector<QObject*>{counted, f.bar}));
    EXPECT_EQ(dbl, (std::vector<QObject*>{counted, f.bar}));
    EXPECT_EQ(f.bar->PanelUnderMouse(), f.bar->Panels()->Items(1));

    // No panels at all: the bar's own click.
    f.bar->Panels()->Clear();
    clicks.clear();
    Click(*f.bar, {10, 9});
    EXPECT_EQ(clicks, (std::vector<QObject*>{f.bar}));
    EXPECT_EQ(f.bar->PanelUnderMouse(), nullptr);
}

TEST(VelmarStatusBarImage, HintsPerPanel)
{
    Fixture f;
    f.form->show();
    f.bar->setToolTip("barra");
    f.Add(100)->SetHint("conteggio");
    f.Add(100); // no hint of its own
    auto hintAt = [&](QPoint at) {
        QHelpEvent e(QEvent::ToolTip, at, f.bar->mapToGlobal(at));
        QApplication::sendEvent(f.bar, &e);
        return QToolTip::text();
    };
    EXPECT_EQ(hintAt({10, 9}), "conteggio");
    EXPECT_EQ(hintAt({150, 9}), "barra");
    QToolTip::hideText();
}

TEST(VelmarStatusBarImage, PopupMenuOfThePanelOrTheBar)
{
    Fixture f;
    f.form->show();
    QMenu barMenu, panelMenu;
    barMenu.addAction("Barra");
    panelMenu.addAction("Pannello");
    f.bar->SetPopupMenu(&barMenu);
    TVelmarStatusPanel* p = f.Add(100);
    p->SetPopupMenu(&panelMenu);
    f.Add(100); // no menu of its own
    auto menuAt = [&](QPoint at) {
        QContextMenuEvent e(QContextMenuEvent::Mouse, at, f.bar->mapToGlobal(at));
        QApplication::sendEvent(f.bar, &e);
        QMenu* shown = panelMenu.isVisible() ? &panelMenu : barMenu.isVisible() ? &barMenu : nullptr;
        panelMenu.hide();
        barMenu.hide();
        return shown;
    };
    EXPECT_EQ(menuAt({10, 9}), &panelMenu);
    EXPECT_EQ(menuAt({300, 9}), &barMenu);
    {
        auto* gone = new QMenu(f.form.get());
        p->SetPopupMenu(gone);
        delete gone;
    }
    EXPECT_EQ(p->PopupMenu(), nullptr);
    EXPECT_EQ(menuAt({10, 9}), &barMenu);
}

TEST(VelmarStatusBarImage, AutoHintTakesStatusTips)
{
    Fixture f;
    QWidget* child = new QWidget(f.form.get());
    auto tip = [&](const QString& t) {
        QStatusTipEvent e(t);
        QApplication::sendEvent(child, &e);
    };
    f.Add(250, "Nessun brano presente");
    tip("ignorato");
    EXPECT_EQ(f.bar->Panels()->Items(0)->Text(), "Nessun brano presente");

    f.bar->SetAutoHint(true);
    tip("Aggiungi files");
    EXPECT_EQ(f.bar->Panels()->Items(0)->Text(), "Aggiungi files");

    f.bar->SetSimplePanel(true);
    tip("semplice");
    EXPECT_EQ(f.bar->SimpleText(), "semplice");
    EXPECT_EQ(f.bar->Panels()->Items(0)->Text(), "Aggiungi files");

    QString taken;
    f.bar->SetOnHint([&](QObject* s, const QString& h) {
        EXPECT_EQ(s, f.bar);
        taken = h;
    });
    tip("al gestore");
    EXPECT_EQ(taken, "al gestore");
    EXPECT_EQ(f.bar->SimpleText(), "semplice");
}

TEST(VelmarStatusBarImage, FlipChildrenReversesPanels)
{
    Fixture f(400, 100);
    TVelmarStatusPanel* a = f.Add(100, "a");
    f.Add(50, "b");
    TVelmarStatusPanel* c = f.Add(30, "c");
    f.bar->FlipChildren();
    EXPECT_EQ(f.bar->Panels()->Items(0), c);
    EXPECT_EQ(f.bar->Panels()->Items(2), a);
    EXPECT_EQ(c->Width(), 400 - 150); // what the old last panel showed
    EXPECT_EQ(a->Width(), 100);
    EXPECT_EQ(f.bar->PanelRect(0), QRect(0, 0, 250, 19));
    EXPECT_EQ(f.bar->PanelRect(2), QRect(300, 0, 100, 19));
}

TEST(VelmarStatusBarImage, SystemFontUntilAnotherIsChosen)
{
    Fixture f;
    EXPECT_EQ(f.bar->font(), QApplication::font("QStatusBar"));
    QFont other("DejaVu Serif", 15);
    f.bar->setFont(other);
    EXPECT_FALSE(f.bar->UseSystemFont());
    f.bar->SetUseSystemFont(true);
    EXPECT_EQ(f.bar->font(), QApplication::font("QStatusBar"));
    EXPECT_TRUE(f.bar->UseSystemFont());
}

TEST(VelmarStatusBarImage, SizeGripOnlyOnResizableWindows)
{
    QtTestApp();
    for (bool fixed : {false, true}) {
        QWidget form;
        form.resize(300, 200);
        if (fixed)
            form.setFixedSize(300, 200);
        auto* bar = new TVelmarStatusBarImage(&form);
        form.show();
        QApplication::processEvents();
        auto* grip = bar->findChild<QSizeGrip*>();
        ASSERT_NE(grip, nullptr);
        EXPECT_EQ(grip->isVisible(), !fixed);
        bar->SetSizeGrip(false);
        EXPECT_FALSE(grip->isVisible());
    }
}
