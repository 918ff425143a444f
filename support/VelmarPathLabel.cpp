#include "support/VelmarPathLabel.h"

#include <QFontMetrics>
#include <QMetaObject>
#include <QThread>

namespace velmar {

namespace {

const QString DriveEllipsis = QStringLiteral("\\...");

bool StartsWithDrive(const QString& S)
{
    if (S.size() < 2 || S[1] != QLatin1Char(':'))
        return false;
    const char16_t c = S[0].unicode();
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// The drive rule: "\..." is appended, then one folder after the drive is
// dropped per pass; the text measured is the text shown, with the "\..."
// moved from the end to just after the drive.
QString ShortenAfterDrive(const QString& Full, int Width, const TVelmarPathLabel::TTextWidth& Measure)
{
    QString s = Full + DriveEllipsis;
    for (;;) {
        if (Measure(s) <= Width) {
            s.chop(DriveEllipsis.size());
            return s.insert(2, DriveEllipsis);
        }
        const auto p = s.indexOf(QLatin1Char('\\'));
        if (p < 0)
            return Full;
        s.remove(p, 1);
        const auto q = s.indexOf(QLatin1Char('\\'));
        if (q < 0)
            return Full; // the appended "\..." was the only one: no folder to drop
        if (q == s.size() - DriveEllipsis.size()) {
            // Only the file name is left after the drive.
            s.insert(2, QLatin1Char('\\'));
            return s.insert(2, DriveEllipsis);
        }
        s.remove(p, q - p);
    }
}

// Folders nearest the root go first; the root "/" of an absolute path stays.
QString ShortenSlashed(const QString& Full, int Width, const TVelmarPathLabel::TTextWidth& Measure)
{
    const QString root = Full.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : QString();
    QString shown = Full;
    const auto lastFolderEnd = Full.size() - 1; // a trailing "/" stays with its folder
    for (auto i = Full.indexOf(QLatin1Char('/'), root.size()); i >= 0 && i < lastFolderEnd;
         i = Full.indexOf(QLatin1Char('/'), i + 1)) {
        shown = root + QStringLiteral("...") + Full.mid(i);
        if (Measure(shown) <= Width)
            return shown;
    }
    return shown;
}

} // namespace

TVelmarPathLabel::TVelmarPathLabel(QWidget* AOwner) : QLabel(AOwner)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    if (AOwner && AOwner->isWindow())
        resize(75, QFontMetrics(AOwner->font()).size(Qt::TextSingleLine, QStringLiteral("Aj|")).height());
    // A layout must not widen the label to its text either.
    QSizePolicy policy = sizePolicy();
    policy.setHorizontalPolicy(QSizePolicy::Ignored);
    setSizePolicy(policy);
}

QString TVelmarPathLabel::ShortenPath(const QString& Full, int Width, const TTextWidth& Measure)
{
    if (Measure(Full) <= Width)
        return Full;
    if (StartsWithDrive(Full))
        return ShortenAfterDrive(Full, Width, Measure);
    return ShortenSlashed(Full, Width, Measure);
}

std::string TVelmarPathLabel::Caption() const
{
    std::lock_guard<std::mutex> hold(FLock);
    return FCaption;
}

void TVelmarPathLabel::SetCaption(const std::string& ACaption)
{
    {
        std::lock_guard<std::mutex> hold(FLock);
        FCaption = ACaption;
    }
    // A widget is measured and changed only in its own thread.
    if (QThread::currentThread() == thread())
        ShowCaption();
    else
        QMetaObject::invokeMethod(this, [this] { ShowCaption(); }, Qt::QueuedConnection);
}

// The room QLabel gives its text: the contents less the margins.
int TVelmarPathLabel::TextRoom() const
{
    return contentsRect().width() - 2 * margin();
}

void TVelmarPathLabel::ShowCaption()
{
    const QString full = QString::fromStdString(Caption());
    const QFontMetrics metrics(font());
    setText(ShortenPath(full, TextRoom(), [&metrics](const QString& Text) {
        return metrics.horizontalAdvance(Text);
    }));
}

} // namespace velmar
