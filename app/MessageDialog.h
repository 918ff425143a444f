// The wizard's one message box: set up before each use, shown modally,
// its result read by the caller.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QWidget;

namespace velmar {

enum TMessageIcon { suiNone, suiInformation, suiWarning, suiStop, suiHelp };

// TMessageDialog holds the settings of the next box: ButtonCount (1 to 3),
// the buttons' captions and modal results (1, 2, 3 after construction),
// IconType, Caption and Text. ShowModal builds a dialog from them, a modal
// dialog of the parent's window (transient for it, centred over it, fixed
// in size, with no minimise or maximise button), and returns the modal result of the button
// pressed; Escape or closing the box counts as the last button. Carriage
// returns in Text (CR, or CR LF) break lines. The box is wide enough for
// its caption in a bold face beside a title bar's buttons.
//
// Test seam: with an AnswerHook set, ShowModal shows nothing and calls the
// hook with the box as set up; the hook returns the number of the button
// "pressed" (1 to ButtonCount), and ShowModal returns that button's modal
// result. A number outside 1..ButtonCount counts as the last button.
//
// Lifecycle: a child of the window it belongs to. Thread: GUI thread only.
class TMessageDialog : public QObject {
    Q_OBJECT
public:
    using TAnswerHook = std::function<int(const TMessageDialog& Box)>;

    explicit TMessageDialog(QWidget* AParent);

    int ButtonCount() const { return FButtonCount; }
    // Kept within 1..3.
    void SetButtonCount(int Value);
    QString ButtonCaption(int Button) const;
    void SetButtonCaption(int Button, const QString& Value);
    void SetButton1Caption(const QString& Value) { SetButtonCaption(1, Value); }
    void SetButton2Caption(const QString& Value) { SetButtonCaption(2, Value); }
    int ModalResult(int Button) const;
    void SetModalResult(int Button, int Value);
    TMessageIcon IconType() const { return FIconType; }
    void SetIconType(TMessageIcon Value) { FIconType = Value; }
    const QString& Caption() const { return FCaption; }
    void SetCaption(const QString& Value) { FCaption = Value; }
    const QString& Text() const { return FText; }
    void SetText(const QString& Value) { FText = Value; }

    int ShowModal();

    void SetAnswerHook(TAnswerHook Hook) { FAnswerHook = std::move(Hook); }

private:
    int ResultOf(int Button) const;
    int RunDialog();

    QWidget* FParent;
    int FButtonCount = 1;
    QString FCaptions[3] = {"OK", "Cancel", "Ignore"};
    int FResults[3] = {1, 2, 3};
    TMessageIcon FIconType = suiInformation;
    QString FCaption;
    QString FText;
    TAnswerHook FAnswerHook;
};

} // namespace velmar
