#include "app/MessageDialog.h"

#include "app/Finestra.h"

#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace velmar {

namespace {

QStyle::StandardPixmap PixmapOf(TMessageIcon Icon)
{
    switch (Icon) {
    case suiWarning: return QStyle::SP_MessageBoxWarning;
    case suiStop: return QStyle::SP_MessageBoxCritical;
    case suiHelp: return QStyle::SP_MessageBoxQuestion;
    default: return QStyle::SP_MessageBoxInformation;
    }
}

const int RoomForTitleButtons = 120;

QString LinesOf(QString Text)
{
    Text.replace("\r\n", "\n");
    Text.replace('\r', '\n');
    return Text;
}

} // namespace

TMessageDialog::TMessageDialog(QWidget* AParent) : QObject(AParent), FParent(AParent) {}

void TMessageDialog::SetButtonCount(int Value)
{
    FButtonCount = std::clamp(Value, 1, 3);
}

QString TMessageDialog::ButtonCaption(int Button) const
{
    return Button >= 1 && Button <= 3 ? FCaptions[Button - 1] : QString();
}

void TMessageDialog::SetButtonCaption(int Button, const QString& Value)
{
    if (Button >= 1 && Button <= 3)
        FCaptions[Button - 1] = Value;
}

int TMessageDialog::ModalResult(int Button) const
{
    return Button >= 1 && Button <= 3 ? FResults[Button - 1] : 0;
}

void TMessageDialog::SetModalResult(int Button, int Value)
{
    if (Button >= 1 && Button <= 3)
        FResults[Button - 1] = Value;
}

int TMessageDialog::ResultOf(int Button) const
{
    if (Button < 1 || Button > FButtonCount)
        Button = FButtonCount;
    return FResults[Button - 1];
}

int TMessageDialog::ShowModal()
{
    if (FAnswerHook)
        return ResultOf(FAnswerHook(*this));
    return ResultOf(RunDialog());
}

// Returns the number of the button pressed, 0 when the box was closed otherwise.
int TMessageDialog::RunDialog()
{
    QDialog box(FParent ? FParent->window() : nullptr, StileDialogo);
    box.setWindowTitle(FCaption);
    box.setModal(true);

    auto* icon = new QLabel(&box);
    const QStyle* style = box.style();
    const int size = style->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &box);
    if (FIconType != suiNone)
        icon->setPixmap(style->standardIcon(PixmapOf(FIconType), nullptr, &box).pixmap(size, size));
    auto* text = new QLabel(LinesOf(FText), &box);
    text->setTextFormat(Qt::PlainText);

    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addSpacing(8);
    top->addWidget(text, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    int pressed = 0;
    for (int b = 1; b <= FButtonCount; ++b) {
        auto* button = new QPushButton(FCaptions[b - 1], &box);
        button->setCursor(Qt::PointingHandCursor);
        button->setDefault(b == 1);
        connect(button, &QPushButton::clicked, &box, [&box, &pressed, b] {
            pressed = b;
            box.accept();
        });
        buttons->addWidget(button);
    }
    buttons->addStretch(1);

    auto* all = new QVBoxLayout(&box);
    all->setSizeConstraint(QLayout::SetFixedSize);
    // Window managers cut a caption wider than the box: make room for it
    // in a bold title face, beside the title bar's buttons.
    QFont title = box.font();
    title.setBold(true);
    all->addSpacerItem(new QSpacerItem(QFontMetrics(title).horizontalAdvance(FCaption) + RoomForTitleButtons, 0,
                                       QSizePolicy::Fixed, QSizePolicy::Minimum));
    all->addLayout(top);
    all->addSpacing(10);
    all->addLayout(buttons);

    CentraSullaFinestra(&box);
    box.exec();
    return pressed;
}

} // namespace velmar
