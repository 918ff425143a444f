#include "app/VoceDesktop.h"

#include "app/ListaFile.h"
#include "platform/Classes.h"
#include "platform/Version.h"
#include "platform/XdgDirs.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace velmar {

namespace {

const char* const NomeVoce = "velmar-fennick-converti.desktop";
const char* const VoceDiSistema = "velmar-fennick.desktop";
const char* const NomeComando = "Converti in Ogg Vorbis con Velmar Fennick";

} // namespace

bool Installato(const QString& Folder)
{
    const QString dati = QFileInfo(Folder + QLatin1String(DatiDaProgrammi)).canonicalFilePath();
    if (dati.isEmpty() || !QFileInfo::exists(dati + QStringLiteral("/applications/") + QLatin1String(VoceDiSistema)))
        return false;
    QStringList letti = QFile::decodeName(qgetenv("XDG_DATA_DIRS")).split(u':', Qt::SkipEmptyParts);
    if (letti.isEmpty())
        letti = {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")};
    letti.prepend(Testo(XdgDataHome()));
    for (const QString& d : letti)
        if (d.startsWith(u'/') && QFileInfo(d).canonicalFilePath() == dati)
            return true;
    return false;
}

QString RigaExec(const QString& Folder)
{
    // The quoting rules of the Exec key first, then the string escapes of
    // the file format; "%" would start a field code.
    QString quoted;
    for (QChar c : Folder + QStringLiteral("fennick")) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    QString out;
    for (QChar c : quoted) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'%')
            out += QStringLiteral("%%");
        else
            out += c;
    }
    return QLatin1Char('"') + out + QStringLiteral("\" %F");
}

void AggiornaVoceDesktop(const QString& CartellaProgramma)
{
    const QString dir = Testo(XdgDataHome()) + QStringLiteral("/applications");
    const QString voce = dir + QLatin1Char('/') + QLatin1String(NomeVoce);
    if (Installato(CartellaProgramma)) {
        QFile::remove(voce);
        return;
    }
    if (!ForceDirectories(QFile::encodeName(dir).toStdString()))
        return;
    QSaveFile file(voce);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return;
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=%1\n"
                                        "MimeType=audio/wav;audio/x-wav;audio/vnd.wave;audio/flac;audio/x-flac;"
                                        "audio/aiff;audio/x-aiff;\n"
                                        "Exec=%2\n"
                                        "NoDisplay=true\n")
                             .arg(QLatin1String(NomeComando), RigaExec(CartellaProgramma));
    file.write(text.toUtf8());
    file.commit();
}

} // namespace velmar
