#include "support/VelmarFileDialogEx.h"

#include "QtTestApp.h"
#include "TestSupport.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QClipboard>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace velmar;
using testing_support::QtTestApp;
using testing_support::TempDir;

namespace {

// Runs Execute with Inside called once the dialog is up; the dialog is
// cancelled afterwards if Inside left it open, and after 10 s at the latest.
bool ExecuteWith(TVelmarDialogEx& D, const std::function<void()>& Inside)
{
    QTimer::singleShot(0, &D, [&] {
        Inside();
        if (D.isVisible())
            D.reject();
    });
    QTimer::singleShot(10000, &D, [&] { D.reject(); });
    return D.Execute();
}

QString LabelText(QWidget& D, const char* Name)
{
    auto* l = D.findChild<QLabel*>(Name);
    return l ? l->text() : QStringLiteral("<missing>");
}

QPushButton* Button(QWidget& D, QDialogButtonBox::StandardButton Which)
{
    auto* box = D.findChild<QDialogButtonBox*>("buttonBox");
    return box ? box->button(Which) : nullptr;
}

QPushButton* HelpButton(QWidget& D)
{
    auto* box = D.findChild<QDialogButtonBox*>("buttonBox");
    for (QAbstractButton* b : box->buttons())
        if (box->buttonRole(b) == QDialogButtonBox::HelpRole)
            return qobject_cast<QPushButton*>(b);
    return nullptr;
}

} // namespace

TEST(VelmarFileDialogEx, Defaults)
{
    QtTestApp();
    TVelmarDialogEx d;
    EXPECT_TRUE(d.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(d.TestoOK(), "&Apri");
    EXPECT_EQ(d.TestoAnnulla(), "Annulla");
    EXPECT_EQ(d.TestoDrive(), "Cerca in:");
    EXPECT_EQ(d.TestoNome(), "Nome del file:");
    EXPECT_EQ(d.TestoTipo(), "Tipo di file:");
    EXPECT_EQ(d.TestoSolalettura(), "Apri in sola lettura");
    EXPECT_EQ(d.TestoAiuto(), "&Aiuto");
    EXPECT_TRUE(d.ShowPlacesBar());
    EXPECT_TRUE(d.Files().empty());
}

TEST(VelmarFileDialogEx, CaptionsAreAppliedWhenShownAndCancelGivesNothing)
{
    QtTestApp();
    TVelmarDialogEx d;
    d.SetTestoOK("Aggiungi");
    d.SetShowHelp(true);
    d.SetHideReadOnly(false);
    bool checked = false;
    const bool ok = ExecuteWith(d, [&] {
        checked = true;
        EXPECT_EQ(LabelText(d, "lookInLabel"), "Cerca in:");
        EXPECT_EQ(LabelText(d, "fileNameLabel"), "Nome del file:");
        EXPECT_EQ(LabelText(d, "fileTypeLabel"), "Tipo di file:");
        ASSERT_NE(Button(d, QDialogButtonBox::Open), nullptr);
        EXPECT_EQ(Button(d, QDialogButtonBox::Open)->text(), "Aggiungi");
        EXPECT_EQ(Button(d, QDialogButtonBox::Cancel)->text(), "Annulla");
        auto* readOnly = d.findChild<QCheckBox*>("readOnlyCheckBox");
        ASSERT_NE(readOnly, nullptr);
        EXPECT_TRUE(readOnly->isVisible());
        EXPECT_EQ(readOnly->text(), "Apri in sola lettura");
        ASSERT_NE(HelpButton(d), nullptr);
        EXPECT_TRUE(HelpButton(d)->isVisible());
        EXPECT_EQ(HelpButton(d)->text(), "&Aiuto");
        EXPECT_TRUE(d.findChild<QWidget*>("sidebar")->isVisible());
    });
    EXPECT_TRUE(checked);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(d.Files().empty());
    EXPECT_EQ(d.FileName(), "");
}

TEST(VelmarFileDialogEx, PlacesBarHiddenAndEmptyHelpCaption)
{
    QtTestApp();
    TVelmarDialogEx d;
    d.SetShowPlacesBar(false);
    d.SetTestoAiuto("");
    d.SetTestoDrive("");
    d.SetShowHelp(true);
    ExecuteWith(d, [&] {
        auto* sidebar = d.findChild<QWidget*>("sidebar");
        ASSERT_NE(sidebar, nullptr);
        EXPECT_FALSE(sidebar->isVisible());
        ASSERT_NE(HelpButton(d), nullptr);
        EXPECT_EQ(HelpButton(d)->text(), "");
        EXPECT_EQ(LabelText(d, "lookInLabel"), "");
        // The optional controls stay hidden unless asked for.
        EXPECT_FALSE(d.findChild<QCheckBox*>("readOnlyCheckBox")->isVisible());
    });
    // Hidden again by default.
    TVelmarDialogEx plain;
    ExecuteWith(plain, [&] { EXPECT_FALSE(HelpButton(plain)->isVisible()); });
}

// The detail view's texts of the entry Name, once the folder is read.
QStringList Shown(QTreeView* Tree, const QString& Name)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 5000) {
        const QModelIndex root = Tree->rootIndex();
        for (int row = 0; row < Tree->model()->rowCount(root); ++row) {
            if (Tree->model()->index(row, 0, root).data().toString() != Name)
                continue;
            QStringList texts;
            for (int c = 0; c < Tree->model()->columnCount(root); ++c)
                texts << TestoDettaglio(Tree->model()->index(row, c, root));
            return texts;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return {};
}

TEST(VelmarFileDialogEx, SeveralFilesComeBackWithFullPaths)
{
    QtTestApp();
    TempDir tmp;
    for (const char* n : {"a.wav", "b.wav", "c d.wav", "e.mp3"})
        testing_support::WriteBytes(tmp.File(n), {1, 2, 3});
    testing_support::WriteBytes(tmp.File("f.wav"), std::vector<uint8_t>(1536));
    QFile f(QString::fromStdString(tmp.File("f.wav")));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(QDateTime(QDate(2021, 3, 4), QTime(10, 5)), QFileDevice::FileModificationTime));
    f.close();
    std::filesystem::create_directory(tmp.File("cartella"));
    // Qt's Italian headers, as the program loads them, are longer than Qt's room.
    QTranslator italian;
    ASSERT_TRUE(italian.load("qtbase_it", QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
    QCoreApplication::installTranslator(&italian);
    const auto keep = qScopeGuard([&] { QCoreApplication::removeTranslator(&italian); });
    TVelmarDialogEx d;
    d.SetFilter("Audio Wave|*.wav");
    d.setFileMode(QFileDialog::ExistingFiles);
    d.setDirectory(QString::fromStdString(tmp.Path()));
    d.SetReadOnly(false);
    QWidget* completions = nullptr;
    const bool ok = ExecuteWith(d, [&] {
        // Italian whatever the system's language, under headers not cut.
        auto* tree = d.findChild<QTreeView*>("treeView");
        ASSERT_NE(tree, nullptr);
        const QStringList wave = Shown(tree, "f.wav");
        ASSERT_EQ(wave.size(), 4);
        EXPECT_EQ(wave[1], "1,50 KiB");
        EXPECT_EQ(wave[3], "04/03/21 10:05");
        EXPECT_EQ(Shown(tree, "cartella").value(2), "Cartella");
        for (int c = 1; c < tree->header()->count(); ++c)
            EXPECT_GE(tree->header()->sectionSize(c), tree->header()->sectionSizeHint(c)) << c;

        auto* edit = d.findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(edit, nullptr);
        edit->setText("c");
        edit->completer()->setCompletionPrefix("c");
        edit->completer()->complete();
        completions = edit->completer()->popup();
        ASSERT_TRUE(completions->isVisible());
        edit->setText("\"a.wav\" \"c d.wav\"");
        Button(d, QDialogButtonBox::Open)->click();
    });
    ASSERT_TRUE(ok);
    ASSERT_NE(completions, nullptr);
    EXPECT_FALSE(completions->isVisible()); // gone with the dialog
    const TStringList want{tmp.File("a.wav"), tmp.File("c d.wav")};
    EXPECT_EQ(d.Files(), want);
    EXPECT_EQ(d.FileName(), tmp.File("a.wav"));
    EXPECT_FALSE(d.ReadOnly());

    // A later cancel empties the list.
    EXPECT_FALSE(ExecuteWith(d, [] {}));
    EXPECT_TRUE(d.Files().empty());
}

// Names typed key by key or pasted into "Nome del file:", quoted, with
// blanks, relative to the folder shown or absolute: every one comes back,
// in the order of the name box.
TEST(VelmarFileDialogEx, EveryQuotedNameTypedOrPastedComesBack)
{
    QtTestApp();
    TempDir tmp;
    for (const char* n : {"Brano uno.wav", "terzo-mono.wav", "Brano due.wav", "a/x.wav", "b/y.wav", "c/z.wav"}) {
        std::filesystem::create_directories(std::filesystem::path(tmp.File(n)).parent_path());
        testing_support::WriteBytes(tmp.File(n), {1, 2, 3});
    }
    const QString dir = QString::fromStdString(tmp.Path());
    const struct {
        QString Text;
        TStringList Files;
    } rows[] = {
        {"\"Brano uno.wav\" \"terzo-mono.wav\"", {tmp.File("Brano uno.wav"), tmp.File("terzo-mono.wav")}},
        {"\"terzo-mono.wav\" \"Brano due.wav\" \"Brano uno.wav\"",
         {tmp.File("terzo-mono.wav"), tmp.File("Brano due.wav"), tmp.File("Brano uno.wav")}},
        {"\"" + dir + "/a/x.wav\" \"" + dir + "/b/y.wav\" \"" + dir + "/c/z.wav\"",
         {tmp.File("a/x.wav"), tmp.File("b/y.wav"), tmp.File("c/z.wav")}},
        {"\"a/x.wav\" \"" + dir + "/Brano uno.wav\"", {tmp.File("a/x.wav"), tmp.File("Brano uno.wav")}},
    };
    for (const auto& r : rows) {
        for (bool typed : {true, false}) {
            SCOPED_TRACE((typed ? "typed: " : "pasted: ") + r.Text.toStdString());
            TVelmarDialogEx d;
            d.SetFilter("Audio Wave|*.wav");
            d.setFileMode(QFileDialog::ExistingFiles);
            d.setDirectory(dir);
            const bool ok = ExecuteWith(d, [&] {
                auto* edit = d.findChild<QLineEdit*>("fileNameEdit");
                ASSERT_NE(edit, nullptr);
                d.activateWindow();
                edit->setFocus();
                EXPECT_TRUE(QTest::qWaitFor([edit] { return edit->hasFocus(); }, 2000)); // as a person types
                if (typed) {
                    QTest::keyClicks(edit, r.Text);
                } else {
                    QGuiApplication::clipboard()->setText(r.Text);
                    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
                }
                QTest::keyClick(edit, Qt::Key_Return);
            });
            EXPECT_TRUE(ok);
            EXPECT_EQ(d.Files(), r.Files);
        }
    }
}

// With a settings file, each row opens a new dialog (as a new session
// would) after Before, checks the folder it opens in, and confirms it in
// Choose, or cancels it when Choose is empty.
TEST(VelmarFileDialogEx, OpensInTheFolderChosenLastElseMusicElseHome)
{
    QtTestApp();
    TempDir tmp;
    const QByteArray home = qgetenv("HOME"), config = qgetenv("XDG_CONFIG_HOME");
    const auto restore = qScopeGuard([&] {
        qputenv("HOME", home);
        qputenv("XDG_CONFIG_HOME", config);
    });
    qputenv("HOME", QByteArray::fromStdString(tmp.Path()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(tmp.File(".config")));
    std::filesystem::create_directories(tmp.File(".config"));
    const std::string dirs = "XDG_MUSIC_DIR=\"$HOME/Musica mia\"\n";
    testing_support::WriteBytes(tmp.File(".config/user-dirs.dirs"), {dirs.begin(), dirs.end()});
    for (const char* d : {"scelta", "altra"})
        std::filesystem::create_directories(tmp.File(d));
    testing_support::WriteBytes(tmp.File("scelta/uno.wav"), {1});
    const auto q = [](const std::string& P) { return QString::fromStdString(P); };
    const struct {
        const char* What;
        std::function<void()> Before;
        QString OpensIn;
        QString Choose; // a folder to confirm a file in; empty: cancel
    } rows[] = {
        {"no settings, no music folder: home", [] {}, q(tmp.Path()), ""},
        {"the music folder", [&] { std::filesystem::create_directory(tmp.File("Musica mia")); }, q(tmp.File("Musica mia")),
         q(tmp.File("scelta"))},
        {"the folder confirmed last", [] {}, q(tmp.File("scelta")), ""},
        {"a cancel does not count", [] {}, q(tmp.File("scelta")), ""},
        {"the folder confirmed last is gone", [&] { std::filesystem::remove_all(tmp.File("scelta")); },
         q(tmp.File("Musica mia")), ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.What);
        r.Before();
        TVelmarDialogEx d;
        d.SetMemoria(q(tmp.File(".config/velmar-fennick/velmar-fennick.conf")));
        QString opened;
        const bool ok = ExecuteWith(d, [&] {
            opened = d.directory().absolutePath();
            if (r.Choose.isEmpty())
                return;
            d.setDirectory(r.Choose);
            d.findChild<QLineEdit*>("fileNameEdit")->setText("uno.wav");
            Button(d, QDialogButtonBox::Open)->click();
        });
        EXPECT_EQ(opened, r.OpensIn);
        EXPECT_EQ(ok, !r.Choose.isEmpty());
    }
}

TEST(VelmarFileDialogEx, FilterInPipeForm)
{
    QtTestApp();
    TVelmarDialogEx d;
    d.SetFilter("Audio Wave|*.wav");
    EXPECT_EQ(d.nameFilters(), QStringList{"Audio Wave (*.wav)"});
    d.SetFilter("Audio|*.wav;*.WAV|Tutti|*");
    EXPECT_EQ(d.nameFilters(), (QStringList{"Audio (*.wav *.WAV)", "Tutti (*)"}));
    EXPECT_EQ(d.Filter(), "Audio|*.wav;*.WAV|Tutti|*");
}

TEST(VelmarFileDialogEx, HelpButtonCallsOnHelp)
{
    QtTestApp();
    TVelmarDialogEx d;
    d.SetShowHelp(true);
    QObject* sender = nullptr;
    d.SetOnHelp([&](QObject* s) { sender = s; });
    ExecuteWith(d, [&] { HelpButton(d)->click(); });
    EXPECT_EQ(sender, &d);
}
