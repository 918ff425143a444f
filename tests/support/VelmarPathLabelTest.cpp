#include "support/VelmarPathLabel.h"

#include "QtTestApp.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QThread>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace velmar;
using testing_support::QtTestApp;

namespace {

// Every character one unit wide.
int Chars(const QString& Text)
{
    return static_cast<int>(Text.size());
}

struct Row {
    const char* Full;
    int Width;
    const char* Shown;
};

void CheckRows(const std::vector<Row>& Rows)
{
    for (const Row& r : Rows) {
        SCOPED_TRACE(std::string(r.Full) + " in " + std::to_string(r.Width));
        EXPECT_EQ(TVelmarPathLabel::ShortenPath(QString::fromUtf8(r.Full), r.Width, Chars).toStdString(), r.Shown);
    }
}

TEST(VelmarPathLabel, DriveTextsFollowTheDriveRule)
{
    const char* full = "C:\\Documenti\\Musica\\brano.ogg"; // 29 characters
    CheckRows({
        {full, 40, full},
        {full, 29, full}, // exactly as wide as the label
        {full, 28, "C:\\...\\Musica\\brano.ogg"},
        {full, 25, "C:\\...\\Musica\\brano.ogg"},
        {full, 22, "C:\\...\\brano.ogg"},
        {full, 20, "C:\\...\\brano.ogg"},
        {full, 16, "C:\\...\\brano.ogg"},
        {full, 15, "C:\\...\\brano.ogg\\..."},
        {full, 10, "C:\\...\\brano.ogg\\..."},
        {"C:\\brano.ogg", 5, "C:\\...\\brano.ogg\\..."},
        {"C:brano.ogg", 5, "C:brano.ogg"}, // no backslash at all
        {"d:\\a\\b\\c\\x.wav", 13, "d:\\...\\x.wav"},
        {"", 0, ""},
    });
}

TEST(VelmarPathLabel, SlashedPathsDropTheFoldersNearestTheRoot)
{
    const char* full = "/home/anna/Documenti/Musica/brano.ogg"; // 37 characters
    CheckRows({
        {full, 37, full},
        {full, 36, "/.../anna/Documenti/Musica/brano.ogg"},
        {full, 35, "/.../Documenti/Musica/brano.ogg"},
        {full, 31, "/.../Documenti/Musica/brano.ogg"},
        {full, 30, "/.../Musica/brano.ogg"},
        {full, 21, "/.../Musica/brano.ogg"},
        {full, 20, "/.../brano.ogg"},
        {full, 5, "/.../brano.ogg"}, // nothing fits: the file name stays, clipped
        {"Musica/Live/brano.ogg", 15, ".../brano.ogg"},
        {"/home/anna/Musica/", 12, "/.../Musica/"},
        {"/brano_con_un_nome_lungo.ogg", 5, "/brano_con_un_nome_lungo.ogg"},
        {"brano_con_un_nome_lungo.ogg", 5, "brano_con_un_nome_lungo.ogg"},
        {"\\\\server\\share\\brano.ogg", 5, "\\\\server\\share\\brano.ogg"},
        {"/home/anna/Documenti/Musica/città.ogg", 20, "/.../città.ogg"},
    });
}

std::unique_ptr<QWidget> MakeForm()
{
    QtTestApp();
    return std::make_unique<QWidget>();
}

TEST(VelmarPathLabel, SizeOnAFormAndElsewhere)
{
    auto form = MakeForm();
    auto* label = new TVelmarPathLabel(form.get());
    EXPECT_EQ(label->width(), 75);
    EXPECT_EQ(label->height(), QFontMetrics(form->font()).height());

    auto* panel = new QWidget(form.get());
    auto* inPanel = new TVelmarPathLabel(panel);
    auto* plain = new QLabel(panel);
    EXPECT_EQ(inPanel->size(), plain->size());
    EXPECT_EQ(inPanel->sizePolicy().horizontalPolicy(), QSizePolicy::Ignored);
}

TEST(VelmarPathLabel, ShowsTheShortFormAndKeepsTheFullCaption)
{
    auto form = MakeForm();
    auto* label = new TVelmarPathLabel(form.get());
    const QFontMetrics fm(label->font());
    const QString full = QStringLiteral("/home/anna/Documenti/Musica/brano.ogg");
    const QString shortForm = QStringLiteral("/.../Musica/brano.ogg");
    ASSERT_LT(fm.horizontalAdvance(shortForm), fm.horizontalAdvance(QStringLiteral("/.../Documenti/Musica/brano.ogg")));

    label->resize(fm.horizontalAdvance(shortForm), 13);
    label->SetCaption(full.toStdString());
    EXPECT_EQ(label->text(), shortForm);
    EXPECT_EQ(label->Caption(), full.toStdString());

    // Widening does not refit until the caption is written again.
    label->resize(fm.horizontalAdvance(full) + 10, 13);
    EXPECT_EQ(label->text(), shortForm);
    label->SetCaption(full.toStdString());
    EXPECT_EQ(label->text(), full);

    label->SetCaption("");
    EXPECT_EQ(label->text(), QString());
}

TEST(VelmarPathLabel, MarkupIsShownAsText)
{
    auto form = MakeForm();
    auto* label = new TVelmarPathLabel(form.get());
    label->resize(2000, 13);
    label->SetCaption("/tmp/<b>x</b>.ogg");
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->text(), QStringLiteral("/tmp/<b>x</b>.ogg"));
}

TEST(VelmarPathLabel, CaptionFromAnotherThreadIsShownInTheLabelsThread)
{
    auto form = MakeForm();
    auto* label = new TVelmarPathLabel(form.get());
    const QFontMetrics fm(label->font());
    const std::string full = "/home/anna/Documenti/Musica/brano.ogg";
    const QString shortForm = QStringLiteral("/.../brano.ogg");
    label->resize(fm.horizontalAdvance(shortForm), 13);

    std::thread([&] { label->SetCaption(full); }).join();
    EXPECT_EQ(label->Caption(), full) << "the full text is stored at once";

    QElapsedTimer clock;
    clock.start();
    while (label->text() != shortForm && clock.elapsed() < 2000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    EXPECT_EQ(label->text(), shortForm);
}

} // namespace
