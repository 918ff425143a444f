#include "support/VelmarFolder.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <pwd.h>
#include <unistd.h>

using namespace velmar;
using testing_support::TempDir;

namespace {

// Points HOME and the XDG variables at a temporary folder and puts the
// environment back afterwards.
class VelmarFolder : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char* v : kVars) {
            const char* old = std::getenv(v);
            if (old)
                FSaved[v] = old;
            ::unsetenv(v);
        }
        ::setenv("HOME", Home().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", Config().c_str(), 1);
        std::filesystem::create_directories(Config());
    }
    void TearDown() override
    {
        for (const char* v : kVars) {
            auto it = FSaved.find(v);
            if (it != FSaved.end())
                ::setenv(v, it->second.c_str(), 1);
            else
                ::unsetenv(v);
        }
    }
    std::string Home() const { return FTmp.Path(); }
    std::string Config() const { return FTmp.Path() + "/cfg"; }
    void WriteUserDirs(const std::string& Text) const
    {
        std::ofstream(Config() + "/user-dirs.dirs") << Text;
    }

private:
    static constexpr const char* kVars[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                                            "XDG_STATE_HOME", "XDG_DOCUMENTS_DIR", "XDG_DESKTOP_DIR"};
    TempDir FTmp;
    std::map<std::string, std::string> FSaved;
};

} // namespace

TEST_F(VelmarFolder, UserDirsWithQuotedHomePathsMissingAndEmptyEntries)
{
    WriteUserDirs("# written by xdg-user-dirs-update\n"
                  "XDG_DESKTOP_DIR=\"$HOME/Scrivania\"\n"
                  "XDG_DOCUMENTS_DIR=\"\"\n"
                  "  XDG_TEMPLATES_DIR=\"/srv/modelli \\\"vari\\\"\"\n"
                  "XDG_MUSIC_DIR=\"$HOME/Musica\"\n");
    TVelmarFolder f;
    EXPECT_EQ(f.Desktop(), Home() + "/Scrivania");
    EXPECT_EQ(f.Personale(), Home()); // empty entry: the home folder, never ""
    EXPECT_EQ(f.Templates(), "/srv/modelli \"vari\"");
}

TEST_F(VelmarFolder, FallbacksAsXdgUserDirGivesThem)
{
    struct {
        const char* file; // nullptr: no user-dirs.dirs at all
        std::string desktop, personale, templates;
    } cases[] = {
        {nullptr, "/Desktop", "", ""},
        {"XDG_MUSIC_DIR=\"$HOME/Musica\"\n", "/Desktop", "", ""},
        {"XDG_DOCUMENTS_DIR=\"$HOME/\"\nXDG_DESKTOP_DIR=\"$HOME\"\n", "", "", ""},
        {"XDG_DOCUMENTS_DIR=\"Documenti\"\n", "/Desktop", "", ""}, // relative: not valid
        {"XDG_DOCUMENTS_DIR=\"$HOME/Documenti\"\nXDG_TEMPLATES_DIR=\"$HOME/Modelli\"\n", "/Desktop",
         "/Documenti", "/Modelli"},
        {"XDG_DOCUMENTS_DIR=\"$HOME/Primo\"\nXDG_DOCUMENTS_DIR=\"$HOME/Secondo\"\n", "/Desktop", "/Secondo", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "(no file)");
        std::filesystem::remove(Config() + "/user-dirs.dirs");
        if (c.file)
            WriteUserDirs(c.file);
        TVelmarFolder f;
        EXPECT_EQ(f.Desktop(), Home() + c.desktop);
        EXPECT_EQ(f.Personale(), Home() + c.personale);
        EXPECT_EQ(f.Templates(), Home() + c.templates);
    }
}

TEST_F(VelmarFolder, EmptyDocumentsNeverGivesAFolderAtTheRoot)
{
    WriteUserDirs("XDG_DOCUMENTS_DIR=\"\"\n");
    for (bool homeSet : {true, false}) {
        if (!homeSet)
            ::setenv("HOME", "", 1); // the account database then
        TVelmarFolder f;
        ASSERT_FALSE(f.Personale().empty());
        const std::string musica = f.Personale() + "/Musica";
        EXPECT_NE(musica, "/Musica");
        EXPECT_EQ(f.Personale()[0], '/');
    }
}

TEST_F(VelmarFolder, BaseDirectories)
{
    ::setenv("XDG_DATA_HOME", "/dati", 1);
    ::setenv("XDG_CACHE_HOME", "relative/cache", 1); // ignored: not absolute
    ::setenv("XDG_STATE_HOME", "/stato", 1);
    TVelmarFolder f;
    EXPECT_EQ(f.AppData(), "/dati");
    EXPECT_EQ(f.Programmmi(), "/dati/applications");
    EXPECT_EQ(f.Fonts(), "/dati/fonts");
    EXPECT_EQ(f.MenuAvvio(), Config() + "/menus");
    EXPECT_EQ(f.EsecuzioneAutomatica(), Config() + "/autostart");
    EXPECT_EQ(f.Cache(), Home() + "/.cache");
    EXPECT_EQ(f.Cronologia(), "/stato");

    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_STATE_HOME");
    ::unsetenv("XDG_CONFIG_HOME");
    f.Refresh();
    EXPECT_EQ(f.AppData(), Home() + "/.local/share");
    EXPECT_EQ(f.Cronologia(), Home() + "/.local/state");
    EXPECT_EQ(f.MenuAvvio(), Home() + "/.config/menus");
}

TEST_F(VelmarFolder, FixedAndEmptyValues)
{
    TVelmarFolder f;
    EXPECT_EQ(f.Windows(), "/usr");
    EXPECT_EQ(f.Sistema(), "/usr/lib");
    for (const std::string* empty : {&f.Compagnia(), &f.InviaA(), &f.Recenti(), &f.Preferiti(),
                                     &f.RisorsediRete(), &f.PrintHood(), &f.Cookies()})
        EXPECT_EQ(*empty, "");
}

TEST_F(VelmarFolder, UtenteIsTheAccountsFullName)
{
    TVelmarFolder f;
    const passwd* pw = ::getpwuid(::getuid());
    ASSERT_NE(pw, nullptr);
    const std::string gecos = pw->pw_gecos ? pw->pw_gecos : "";
    EXPECT_EQ(f.Utente().find(','), std::string::npos);
    if (gecos.find('&') == std::string::npos) {
        EXPECT_EQ(f.Utente(), gecos.substr(0, gecos.find(',')));
    }
    EXPECT_EQ(f.Utente(), AccountFullName());
}

TEST_F(VelmarFolder, LoadedReplacesStoredValuesAndValuesAreASnapshot)
{
    WriteUserDirs("XDG_DOCUMENTS_DIR=\"$HOME/Documenti\"\n");
    QObject owner;
    auto* f = new TVelmarFolder(&owner);
    EXPECT_EQ(f->Personale(), Home() + "/Documenti");

    // The folder moves while the program runs: the snapshot keeps the old one.
    WriteUserDirs("XDG_DOCUMENTS_DIR=\"$HOME/Carte\"\n");
    EXPECT_EQ(f->Personale(), Home() + "/Documenti");

    // A value stored in the form is replaced when loading ends.
    f->SetPersonale("C:\\Documenti");
    f->SetCompagnia("Velmar");
    EXPECT_EQ(f->Personale(), "C:\\Documenti");
    f->Loaded();
    EXPECT_EQ(f->Personale(), Home() + "/Carte");
    EXPECT_EQ(f->Compagnia(), "");
}

TEST_F(VelmarFolder, PercorsoBreveWritesTheHomeFolderAsATilde)
{
    const std::string home = Home();
    const std::pair<std::string, QString> rows[] = {
        {home + "/Documenti/Musica", "~/Documenti/Musica"},
        {home, "~"},
        {home + "altro/Musica", QString::fromStdString(home + "altro/Musica")}, // a sibling, not inside
        {"/srv/Musica", "/srv/Musica"},
        {home + "/Br\xC3\xA0ni", QString::fromUtf8("~/Br\xC3\xA0ni")},
    };
    for (const auto& [path, shown] : rows)
        EXPECT_EQ(PercorsoBreve(path), shown) << path;
    // A home folder given with a trailing "/" is the same folder.
    ::setenv("HOME", (home + "/").c_str(), 1);
    EXPECT_EQ(PercorsoBreve(home + "/Musica"), "~/Musica");
}
