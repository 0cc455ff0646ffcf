#pragma once
#include "settings/SettingsGroup.h"

#include <QDialog>

#include <functional>

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QCheckBox;

namespace Orvex::GUI {
class ColorButton;
class Param;
} // namespace Orvex::GUI

namespace Orvex::UI {

// What the Preferences dialog needs of the application: where the settings live, the language
// state and how to switch it, and the interface's current scale and theme (the defaults of UIScale
// and Style). The effect window fills it from the application object; tests fill it by hand.
struct OptionsContext {
    explicit OptionsContext(const SettingsGroupRW& group) : settings(group) {}

    // The application's settings group (below the run's prefix during a run), its language state
    // and its style. Without an application object: an in-memory store and no language switch.
    static OptionsContext fromApplication();

    SettingsGroupRW settings;
    QString currentLanguage = QStringLiteral("en");
    QString supportedLanguages = QStringLiteral("en de fr es ru it pt jp");
    double currentScale = 1.0;
    QString currentStyle;                               // empty: the default theme
    std::function<void(const QString&)> switchLanguage; // stores the language itself (LangNo)
};

// The modal Preferences dialog. It loads every control from the settings when built; OK switches
// the language and writes the settings; Cancel writes nothing; Default resets the controls (not the
// language) without writing.
class OptionsUI : public QDialog {
    Q_OBJECT
public:
    // Default values of the keys the dialog edits.
    static constexpr bool kDefaultInitialFit = true;
    static constexpr int kDefaultUndoCount = 25;
    static constexpr bool kDefaultSelectionMode = false;
    static constexpr quint32 kDefaultSelectionColor = 0x66FF0000u;
    static constexpr int kDefaultOpacity = 40;
    static constexpr bool kDefaultLockPanel = true;
    static QString defaultShowHints() { return QStringLiteral("right"); }

    // Over the application object (OptionsContext::fromApplication()).
    explicit OptionsUI(QWidget* parent = nullptr);
    explicit OptionsUI(const OptionsContext& context, QWidget* parent = nullptr);
    ~OptionsUI() override;

    // The selection colour as the controls give it: the button's colour with the opacity's alpha.
    quint32 selectionColor() const;

    // The "Recent Files" group belongs to hosts with a file history; hidden unless asked for.
    void setRecentFilesVisible(bool visible);

    // The controls, for the window's tests and the gallery.
    QComboBox* languageCombo() const { return m_language; }
    QComboBox* scaleCombo() const { return m_scale; }
    QComboBox* themeCombo() const { return m_theme; }
    QRadioButton* fitToViewButton() const { return m_fit; }
    QRadioButton* actualSizeButton() const { return m_actualSize; }
    QSpinBox* historySpin() const { return m_undo; }
    QSpinBox* recentFilesSpin() const { return m_recent; }
    QRadioButton* marchingAntsButton() const { return m_ants; }
    QRadioButton* filledButton() const { return m_filled; }
    GUI::ColorButton* colorButton() const { return m_color; }
    GUI::Param* opacityControl() const { return m_opacity; }
    QComboBox* hintsCombo() const { return m_hints; }
    QCheckBox* lockCheck() const { return m_lock; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* defaultButton() const { return m_reset; }

public slots:
    void on_opColor_toggled(bool filled);
    void on_btnOk_clicked();
    void on_btnCancel_clicked();
    void on_btnReset_clicked();

protected:
    void changeEvent(QEvent* event) override;

private:
    void buildForm();
    void retranslate();
    void load();
    void selectScale(double scale);
    void selectTheme(const QString& style);
    void setSelectionControls(bool filled, quint32 argb);

    OptionsContext m_context;
    QLabel* m_languageLabel;
    QComboBox* m_language;
    QLabel* m_scaleLabel;
    QComboBox* m_scale;
    QLabel* m_themeLabel;
    QComboBox* m_theme;
    QLabel* m_initialLabel;
    QRadioButton* m_fit;
    QRadioButton* m_actualSize;
    QGroupBox* m_recentGroup;
    QSpinBox* m_recent;
    QLabel* m_undoLabel;
    QSpinBox* m_undo;
    QGroupBox* m_selectionGroup;
    QRadioButton* m_ants;
    QRadioButton* m_filled;
    GUI::ColorButton* m_color;
    GUI::Param* m_opacity;
    QLabel* m_hintsLabel;
    QComboBox* m_hints;
    QCheckBox* m_lock;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    QPushButton* m_reset;
};

} // namespace Orvex::UI
