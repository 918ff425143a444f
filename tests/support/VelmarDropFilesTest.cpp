#include "support/VelmarDropFiles.h"

#include "QtTestApp.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>

using namespace velmar;
using testing_support::QtTestApp;

namespace {

std::unique_ptr<QWidget> MakeForm()
{
    QtTestApp();
    auto form = std::make_unique<QWidget>();
    form->setObjectName("Prima");
    return form;
}

QMimeData* Urls(QMimeData& Mime, const QList<QUrl>& List)
{
    Mime.setUrls(List);
    return &Mime;
}

bool DragEnter(QWidget& Form, const QList<QUrl>& List)
{
    QMimeData mime;
    QDragEnterEvent e(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, Urls(mime, List), Qt::LeftButton, Qt::NoModifier);
    e.setAccepted(false);
    QApplication::sendEvent(&Form, &e);
    return e.isAccepted();
}

// A file manager's drag over the form and drop: Qt hands the drop only to
// the widget that accepted the drag. True when the drop was accepted.
bool Drop(QWidget& Form, const QList<QUrl>& List)
{
    DragEnter(Form, List);
    QMimeData mime;
    QDropEvent e(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, Urls(mime, List), Qt::LeftButton, Qt::NoModifier);
    e.setAccepted(false);
    QApplication::sendEvent(&Form, &e);
    return e.isAccepted();
}

// Lets a test hand the form's events to the filter directly, as a drop that
// arrives whatever the drag said.
struct FilterProbe : TVelmarFormDropFiles {
    using TVelmarFormDropFiles::TVelmarFormDropFiles;
    using TVelmarFormDropFiles::eventFilter;
};

QUrl File(const char* Path) { return QUrl::fromLocalFile(QString::fromUtf8(Path)); }

struct Recorder {
    int calls = 0;
    QObject* sender = nullptr;
    TStringList seen; // Files as OnDropFiles saw them
    TVelmarNotifyEvent Handler(TVelmarFormDropFiles* Drop)
    {
        return [this, Drop](QObject* s) {
            ++calls;
            sender = s;
            seen = Drop->FileList();
        };
    }
};

} // namespace

TEST(VelmarDropFiles, OwnerMustBeAForm)
{
    auto form = MakeForm();
    QWidget child(form.get());
    QObject plain;
    for (QObject* owner : {static_cast<QObject*>(nullptr), static_cast<QObject*>(&child), &plain}) {
        try {
            TVelmarFormDropFiles drop(owner);
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "TVelmarFormDropFiles owner must be a form");
        }
    }
    EXPECT_TRUE(child.findChildren<TVelmarFormDropFiles*>().isEmpty());
}

TEST(VelmarDropFiles, OnlyOnePerForm)
{
    auto form = MakeForm();
    auto* first = new TVelmarFormDropFiles(form.get());
    first->setObjectName("Drop");
    try {
        new TVelmarFormDropFiles(form.get());
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Only one TVelmarFormDropFiles component is permitted on a form: "
                               "Drop is already present on Prima");
    }
    EXPECT_EQ(form->findChildren<TVelmarFormDropFiles*>().size(), 1);
    // The survivor still works.
    Recorder r;
    first->SetOnDropFiles(r.Handler(first));
    EXPECT_TRUE(Drop(*form, {File("/a.wav")}));
    EXPECT_EQ(r.calls, 1);
}

TEST(VelmarDropFiles, Defaults)
{
    auto form = MakeForm();
    auto* drop = new TVelmarFormDropFiles(form.get());
    EXPECT_TRUE(drop->Enabled());
    EXPECT_FALSE(drop->ForegroundOnDrop());
    EXPECT_FALSE(drop->OnDropFiles());
    EXPECT_EQ(drop->Count(), 0);
    EXPECT_TRUE(form->acceptDrops());
    EXPECT_THROW(drop->Files(0), Exception);
}

TEST(VelmarDropFiles, DropOfLocalFilesGivesTheirPathsInOrder)
{
    auto form = MakeForm();
    auto* drop = new TVelmarFormDropFiles(form.get());
    Recorder r;
    drop->SetOnDropFiles(r.Handler(drop));

    EXPECT_TRUE(Drop(*form, {File("/music/uno.wav"), QUrl("https://example.org/due.wav"),
                             File("/music/tre brani.WAV"), File("/music/perché.mp3")}));
    EXPECT_EQ(r.calls, 1);
    EXPECT_EQ(r.sender, drop);
    const TStringList want{"/music/uno.wav", "/music/tre brani.WAV", "/music/perché.mp3"};
    EXPECT_EQ(r.seen, want); // already in place when the event runs
    ASSERT_EQ(drop->Count(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(drop->Files(i), want[size_t(i)]);
    try {
        drop->Files(3);
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (3)");
    }
    EXPECT_THROW(drop->Files(-1), Exception);

    // The next drop replaces the list.
    EXPECT_TRUE(Drop(*form, {File("/music/quattro.wav")}));
    EXPECT_EQ(r.calls, 2);
    ASSERT_EQ(drop->Count(), 1);
    EXPECT_EQ(drop->Files(0), "/music/quattro.wav");
}

TEST(VelmarDropFiles, DragIsOfferedOnlyForLocalFilesWhileEnabled)
{
    auto form = MakeForm();
    auto* drop = new TVelmarFormDropFiles(form.get());
    EXPECT_TRUE(DragEnter(*form, {QUrl("https://example.org/x"), File("/x.wav")}));
    EXPECT_FALSE(DragEnter(*form, {QUrl("https://example.org/x")}));
    EXPECT_FALSE(DragEnter(*form, {}));
    drop->SetEnabled(false);
    EXPECT_FALSE(form->acceptDrops());
    EXPECT_FALSE(DragEnter(*form, {File("/x.wav")}));
    drop->SetEnabled(true);
    EXPECT_TRUE(form->acceptDrops());
    EXPECT_TRUE(DragEnter(*form, {File("/x.wav")}));
}

TEST(VelmarDropFiles, DisabledSwallowsDropsUnread)
{
    auto form = MakeForm();
    auto* drop = new FilterProbe(form.get());
    Recorder r;
    drop->SetOnDropFiles(r.Handler(drop));
    Drop(*form, {File("/first.wav")});
    drop->SetEnabled(false);
    EXPECT_FALSE(Drop(*form, {File("/second.wav")}));
    QMimeData mime;
    mime.setUrls({File("/second.wav")});
    QDropEvent direct(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    EXPECT_TRUE(drop->eventFilter(form.get(), &direct)); // swallowed
    EXPECT_FALSE(direct.isAccepted());
    TVelmarDropFilesEvent e({"/third.wav"});
    QApplication::sendEvent(form.get(), &e);
    EXPECT_EQ(r.calls, 1);
    ASSERT_EQ(drop->Count(), 1);
    EXPECT_EQ(drop->Files(0), "/first.wav");
}

TEST(VelmarDropFiles, DropFilesEventIsHandledLikeADrop)
{
    auto form = MakeForm();
    auto* drop = new TVelmarFormDropFiles(form.get());
    Recorder r;
    drop->SetOnDropFiles(r.Handler(drop));
    EXPECT_NE(TVelmarDropFilesEvent::EventType(), QEvent::None);
    EXPECT_GE(int(TVelmarDropFilesEvent::EventType()), int(QEvent::User));

    QCoreApplication::postEvent(form.get(), new TVelmarDropFilesEvent({"/a/b.wav", "/c d.wav"}));
    EXPECT_EQ(r.calls, 0); // posted: handled by the event loop
    QCoreApplication::sendPostedEvents(form.get());
    EXPECT_EQ(r.calls, 1);
    EXPECT_EQ(r.seen, (TStringList{"/a/b.wav", "/c d.wav"}));

    // A drop of nothing still tells the owner, with an empty list.
    TVelmarDropFilesEvent none({});
    QApplication::sendEvent(form.get(), &none);
    EXPECT_EQ(r.calls, 2);
    EXPECT_EQ(drop->Count(), 0);
}

TEST(VelmarDropFiles, ForegroundOnDropRaisesTheFormFirst)
{
    auto form = MakeForm();
    QWidget other;
    form->resize(100, 100);
    other.resize(100, 100);
    form->show();
    other.show();
    other.activateWindow();
    QApplication::processEvents();
    auto* drop = new TVelmarFormDropFiles(form.get());
    drop->SetForegroundOnDrop(true);
    bool activeAtEvent = false;
    drop->SetOnDropFiles([&](QObject*) {
        QApplication::processEvents();
        activeAtEvent = QApplication::activeWindow() == form.get();
    });
    Drop(*form, {File("/a.wav")});
    EXPECT_TRUE(activeAtEvent);
}

TEST(VelmarDropFiles, DestroyingRestoresTheForm)
{
    auto form = MakeForm();
    Recorder r;
    {
        auto* drop = new TVelmarFormDropFiles(form.get());
        drop->SetOnDropFiles(r.Handler(drop));
        EXPECT_TRUE(form->acceptDrops());
        delete drop;
    }
    EXPECT_FALSE(form->acceptDrops());
    EXPECT_FALSE(Drop(*form, {File("/a.wav")})); // reaches the form's own handler, which ignores it
    EXPECT_EQ(r.calls, 0);
    // A new one may now be placed on the form.
    EXPECT_NO_THROW(new TVelmarFormDropFiles(form.get()));
}
