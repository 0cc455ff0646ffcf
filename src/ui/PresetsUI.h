#pragma once
#include "document/filters/PresetFile.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;

namespace Orvex::Document::Filters {
class ToolFilter;
}

namespace Orvex::UI {

// The import (mode 1) and export (mode 0) dialog of preset files: the effect, its presets each with
// a check box, "Select all" with a partial state, and for import the merge choices.
class PresetsUI : public QDialog {
    Q_OBJECT
public:
    enum Mode { Export = 0, Import = 1 };
    PresetsUI(int mode, QWidget* parent = nullptr);

    int mode() const { return m_mode; }
    // The effect (its short name, "Unknown" when the id is not known) and the presets listed.
    void setPresets(int effectId, const Document::Filters::PresetList& presets);
    Document::Filters::PresetList checkedPresets() const;
    bool deleteAllBeforeImport() const;
    Document::Filters::NameClash nameClash() const;

    QListWidget* presetList() const { return m_list; }
    QCheckBox* selectAll() const { return m_ckGlobal; }
    QCheckBox* deleteAll() const { return m_ckDeleteAll; }
    QRadioButton* renameAndAdd() const { return m_rbRename; }
    QRadioButton* replace() const { return m_rbReplace; }
    QPushButton* okButton() const { return m_btnOk; }

public slots:
    void fillPresetList();
    void syncCheckBox();
    void on_btnOk_clicked();
    void on_presetList_itemChanged(QListWidgetItem* item);
    void on_ckGlobal_clicked();

private:
    void retranslate();

    int m_mode;
    int m_effectId = -1;
    Document::Filters::PresetList m_presets;
    QLabel* m_effectLabel;
    QLabel* m_effectName;
    QLabel* m_listLabel;
    QListWidget* m_list;
    QCheckBox* m_ckGlobal;
    QCheckBox* m_ckDeleteAll;
    QLabel* m_clashLabel;
    QRadioButton* m_rbRename;
    QRadioButton* m_rbReplace;
    QPushButton* m_btnOk;
    QPushButton* m_btnCancel;
};

// Import and export of preset files for the effect window. The file and dialog choices come in
// through `PresetExchange::Choices` so that the same code serves the window and the tests.
class PresetExchange {
public:
    // Files larger than this are refused before reading (a preset file is a few kilobytes).
    static constexpr qint64 MaxFileBytes = 16 << 20;

    struct ImportChoices {
        QStringList names; // the presets to import (empty with allPresets: every one)
        bool allPresets = true;
        bool deleteAllBeforeImport = false;
        Document::Filters::NameClash clash = Document::Filters::NameClash::RenameAndAdd;
    };

    // Reads a preset file. False with the message the user sees ("Cannot read file ...", "Parse
    // error in file ...") when it cannot be used; nothing is changed then.
    static bool readFile(const QString& path, Document::Filters::PresetList& presets, int& effectId,
                         QString* message);
    // Merges the chosen presets of the file into the user presets of its effect: the live effect
    // when it is `current`, else the effect's settings group. False with a message on failure.
    static bool importFile(const QString& path, Document::Filters::ToolFilter* current,
                           const ImportChoices& choices, QString* message);
    // Writes the presets atomically (the previous file stays whole when writing fails).
    static bool exportFile(const QString& path, int effectId, const Document::Filters::PresetList& presets,
                           QString* message);

    // The window's entry points: file dialogs, the PresetsUI dialog and message boxes.
    static void my_btnLoadPreset_clicked(Document::Filters::ToolFilter* current, QWidget* parent);
    static void my_btnSavePreset_clicked(Document::Filters::ToolFilter* current, QWidget* parent);

    // presetsFilePath in the application's settings group.
    static QString lastPresetsFilePath();
    static void setLastPresetsFilePath(const QString& path);
};

} // namespace Orvex::UI
