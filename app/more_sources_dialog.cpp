#include "app/more_sources_dialog.h"

#include "app/dialogs.h"
#include "app/texts.h"
#include "rasters/raster_sources.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace hgt {

MoreSourcesDialog::MoreSourcesDialog(Dialogs& dialogs, const std::vector<std::string>& folders, QWidget* parent)
    : QDialog(parent), m_dialogs(dialogs), m_list(new QListWidget(this)),
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
    for (const std::string& folder : folders)
        m_list->addItem(QString::fromStdString(folder));
    if (m_list->count() > 0)
        m_list->setCurrentRow(0);

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
    connect(m_list, &QListWidget::currentRowChanged, this, [this] { updateButtons(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* hint = new QLabel(texts::moreSourcesHint, this);
    hint->setWordWrap(true);
    auto* rasterHint = new QLabel(texts::moreSourcesRasterHint, this);
    rasterHint->setWordWrap(true);
    auto* row = new QHBoxLayout;
    row->addWidget(m_list, 1);
    row->addLayout(column);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(hint);
    layout->addWidget(rasterHint);
    layout->addLayout(row, 1);
    layout->addWidget(buttons);
    resize(560, 300);
    updateButtons();
}

std::vector<std::string> MoreSourcesDialog::folders() const
{
    std::vector<std::string> folders;
    for (int row = 0; row < m_list->count(); ++row)
        folders.push_back(m_list->item(row)->text().toStdString());
    return folders;
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
    const QListWidgetItem* near = m_list->currentItem() ? m_list->currentItem()
                                  : m_list->count() > 0 ? m_list->item(m_list->count() - 1)
                                                        : nullptr;
    return near ? near->text() : QString();
}

void MoreSourcesDialog::addEntry(const QString& path)
{
    // A source asked twice would fill nothing the second time: it keeps its place.
    const QString entry = QDir::cleanPath(path);
    for (int row = 0; row < m_list->count(); ++row)
        if (QDir::cleanPath(m_list->item(row)->text()) == entry) {
            m_list->setCurrentRow(row);
            return;
        }
    m_list->addItem(entry);
    m_list->setCurrentRow(m_list->count() - 1);
}

void MoreSourcesDialog::removeFolder()
{
    const int row = m_list->currentRow();
    if (row < 0)
        return;
    delete m_list->takeItem(row);
    if (m_list->count() > 0)
        m_list->setCurrentRow(std::min(row, m_list->count() - 1));
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
    if (row < 0 || target < 0 || target >= m_list->count())
        return;
    m_list->insertItem(target, m_list->takeItem(row));
    m_list->setCurrentRow(target);
}

void MoreSourcesDialog::updateButtons()
{
    const int row = m_list->currentRow();
    m_remove->setEnabled(row >= 0);
    m_up->setEnabled(row > 0);
    m_down->setEnabled(row >= 0 && row < m_list->count() - 1);
}

} // namespace hgt
