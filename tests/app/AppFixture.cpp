#include "AppFixture.h"

#include "support/VelmarNotifica.h"
#include "vorbis/VelmarVorbis.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QThread>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace testing_support {

void AppTest::SetUp()
{
    QtTestApp();
    static bool loaded = [] {
        velmar::LoadCodecLibraries();
        return true;
    }();
    (void)loaded;
    FHome = std::make_unique<TempDir>();
    setenv("HOME", Home().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (Home() + "/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (Home() + "/.local/share").c_str(), 1);
    unsetenv("XDG_CACHE_HOME");
    unsetenv("XDG_STATE_HOME");
    SetDocuments("XDG_DOCUMENTS_DIR=\"$HOME/Documenti\"");
}

void AppTest::TearDown()
{
    FForm.reset();
    Pump(0);
    FHome.reset();
}

void AppTest::SetDocuments(const std::string& Line)
{
    std::filesystem::create_directories(Home() + "/.config");
    std::ofstream(Home() + "/.config/user-dirs.dirs") << Line << "\n";
}

velmar::TPrima& AppTest::MakeForm(const std::vector<std::string>& Params)
{
    FForm = std::make_unique<velmar::TPrima>(Params);
    FForm->Messaggio->SetAnswerHook([this](const velmar::TMessageDialog& Box) {
        ShownMessage m{Box.Caption(), Box.Text(), Box.IconType(), {}};
        for (int b = 1; b <= Box.ButtonCount(); ++b)
            m.Buttons.push_back(Box.ButtonCaption(b));
        Messages.push_back(m);
        return Answer;
    });
    // No test speaks to the desktop's own notifications.
    FForm->Notifica->SetBus(QDBusConnection(QStringLiteral("nessun bus")));
    FForm->SetApriHook([this](velmar::TStringList& Files) {
        Files = DialogFiles;
        return DialogConfirms;
    });
    return *FForm;
}

void AppTest::ShowForm()
{
    FForm->show();
    FForm->activateWindow();
    WaitFor([this] { return FForm->isActiveWindow(); }, 2000);
    Pump(10);
}

std::string AppTest::MakeWave(const std::string& Name, double Seconds)
{
    const int frames = static_cast<int>(Seconds * 44100);
    const std::string path = Home() + "/" + Name;
    WriteBytes(path, MakeWav16(Sine(frames, 44100, {440.0, 660.0}), 2, 44100));
    return path;
}

bool AppTest::WaitFor(const std::function<bool()>& Done, int Ms)
{
    QElapsedTimer t;
    t.start();
    while (!Done()) {
        if (t.elapsed() > Ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

void AppTest::Pump(int Ms)
{
    QElapsedTimer t;
    t.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    } while (t.elapsed() < Ms);
}

} // namespace testing_support
