#include "app/run_report_dialog.h"

#include "app/dialogs.h"
#include "app/run_report_model.h"
#include "app/run_status.h"
#include "app/texts.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace hgt {

namespace {

QString kindText(RunKind kind)
{
    switch (kind) {
    case RunKind::Fill:
        return texts::reportFill;
    case RunKind::Batch:
        return texts::reportBatch;
    case RunKind::Difference:
        break;
    }
    return texts::reportDifference;
}

} // namespace

RunReportDialog::RunReportDialog(Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), m_dialogs(dialogs), m_model(new RunReportModel(this)), m_sorted(new QSortFilterProxyModel(this)),
      m_heading(new QLabel(this)), m_table(new QTableView(this)), m_save(new QPushButton(texts::reportSave, this))
{
    setObjectName(QStringLiteral("RunReportDialog"));
    setWindowTitle(texts::reportTitle);
    setSizeGripEnabled(true);

    m_sorted->setSourceModel(m_model);
    m_sorted->setSortRole(RunReportModel::SortRole);
    m_table->setModel(m_sorted);
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(RunReportModel::Number, Qt::AscendingOrder);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);

    auto* copy = new QAction(texts::reportCopy, m_table);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copy, &QAction::triggered, this, [this] { copySelection(); });
    m_table->addAction(copy);
    m_table->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_table->installEventFilter(this);

    m_heading->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_save->setObjectName(QStringLiteral("reportSave"));
    m_save->setAutoDefault(false);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(m_save, QDialogButtonBox::ActionRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_save, &QPushButton::clicked, this, [this] { save(); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_heading);
    layout->addWidget(m_table, 1);
    layout->addWidget(buttons);
    resize(880, 360);
    setRecord(std::nullopt);
}

RunReportDialog::~RunReportDialog() = default;

void RunReportDialog::setRecord(const std::optional<RunRecord>& record)
{
    m_model->setRecord(record.value_or(RunRecord{}));
    m_heading->setText(record ? texts::reportHeading.arg(kindText(record->kind), RunStatus::finishedText(*record))
                              : texts::reportNoRun);
    m_table->resizeColumnsToContents();
    m_hasRecord = record.has_value();
    m_save->setEnabled(m_hasRecord && !m_running);
}

void RunReportDialog::setRunInProgress(bool running)
{
    m_running = running;
    m_save->setEnabled(m_hasRecord && !running);
}

bool RunReportDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_table && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        copySelection();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void RunReportDialog::copySelection()
{
    // Rows in the order the table shows them; without a selection, all of them.
    QList<int> viewRows;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
        viewRows << index.row();
    if (viewRows.isEmpty()) {
        for (int row = 0; row < m_sorted->rowCount(); ++row)
            viewRows << row;
    }
    std::sort(viewRows.begin(), viewRows.end());
    QList<int> rows;
    for (int row : viewRows)
        rows << m_sorted->mapToSource(m_sorted->index(row, 0)).row();
    QApplication::clipboard()->setText(m_model->rowsText(rows));
}

void RunReportDialog::save()
{
    if (m_running || !m_hasRecord)
        return;
    const RunRecord& record = m_model->record();
    QString suggested = texts::reportFileName;
    if (!record.tiles.empty() && !record.tiles.front().tile.empty())
        suggested = QFileInfo(QString::fromStdString(record.tiles.front().tile)).absolutePath() + QLatin1Char('/')
                    + texts::reportFileName;
    const std::optional<QString> path =
        m_dialogs.saveFile(this, texts::reportSaveTitle, suggested, {texts::csvFilter, texts::allFilesFilter});
    if (!path)
        return;
    // Written under a temporary name and renamed when complete: an earlier report is never half
    // overwritten.
    QSaveFile file(*path);
    const QByteArray csv = m_model->toCsv();
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size() || !file.commit())
        m_dialogs.message(this, texts::reportSaveFailed.arg(*path, file.errorString()));
}

} // namespace hgt
