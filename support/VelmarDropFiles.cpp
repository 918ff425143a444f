#include "support/VelmarDropFiles.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace velmar {

namespace {

bool HasLocalFile(const QMimeData* Mime)
{
    if (!Mime || !Mime->hasUrls())
        return false;
    for (const QUrl& url : Mime->urls())
        if (url.isLocalFile())
            return true;
    return false;
}

} // namespace

TVelmarDropFilesEvent::TVelmarDropFilesEvent(TStringList APaths)
    : QEvent(EventType()), FPaths(std::move(APaths))
{
}

QEvent::Type TVelmarDropFilesEvent::EventType()
{
    // "ZQ_DROPFILES": one number for the whole process.
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QObject* TVelmarFormDropFiles::CheckOwner(QObject* AOwner)
{
    auto* form = qobject_cast<QWidget*>(AOwner);
    if (!form || !form->isWindow())
        throw Exception("TVelmarFormDropFiles owner must be a form");
    const auto present = form->findChildren<TVelmarFormDropFiles*>(Qt::FindDirectChildrenOnly);
    if (!present.isEmpty())
        throw Exception("Only one TVelmarFormDropFiles component is permitted on a form: " +
                        present.first()->objectName().toStdString() + " is already present on " +
                        form->objectName().toStdString());
    return AOwner;
}

TVelmarFormDropFiles::TVelmarFormDropFiles(QObject* AOwner)
    : QObject(CheckOwner(AOwner)), FForm(static_cast<QWidget*>(AOwner))
{
    TVelmarDropFilesEvent::EventType();
    FFormAcceptedDrops = FForm->acceptDrops();
    FForm->installEventFilter(this);
    FForm->setAcceptDrops(FEnabled);
}

TVelmarFormDropFiles::~TVelmarFormDropFiles()
{
    FForm->removeEventFilter(this);
    FForm->setAcceptDrops(FFormAcceptedDrops);
}

void TVelmarFormDropFiles::SetEnabled(bool AEnabled)
{
    if (AEnabled == FEnabled)
        return;
    FEnabled = AEnabled;
    FForm->setAcceptDrops(FEnabled);
}

const std::string& TVelmarFormDropFiles::Files(int Index) const
{
    if (Index < 0 || Index >= Count())
        throw Exception("List index out of bounds (" + std::to_string(Index) + ")");
    return FFiles[static_cast<size_t>(Index)];
}

bool TVelmarFormDropFiles::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Watched == FForm && FormWndProc(Event))
        return true;
    return QObject::eventFilter(Watched, Event);
}

bool TVelmarFormDropFiles::FormWndProc(QEvent* Event)
{
    switch (Event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(Event);
        if (FEnabled && HasLocalFile(drag->mimeData())) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(Event);
        if (FEnabled) {
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            ReadDrop(drop->mimeData());
            DoDrop();
        } else {
            drop->ignore();
        }
        return true;
    }
    default:
        break;
    }
    if (Event->type() == TVelmarDropFilesEvent::EventType()) {
        Event->accept();
        if (FEnabled) {
            FFiles = static_cast<TVelmarDropFilesEvent*>(Event)->Paths();
            DoDrop();
        }
        return true;
    }
    return false;
}

void TVelmarFormDropFiles::ReadDrop(const QMimeData* Mime)
{
    FFiles.clear();
    if (!Mime || !Mime->hasUrls())
        return;
    for (const QUrl& url : Mime->urls())
        if (url.isLocalFile())
            FFiles.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
}

void TVelmarFormDropFiles::DoDrop()
{
    if (FForegroundOnDrop) {
        FForm->raise();
        FForm->activateWindow();
    }
    if (FOnDropFiles)
        FOnDropFiles(this);
}

} // namespace velmar
