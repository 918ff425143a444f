// Makes a form a target for files dragged from a file manager.
#pragma once

#include "platform/Classes.h"

#include <QEvent>
#include <QObject>
#include <functional>
#include <string>

class QMimeData;
class QWidget;

namespace velmar {

// A Qt component's notify event: called only when assigned.
using TVelmarNotifyEvent = std::function<void(QObject* Sender)>;

// The process's "ZQ_DROPFILES" event: a list of file paths handed to a form
// that is processed exactly like a drop of those files. Post it to the form
// (QCoreApplication::postEvent takes ownership) or send it.
class TVelmarDropFilesEvent : public QEvent {
public:
    explicit TVelmarDropFilesEvent(TStringList APaths);
    // Registered with Qt once per process, on first use.
    static QEvent::Type EventType();
    const TStringList& Paths() const { return FPaths; }

private:
    TStringList FPaths;
};

// TVelmarFormDropFiles watches its owner form through an event filter:
//   - drag-enter and drag-move carrying at least one local file URL are
//     accepted as a copy while Enabled;
//   - a drop is read while Enabled: its local file URLs become Files, in the
//     order the file manager lists them (other URLs, such as http, are left
//     out), then DoDrop runs;
//   - a TVelmarDropFilesEvent is read the same way, its paths taken as they
//     stand;
//   - both drops and drop-files events are swallowed, read or not, and
//     never reach the form's own handlers.
// DoDrop brings the form to the front (raise, activate) when
// ForegroundOnDrop, then calls OnDropFiles with this component as sender;
// Count and Files describe that drop until the next one is read. A drop with
// no local file still runs DoDrop, with Count 0.
//
// Paths are the local file names in the file system's 8-bit encoding
// (UTF-8 here), ready for the engine's file streams.
//
// Enabled sets the form's acceptDrops: a disabled form is no drop site, so
// the file manager offers nothing. Children that accept drops themselves
// take the drops over them.
//
// Construction: the owner must be a form (a top-level QWidget), else
// Exception("TVelmarFormDropFiles owner must be a form"); a form already
// owning one of these gives Exception("Only one TVelmarFormDropFiles
// component is permitted on a form: <its objectName> is already present on
// <the form's objectName>"). Both are checked before anything is built, so a
// failed construction leaves the form untouched.
//
// Lifecycle: a child of the form, destroyed with it or before it; destroying
// it removes the filter and puts back the form's acceptDrops as it was
// before construction. Thread: GUI thread only; OnDropFiles runs inside the
// form's event handling.
class TVelmarFormDropFiles : public QObject {
    Q_OBJECT
public:
    explicit TVelmarFormDropFiles(QObject* AOwner);
    ~TVelmarFormDropFiles() override;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool AEnabled);
    bool ForegroundOnDrop() const { return FForegroundOnDrop; }
    void SetForegroundOnDrop(bool AForeground) { FForegroundOnDrop = AForeground; }
    const TVelmarNotifyEvent& OnDropFiles() const { return FOnDropFiles; }
    void SetOnDropFiles(TVelmarNotifyEvent AEvent) { FOnDropFiles = std::move(AEvent); }

    // Of the last drop read; 0 before any.
    int Count() const { return static_cast<int>(FFiles.size()); }
    // Raises Exception("List index out of bounds (<Index>)") outside 0..Count-1.
    const std::string& Files(int Index) const;
    const TStringList& FileList() const { return FFiles; }

    QWidget* Form() const { return FForm; }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    // The form's events pass through here first; true swallows one.
    virtual bool FormWndProc(QEvent* Event);
    virtual void DoDrop();

private:
    static QObject* CheckOwner(QObject* AOwner);
    void ReadDrop(const QMimeData* Mime);

    QWidget* FForm = nullptr;
    bool FFormAcceptedDrops = false; // as found at construction
    bool FEnabled = true;
    bool FForegroundOnDrop = false;
    TVelmarNotifyEvent FOnDropFiles;
    TStringList FFiles;
};

} // namespace velmar
