#include "app/more_sources_dialog.h"

#include "app/datum_choice.h"
#include "app/dialogs.h"
#include "app/texts.h"
#include "rasters/raster_sources.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace hgt {

namespace {

constexpr int kPathColumn = 0;
constexpr int kDatumColumn = 1;
constexpr int kDatumRole = Qt::UserRole; // the datum as the run takes it; the cell shows its label

// The editor of the column "Höhenbezug": the offered datums, or a code typed in.
class DatumDelegate : public QStyledItemDelegate {
public:
    explicit DatumDelegate(MoreSourcesDialog* dialog) : QStyledItemDelegate(dialog), m_dialog(dialog) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const override
    {
        auto* box = new QComboBox(parent);
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->addItems(datumChoices(true));
        return box;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        static_cast<QComboBox*>(editor)->setCurrentText(index.data(Qt::DisplayRole).toString());
    }

    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override
    {
        // The editor is closing: a message about a refused text waits until it has.
        const QString text = static_cast<QComboBox*>(editor)->currentText();
        const int row = index.row();
        if (datumFromText(text))
            m_dialog->setDatum(row, text);
        else
            QTimer::singleShot(0, m_dialog, [dialog = m_dialog, row, text] { dialog->setDatum(row, text); });
    }

private:
    MoreSourcesDialog* m_dialog;
};

} // namespace

MoreSourcesDialog::MoreSourcesDialog(Dialogs& dialogs, const std::vector<FurtherSource>& sources, QWidget* parent)
    : QDialog(parent), m_dialogs(dialogs), m_list(new QTableWidget(0, 2, this)),
      m_add(new QPushButton(texts::moreSourcesAdd, this)),
      m_addRaster(new QPushButton(texts::moreSourcesAddRaster, this)),
      m_remove(new QPushButton(texts::moreSourcesRemove, this)), m_up(new QPushButton(texts::moreSourcesUp, this)),
      m_down(new QPushButton(texts::moreSourcesDown, this))
{
    setObjectName(QStringLiteral("MoreSourcesDialog"));
    setWindowTitle(texts::moreSourcesTitle);
    setSizeGripEnabled(true);

    m_list->setObjectName(QStringLiteral("moreSourcesList"));
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked
                            | QAbstractItemView::EditKeyPressed);
    m_list->setHorizontalHeaderLabels({texts::moreSourcesPathColumn, texts::moreSourcesDatumColumn});
    m_list->horizontalHeader()->setSectionResizeMode(kPathColumn, QHeaderView::Stretch);
    // Wide enough for the offered datums with the editor's arrow; a longer code can be widened by hand.
    int datumWidth = m_list->horizontalHeader()->sectionSizeHint(kDatumColumn);
    for (const QString& choice : datumChoices(true))
        datumWidth = std::max(datumWidth, m_list->fontMetrics().horizontalAdvance(choice) + 48);
    m_list->horizontalHeader()->setSectionResizeMode(kDatumColumn, QHeaderView::Interactive);
    m_list->setColumnWidth(kDatumColumn, datumWidth);
    m_list->verticalHeader()->hide();
    m_list->setShowGrid(false);
    m_list->setWordWrap(false);
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setItemDelegateForColumn(kDatumColumn, new DatumDelegate(this));
    for (const FurtherSource& source : sources)
        appendRow(QString::fromStdString(source.path), source.datum);
    if (m_list->rowCount() > 0)
        selectRow(0);

    m_add->setObjectName(QStringLiteral("moreSourcesAdd"));
    m_addRaster->setObjectName(QStringLiteral("moreSourcesAddRaster"));
    m_remove->setObjectName(QStringLiteral("moreSourcesRemove"));
    m_up->setObjectName(QStringLiteral("moreSourcesUp"));
    m_down->setObjectName(QStringLiteral("moreSourcesDown"));
    auto* column = new QVBoxLayout;
    for (QPushButton* button : {m_add, m_addRaster, m_remove, m_up, m_down}) {
        // Enter confirms the dialog, whichever list button was clicked last.
        button->setAutoDefault(false);
        column->addWidget(button);
    }
    column->addStretch(1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    // Named here, not by the translations: the dialog speaks German also where they are missing.
    buttons->button(QDialogButtonBox::Ok)->setText(texts::buttonOk);
    buttons->button(QDialogButtonBox::Cancel)->setText(texts::buttonCancel);

    connect(m_add, &QPushButton::clicked, this, [this] { addFolder(); });
    connect(m_addRaster, &QPushButton::clicked, this, [this] { addRasterFile(); });
    connect(m_remove, &QPushButton::clicked, this, [this] { removeFolder(); });
    connect(m_up, &QPushButton::clicked, this, [this] { moveUp(); });
    connect(m_down, &QPushButton::clicked, this, [this] { moveDown(); });
    connect(m_list, &QTableWidget::currentCellChanged, this, [this] { updateButtons(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* hint = new QLabel(texts::moreSourcesHint, this);
    hint->setWordWrap(true);
    auto* rasterHint = new QLabel(texts::moreSourcesRasterHint, this);
    rasterHint->setWordWrap(true);
    auto* datumHint = new QLabel(texts::moreSourcesDatumHint, this);
    datumHint->setWordWrap(true);
    auto* row = new QHBoxLayout;
    row->addWidget(m_list, 1);
    row->addLayout(column);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(hint);
    layout->addWidget(rasterHint);
    layout->addLayout(row, 1);
    layout->addWidget(datumHint);
    layout->addWidget(buttons);
    resize(640, 340);
    updateButtons();
}

std::vector<FurtherSource> MoreSourcesDialog::sources() const
{
    std::vector<FurtherSource> sources;
    for (int row = 0; row < m_list->rowCount(); ++row)
        sources.push_back({m_list->item(row, kPathColumn)->text().toStdString(),
                           m_list->item(row, kDatumColumn)->data(kDatumRole).toString().toStdString()});
    return sources;
}

bool MoreSourcesDialog::setDatum(int row, const QString& text)
{
    QTableWidgetItem* cell = row >= 0 && row < m_list->rowCount() ? m_list->item(row, kDatumColumn) : nullptr;
    if (!cell)
        return false;
    const std::optional<std::string> datum = datumFromText(text);
    if (!datum) {
        m_dialogs.message(this, texts::notADatum.arg(text.trimmed()));
        return false;
    }
    cell->setData(kDatumRole, QString::fromStdString(*datum));
    cell->setText(datumLabel(*datum));
    return true;
}

void MoreSourcesDialog::selectRow(int row)
{
    m_list->setCurrentCell(row, kPathColumn);
}

void MoreSourcesDialog::addFolder()
{
    // The picker starts at the selected folder, or the last one, as the next one often sits beside it.
    const std::optional<QString> chosen = m_dialogs.chooseFolder(this, texts::moreSourcesPick, nearEntry());
    if (!chosen || chosen->isEmpty())
        return;
    addEntry(*chosen);
}

void MoreSourcesDialog::addRasterFile()
{
    const std::optional<QString> chosen = m_dialogs.openFile(this, nearEntry(), texts::moreSourcesRasterFilters);
    if (!chosen || chosen->isEmpty())
        return;
    // Through "Alle Dateien" any file can be chosen; one the run would take for a folder is refused here.
    if (!IsRasterSource(chosen->toStdString())) {
        m_dialogs.message(this, texts::moreSourcesNotRaster.arg(QDir::toNativeSeparators(*chosen)));
        return;
    }
    addEntry(*chosen);
}

QString MoreSourcesDialog::nearEntry() const
{
    const int row = m_list->currentRow() >= 0 ? m_list->currentRow() : m_list->rowCount() - 1;
    return row >= 0 ? m_list->item(row, kPathColumn)->text() : QString();
}

void MoreSourcesDialog::addEntry(const QString& path)
{
    // A source asked twice would fill nothing the second time: it keeps its place.
    const QString entry = QDir::cleanPath(path);
    for (int row = 0; row < m_list->rowCount(); ++row)
        if (QDir::cleanPath(m_list->item(row, kPathColumn)->text()) == entry) {
            selectRow(row);
            return;
        }
    appendRow(entry, {});
    selectRow(m_list->rowCount() - 1);
}

void MoreSourcesDialog::appendRow(const QString& path, const std::string& datum)
{
    const int row = m_list->rowCount();
    m_list->insertRow(row);
    auto* pathCell = new QTableWidgetItem(path);
    pathCell->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    pathCell->setToolTip(QDir::toNativeSeparators(path));
    m_list->setItem(row, kPathColumn, pathCell);
    // What the options hold was checked when it was stored; a datum of another form is none here.
    const std::string taken = datumFromText(QString::fromStdString(datum)).value_or(std::string());
    auto* datumCell = new QTableWidgetItem(datumLabel(taken));
    datumCell->setData(kDatumRole, QString::fromStdString(taken));
    m_list->setItem(row, kDatumColumn, datumCell);
}

void MoreSourcesDialog::removeFolder()
{
    const int row = m_list->currentRow();
    if (row < 0)
        return;
    m_list->removeRow(row);
    if (m_list->rowCount() > 0)
        selectRow(std::min(row, m_list->rowCount() - 1));
    updateButtons();
}

void MoreSourcesDialog::moveUp()
{
    moveCurrent(-1);
}

void MoreSourcesDialog::moveDown()
{
    moveCurrent(+1);
}

void MoreSourcesDialog::moveCurrent(int step)
{
    const int row = m_list->currentRow();
    const int target = row + step;
    if (row < 0 || target < 0 || target >= m_list->rowCount())
        return;
    // The two rows swap their cells, the datum going with its source.
    for (int column : {kPathColumn, kDatumColumn}) {
        QTableWidgetItem* moving = m_list->takeItem(row, column);
        m_list->setItem(row, column, m_list->takeItem(target, column));
        m_list->setItem(target, column, moving);
    }
    selectRow(target);
}

void MoreSourcesDialog::updateButtons()
{
    const int row = m_list->currentRow();
    m_remove->setEnabled(row >= 0);
    m_up->setEnabled(row > 0);
    m_down->setEnabled(row >= 0 && row < m_list->rowCount() - 1);
}

} // namespace hgt
