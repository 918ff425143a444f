#include "support/VelmarFileDialogEx.h"

#include "platform/XdgDirs.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QMimeDatabase>
#include <QPushButton>
#include <QSet>
#include <QSettings>
#include <QStyledItemDelegate>
#include <QTreeView>

#include <algorithm>

namespace velmar {

namespace {

const QLocale Italiano(QLocale::Italian, QLocale::Italy);

const QString ChiaveCartella = QStringLiteral("UltimaCartella");

// Qt's file model writes sizes and dates in the system's language and a
// folder's type in English; the detail view draws them in Italian. A
// delegate and not a proxy model: the dialog matches the names typed into
// its name box against its own model, and selects them in the view only
// when the view shows that model itself.
class TDettagliItaliani : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* Option, const QModelIndex& Index) const override
    {
        QStyledItemDelegate::initStyleOption(Option, Index);
        if (Index.column() != 0)
            Option->text = TestoDettaglio(Index);
    }
};

// The quoted names of the name box ("a.wav" "/b/c d.wav"), in their order,
// resolved against Folder; empty when the box holds no quoted name.
QStringList NomiTra(const QString& Testo, const QDir& Folder)
{
    QStringList names;
    const QStringList parts = Testo.split(QLatin1Char('"'));
    for (qsizetype i = 1; i < parts.size() - 1; i += 2)
        if (!parts[i].isEmpty())
            names << QDir::cleanPath(Folder.absoluteFilePath(parts[i]));
    return names;
}

} // namespace

TVelmarDialogEx::TVelmarDialogEx(QWidget* AParent)
    : QFileDialog(AParent), FReadOnlyBox(new QCheckBox(this))
{
    setOption(QFileDialog::DontUseNativeDialog, true);
    if (auto* tree = findChild<QTreeView*>(QStringLiteral("treeView")))
        tree->setItemDelegate(new TDettagliItaliani(tree));
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

QString TestoDettaglio(const QModelIndex& Index)
{
    const auto* files = qobject_cast<const QFileSystemModel*>(Index.model());
    if (!files)
        return Index.data().toString();
    const QFileInfo info = files->fileInfo(Index);
    switch (Index.column()) {
    case 1:
        return info.isDir() ? QString() : Italiano.formattedDataSize(files->size(Index));
    case 2:
        if (info.isRoot())
            return QStringLiteral("Unit\u00E0");
        if (info.isDir())
            return QStringLiteral("Cartella");
        break;
    case 3:
        return Italiano.toString(files->lastModified(Index), QLocale::ShortFormat);
    }
    return Index.data().toString();
}

bool TVelmarDialogEx::Execute()
{
    FFiles.clear();
    if (!FMemoria.isEmpty())
        setDirectory(CartellaIniziale());
    if (exec() != QDialog::Accepted)
        return false;
    // Qt gives the names it matched in the order of its view; the user's
    // order is the name box's, when it holds the same names.
    QStringList chosen = selectedFiles();
    const QStringList typed = NomiTra(findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text(), directory());
    if (QSet<QString>(typed.begin(), typed.end()) == QSet<QString>(chosen.begin(), chosen.end()))
        chosen = typed;
    for (const QString& f : chosen)
        FFiles.push_back(QFile::encodeName(f).toStdString());
    if (!FMemoria.isEmpty())
        QSettings(FMemoria, QSettings::IniFormat).setValue(ChiaveCartella, directory().absolutePath());
    return true;
}

QString TVelmarDialogEx::CartellaIniziale() const
{
    const QString ultima = QSettings(FMemoria, QSettings::IniFormat).value(ChiaveCartella).toString();
    if (!ultima.isEmpty() && QFileInfo(ultima).isDir())
        return ultima;
    const QString musica = QFile::decodeName(QByteArray::fromStdString(XdgUserDir("MUSIC")));
    if (QFileInfo(musica).isDir())
        return musica;
    return QFile::decodeName(QByteArray::fromStdString(HomeDir()));
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
