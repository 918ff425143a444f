#include "support/VelmarFileDialogEx.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QGridLayout>
#include <QPushButton>

namespace velmar {

TVelmarDialogEx::TVelmarDialogEx(QWidget* AParent)
    : QFileDialog(AParent), FReadOnlyBox(new QCheckBox(this))
{
    setOption(QFileDialog::DontUseNativeDialog, true);
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(QFileDialog::ExistingFile);
    FReadOnlyBox->setObjectName(QStringLiteral("readOnlyCheckBox"));
    FReadOnlyBox->hide();
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(FReadOnlyBox, grid->rowCount(), 0, 1, grid->columnCount());
    else if (layout())
        layout()->addWidget(FReadOnlyBox);
    if (auto* box = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))) {
        FHelpButton = box->addButton(FTestoAiuto, QDialogButtonBox::HelpRole);
        FHelpButton->hide();
        connect(box, &QDialogButtonBox::helpRequested, this, [this] {
            if (FOnHelp)
                FOnHelp(this);
        });
    }
}

bool TVelmarDialogEx::Execute()
{
    FFiles.clear();
    if (exec() != QDialog::Accepted)
        return false;
    for (const QString& f : selectedFiles())
        FFiles.push_back(QFile::encodeName(f).toStdString());
    return true;
}

void TVelmarDialogEx::SetFilter(const QString& AFilter)
{
    FFilter = AFilter;
    const QStringList parts = AFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << parts[i] + QStringLiteral(" (") + patterns.trimmed() + QLatin1Char(')');
    }
    setNameFilters(filters);
}

void TVelmarDialogEx::SetShowPlacesBar(bool S)
{
    FShowPlacesBar = S;
    if (isVisible())
        DoShow();
}

void TVelmarDialogEx::SetHideReadOnly(bool H)
{
    FHideReadOnly = H;
    if (isVisible())
        DoShow();
}

void TVelmarDialogEx::SetShowHelp(bool S)
{
    FShowHelp = S;
    if (isVisible())
        DoShow();
}

bool TVelmarDialogEx::ReadOnly() const { return FReadOnlyBox->isChecked(); }

void TVelmarDialogEx::SetReadOnly(bool R) { FReadOnlyBox->setChecked(R); }

void TVelmarDialogEx::showEvent(QShowEvent* Event)
{
    QFileDialog::showEvent(Event);
    DoShow();
}

void TVelmarDialogEx::DoShow()
{
    setLabelText(QFileDialog::Accept, FTestoOK);
    setLabelText(QFileDialog::Reject, FTestoAnnulla);
    FReadOnlyBox->setText(FTestoSolalettura);
    setLabelText(QFileDialog::FileType, FTestoTipo);
    setLabelText(QFileDialog::FileName, FTestoNome);
    setLabelText(QFileDialog::LookIn, FTestoDrive);
    if (FHelpButton) {
        FHelpButton->setText(FTestoAiuto);
        FHelpButton->setVisible(FShowHelp);
    }
    FReadOnlyBox->setVisible(!FHideReadOnly);
    if (auto* sidebar = findChild<QWidget*>(QStringLiteral("sidebar")))
        sidebar->setVisible(FShowPlacesBar);
}

} // namespace velmar
