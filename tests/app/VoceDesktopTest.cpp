// The file manager's command: the per-user desktop entry every close
// writes, and what an installed program does instead.
#include "AppFixture.h"

#include "app/VoceDesktop.h"

#include <QCoreApplication>
#include <QPushButton>

#include <filesystem>

using namespace velmar;
using namespace testing_support;

namespace {

class VoceDesktop : public AppTest {
protected:
    static std::string Text(const std::string& Path)
    {
        const std::vector<uint8_t> bytes = ReadBytes(Path);
        return std::string(bytes.begin(), bytes.end());
    }
};

TEST_F(VoceDesktop, EveryCloseWritesTheDesktopEntry)
{
    const std::string entry = Home() + "/.local/share/applications/velmar-fennick-converti.desktop";
    const std::string expected = "[Desktop Entry]\n"
                                 "Type=Application\n"
                                 "Name=Converti in Ogg Vorbis con Velmar Fennick\n"
                                 "MimeType=audio/wav;audio/x-wav;audio/vnd.wave;audio/flac;audio/x-flac;audio/aiff;"
                                 "audio/x-aiff;\n"
                                 "Exec=\"" +
                                 QCoreApplication::applicationDirPath().toStdString() +
                                 "/fennick\" %F\n"
                                 "NoDisplay=true\n";
    // Explicit and default data folder, and an older build's entry (one
    // window per file) replaced.
    std::string older = expected;
    older.replace(older.find("%F"), 2, "%f");
    for (bool unset : {false, true}) {
        if (unset)
            unsetenv("XDG_DATA_HOME");
        TPrima& f = MakeForm();
        ShowForm();
        f.Avanti->click();
        f.close();
        EXPECT_EQ(Text(entry), expected);
        WriteBytes(entry, std::vector<uint8_t>(older.begin(), older.end()));
    }
    const std::string folder = Home() + "/.local/share/applications";
    for (const auto& e : std::filesystem::directory_iterator(folder))
        EXPECT_EQ(e.path().filename(), "velmar-fennick-converti.desktop"); // no temporary left behind
}

TEST_F(VoceDesktop, ADesktopEntryThatCannotBeWrittenIsNoError)
{
    WriteBytes(Home() + "/dati", {'x'}); // a file where the data folder should be
    setenv("XDG_DATA_HOME", (Home() + "/dati").c_str(), 1);
    TPrima& f = MakeForm();
    ShowForm();
    f.close();
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(Messages.empty());
}

TEST_F(VoceDesktop, AnInstalledProgramLeavesTheCommandToItsSystemEntry)
{
    // A program folder laid out as an install, and a link to its data folder.
    const std::string prefix = Home() + "/prefisso";
    const std::string program = prefix + "/bin/";
    const std::string data = prefix + "/share";
    const std::string system = data + "/applications/velmar-fennick.desktop";
    std::filesystem::create_directories(program);
    std::filesystem::create_directories(data + "/applications");
    std::filesystem::create_directory_symlink(data, Home() + "/collegamento");
    const std::string userData = Home() + "/.local/share";
    struct Row {
        const char* what;
        bool systemEntry;
        std::string dataHome, dataDirs;
        bool installed;
    };
    const Row rows[] = {
        {"read from XDG_DATA_DIRS", true, userData, "/usr/share:" + data + "/", true},
        {"read through a link", true, userData, Home() + "/collegamento", true},
        {"installed in the data home", true, data, "", true},
        {"an install the desktop does not read", true, userData, "/usr/local/share:/usr/share", false},
        {"a relative data folder does not count", true, userData, "prefisso/share", false}, // cwd: Home()
        {"no system entry", false, userData, data, false},
    };
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(Home());
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        std::filesystem::remove(system);
        if (r.systemEntry)
            WriteBytes(system, {'x'});
        setenv("XDG_DATA_HOME", r.dataHome.c_str(), 1);
        setenv("XDG_DATA_DIRS", r.dataDirs.c_str(), 1);
        EXPECT_EQ(Installato(QString::fromStdString(program)), r.installed);
        // An entry left by a run from a build folder.
        const std::string entry = r.dataHome + "/applications/velmar-fennick-converti.desktop";
        std::filesystem::create_directories(r.dataHome + "/applications");
        WriteBytes(entry, {'x'});
        TPrima& f = MakeForm();
        f.SetCartellaProgramma(QString::fromStdString(program));
        ShowForm();
        f.close();
        if (r.installed)
            EXPECT_FALSE(std::filesystem::exists(entry));
        else
            EXPECT_NE(Text(entry).find("Exec=\"" + program + "fennick\" %F\n"), std::string::npos);
        EXPECT_EQ(std::filesystem::exists(system), r.systemEntry);
    }
    std::filesystem::current_path(cwd);
    unsetenv("XDG_DATA_DIRS");
}

TEST(RigaExec, QuotesAndEscapesTheProgramsPath)
{
    const std::pair<QString, QString> rows[] = {
        {"/usr/bin/", "\"/usr/bin/fennick\" %F"},
        {"/opt/Le mie app/", "\"/opt/Le mie app/fennick\" %F"},
        {"/a$b/", "\"/a\\\\$b/fennick\" %F"},
        {"/a\"b/", "\"/a\\\\\"b/fennick\" %F"},
        {"/a\\b/", "\"/a\\\\\\\\b/fennick\" %F"},
        {"/50%/", "\"/50%%/fennick\" %F"},
    };
    for (const auto& [folder, exec] : rows)
        EXPECT_EQ(RigaExec(folder), exec) << folder.toStdString();
}

} // namespace
