#include "support/VelmarFolder.h"

#include "platform/XdgDirs.h"

#include <QFile>

#include <cctype>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace velmar {

namespace {

// An absolute base folder from the environment, else HOME + Default.
std::string BaseDir(const char* Variable, const char* Default)
{
    const char* v = std::getenv(Variable);
    if (v && v[0] == '/')
        return v;
    return HomeDir() + Default;
}

} // namespace

std::string AccountFullName()
{
    const passwd* pw = ::getpwuid(::getuid());
    if (!pw || !pw->pw_gecos)
        return {};
    std::string gecos = pw->pw_gecos;
    gecos = gecos.substr(0, gecos.find(','));
    std::string login = pw->pw_name ? pw->pw_name : "";
    if (!login.empty())
        login[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(login[0])));
    std::string name;
    for (char c : gecos)
        if (c == '&')
            name += login;
        else
            name += c;
    return name;
}

TVelmarFolder::TVelmarFolder(QObject* AOwner) : QObject(AOwner)
{
    Refresh();
}

void TVelmarFolder::Loaded()
{
    Refresh();
}

void TVelmarFolder::Refresh()
{
    const std::string dataHome = BaseDir("XDG_DATA_HOME", "/.local/share");
    const std::string configHome = BaseDir("XDG_CONFIG_HOME", "/.config");

    FInviaA.clear();
    FRecenti.clear();
    FDesktop = XdgUserDir("DESKTOP");
    FPreferiti.clear();
    FProgrammmi = dataHome + "/applications";
    FMenuAvvio = configHome + "/menus";
    FEsecuzioneAutomatica = configHome + "/autostart";
    FFonts = dataHome + "/fonts";
    FPersonale = XdgUserDir("DOCUMENTS");
    FRisorsediRete.clear();
    FPrintHood.clear();
    FTemplates = XdgUserDir("TEMPLATES");
    FAppData = dataHome;
    FCache = BaseDir("XDG_CACHE_HOME", "/.cache");
    FCookies.clear();
    FCronologia = BaseDir("XDG_STATE_HOME", "/.local/state");

    FCompagnia.clear();
    FUtente = AccountFullName();
    FWindows = "/usr";
    FSistema = "/usr/lib";
}

QString PercorsoBreve(const std::string& Path)
{
    std::string home = HomeDir();
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    std::string shown = Path;
    if (home.size() > 1 && Path.compare(0, home.size(), home) == 0 &&
        (Path.size() == home.size() || Path[home.size()] == '/'))
        shown = "~" + Path.substr(home.size());
    return QFile::decodeName(QByteArray::fromStdString(shown));
}

} // namespace velmar
