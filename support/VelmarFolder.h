// The current user's folders and name, read once at construction and again
// at Loaded().
#pragma once

#include <QObject>
#include <QString>
#include <string>

namespace velmar {

// Each property is a plain string (UTF-8 path or text) read and written
// directly: writing one changes only the stored value, and the next refresh
// replaces it. Nothing is looked up on read; the values are a snapshot of
// the last refresh. No path gets a trailing "/" that its source lacks.
//
// Where each value comes from. "user dir X" is X in user-dirs.dirs under
// $XDG_CONFIG_HOME (default ~/.config), taken as xdg-user-dir takes it:
// "$HOME/..." or absolute values; a missing, empty or relative entry gives
// ~/Desktop for DESKTOP and the home folder for the others. The base
// folders are $XDG_DATA_HOME (~/.local/share), $XDG_CONFIG_HOME (~/.config),
// $XDG_CACHE_HOME (~/.cache), $XDG_STATE_HOME (~/.local/state), each used
// only when absolute.
//
//   Property              Windows source            Here
//   Compagnia             set-up "DefCompany"       "" (no counterpart)
//   Utente                set-up "DefName"          full name from the account
//                                                   database (first GECOS field,
//                                                   "&" as the capitalised login);
//                                                   "" when none is recorded
//   Windows               Windows directory         "/usr"
//   Sistema               system directory          "/usr/lib"
//   InviaA                shell folder SendTo       "" (no counterpart)
//   Recenti               shell folder Recent       "" (recent files are a list, not a folder)
//   Desktop               shell folder Desktop      user dir DESKTOP
//   Preferiti             shell folder Favorites    "" (no counterpart)
//   Programmmi            shell folder Programs     $XDG_DATA_HOME/applications
//   MenuAvvio             shell folder Start Menu   $XDG_CONFIG_HOME/menus
//   EsecuzioneAutomatica  shell folder Startup      $XDG_CONFIG_HOME/autostart
//   Fonts                 shell folder Fonts        $XDG_DATA_HOME/fonts
//   Personale             shell folder Personal     user dir DOCUMENTS
//   RisorsediRete         shell folder NetHood      "" (no counterpart)
//   PrintHood             shell folder PrintHood    "" (no counterpart)
//   Templates             shell folder Templates    user dir TEMPLATES
//   AppData               shell folder AppData      $XDG_DATA_HOME
//   Cache                 shell folder Cache        $XDG_CACHE_HOME
//   Cookies               shell folder Cookies      "" (no counterpart)
//   Cronologia            shell folder History      $XDG_STATE_HOME
//
// Personale is never empty: with no usable documents entry it is the home
// folder ($HOME, else the account database's), so "Personale + /Musica"
// never lands at the root of the file system. A missing or unreadable
// user-dirs.dirs is no error; nothing here raises.
//
// Lifecycle: owned by its Qt parent (or by whoever made it). Thread: any,
// one at a time; it reads the process environment.
class TVelmarFolder : public QObject {
    Q_OBJECT
public:
    // Refreshes before returning.
    explicit TVelmarFolder(QObject* AOwner = nullptr);

    // To be called once the owner has set its stored values: refreshes, so
    // stored values never outlive the start of the program.
    virtual void Loaded();
    // Reads every value again.
    void Refresh();

#define VELMAR_FOLDER_PROPERTY(Name)                                   \
public:                                                                \
    const std::string& Name() const { return F##Name; }               \
    void Set##Name(const std::string& AValue) { F##Name = AValue; }   \
                                                                       \
private:                                                               \
    std::string F##Name;

    VELMAR_FOLDER_PROPERTY(Compagnia)
    VELMAR_FOLDER_PROPERTY(Utente)
    VELMAR_FOLDER_PROPERTY(Windows)
    VELMAR_FOLDER_PROPERTY(Sistema)
    VELMAR_FOLDER_PROPERTY(InviaA)
    VELMAR_FOLDER_PROPERTY(Recenti)
    VELMAR_FOLDER_PROPERTY(Desktop)
    VELMAR_FOLDER_PROPERTY(Preferiti)
    VELMAR_FOLDER_PROPERTY(Programmmi)
    VELMAR_FOLDER_PROPERTY(MenuAvvio)
    VELMAR_FOLDER_PROPERTY(EsecuzioneAutomatica)
    VELMAR_FOLDER_PROPERTY(Fonts)
    VELMAR_FOLDER_PROPERTY(Personale)
    VELMAR_FOLDER_PROPERTY(RisorsediRete)
    VELMAR_FOLDER_PROPERTY(PrintHood)
    VELMAR_FOLDER_PROPERTY(Templates)
    VELMAR_FOLDER_PROPERTY(AppData)
    VELMAR_FOLDER_PROPERTY(Cache)
    VELMAR_FOLDER_PROPERTY(Cookies)
    VELMAR_FOLDER_PROPERTY(Cronologia)
#undef VELMAR_FOLDER_PROPERTY
};

// The user's full name as the account database records it; "" when none.
std::string AccountFullName();

// Path (the file system's bytes) as the user reads it: the home folder
// (HomeDir, without a trailing "/") written as "~", so /home/anna/Musica
// reads ~/Musica; a path outside the home folder is shown whole.
QString PercorsoBreve(const std::string& Path);

} // namespace velmar
