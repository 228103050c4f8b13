#include "app/options_menu.h"

#include "app/datum_choice.h"
#include "app/dialogs.h"
#include "app/more_sources_dialog.h"
#include "app/run_options_settings.h"
#include "app/texts.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

#include <algorithm>
#include <optional>

namespace hgt {

OptionsMenu::OptionsMenu(Dialogs& dialogs, QMenu* menu, QWidget* window, WindowOptions options, Changed changed)
    : QObject(menu), m_dialogs(dialogs), m_window(window), m_options(std::move(options)), m_changed(std::move(changed))
{
    QMenu* voids = menu->addMenu(texts::menuVoidValues);
    voids->menuAction()->setObjectName(QStringLiteral("menuVoidValues"));
    const QString* const voidTexts[] = {&texts::voidValue9999, &texts::voidValue32768, &texts::voidValue32767};
    for (std::size_t i = 0; i < kVoidValueChoices.size(); ++i) {
        const std::int16_t value = kVoidValueChoices[i];
        QAction* action = voids->addAction(*voidTexts[i]);
        action->setObjectName(QStringLiteral("actionVoid%1").arg(-value));
        action->setCheckable(true);
        action->setChecked(std::find(m_options.voidValues.begin(), m_options.voidValues.end(), value)
                           != m_options.voidValues.end());
        connect(action, &QAction::triggered, this,
                [this, action, value](bool checked) { voidValueTriggered(action, value, checked); });
        m_entries.push_back(action);
    }

    QAction* sources = menu->addAction(texts::actionMoreSources, this, [this] { editMoreSources(); });
    sources->setObjectName(QStringLiteral("actionMoreSources"));
    m_entries.push_back(sources);

    QMenu* method = menu->addMenu(texts::menuFillMethod);
    method->menuAction()->setObjectName(QStringLiteral("menuFillMethod"));
    auto* methods = new QActionGroup(method);
    methods->setExclusive(true);
    const std::pair<FillMethod, const QString*> methodEntries[] = {{FillMethod::Copy, &texts::methodCopy},
                                                                   {FillMethod::Delta, &texts::methodDelta}};
    for (const auto& [kind, text] : methodEntries) {
        QAction* action = method->addAction(*text);
        action->setObjectName(kind == FillMethod::Copy ? QStringLiteral("actionMethodCopy")
                                                       : QStringLiteral("actionMethodDelta"));
        action->setCheckable(true);
        action->setChecked(m_options.method == kind);
        action->setActionGroup(methods);
        connect(action, &QAction::triggered, this, [this, kind] {
            WindowOptions next = m_options;
            next.method = kind;
            apply(std::move(next));
        });
        m_entries.push_back(action);
    }

    menu->addSeparator();
    addToggle(menu, texts::actionInterpolate, QStringLiteral("actionInterpolate"), &RunOptions::interpolate);
    m_maxDistance = menu->addAction(texts::actionMaxDistance, this, [this] { editMaxDistance(); });
    m_maxDistance->setObjectName(QStringLiteral("actionMaxDistance"));
    m_entries.push_back(m_maxDistance);
    addToggle(menu, texts::actionProvenance, QStringLiteral("actionProvenance"), &RunOptions::provenance);
    QAction* tileDatum = menu->addAction(texts::actionTileDatum, this, [this] { editTileDatum(); });
    tileDatum->setObjectName(QStringLiteral("actionTileDatum"));
    m_entries.push_back(tileDatum);
    enableEntries();
}

QAction* OptionsMenu::addToggle(QMenu* menu, const QString& text, const QString& name, bool RunOptions::*flag)
{
    QAction* action = menu->addAction(text);
    action->setObjectName(name);
    action->setCheckable(true);
    action->setChecked(m_options.*flag);
    connect(action, &QAction::triggered, this, [this, flag](bool checked) {
        WindowOptions next = m_options;
        next.*flag = checked;
        apply(std::move(next));
    });
    m_entries.push_back(action);
    return action;
}

void OptionsMenu::editMaxDistance()
{
    // The entry is disabled during a run; a shortcut or a script must not get past that either.
    if (m_running)
        return;
    const std::optional<int> chosen =
        m_dialogs.wholeNumber(m_window, texts::maxDistanceTitle, texts::maxDistanceLabel.arg(kLargestMaxDistance),
                              m_options.maxDistance, 1, kLargestMaxDistance);
    if (!chosen)
        return;
    WindowOptions next = m_options;
    next.maxDistance = std::clamp(*chosen, 1, kLargestMaxDistance);
    apply(std::move(next));
}

void OptionsMenu::editTileDatum()
{
    if (m_running)
        return;
    const std::string current = m_options.tileDatum.empty() ? std::string("egm96") : m_options.tileDatum;
    const std::optional<QString> chosen = m_dialogs.editableChoice(
        m_window, texts::tileDatumTitle, texts::tileDatumLabel, datumChoices(false), datumLabel(current));
    if (!chosen)
        return;
    const std::optional<std::string> datum = datumFromText(*chosen);
    // The tiles always have a datum: an empty answer is no choice.
    if (!datum || datum->empty()) {
        m_dialogs.message(m_window, texts::notADatum.arg(chosen->trimmed()));
        return;
    }
    WindowOptions next = m_options;
    // EGM96, what HGT tiles hold, is the default and stays unnamed, so that a run without datums is as before.
    next.tileDatum = *datum == "egm96" ? std::string() : *datum;
    apply(std::move(next));
}

void OptionsMenu::voidValueTriggered(QAction* action, std::int16_t value, bool checked)
{
    WindowOptions next = m_options;
    std::erase(next.voidValues, value);
    if (checked) {
        next.voidValues.push_back(value);
    } else if (next.voidValues.empty()) {
        // A run needs a value that marks a void: the last one stays checked.
        action->setChecked(true);
        return;
    }
    next.voidValues = voidValuesInMenuOrder(next.voidValues);
    apply(std::move(next));
}

void OptionsMenu::editMoreSources()
{
    if (m_sourcesDialog) {
        m_sourcesDialog->raise();
        m_sourcesDialog->activateWindow();
        return;
    }
    m_sourcesDialog = new MoreSourcesDialog(m_dialogs, m_options.moreSources, m_window);
    m_sourcesDialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_sourcesDialog, &QDialog::accepted, this, [this, dialog = m_sourcesDialog] {
        WindowOptions next = m_options;
        next.moreSources = dialog->sources();
        apply(std::move(next));
    });
    // Window-modal without a local event loop: the window's own loop keeps serving everything else.
    m_sourcesDialog->open();
}

void OptionsMenu::setRunInProgress(bool running)
{
    m_running = running;
    enableEntries();
    // Unreachable through the window, which the dialog blocks; but a run never takes half-edited sources.
    if (running && m_sourcesDialog)
        m_sourcesDialog->reject();
}

void OptionsMenu::enableEntries()
{
    for (QAction* entry : m_entries)
        entry->setEnabled(!m_running);
    // The distance only matters to a run that interpolates.
    m_maxDistance->setEnabled(!m_running && m_options.interpolate);
}

void OptionsMenu::apply(WindowOptions options)
{
    if (options.voidValues == m_options.voidValues && options.moreSources == m_options.moreSources
        && options.method == m_options.method && options.interpolate == m_options.interpolate
        && options.maxDistance == m_options.maxDistance && options.provenance == m_options.provenance
        && options.tileDatum == m_options.tileDatum)
        return;
    m_options = std::move(options);
    enableEntries();
    if (const Result<> saved = RunOptionsSettings::save(m_options); !saved)
        m_dialogs.message(m_window, QString::fromStdString(saved.error().message));
    if (m_changed)
        m_changed(m_options);
}

} // namespace hgt
