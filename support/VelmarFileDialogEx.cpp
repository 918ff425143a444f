#include "support/VelmarFileDialogEx.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QListView>
#include <QLocale>
#include <QMimeDatabase>
#include <QPushButton>
#include <QTreeView>

#include <algorithm>

namespace velmar {

namespace {

const QLocale Italiano(QLocale::Italian, QLocale::Italy);

// Qt's file model writes sizes and dates in the system's language and a
// folder's type in English; this view of it writes them in Italian.
class TDettagliItaliani : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    enum { Nome, Dimensione, Tipo, Data };

    QVariant data(const QModelIndex& Index, int Role) const override
    {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (Role != Qt::DisplayRole || !files || Index.column() == Nome)
            return QIdentityProxyModel::data(Index, Role);
        const QModelIndex source = mapToSource(Index);
        const QFileInfo info = files->fileInfo(source);
        switch (Index.column()) {
        case Dimensione:
            return info.isDir() ? QString() : Italiano.formattedDataSize(files->size(source));
        case Tipo:
            if (info.isRoot())
                return QStringLiteral("Unit\u00E0");
            if (info.isDir())
                return QStringLiteral("Cartella");
            break;
        case Data:
            return Italiano.toString(files->lastModified(source), QLocale::ShortFormat);
        }
        return QIdentityProxyModel::data(Index, Role);
    }
};

} // namespace

TVelmarDialogEx::TVelmarDialogEx(QWidget* AParent)
    : QFileDialog(AParent), FReadOnlyBox(new QCheckBox(this))
{
    setOption(QFileDialog::DontUseNativeDialog, true);
    setProxyModel(new TDettagliItaliani(this));
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
    Allarga();
}

void TVelmarDialogEx::hideEvent(QHideEvent* Event)
{
    // The completion list is a window of its own and would stay behind.
    for (QCompleter* c : findChildren<QCompleter*>())
        if (c->popup())
            c->popup()->hide();
    QFileDialog::hideEvent(Event);
}

// Qt sizes the detail columns for English headers and dates.
void TVelmarDialogEx::Allarga()
{
    if (auto* tree = findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = tree->header();
        const QFontMetrics metrics(tree->font());
        const int padding = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) + 8;
        const QString widest[] = {
            QString(),
            Italiano.formattedDataSize(999'900'000),
            std::max(QStringLiteral("Cartella"), QMimeDatabase().mimeTypeForName(QStringLiteral("audio/x-wav")).comment(),
                     [&metrics](const QString& A, const QString& B) {
                         return metrics.horizontalAdvance(A) < metrics.horizontalAdvance(B);
                     }),
            Italiano.toString(QDateTime(QDate(2088, 12, 28), QTime(20, 58)), QLocale::ShortFormat),
        };
        for (int c = 1; c < header->count() && c < 4; ++c)
            header->resizeSection(c, std::max({header->sectionSize(c), header->sectionSizeHint(c),
                                                metrics.horizontalAdvance(widest[c]) + padding}));
    }
    if (auto* sidebar = findChild<QListView*>(QStringLiteral("sidebar")))
        sidebar->setMinimumWidth(sidebar->sizeHintForColumn(0) + 2 * sidebar->frameWidth() + 4);
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
