#include "ui/OptionsUI.h"

#include "app/OrvexApplication.h"
#include "settings/Settings.h"

#include "gui/ColorButton.h"
#include "gui/InterfaceChoices.h"
#include "gui/Param.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Orvex::UI {

namespace {

// Texts of the dialog live in the translation context "OptionsUIClass".
QString optionsText(const char* text) {
    return QCoreApplication::translate("OptionsUIClass", text);
}

const char* const kUndoCount = "undoCount";
const char* const kInitialFit = "InitialFit";
const char* const kSelectionMode = "SelectionMode";
const char* const kSelectionColor = "SelectionColor";
const char* const kShowHints = "showHints";
const char* const kLockPanel = "Topbar/LockPanel";
const char* const kStyle = "Style";
const char* const kScale = "UIScale";
const char* const kRecentFiles = "RecentFilesCount";

constexpr int kUndoMin = 5, kUndoMax = 100, kUndoStep = 5;
constexpr int kOpacityMin = 10, kOpacityMax = 90;
constexpr int kDefaultRecentFiles = 10;

// An ARGB colour stored as a signed int (what QSettings keeps for setValue(int)) or, by other
// writers, as its unsigned value; anything else reads as the default.
quint32 readArgb(const SettingsGroupRO& group, const QString& key, quint32 fallback) {
    const qint64 missing = std::numeric_limits<qint64>::min();
    const qint64 v = group.read(key, missing);
    if (v == missing || v < std::numeric_limits<qint32>::min() ||
        v > qint64(std::numeric_limits<quint32>::max()))
        return fallback;
    return quint32(v);
}

int opacityFromAlpha(int alpha) {
    return std::clamp(qRound(alpha * 100.0 / 255.0), kOpacityMin, kOpacityMax);
}

} // namespace

OptionsContext OptionsContext::fromApplication() {
    OrvexApplication* app = OrvexApplication::instance();
    if (!app) {
        static SettingsMap standIn;
        return OptionsContext(SettingsGroupRW(&standIn, QString()));
    }
    OptionsContext context(app->settingsGroup());
    context.currentLanguage = app->currentLanguage();
    context.supportedLanguages = app->supportedLanguages();
    context.currentScale = app->styleScale();
    if (QStyle* style = QApplication::style()) context.currentStyle = style->objectName();
    context.switchLanguage = [app](const QString& code) { app->switchLanguage(code); };
    return context;
}

OptionsUI::OptionsUI(QWidget* parent) : OptionsUI(OptionsContext::fromApplication(), parent) {}

OptionsUI::OptionsUI(const OptionsContext& context, QWidget* parent) : QDialog(parent), m_context(context) {
    setObjectName(QStringLiteral("OptionsUIClass"));
    setModal(true);
    buildForm();
    retranslate();
    load();
    QMetaObject::connectSlotsByName(this);
}

OptionsUI::~OptionsUI() = default;

void OptionsUI::buildForm() {
    auto* column = new QVBoxLayout(this);
    column->setSpacing(10);
    column->setContentsMargins(14, 14, 14, 12);

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setHorizontalSpacing(12);
    form->setVerticalSpacing(8);
    m_language = new QComboBox(this);
    m_language->setObjectName(QStringLiteral("cbLanguage"));
    for (const GUI::InterfaceChoice& c : GUI::interfaceLanguages(m_context.supportedLanguages))
        m_language->addItem(c.text, c.data);
    m_languageLabel = new QLabel(this);
    form->addRow(m_languageLabel, m_language);

    m_scale = new QComboBox(this);
    m_scale->setObjectName(QStringLiteral("cbScale"));
    for (const GUI::InterfaceChoice& c : GUI::interfaceScales()) m_scale->addItem(c.text, c.data);
    m_scaleLabel = new QLabel(this);
    form->addRow(m_scaleLabel, m_scale);

    m_theme = new QComboBox(this);
    m_theme->setObjectName(QStringLiteral("cbTheme"));
    for (const GUI::InterfaceChoice& c : GUI::interfaceThemes()) m_theme->addItem(c.text, c.data);
    m_themeLabel = new QLabel(this);
    form->addRow(m_themeLabel, m_theme);

    auto* initialRow = new QHBoxLayout;
    m_fit = new QRadioButton(this);
    m_fit->setObjectName(QStringLiteral("opFit"));
    m_actualSize = new QRadioButton(this);
    m_actualSize->setObjectName(QStringLiteral("opOneToOne"));
    auto* initialGroup = new QButtonGroup(this);
    initialGroup->addButton(m_fit);
    initialGroup->addButton(m_actualSize);
    initialRow->addWidget(m_fit);
    initialRow->addWidget(m_actualSize);
    initialRow->addStretch(1);
    m_initialLabel = new QLabel(this);
    form->addRow(m_initialLabel, initialRow);

    m_undo = new QSpinBox(this);
    m_undo->setObjectName(QStringLiteral("sbUndoCount"));
    m_undo->setRange(kUndoMin, kUndoMax);
    m_undo->setSingleStep(kUndoStep);
    m_undo->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_undo->setMinimumWidth(80);
    m_undoLabel = new QLabel(this);
    form->addRow(m_undoLabel, m_undo);

    m_hints = new QComboBox(this);
    m_hints->setObjectName(QStringLiteral("cbHints"));
    m_hints->addItem(QString(), QStringLiteral("right"));
    m_hints->addItem(QString(), QStringLiteral("left"));
    m_hints->addItem(QString(), QStringLiteral("hide"));
    m_hintsLabel = new QLabel(this);
    form->addRow(m_hintsLabel, m_hints);
    column->addLayout(form);

    m_selectionGroup = new QGroupBox(this);
    m_selectionGroup->setObjectName(QStringLiteral("gbSelection"));
    auto* selection = new QVBoxLayout(m_selectionGroup);
    selection->setSpacing(6);
    m_ants = new QRadioButton(m_selectionGroup);
    m_ants->setObjectName(QStringLiteral("opAnts"));
    m_filled = new QRadioButton(m_selectionGroup);
    m_filled->setObjectName(QStringLiteral("opColor"));
    auto* modeGroup = new QButtonGroup(this);
    modeGroup->addButton(m_ants);
    modeGroup->addButton(m_filled);
    m_color = new GUI::ColorButton(m_selectionGroup);
    m_color->setObjectName(QStringLiteral("btnColor"));
    auto* filledRow = new QHBoxLayout;
    filledRow->addWidget(m_filled);
    filledRow->addWidget(m_color);
    filledRow->addStretch(1);
    selection->addWidget(m_ants);
    selection->addLayout(filledRow);
    m_opacity = new GUI::Param(m_selectionGroup);
    m_opacity->setObjectName(QStringLiteral("slOpacity"));
    m_opacity->setRange(kOpacityMin, kOpacityMax);
    m_opacity->setSuffix(QStringLiteral("%"));
    selection->addWidget(m_opacity);
    column->addWidget(m_selectionGroup);

    m_recentGroup = new QGroupBox(this);
    m_recentGroup->setObjectName(QStringLiteral("gbRecentFiles"));
    auto* recent = new QHBoxLayout(m_recentGroup);
    m_recent = new QSpinBox(m_recentGroup);
    m_recent->setObjectName(QStringLiteral("sbRecentFiles"));
    m_recent->setRange(0, 30);
    recent->addWidget(m_recent);
    recent->addStretch(1);
    m_recentGroup->hide();
    column->addWidget(m_recentGroup);

    m_lock = new QCheckBox(this);
    m_lock->setObjectName(QStringLiteral("chkLockPanel"));
    column->addWidget(m_lock);
    column->addStretch(1);

    auto* buttons = new QHBoxLayout;
    m_reset = new QPushButton(this);
    m_reset->setObjectName(QStringLiteral("btnReset"));
    m_reset->setAutoDefault(false);
    m_ok = new QPushButton(this);
    m_ok->setObjectName(QStringLiteral("btnOk"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(this);
    m_cancel->setObjectName(QStringLiteral("btnCancel"));
    m_cancel->setAutoDefault(false);
    buttons->addWidget(m_reset);
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    column->addLayout(buttons);
}

void OptionsUI::retranslate() {
    setWindowTitle(optionsText("Preferences"));
    m_languageLabel->setText(optionsText("Language"));
    m_scaleLabel->setText(optionsText("Interface Scale"));
    m_themeLabel->setText(optionsText("Interface Theme"));
    m_initialLabel->setText(optionsText("Initial Scale:"));
    m_fit->setText(optionsText("Fit to view"));
    m_actualSize->setText(optionsText("100%"));
    m_recentGroup->setTitle(optionsText("Recent Files"));
    m_undoLabel->setText(optionsText("History States"));
    m_selectionGroup->setTitle(optionsText("Selection Mode"));
    m_ants->setText(optionsText("\"Marching ants\""));
    m_filled->setText(optionsText("Filled with color"));
    m_opacity->setText(optionsText("Opacity"));
    m_hintsLabel->setText(optionsText("Hints Panel"));
    m_hints->setItemText(0, optionsText("Under Settings Panel"));
    m_hints->setItemText(1, optionsText("Under Image Window"));
    m_hints->setItemText(2, optionsText("Hide"));
    m_lock->setText(optionsText("Lock the Control Panel"));
    m_ok->setText(optionsText("OK"));
    m_cancel->setText(optionsText("Cancel"));
    m_reset->setText(optionsText("Default"));
}

void OptionsUI::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) retranslate();
    QDialog::changeEvent(event);
}

void OptionsUI::selectScale(double scale) {
    // The item nearest to the stored factor; the first one when nothing sensible is stored.
    int best = 0;
    double bestDistance = std::numeric_limits<double>::infinity();
    if (std::isfinite(scale))
        for (int i = 0; i < m_scale->count(); ++i) {
            const double distance = std::abs(m_scale->itemData(i).toDouble() - scale);
            if (distance < bestDistance) {
                bestDistance = distance;
                best = i;
            }
        }
    m_scale->setCurrentIndex(best);
}

void OptionsUI::selectTheme(const QString& style) {
    for (const QString& wanted : {style, GUI::defaultInterfaceTheme()})
        for (int i = 0; i < m_theme->count(); ++i)
            if (m_theme->itemData(i).toString().compare(wanted, Qt::CaseInsensitive) == 0) {
                m_theme->setCurrentIndex(i);
                return;
            }
    m_theme->setCurrentIndex(0);
}

void OptionsUI::setSelectionControls(bool filled, quint32 argb) {
    (filled ? m_filled : m_ants)->setChecked(true);
    m_color->setColor(QColor::fromRgb(QRgb(argb | 0xFF000000u)));
    m_opacity->setValue(opacityFromAlpha(int(argb >> 24)));
    on_opColor_toggled(filled);
}

void OptionsUI::load() {
    const SettingsGroupRW& s = m_context.settings;
    const int language = m_language->findData(m_context.currentLanguage.toLower());
    m_language->setCurrentIndex(std::max(language, 0));
    selectScale(s.read(QString::fromLatin1(kScale), m_context.currentScale));
    const QString style =
        m_context.currentStyle.isEmpty() ? GUI::defaultInterfaceTheme() : m_context.currentStyle;
    selectTheme(s.read(QString::fromLatin1(kStyle), style));
    (s.read(QString::fromLatin1(kInitialFit), kDefaultInitialFit) ? m_fit : m_actualSize)->setChecked(true);
    m_undo->setValue(
        std::clamp(s.read(QString::fromLatin1(kUndoCount), kDefaultUndoCount), kUndoMin, kUndoMax));
    setSelectionControls(s.read(QString::fromLatin1(kSelectionMode), kDefaultSelectionMode),
                         readArgb(s, QString::fromLatin1(kSelectionColor), kDefaultSelectionColor));
    const int hints = m_hints->findData(s.read(QString::fromLatin1(kShowHints), defaultShowHints()));
    m_hints->setCurrentIndex(std::max(hints, 0));
    m_lock->setChecked(s.read(QString::fromLatin1(kLockPanel), kDefaultLockPanel));
    m_recent->setValue(std::clamp(s.read(QString::fromLatin1(kRecentFiles), kDefaultRecentFiles), 0, 30));
}

quint32 OptionsUI::selectionColor() const {
    QColor color = m_color->color();
    color.setAlphaF(m_opacity->value() / 100.0);
    return color.rgba();
}

void OptionsUI::setRecentFilesVisible(bool visible) {
    m_recentGroup->setVisible(visible);
}

void OptionsUI::on_opColor_toggled(bool filled) {
    m_color->setEnabled(filled);
    m_opacity->setEnabled(filled);
}

void OptionsUI::on_btnOk_clicked() {
    const QString language = m_language->currentData().toString();
    if (m_context.switchLanguage && !language.isEmpty()) m_context.switchLanguage(language);
    SettingsGroupRW& s = m_context.settings;
    s.setValue(QString::fromLatin1(kStyle), m_theme->currentData().toString());
    s.setValue(QString::fromLatin1(kScale), m_scale->currentData().toDouble());
    s.setValue(QString::fromLatin1(kInitialFit), m_fit->isChecked());
    s.setValue(QString::fromLatin1(kSelectionMode), m_filled->isChecked());
    s.setValue(QString::fromLatin1(kSelectionColor), int(selectionColor()));
    s.setValue(QString::fromLatin1(kShowHints), m_hints->currentData().toString());
    s.setValue(QString::fromLatin1(kUndoCount), m_undo->value());
    s.setValue(QString::fromLatin1(kLockPanel), m_lock->isChecked());
    if (!m_recentGroup->isHidden()) s.setValue(QString::fromLatin1(kRecentFiles), m_recent->value());
    accept();
}

void OptionsUI::on_btnCancel_clicked() {
    reject();
}

void OptionsUI::on_btnReset_clicked() {
    selectTheme(GUI::defaultInterfaceTheme());
    m_scale->setCurrentIndex(0);
    (kDefaultInitialFit ? m_fit : m_actualSize)->setChecked(true);
    m_undo->setValue(kDefaultUndoCount);
    setSelectionControls(kDefaultSelectionMode, kDefaultSelectionColor);
    m_opacity->setValue(kDefaultOpacity);
    m_hints->setCurrentIndex(std::max(m_hints->findData(defaultShowHints()), 0));
    m_lock->setChecked(kDefaultLockPanel);
    m_recent->setValue(kDefaultRecentFiles);
}

} // namespace Orvex::UI
