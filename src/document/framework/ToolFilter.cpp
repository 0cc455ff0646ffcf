#include "document/framework/ToolFilter.h"

#include "datastorage/PixelFormat.h"
#include "document/filters/RenderSupport.h"
#include "document/framework/FilterMessages.h"
#include "document/framework/MaskStroke.h"
#include "gui/ColorButton.h"
#include "gui/Param.h"
#include "settings/SettingsGroup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace Orvex::Document::Filters {

Q_LOGGING_CATEGORY(lcFilters, "lib.kernel")

using DataStorage::DataChannel;
using DataStorage::PixelPlane;

const QString ToolFilter::TagPath = QStringLiteral("/TMP/ToolFilter");

namespace {

QString translated(const char* context, const char* text) {
    return QCoreApplication::translate(context, text);
}

// The item data that marks a built-in preset in the combo box.
constexpr int BuiltInRole = Qt::UserRole + 1;
constexpr int SeparatorRole = Qt::AccessibleDescriptionRole; // what QComboBox::insertSeparator sets

struct SettingsRoot {
    ISettings* store = nullptr;
    QString path;
    std::unique_ptr<SettingsMap> fallback;
};
SettingsRoot& settingsRoot() {
    static SettingsRoot root;
    return root;
}

// Forwards the renderer's phases to the job's progress record, which the progress bar polls.
class ProgressAdapter final : public RunProgress {
public:
    explicit ProgressAdapter(ProgressData& progress) : m_progress(progress) {}
    void beginPhase(double share, int64_t steps) override {
        m_progress.beginPhase(share, int(std::min<int64_t>(steps, std::numeric_limits<int>::max())));
    }
    void advance(int64_t steps) override { m_progress.step(int(steps)); }

private:
    ProgressData& m_progress;
};

} // namespace

ToolFilter::ToolFilter(int effectId, uint32_t layerKind, QObject* parent)
    : ThreadFilterUI(layerKind, parent), m_effectId(effectId) {
    m_current = EffectRegistry::createParams(effectId);
    if (!m_current) throw std::invalid_argument("effect without a parameter record");
    m_lastRun = m_current->clone();
    m_renderer = EffectRegistry::createRenderer(effectId);
    m_runProgress = std::make_unique<ProgressAdapter>(progress());
    if (QCoreApplication::instance() &&
        QCoreApplication::instance()->metaObject()->indexOfSignal("languageChanged(QString)") >= 0)
        connect(QCoreApplication::instance(), SIGNAL(languageChanged(const QString&)), this,
                SLOT(Retranslate()));
}

ToolFilter::~ToolFilter() {
    killDeferredTimer();
    stopThread();
}

// ---- settings ------------------------------------------------------------------------------------

void ToolFilter::setSettingsRoot(ISettings* store, const QString& rootPath) {
    settingsRoot().store = store;
    settingsRoot().path = normaliseSettingsPath(rootPath);
}

ISettings* ToolFilter::settingsStore() {
    SettingsRoot& root = settingsRoot();
    if (root.store) return root.store;
    if (!root.fallback) {
        qCWarning(lcFilters)
            << "no settings store given to the effects: parameters and presets are kept in memory";
        root.fallback = std::make_unique<SettingsMap>();
    }
    return root.fallback.get();
}

QString ToolFilter::settingsRootPath() {
    return settingsRoot().path;
}

QString ToolFilter::settingsGroupPath() const {
    const QString group = QStringLiteral("Filters/") + FilterKey();
    return settingsRootPath().isEmpty() ? group : settingsRootPath() + QLatin1Char('/') + group;
}

// ---- work space ----------------------------------------------------------------------------------

QString ToolFilter::CheckApplicable() const {
    if (!m_document) return translated("DocumentFilters", "No layer selected");
    const uint32_t locks = m_document->lockFlags();
    if (locks & FilterDocument::AllLocked) return translated("DocumentFilters", "All layer data locked");
    if (locks & FilterDocument::ColorLocked) return translated("DocumentFilters", "Layer color data locked");
    if (!m_renderer)
        return translated("DocumentFilters", "The %1 effect is not available in this version")
            .arg(classInfo("FilterName"));
    return {};
}

void ToolFilter::Activate() {
    if (m_active) return;
    m_active = true;
    {
        SettingsGroupRO group(settingsStore(), settingsGroupPath());
        LoadParams(group);
    }
    RestorePresetSelection();
    if (m_document) {
        const auto size = m_document->layer()->size();
        for (int k = 0; k < 3; ++k)
            if (m_maskEnabled[k] && (m_layerId != m_document->layerId() || !m_masks[k]))
                m_masks[k] = makeRef<PixelPlane>(DataStorage::MaskSingle, int32_t(DataStorage::TypeU8), size);
        m_layerId = m_document->layerId();
    }
    enablePanel(true);
}

void ToolFilter::Deactivate() {
    if (!m_active) return;
    enablePanel(false);
    m_runMode = Idle;
    SetEvalRunning(false);
    // The job is idle now; a stroke it left open ends here (its points so far stay painted).
    m_stroke.reset();
    m_strokeInProgress = false;
    {
        SettingsGroupRW group(settingsStore(), settingsGroupPath());
        SaveParams(group);
    }
    StorePresetSelection();
    m_layerId = 0;
    m_sourceRevision = ~uint64_t(0);
    m_source = m_result = m_historyPlane = {};
    for (auto& m : m_masks) m = {};
    m_active = false;
}

// ---- panel ---------------------------------------------------------------------------------------

QWidget* ToolFilter::CreateParamsWidget() {
    if (m_panel) return m_panel;
    m_controls.clear();
    auto* panel = new QWidget;
    panel->setObjectName(FilterKey() + QStringLiteral("Panel"));
    auto* layout = new QVBoxLayout(panel);
    layout->setSpacing(2);
    layout->setContentsMargins(4, 2, 4, 2);
    panel->setMinimumWidth(200);
    panel->resize(200, 92);

    // The preset row: the combo box, then save, delete and reset.
    auto* presetRow = new QHBoxLayout;
    presetRow->setSpacing(2);
    m_presetCombo = new QComboBox(panel);
    m_presetCombo->setObjectName(QStringLiteral("presetCombo"));
    m_presetCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_presetCombo->setMinimumContentsLength(12);
    presetRow->addWidget(m_presetCombo, 1);
    auto makeButton = [&](const char* name, QStyle::StandardPixmap icon) {
        auto* b = new QToolButton(panel);
        b->setObjectName(QLatin1String(name));
        b->setIcon(panel->style()->standardIcon(icon));
        b->setAutoRaise(true);
        presetRow->addWidget(b);
        return b;
    };
    m_saveButton = makeButton("btnSavePreset", QStyle::SP_DialogSaveButton);
    m_deleteButton = makeButton("btnDeletePreset", QStyle::SP_TrashIcon);
    m_resetButton = makeButton("btnResetParam", QStyle::SP_BrowserReload);
    layout->addLayout(presetRow);
    m_commitButton = new QPushButton(panel);
    m_commitButton->setObjectName(QStringLiteral("btnCommit"));
    m_commitButton->hide(); // clicked when a result is committed; the window listens to it

    for (const FieldInfo& f : m_current->fieldInfos()) {
        if (!f.label || !*f.label) continue;
        QWidget* w = buildControl(f, panel);
        if (!w) continue;
        layout->addWidget(w);
        m_controls.push_back({f, w});
    }
    layout->addStretch(1);
    m_panel = panel;
    retranslateControls();
    QMetaObject::connectSlotsByName(this);
    if (m_active) {
        FillPresets();
        ParamsToUI();
        RestorePresetSelection();
    }
    return panel;
}

QWidget* ToolFilter::buildControl(const FieldInfo& f, QWidget* parent) {
    const QString member = QLatin1String(f.member);
    QWidget* w = nullptr;
    switch (f.type) {
    case FieldType::Int: {
        auto* p = new GUI::Param(parent);
        p->setRange(int(f.sliderMin), int(f.sliderMax));
        connect(p, &GUI::Param::finalizedValue, this,
                [this, member](int v) { setParamValue(member, QString::number(v)); });
        w = p;
        break;
    }
    case FieldType::Real: {
        auto* p = new GUI::ParamDbl(parent);
        p->setDecimals(2);
        p->setRange(f.sliderMin, f.sliderMax);
        connect(p, &GUI::ParamDbl::finalizedValue, this,
                [this, member](double v) { setParamValue(member, realText(v)); });
        w = p;
        break;
    }
    case FieldType::Bool: {
        auto* c = new QCheckBox(parent);
        connect(c, &QCheckBox::toggled, this, [this, member](bool on) {
            setParamValue(member, on ? QStringLiteral("1") : QStringLiteral("0"));
        });
        w = c;
        break;
    }
    case FieldType::Argb:
    case FieldType::ColorName: {
        auto* row = new QWidget(parent);
        auto* h = new QHBoxLayout(row);
        h->setContentsMargins(0, 0, 0, 0);
        auto* label = new QLabel(row);
        label->setObjectName(QStringLiteral("label"));
        auto* b = new GUI::ColorButton(row);
        b->setObjectName(QStringLiteral("colorButton"));
        b->setTransparentAllowed(f.type == FieldType::ColorName);
        h->addWidget(label, 1);
        h->addWidget(b);
        connect(b, &GUI::ColorButton::valueChanged, this,
                [this, member](int argb) { setParamValue(member, argbText(uint32_t(argb))); });
        w = row;
        break;
    }
    }
    if (w) w->setObjectName(member);
    return w;
}

void ToolFilter::retranslateControls() {
    const QByteArray context = FilterKey().toLatin1();
    for (const Control& c : m_controls) {
        const QString text = translated(context.constData(), c.field.label);
        const QString tip =
            translated(context.constData(), (QByteArray(c.field.label) + " status tip").constData());
        if (auto* p = qobject_cast<GUI::ParamBase*>(c.widget)) {
            // "Size, px": the caption shows "Size" and the unit stands after the value.
            p->setText(text);
            const int comma = text.lastIndexOf(QLatin1Char(','));
            p->labelSuffix()->setText(comma < 0 ? QString() : text.mid(comma));
        } else if (auto* box = qobject_cast<QCheckBox*>(c.widget))
            box->setText(text);
        else if (auto* label = c.widget->findChild<QLabel*>(QStringLiteral("label")))
            label->setText(text);
        if (!tip.endsWith(QLatin1String(" status tip"))) c.widget->setStatusTip(tip);
    }
    if (m_saveButton) {
        m_presetCombo->setToolTip(translated("PluginUI", "Presets"));
        m_saveButton->setToolTip(translated("PluginUI", "Save preset"));
        m_deleteButton->setToolTip(translated("PluginUI", "Delete preset"));
        m_resetButton->setToolTip(translated("PluginUI", "Reset to preset"));
    }
}

void ToolFilter::Retranslate() {
    retranslateControls();
}

QWidget* ToolFilter::control(const QString& member) const {
    for (const Control& c : m_controls)
        if (member == QLatin1String(c.field.member)) return c.widget;
    return nullptr;
}

void ToolFilter::setControlValue(const Control& c) {
    const QString text = m_current->valueText(QLatin1String(c.field.member));
    QSignalBlocker block(c.widget);
    switch (c.field.type) {
    case FieldType::Int:
        static_cast<GUI::Param*>(c.widget)->setValue(text.toInt());
        break;
    case FieldType::Real:
        static_cast<GUI::ParamDbl*>(c.widget)->setValue(text.toDouble());
        break;
    case FieldType::Bool:
        static_cast<QCheckBox*>(c.widget)->setChecked(text == QLatin1String("1"));
        break;
    case FieldType::Argb:
    case FieldType::ColorName: {
        uint32_t argb = 0;
        parseColor(text, argb);
        if (auto* b = c.widget->findChild<GUI::ColorButton*>()) {
            QSignalBlocker blockButton(b);
            b->setValue(int(argb));
        }
        break;
    }
    }
}

void ToolFilter::enablePanel(bool on) {
    if (m_panel) m_panel->setEnabled(on);
    if (m_toolWidget) m_toolWidget->setEnabled(on);
}

// ---- parameters ----------------------------------------------------------------------------------

void ToolFilter::SaveParams(SettingsGroupRW& group) const {
    m_current->save(settingsWriter(group));
}

void ToolFilter::LoadParams(const SettingsGroupRO& group) {
    FillPresets();
    m_current->load(settingsReader(group)); // reads every key with its default, then clamps
    ParamsToUI();
}

bool ToolFilter::StoreParamsToDocument() {
    if (!m_document) return false;
    m_document->setTag(TagPath, FilterKey(), makeRef<ParamsDataHolder>(m_current->clone()));
    return true;
}

bool ToolFilter::LoadParamsFromDocument() {
    if (!m_document) return false;
    auto holder = m_document->findTag(TagPath, FilterKey());
    auto* params = dynamic_cast<ParamsDataHolder*>(holder.get());
    if (!params || !params->params) return false;
    auto copy = params->params->clone();
    copy->clamp();
    if (!copy->unchangedFrom(*m_current) && typeid(*copy) != typeid(*m_current)) return false;
    m_current = std::move(copy);
    m_lastRun = m_current->clone();
    ParamsToUI();
    return true;
}

void ToolFilter::CommitParams() {
    m_lastRun = m_current->clone();
}

bool ToolFilter::setParamValue(const QString& member, const QString& text) {
    const QString before = m_current->valueText(member);
    QString message;
    if (!m_current->setByKey(member, text, &message, nullptr)) {
        qCWarning(lcFilters) << FilterKey() << message;
        return false;
    }
    m_current->clamp();
    if (m_current->valueText(member) != before) {
        ScheduleUpdate();
        emit paramsEdited();
    }
    // A clamped value goes back to its control.
    for (const Control& c : m_controls)
        if (member == QLatin1String(c.field.member)) setControlValue(c);
    MarkPresetEdited();
    return true;
}

void ToolFilter::setCurrentParams(const AnyParams& record) {
    auto copy = record.clone();
    copy->clamp();
    const bool changed = !copy->unchangedFrom(*m_current);
    m_current = std::move(copy);
    ParamsToUI();
    if (changed) ScheduleUpdate();
}

void ToolFilter::ParamsToUI() {
    for (const Control& c : m_controls) setControlValue(c);
    SelectMatchingPreset();
}

// ---- presets -------------------------------------------------------------------------------------

int ToolFilter::firstUserPreset() const {
    for (int i = 0; i < m_presetRecords.size(); ++i)
        if (m_presetCombo &&
            m_presetCombo->itemData(i, SeparatorRole).toString() == QLatin1String("separator"))
            return i + 1;
    return m_presetRecords.size();
}

QString ToolFilter::presetName(int index) const {
    return m_presetCombo && index >= 0 && index < m_presetCombo->count() ? m_presetCombo->itemText(index)
                                                                         : QString();
}

bool ToolFilter::isBuiltInPreset(int index) const {
    return m_presetCombo && index >= 0 && index < m_presetCombo->count() &&
           !m_presetCombo->itemData(index, BuiltInRole).toString().isEmpty();
}

bool ToolFilter::isPresetEdited() const {
    return m_presetCombo && m_presetCombo->isEditable();
}

void ToolFilter::FillPresets() {
    if (!m_presetCombo) return;
    QSignalBlocker block(m_presetCombo);
    m_presetCombo->setEditable(false);
    m_presetCombo->setInsertPolicy(QComboBox::NoInsert);
    m_presetCombo->setDuplicatesEnabled(true);
    m_presetCombo->clear();
    m_presetRecords.clear();
    PresetList builtIn;
    try {
        builtIn = builtInPresets(m_effectId);
    } catch (const std::exception& e) {
        qCCritical(lcFilters) << FilterKey() << "built-in presets unreadable:" << e.what();
    }
    for (const PresetRecord& p : builtIn) {
        auto record = EffectRegistry::createParams(m_effectId);
        record->applyPreset(p);
        m_presetCombo->addItem(p.name);
        m_presetCombo->setItemData(m_presetCombo->count() - 1, QStringLiteral("builtin"), BuiltInRole);
        m_presetRecords.push_back(std::shared_ptr<AnyParams>(std::move(record)));
    }
    m_presetCombo->insertSeparator(999);
    m_presetRecords.push_back(std::shared_ptr<AnyParams>(EffectRegistry::createParams(m_effectId)));
    const SettingsGroupRO group(settingsStore(), settingsGroupPath());
    for (const PresetRecord& p : readUserPresets(group, m_effectId)) {
        auto record = EffectRegistry::createParams(m_effectId);
        for (const PresetEntry& e : p.entries) {
            bool known = false;
            for (const FieldInfo& f : record->fieldInfos()) known = known || f.presetId == e.id;
            if (!known)
                qCInfo(lcFilters) << FilterKey() << "preset" << p.name << "ignores unknown option"
                                  << fourCCText(e.id);
        }
        record->applyPreset(p);
        m_presetCombo->addItem(p.name);
        m_presetRecords.push_back(std::shared_ptr<AnyParams>(std::move(record)));
    }
    m_currentPreset = std::clamp(m_currentPreset, 0, std::max(0, int(m_presetRecords.size()) - 1));
}

void ToolFilter::OnLoadPreset(int index) {
    LoadPreset(index);
}

void ToolFilter::LoadPreset(int index) {
    if (index < 0 || index >= m_presetRecords.size() || index == firstUserPreset() - 1) return;
    m_currentPreset = index;
    auto before = m_current->clone();
    m_current->applyPreset(m_presetRecords[index]->toPreset(QString()));
    if (m_presetCombo) {
        QSignalBlocker block(m_presetCombo);
        m_presetCombo->setCurrentIndex(index);
    }
    ParamsToUI();
    if (!m_current->unchangedFrom(*before)) {
        ScheduleUpdate();
        emit paramsEdited();
    }
}

void ToolFilter::StorePreset(int index) {
    auto record = std::shared_ptr<AnyParams>(m_current->clone());
    record->setMaskRevision(0);
    if (index < 0 || index >= m_presetRecords.size())
        m_presetRecords.push_back(record);
    else
        m_presetRecords[index] = record;
}

void ToolFilter::RemovePreset(int index) {
    if (index >= 0 && index < m_presetRecords.size()) m_presetRecords.removeAt(index);
}

void ToolFilter::ReplaceUserPresets(const PresetList& presets) {
    if (!m_presetCombo) return;
    {
        QSignalBlocker block(m_presetCombo);
        const int first = firstUserPreset();
        while (m_presetCombo->count() > first) m_presetCombo->removeItem(m_presetCombo->count() - 1);
        while (m_presetRecords.size() > first) m_presetRecords.removeLast();
        for (const PresetRecord& p : presets) {
            auto record = EffectRegistry::createParams(m_effectId);
            record->applyPreset(p);
            m_presetCombo->addItem(p.name);
            m_presetRecords.push_back(std::shared_ptr<AnyParams>(std::move(record)));
        }
    }
    if (!presets.isEmpty()) LoadPreset(m_presetRecords.size() - 1);
}

void ToolFilter::CollectUserPresets(PresetList& presets) const {
    if (!m_presetCombo) return;
    for (int i = firstUserPreset(); i < m_presetRecords.size(); ++i)
        presets.push_back(m_presetRecords[i]->toPreset(m_presetCombo->itemText(i)));
}

void ToolFilter::leaveEditMode(int index) {
    QSignalBlocker block(m_presetCombo);
    m_presetCombo->setEditable(false);
    m_presetCombo->setCurrentIndex(index);
    m_saveButton->setEnabled(false);
    m_resetButton->setEnabled(false);
    m_deleteButton->setEnabled(index >= firstUserPreset());
}

void ToolFilter::SelectMatchingPreset() {
    if (!m_presetCombo) return;
    const int separator = firstUserPreset() - 1;
    int match = -1;
    const int shown = m_presetCombo->isEditable() ? m_currentPreset : m_presetCombo->currentIndex();
    if (shown >= 0 && shown < m_presetRecords.size() && shown != separator &&
        m_current->matchesPreset(*m_presetRecords[shown]))
        match = shown;
    for (int i = 0; match < 0 && i < m_presetRecords.size(); ++i)
        if (i != separator && m_current->matchesPreset(*m_presetRecords[i])) match = i;
    if (match >= 0) {
        m_currentPreset = match;
        leaveEditMode(match);
    } else {
        MarkPresetEdited();
    }
}

QString ToolFilter::freshPresetName(const QString& name) const {
    QStringList taken;
    for (int i = 0; i < m_presetCombo->count(); ++i) taken << m_presetCombo->itemText(i);
    return uniquePresetName(name, taken);
}

void ToolFilter::MarkPresetEdited() {
    if (!m_presetCombo || m_presetCombo->isEditable()) return;
    QSignalBlocker block(m_presetCombo);
    const int index = m_presetCombo->currentIndex();
    m_presetCombo->setEditable(true);
    m_presetCombo->setInsertPolicy(QComboBox::NoInsert);
    m_saveButton->setEnabled(true);
    m_resetButton->setEnabled(true);
    m_deleteButton->setEnabled(false);
    if (isBuiltInPreset(index)) m_presetCombo->setEditText(freshPresetName(m_presetCombo->itemText(index)));
}

void ToolFilter::OnSavePresetClicked() {
    if (!m_presetCombo || !m_presetCombo->isEditable()) return;
    const QString name = m_presetCombo->currentText().trimmed();
    if (name.isEmpty()) return;
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))) {
        FilterMessages::warning(translated("PluginUI", "Warning"),
                                translated("PluginUI", "Preset name cannot contain slashes ('/' and '\\')."),
                                m_panel);
        return;
    }
    int index = -1;
    for (int i = 0; i < m_presetCombo->count(); ++i)
        if (i != firstUserPreset() - 1 && m_presetCombo->itemText(i) == name) index = i;
    if (index >= 0 && isBuiltInPreset(index)) {
        m_presetCombo->setEditText(freshPresetName(name));
        if (m_presetCombo->lineEdit()) m_presetCombo->lineEdit()->selectAll();
        return;
    }
    if (index >= 0 && !FilterMessages::question(translated("PluginUI", "Warning"),
                                                translated("PluginUI", "Overwrite this preset?"), m_panel))
        return;
    {
        QSignalBlocker block(m_presetCombo);
        if (index < 0) {
            m_presetCombo->addItem(name);
            index = m_presetCombo->count() - 1;
        }
    }
    StorePreset(index);
    m_currentPreset = index;
    leaveEditMode(index);
    m_presetCombo->setFocus();
}

void ToolFilter::OnDeletePresetClicked() {
    if (!m_presetCombo) return;
    const int index = m_presetCombo->isEditable() ? m_currentPreset : m_presetCombo->currentIndex();
    if (index < firstUserPreset() || index >= m_presetRecords.size()) return;
    if (!FilterMessages::question(translated("PluginUI", "Warning"),
                                  translated("PluginUI", "Delete this preset?"), m_panel))
        return;
    {
        QSignalBlocker block(m_presetCombo);
        m_presetCombo->removeItem(index);
    }
    RemovePreset(index);
    int next = std::min(index, int(m_presetRecords.size()) - 1);
    if (next == firstUserPreset() - 1) next = std::max(0, next - 1); // never the separator
    m_currentPreset = next;
    LoadPreset(m_currentPreset);
}

void ToolFilter::OnResetParamClicked() {
    LoadPreset(std::max(m_currentPreset, 0));
}

void ToolFilter::RestorePresetSelection() {
    if (!m_presetCombo) return;
    const SettingsGroupRO group(settingsStore(), settingsGroupPath());
    const int index = group.read(QStringLiteral("currentPreset"), 0);
    const QString name = group.read(QStringLiteral("currentPrName"), QString());
    const bool edited = group.read(QStringLiteral("currentEdited"), false);
    if (index >= 0 && index < m_presetCombo->count() && m_presetCombo->itemText(index) == name) {
        m_currentPreset = index;
        QSignalBlocker block(m_presetCombo);
        m_presetCombo->setCurrentIndex(index);
    }
    // The stored values decide the state when they still match a preset; the flag is what was seen.
    SelectMatchingPreset();
    if (edited && !m_presetCombo->isEditable()) {
        const bool match =
            m_current->matchesPreset(*m_presetRecords.value(m_currentPreset, m_presetRecords.front()));
        if (!match) MarkPresetEdited();
    }
    connectPresetControls();
}

void ToolFilter::connectPresetControls() {
    if (m_presetsConnected || !m_presetCombo) return;
    m_presetsConnected = true;
    connect(m_presetCombo, QOverload<int>::of(&QComboBox::activated), this, &ToolFilter::OnLoadPreset);
    connect(m_resetButton, &QAbstractButton::clicked, this, &ToolFilter::OnResetParamClicked);
    connect(m_deleteButton, &QAbstractButton::clicked, this, &ToolFilter::OnDeletePresetClicked);
    connect(m_saveButton, &QAbstractButton::clicked, this, &ToolFilter::OnSavePresetClicked);
}

void ToolFilter::StorePresetSelection() {
    if (!m_presetCombo) return;
    SettingsGroupRW group(settingsStore(), settingsGroupPath());
    group.setValue(QStringLiteral("currentPreset"), m_currentPreset);
    group.setValue(QStringLiteral("currentPrName"), presetName(m_currentPreset));
    group.setValue(QStringLiteral("currentEdited"), isPresetEdited());
    PresetList user;
    CollectUserPresets(user);
    writeUserPresets(group, user);
}

// ---- runs ----------------------------------------------------------------------------------------

void ToolFilter::setHaveResult(bool have) {
    if (!m_document) return;
    auto holder = makeRef<ResultFlagHolder>();
    holder->haveResult = have;
    holder->runMode = m_runMode;
    holder->filterKey = FilterKey();
    m_document->setTag(TagPath, QStringLiteral("haveResult"), holder);
}

bool ToolFilter::readHaveResult() {
    if (!m_document) return false;
    auto holder = m_document->findTag(TagPath, QStringLiteral("haveResult"));
    auto* flag = dynamic_cast<ResultFlagHolder*>(holder.get());
    if (!flag || flag->filterKey != FilterKey()) return false;
    m_runMode = flag->runMode;
    m_committedMode = flag->haveResult ? flag->runMode : int(Idle);
    return flag->haveResult;
}

bool ToolFilter::haveResult() const {
    return const_cast<ToolFilter*>(this)->readHaveResult();
}

bool ToolFilter::RequestRun(bool stop, bool preview) {
    if (stop) {
        CancelEval();
        m_committedMode = Idle;
        return false;
    }
    if (isEvalRunning()) return false;
    const bool have = readHaveResult();
    if (UsesLiveMode() && !preview) {
        if (m_runMode == NormalRun && ParamsUnchanged()) return true;
    } else if (have && ParamsUnchanged()) {
        return true;
    }
    RunWithMask(UsesLiveMode() ? (preview ? LiveRun : NormalRun) : NormalRun);
    return false;
}

void ToolFilter::RunWithMask(int mode) {
    // An explicit run takes the place of the coalesced one that a change may have scheduled.
    killDeferredTimer();
    m_runMode = mode;
    DoFillJobData(nullptr);
}

void ToolFilter::OnDefferedUpdate() {
    if (!m_active || !m_document || m_strokeInProgress || !m_autoRun) return;
    {
        std::lock_guard<std::mutex> lock(m_penMutex);
        if (!m_penQueue.empty()) return;
    }
    qWarning("OnDefferedUpdate");
    m_runMode = UsesLiveMode() ? LiveRun : NormalRun;
    DoFillJobData(nullptr);
}

void ToolFilter::post(const void* argument) {
    if (argument) {
        std::lock_guard<std::mutex> lock(m_penMutex);
        m_penQueue.push_back(*static_cast<const NodeInfo*>(argument));
    }
}

void ToolFilter::OnNewPoint(NodeInfo& node) {
    if (node.kind != NodeInfo::Press && node.kind != NodeInfo::Move && node.kind != NodeInfo::Release) return;
    // A move or release without a press (the press went to another tool) starts nothing.
    if (node.kind != NodeInfo::Press && !m_strokeInProgress) return;
    m_strokeInProgress = node.kind != NodeInfo::Release;
    DoFillJobData(&node);
}

void ToolFilter::DoFillJobData(const NodeInfo* node) {
    qCDebug(lcFilters, "DoFillJobData(%p)", static_cast<const void*>(node));
    if (m_runMode == Idle) {
        if (!node) m_jobFlags &= ~int(ImageRequested);
        return;
    }
    if (node) {
        callLocked(node); // queues the point under the job's mutex and wakes the thread
        if (!isEvalRunning()) SetEvalRunning(true);
        return;
    }
    if (m_inFill || isUpdatePending()) return;
    if (ParamsUnchanged() && m_committedMode == m_runMode) return; // the shown result is current
    m_inFill = true;
    SetEvalRunning(false); // stops a computation in flight; its end report arrives meanwhile
    if (m_document && !m_document->isBusy()) {
        m_jobFlags |= CommitResult;
        bool filled = false;
        if (!m_source) {
            m_source = m_document->layer()->clone();
            m_historyPlane = m_source;
            filled = true;
        }
        if (filled || m_sourceRevision != m_document->revision()) {
            if (!filled) m_source = m_document->layer()->clone();
            m_result = m_source->clone();
            m_sourceRevision = m_document->revision();
        }
        m_jobFlags |= ImageRequested;
        CommitParams();
        m_inFill = false;
        SetEvalRunning(true);
        return;
    }
    m_inFill = false;
}

bool ToolFilter::TakeJobs() {
    {
        std::lock_guard<std::mutex> lock(m_penMutex);
        if (!m_penQueue.empty()) {
            m_penWork.insert(m_penWork.end(), m_penQueue.begin(), m_penQueue.end());
            m_penQueue.clear();
            m_jobKind = PenJob;
            return true;
        }
    }
    if (m_strokeInProgress) return false;
    m_jobKind = ImageJob;
    return (m_jobFlags.load() & ImageRequested) != 0;
}

void ToolFilter::EvalJob() {
    qCDebug(lcFilters, "EvalJob()");
    if (m_jobKind == PenJob) {
        std::vector<NodeInfo> nodes;
        {
            std::lock_guard<std::mutex> lock(m_penMutex);
            nodes.swap(m_penWork);
        }
        EvalJobPen(nodes);
    } else if (m_jobKind == ImageJob) {
        EvalJobImage();
    }
}

void ToolFilter::EvalJobPen(const std::vector<NodeInfo>& nodes) {
    const int kind = editedMaskKind();
    // Tells the view what changed so far; before a stroke's end, so that the overlay is current
    // when the stroke display closes.
    auto flushDirty = [&] {
        if (m_stroke) {
            const auto dirty = m_stroke->takeDirty();
            if (!dirty.isEmpty()) m_penDirty |= QRect(dirty.left, dirty.top, dirty.width(), dirty.height());
        }
        if (m_penDirty.isEmpty()) return;
        const QRect dirty = m_penDirty;
        m_penDirty = QRect();
        emitToGUI(PenPainted, &dirty);
    };
    auto closeStroke = [&] {
        flushDirty();
        FinishStroke();
        m_stroke.reset();
        emitToGUI(PenStrokeFinished, nullptr);
    };
    for (const NodeInfo& node : nodes) {
        if (cancelFlag().load()) break;
        if (!std::isfinite(node.x) || !std::isfinite(node.y)) continue;
        switch (node.kind) {
        case NodeInfo::Press: {
            if (m_stroke) closeStroke();
            if (kind < 0 || !m_masks[kind]) break;
            auto target = m_masks[kind]->writableChannel(DataStorage::ChannelMask);
            if (!target || target->type() != DataStorage::TypeU8) break;
            emitToGUI(PenStrokeStarted, nullptr);
            m_stroke =
                std::make_unique<MaskStroke>(std::move(target), node.value, penSize() / 2.0, kind == DuoMask);
            m_stroke->stamp(node.x, node.y);
            break;
        }
        case NodeInfo::Move:
            if (m_stroke) m_stroke->stampSegment(m_previousNode.x, m_previousNode.y, node.x, node.y);
            break;
        case NodeInfo::Release:
            if (m_stroke) {
                m_stroke->stampSegment(m_previousNode.x, m_previousNode.y, node.x, node.y);
                m_stroke->stamp(node.x, node.y);
                closeStroke();
            }
            break;
        default:
            continue;
        }
        m_previousNode = node;
    }
    flushDirty();
}

void ToolFilter::OnPenEvent(int tag, const void* userData) {
    switch (tag) {
    case PenPainted:
        if (userData) emit maskPainted(*static_cast<const QRect*>(userData));
        break;
    case PenStrokeFinished: {
        // The job is done with this stroke: a run or a stop requested from now on is not held up
        // by it (the thread stays enabled for the next points, as after an image job).
        markEvalStopped();
        const QString stepName; // a stroke is one unnamed undoable step
        maskEdited(QRect(), &stepName);
        break;
    }
    default:
        break;
    }
}

int ToolFilter::editedMaskKind() const {
    if (m_maskEnabled[DuoMask]) return DuoMask;
    if (m_maskEnabled[Mask]) return Mask;
    return -1;
}

void ToolFilter::maskEdited(const QRect& imageRect, const QString* stepName) {
    const int kind = editedMaskKind();
    const bool step = stepName && m_document && !m_document->isStepOpen();
    if (step) m_document->beginStep(*stepName, 5);
    // The selection is a copy sharing the mask's tiles, so a later stroke does not change it.
    if (kind == Mask && m_document && m_masks[Mask] && m_masks[Mask]->size() == m_document->layer()->size())
        m_document->setSelection(m_masks[Mask]->channel(DataStorage::ChannelMask)->clone());
    OnMaskChanged();
    setHaveResult(false);
    if (step) m_document->commitStep(m_document->layer());
    emit maskPainted(imageRect);
}

// ---- tools ---------------------------------------------------------------------------------------

std::vector<int> ToolFilter::toolIds() const {
    return {HistoryBrushTool, HandTool, ZoomTool};
}

QString ToolFilter::ToolText(int id) const {
    switch (id) {
    case HistoryBrushTool:
        return QCoreApplication::translate("ToolFilter", "History Brush");
    case HandTool:
        return QCoreApplication::translate("ToolFilter", "Hand Tool");
    case ZoomTool:
        return QCoreApplication::translate("ToolFilter", "Zoom Tool");
    default:
        return {};
    }
}

QString ToolFilter::ToolStatusTip(int id) const {
    switch (id) {
    case HistoryBrushTool:
        return QCoreApplication::translate("ToolFilter", "HistoryBrush_HINT");
    case HandTool:
        return QCoreApplication::translate("ToolFilter", "HandTool_HINT");
    case ZoomTool:
        return QCoreApplication::translate("ToolFilter", "ZoomTool_HINT");
    default:
        return {};
    }
}

QString ToolFilter::ToolIcon(int id) const {
    switch (id) {
    case HistoryBrushTool:
        return QStringLiteral("tools/history_brush");
    case HandTool:
        return QStringLiteral("tools/hand");
    case ZoomTool:
        return QStringLiteral("tools/zoom");
    default:
        return {};
    }
}

bool ToolFilter::SelectTool(int id) {
    const auto ids = toolIds();
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) return false;
    const bool changed = id != m_currentTool;
    m_currentTool = id;
    if (changed) emit currentToolChanged(id);
    return true;
}

void ToolFilter::setPenSize(int size) {
    m_penSize = std::clamp(size, int(MinPenSize), int(MaxPenSize));
}

RunOutcome ToolFilter::Process(const PixelPlane& source, const MaskChannels& masks, PixelPlane& result) {
    if (!m_renderer) throw std::runtime_error("effect not available");
    RunContext context;
    context.cancelFlag = &cancelFlag();
    context.progress = m_runProgress.get();
    context.mode = m_runMode == LiveRun ? Filters::RunMode::Live : Filters::RunMode::Normal;
    return m_renderer->processAny(*m_lastRun, source, masks, result, context);
}

void ToolFilter::EvalJobImage() {
    qCDebug(lcFilters, "EvalJobImage()");
    if (!(m_jobFlags.load() & ImageRequested)) return;
    if (cancelFlag().load()) {
        emitToGUI(EventCancelled, nullptr);
        return;
    }
    emitToGUI(EventStarted, nullptr);
    if (cancelFlag().load()) {
        emitToGUI(EventCancelled, nullptr);
        return;
    }
    MaskChannels masks;
    const DataChannel** maskSlots[3] = {&masks.mask, &masks.duoMask, &masks.strokes};
    for (int k = 0; k < 3; ++k)
        if (m_maskEnabled[k] && m_masks[k])
            *maskSlots[k] = m_masks[k]->channel(DataStorage::ChannelMask).get();
    ErrorReport error;
    RunOutcome outcome = RunOutcome::Cancelled;
    bool failed = false;
    try {
        outcome = Process(*m_source, masks, *m_result);
    } catch (const std::bad_alloc&) {
        failed = true;
        error.text =
            translated("PluginUI", "Out of memory") +
            translated("PluginUI", "\nThe image is too large,\nOr decrease the value of 'History States'.");
    } catch (const std::length_error&) {
        failed = true;
        error.text =
            translated("PluginUI", "Out of memory") +
            translated("PluginUI", "\nThe image is too large,\nOr decrease the value of 'History States'.");
    } catch (const std::exception& e) {
        failed = true;
        qCWarning(lcFilters) << FilterKey() << "run failed:" << e.what();
        error.text = translated("PluginUI", "Unknown exception");
    } catch (...) {
        failed = true;
        error.text = translated("PluginUI", "Unknown exception");
    }
    if (failed) {
        error.title = translated("PluginUI", "Error");
        // The next run recomputes whatever the failed one left behind.
        m_lastRun->setMaskRevision(m_lastRun->maskRevision() - 1);
        emitToGUI(EventError, &error);
        emitToGUI(EventCancelled, nullptr);
        return;
    }
    const bool done = outcome == RunOutcome::Done && !cancelFlag().load();
    emitToGUI(done ? EventFinished : EventCancelled, nullptr);
}

void ToolFilter::SignalFromWorkThread(int tag, const void* userData) {
    if (m_jobKind == PenJob) {
        OnPenEvent(tag, userData);
        return;
    }
    switch (tag) {
    case EventStarted:
        if (m_runMode == NormalRun) enablePanel(false);
        if (m_document) m_document->beginStep(QString(), m_runMode == NormalRun ? 9 : 5);
        break;
    case EventFinished:
    case EventCancelled: {
        if (m_active) enablePanel(true);
        if (m_jobFlags.load() & CommitResult) {
            m_jobFlags &= ~int(ImageRequested);
            if (tag == EventCancelled) {
                if (m_document) m_document->rollbackStep();
                m_committedMode = Idle;
            } else {
                ApplyResult();
                m_committedMode = m_runMode;
            }
            m_jobFlags &= ~int(CommitResult);
        }
        markEvalStopped();
        emit CalcFinished(tag == EventFinished);
        break;
    }
    case EventError: {
        const auto* report = static_cast<const ErrorReport*>(userData);
        if (report) FilterMessages::critical(report->title, report->text, m_panel);
        break;
    }
    default:
        break;
    }
}

void ToolFilter::ClearState(bool clearMasks) {
    if (!m_document) return;
    m_document->beginStep(QStringLiteral("Clear state"), 5);
    m_source = m_document->layer()->clone();
    m_result = m_source->clone();
    m_sourceRevision = m_document->revision();
    if (clearMasks) {
        for (int k = 0; k < 3; ++k)
            if (m_maskEnabled[k] && m_masks[k])
                m_masks[k] = makeRef<PixelPlane>(DataStorage::MaskSingle, int32_t(DataStorage::TypeU8),
                                                 m_masks[k]->size());
        // The selection follows the cleared mask; the step brings both back on undo.
        if (editedMaskKind() == Mask && m_masks[Mask])
            m_document->setSelection(m_masks[Mask]->channel(DataStorage::ChannelMask)->clone());
        OnMaskChanged();
        emit maskPainted(QRect());
    }
    StoreParamsToDocument();
    setHaveResult(false);
    m_document->commitStep(m_result->clone());
}

void ToolFilter::ApplyResult() {
    if (!m_document || !m_result) return;
    if (m_document->commitStep(m_result->clone())) {
        StoreParamsToDocument();
        setHaveResult(true);
    }
    if (m_commitButton) m_commitButton->click();
}

// ---- masks ---------------------------------------------------------------------------------------

void ToolFilter::setMaskChannel(MaskKind kind, Ref<DataChannel> channel) {
    if (!channel) {
        m_masks[kind] = {};
    } else {
        auto plane = makeRef<PixelPlane>(0u, int32_t(DataStorage::TypeU8), channel->size());
        plane->setChannel(DataStorage::ChannelMask, channel);
        m_masks[kind] = plane;
    }
    OnMaskChanged();
}

bool ToolFilter::IsMaskEmpty() const {
    for (MaskKind k : {Mask, DuoMask})
        if (m_maskEnabled[k] && m_masks[k] &&
            !maskBounds(m_masks[k]->channel(DataStorage::ChannelMask).get()).isEmpty())
            return false;
    return true;
}

void ToolFilter::OnMaskChanged() {
    m_current->setMaskRevision(m_current->maskRevision() + 1);
    StoreParamsToDocument();
    ScheduleUpdate();
}

} // namespace Orvex::Document::Filters
