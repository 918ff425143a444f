#include "decor/VelmarMailLabel.h"
#include "decor/VelmarWebLabel.h"

#include "../support/QtTestApp.h"

#include <QDesktopServices>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QUrl>
#include <gtest/gtest.h>

using namespace velmar;
using testing_support::QtTestApp;

namespace {

// Stands in for the browser and the mail program: records what the desktop was asked to open.
class Opener : public QObject {
    Q_OBJECT
public:
    Opener()
    {
        for (const char* scheme : {"https", "http", "mailto"})
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~Opener() override
    {
        for (const char* scheme : {"https", "http", "mailto"})
            QDesktopServices::unsetUrlHandler(scheme);
    }
    QList<QUrl> Opened;
public slots:
    void open(const QUrl& Url) { Opened << Url; }
};

void Release(QWidget& W, Qt::MouseButton Button, QPointF At)
{
    QMouseEvent e(QEvent::MouseButtonRelease, At, W.mapToGlobal(At), Button, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&W, &e);
}

template <class T> class LinkLabel : public ::testing::Test {};
using Labels = ::testing::Types<TVelmarWebLabel, TVelmarMailLabel>;
TYPED_TEST_SUITE(LinkLabel, Labels);

} // namespace

TEST(VelmarWebLabel, Defaults)
{
    QtTestApp();
    TVelmarWebLabel L;
    EXPECT_EQ(L.text(), "Velmar Systems, Inc. - Home Page");
    EXPECT_EQ(L.Indirizzo(), TVelmarWebLabel::DefaultAddress);
    EXPECT_EQ(L.Modo(), Ingrandita);
    EXPECT_EQ(L.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_FALSE(L.autoFillBackground());
    EXPECT_GE(L.width(), 149);
}

TEST(VelmarMailLabel, Defaults)
{
    QtTestApp();
    TVelmarMailLabel L;
    EXPECT_TRUE(L.Indirizzo().startsWith("mailto:"));
    EXPECT_EQ("mailto:" + L.text(), L.Indirizzo()); // the address is the caption
    EXPECT_EQ(L.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_FALSE(L.autoFillBackground());
    EXPECT_GE(L.width(), 69);
}

TYPED_TEST(LinkLabel, ClickOpensTheAddress)
{
    QtTestApp();
    Opener opener;
    TypeParam L;
    L.Click();
    L.SetIndirizzo("mailto:someone@example.org?subject=Velmar");
    L.Click();
    if constexpr (std::is_same_v<TypeParam, TVelmarWebLabel>) {
        L.SetModo(Normale); // has no say over how the browser opens
        L.SetIndirizzo("https://example.org/a");
        L.Click();
    }
    ASSERT_GE(opener.Opened.size(), 2);
    EXPECT_EQ(opener.Opened[0], QUrl(TypeParam::DefaultAddress));
    EXPECT_EQ(opener.Opened[1], QUrl("mailto:someone@example.org?subject=Velmar"));
}

TYPED_TEST(LinkLabel, OnlyALeftReleaseInsideClicks)
{
    QtTestApp();
    Opener opener;
    TypeParam L;
    Release(L, Qt::RightButton, {2, 2});
    Release(L, Qt::LeftButton, {L.width() + 5.0, 2});
    EXPECT_TRUE(opener.Opened.isEmpty());
    Release(L, Qt::LeftButton, {2, 2});
    EXPECT_EQ(opener.Opened.size(), 1);
}

TYPED_TEST(LinkLabel, HoverUnderlinesInBlueAndLeavingRestoresConstructionLook)
{
    QtTestApp();
    TypeParam L;
    const QColor original = L.palette().color(QPalette::WindowText);
    ASSERT_FALSE(L.font().underline());

    // Changed after construction: leaving must not keep these.
    QFont f = L.font();
    f.setItalic(true);
    f.setPointSize(15);
    L.setFont(f);
    QPalette p = L.palette();
    p.setColor(QPalette::WindowText, Qt::green);
    L.setPalette(p);

    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(&L, &enter);
    EXPECT_EQ(L.palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_TRUE(L.font().underline());
    EXPECT_FALSE(L.font().italic());

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&L, &leave);
    EXPECT_EQ(L.palette().color(QPalette::WindowText), original);
    EXPECT_FALSE(L.font().underline());
    EXPECT_FALSE(L.font().italic());
    EXPECT_EQ(L.font().pointSize(), 15); // only colour and style go back
}

#include "VelmarLinkLabelTest.moc"
