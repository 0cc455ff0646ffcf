#include "ui/PresetsUI.h"

#include "document/framework/FilterMessages.h"
#include "document/framework/ToolFilter.h"
#include "settings/SettingsGroup.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QVBoxLayout>

namespace Orvex::UI {

using namespace Document::Filters;
using Document::FilterMessages;

namespace {
const char* Context = "PresetsUI";
QString tr(const char* text) {
    return QCoreApplication::translate(Context, text);
}
QString effectShortName(int effectId) {
    const EffectInfo* info = EffectRegistry::byId(effectId);
    return info ? QString::fromLatin1(info->shortName) : tr("Unknown");
}
} // namespace

PresetsUI::PresetsUI(int mode, QWidget* parent) : QDialog(parent), m_mode(mode) {
    setObjectName(QStringLiteral("PresetsUI"));
    auto* layout = new QVBoxLayout(this);
    auto* head = new QHBoxLayout;
    m_effectLabel = new QLabel(this);
    m_effectName = new QLabel(this);
    m_effectName->setObjectName(QStringLiteral("effectName"));
    QFont bold = m_effectName->font();
    bold.setBold(true);
    m_effectName->setFont(bold);
    head->addWidget(m_effectLabel);
    head->addWidget(m_effectName, 1);
    layout->addLayout(head);

    m_listLabel = new QLabel(this);
    layout->addWidget(m_listLabel);
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("presetList"));
    m_list->setMinimumSize(260, 160);
    layout->addWidget(m_list, 1);
    m_ckGlobal = new QCheckBox(this);
    m_ckGlobal->setObjectName(QStringLiteral("ckGlobal"));
    m_ckGlobal->setTristate(false);
    layout->addWidget(m_ckGlobal);

    m_ckDeleteAll = new QCheckBox(this);
    m_ckDeleteAll->setObjectName(QStringLiteral("ckDeleteAll"));
    layout->addWidget(m_ckDeleteAll);
    m_clashLabel = new QLabel(this);
    layout->addWidget(m_clashLabel);
    m_rbRename = new QRadioButton(this);
    m_rbRename->setObjectName(QStringLiteral("rbRename"));
    m_rbReplace = new QRadioButton(this);
    m_rbReplace->setObjectName(QStringLiteral("rbReplace"));
    m_rbRename->setChecked(true);
    auto* clashRow = new QHBoxLayout;
    clashRow->addSpacing(16);
    clashRow->addWidget(m_rbRename);
    clashRow->addWidget(m_rbReplace);
    clashRow->addStretch(1);
    layout->addLayout(clashRow);
    const bool importing = mode == Import;
    m_ckDeleteAll->setVisible(importing);
    m_clashLabel->setVisible(importing);
    m_rbRename->setVisible(importing);
    m_rbReplace->setVisible(importing);
    // The duplicate-name choice means nothing when everything is deleted first.
    connect(m_ckDeleteAll, &QCheckBox::toggled, this, [this](bool on) {
        m_rbRename->setEnabled(!on);
        m_rbReplace->setEnabled(!on);
        m_clashLabel->setEnabled(!on);
    });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_btnOk = new QPushButton(this);
    m_btnOk->setObjectName(QStringLiteral("btnOk"));
    m_btnOk->setDefault(true);
    m_btnCancel = new QPushButton(this);
    m_btnCancel->setObjectName(QStringLiteral("btnCancel"));
    buttons->addWidget(m_btnOk);
    buttons->addWidget(m_btnCancel);
    layout->addLayout(buttons);
    connect(m_btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    retranslate();
    QMetaObject::connectSlotsByName(this);
}

void PresetsUI::retranslate() {
    setWindowTitle(m_mode == Import ? tr("Import") : tr("Export"));
    m_effectLabel->setText(tr("Effect:"));
    m_listLabel->setText(tr("User presets"));
    m_ckGlobal->setText(tr("Select all"));
    m_ckDeleteAll->setText(tr("Delete all before import"));
    m_clashLabel->setText(tr("If preset name already used, then"));
    m_rbRename->setText(tr("Rename And Add"));
    m_rbReplace->setText(tr("Replace"));
    m_btnOk->setText(m_mode == Import ? tr("Import") : tr("Export"));
    m_btnCancel->setText(tr("Cancel"));
}

void PresetsUI::setPresets(int effectId, const PresetList& presets) {
    m_effectId = effectId;
    m_presets = presets;
    fillPresetList();
}

void PresetsUI::fillPresetList() {
    m_effectName->setText(effectShortName(m_effectId));
    QSignalBlocker block(m_list);
    m_list->clear();
    for (const PresetRecord& p : m_presets) {
        auto* item = new QListWidgetItem(p.name, m_list);
        item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        item->setCheckState(Qt::Checked);
    }
    syncCheckBox();
}

void PresetsUI::syncCheckBox() {
    int checked = 0;
    for (int i = 0; i < m_list->count(); ++i) checked += m_list->item(i)->checkState() == Qt::Checked;
    QSignalBlocker block(m_ckGlobal);
    if (checked == 0) {
        m_ckGlobal->setCheckState(Qt::Unchecked);
    } else if (checked == m_list->count()) {
        m_ckGlobal->setCheckState(Qt::Checked);
    } else {
        m_ckGlobal->setTristate(true);
        m_ckGlobal->setCheckState(Qt::PartiallyChecked);
    }
    m_btnOk->setEnabled(checked > 0 || (m_mode == Import && m_ckDeleteAll->isChecked()));
}

void PresetsUI::on_presetList_itemChanged(QListWidgetItem*) {
    syncCheckBox();
}

void PresetsUI::on_ckGlobal_clicked() {
    // A click on the partial state checks everything, as the user expects of "Select all".
    const bool check = m_ckGlobal->checkState() != Qt::Unchecked;
    m_ckGlobal->setTristate(false);
    QSignalBlocker block(m_list);
    for (int i = 0; i < m_list->count(); ++i)
        m_list->item(i)->setCheckState(check ? Qt::Checked : Qt::Unchecked);
    syncCheckBox();
}

void PresetsUI::on_btnOk_clicked() {
    accept();
}

PresetList PresetsUI::checkedPresets() const {
    PresetList out;
    for (int i = 0; i < m_list->count() && i < m_presets.size(); ++i)
        if (m_list->item(i)->checkState() == Qt::Checked) out.push_back(m_presets[i]);
    return out;
}

bool PresetsUI::deleteAllBeforeImport() const {
    return m_ckDeleteAll->isChecked();
}

NameClash PresetsUI::nameClash() const {
    return m_rbReplace->isChecked() ? NameClash::Replace : NameClash::RenameAndAdd;
}

// ---- exchange ------------------------------------------------------------------------------------

bool PresetExchange::readFile(const QString& path, PresetList& presets, int& effectId, QString* message) {
    const QString name = QFileInfo(path).fileName();
    QFile file(path);
    QString why;
    if (!file.open(QIODevice::ReadOnly))
        why = file.errorString();
    else if (file.size() > MaxFileBytes)
        why = tr("The file is larger than %1 MiB.").arg(MaxFileBytes >> 20);
    else if (file.size() == 0)
        why = tr("The file is empty.");
    if (!why.isEmpty()) {
        if (message) *message = tr("Cannot read file %1:\n%2.").arg(name, why);
        return false;
    }
    PresetFileReader reader;
    PresetList read;
    int id = -1;
    if (!reader.read(&file, read, id)) {
        if (message)
            *message = tr("Parse error in file %1 at line %2, column %3:\n%4")
                           .arg(name)
                           .arg(reader.lineNumber())
                           .arg(reader.columnNumber())
                           .arg(reader.errorString());
        return false;
    }
    presets = read;
    effectId = id;
    return true;
}

namespace {
SettingsGroupRW effectGroup(int effectId) {
    const EffectInfo* info = EffectRegistry::byId(effectId);
    QString path = QStringLiteral("Filters/") + QLatin1String(info->filterKey);
    if (!ToolFilter::settingsRootPath().isEmpty())
        path = ToolFilter::settingsRootPath() + QLatin1Char('/') + path;
    return SettingsGroupRW(ToolFilter::settingsStore(), path);
}
} // namespace

bool PresetExchange::importFile(const QString& path, ToolFilter* current, const ImportChoices& choices,
                                QString* message) {
    PresetList presets;
    int effectId = -1;
    if (!readFile(path, presets, effectId, message)) return false;
    if (effectId < 0 || effectId > 11 || !EffectRegistry::createParams(effectId)) {
        if (message)
            *message =
                tr("File %1 is for %2 effect").arg(QFileInfo(path).fileName(), effectShortName(effectId));
        return false;
    }
    PresetList chosen;
    for (const PresetRecord& p : presets)
        if (choices.allPresets || choices.names.contains(p.name)) chosen.push_back(p);
    const bool live = current && current->effectId() == effectId;
    PresetList target;
    if (!choices.deleteAllBeforeImport) {
        if (live)
            current->CollectUserPresets(target);
        else
            target = readUserPresets(effectGroup(effectId), effectId);
    }
    const PresetList merged = mergeImportedPresets(target, chosen, choices.clash);
    if (live) {
        current->ReplaceUserPresets(merged);
    } else {
        SettingsGroupRW group = effectGroup(effectId);
        writeUserPresets(group, merged);
    }
    return true;
}

bool PresetExchange::exportFile(const QString& path, int effectId, const PresetList& presets,
                                QString* message) {
    const QString name = QFileInfo(path).fileName();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        if (message) *message = tr("Error opening %1:\n%2").arg(name, file.errorString());
        return false;
    }
    PresetFileWriter writer;
    if (!writer.write(&file, presets, effectId) || !file.commit()) {
        file.cancelWriting();
        if (message) *message = tr("Error writing %1").arg(name);
        return false;
    }
    return true;
}

QString PresetExchange::lastPresetsFilePath() {
    const SettingsGroupRO group(ToolFilter::settingsStore(), ToolFilter::settingsRootPath());
    return group.read(QStringLiteral("presetsFilePath"), QString());
}

void PresetExchange::setLastPresetsFilePath(const QString& path) {
    SettingsGroupRW group(ToolFilter::settingsStore(), ToolFilter::settingsRootPath());
    group.setValue(QStringLiteral("presetsFilePath"), path);
}

void PresetExchange::my_btnLoadPreset_clicked(ToolFilter* current, QWidget* parent) {
    const QString filter = tr("Elemorama preset") + QStringLiteral(" (*.elemorama)");
    const QString path =
        QFileDialog::getOpenFileName(parent, tr("Import presets"), lastPresetsFilePath(), filter);
    if (path.isEmpty()) return;
    setLastPresetsFilePath(path);
    PresetList presets;
    int effectId = -1;
    QString message;
    if (!readFile(path, presets, effectId, &message)) {
        FilterMessages::critical(tr("Import presets"), message, parent);
        return;
    }
    PresetsUI dialog(PresetsUI::Import, parent);
    dialog.setPresets(effectId, presets);
    if (dialog.exec() != QDialog::Accepted || effectId > 11) return;
    ImportChoices choices;
    choices.allPresets = false;
    for (const PresetRecord& p : dialog.checkedPresets()) choices.names << p.name;
    choices.deleteAllBeforeImport = dialog.deleteAllBeforeImport();
    choices.clash = dialog.nameClash();
    if (!importFile(path, current, choices, &message))
        FilterMessages::critical(tr("Import presets"), message, parent);
}

void PresetExchange::my_btnSavePreset_clicked(ToolFilter* current, QWidget* parent) {
    if (!current) return;
    PresetList user;
    current->CollectUserPresets(user);
    PresetsUI dialog(PresetsUI::Export, parent);
    dialog.setPresets(current->effectId(), user);
    if (dialog.exec() != QDialog::Accepted) return;
    const QString filter = tr("Elemorama preset") + QStringLiteral(" (*.elemorama)");
    QString path = QFileDialog::getSaveFileName(
        parent, tr("Export presets"), proposeExportPath(lastPresetsFilePath(), current->effectId()), filter);
    if (path.isEmpty()) return;
    if (!path.endsWith(QLatin1String(".elemorama"))) path += QStringLiteral(".elemorama");
    setLastPresetsFilePath(path);
    QString message;
    if (!exportFile(path, current->effectId(), dialog.checkedPresets(), &message))
        FilterMessages::critical(tr("Export presets"), message, parent);
}

} // namespace Orvex::UI
