#ifdef ELEMORAMA_GALLERY_WITH_UI
#include "GalleryUi.h"

#include "document/ProgressData.h"
#include "document/framework/Effects.h"
#include "document/framework/FilterDocument.h"
#include "settings/Settings.h"
#include "ui/EvalProgressBar.h"
#include "ui/OptionsUI.h"
#include "ui/PresetsUI.h"

#include <QHBoxLayout>
#include <QLayout>
#include <QListWidget>
#include <QVBoxLayout>

using Orvex::Document::ProgressData;
using Orvex::UI::EvalProgressBar;
using Orvex::UI::OptionsContext;
using Orvex::UI::OptionsUI;

namespace {

// Every effect's panel as the window shows it, light and dark, and the presets dialog.
void addEffectPages(QWidget& window, std::vector<Shot>& shots) {
    using namespace Orvex::Document::Filters;
    static Orvex::SettingsMap effectStore;
    ToolFilter::setSettingsRoot(&effectStore, QStringLiteral("Filters/OXF/Elemorama"));
    auto* strip = new QWidget(&window, Qt::Window);
    auto* row = new QHBoxLayout(strip);
    for (const EffectInfo& info : EffectRegistry::all()) {
        for (const bool dark : {false, true}) {
            ToolFilter* filter = createFilter(info.id, 8, strip);
            if (!filter) break;
            QWidget* panel = filter->CreateParamsWidget();
            filter->Activate(); // fills the presets, shows the stored (default) values
            panel->setParent(strip);
            panel->setAutoFillBackground(true);
            if (dark) panel->setPalette(darkPalette());
            panel->setFixedWidth(240);
            panel->adjustSize();
            row->addWidget(panel, 0, Qt::AlignTop);
            shots.push_back({QStringLiteral("effect_%1%2")
                                 .arg(QString::fromLatin1(info.shortName).toLower(),
                                      dark ? QStringLiteral("_dark") : QString()),
                             panel});
        }
    }
    strip->show();

    PresetList presets;
    for (const char* name : {"Evening drizzle", "Storm \"Kyrill\"", "Regen über Zürich", "Snow flurries"})
        presets.push_back(PresetRecord{QString::fromUtf8(name), QStringLiteral("1.1"), {}});
    for (const bool dark : {false, true}) {
        auto* dialog = new Orvex::UI::PresetsUI(Orvex::UI::PresetsUI::Import, &window);
        dialog->setPresets(EffectId::Rain, presets);
        dialog->presetList()->item(2)->setCheckState(Qt::Unchecked);
        if (dark) dialog->setPalette(darkPalette());
        dialog->setModal(false);
        dialog->show();
        shots.push_back(
            {dark ? QStringLiteral("presets_import_dark") : QStringLiteral("presets_import"), dialog});
    }
    auto* exportDialog = new Orvex::UI::PresetsUI(Orvex::UI::PresetsUI::Export, &window);
    exportDialog->setPresets(EffectId::Rain, presets);
    exportDialog->setModal(false);
    exportDialog->show();
    shots.push_back({QStringLiteral("presets_export"), exportDialog});
}

} // namespace

void addUiPages(QWidget& window, std::vector<Shot>& shots) {
    // Records and stores that live as long as the program.
    static Orvex::SettingsMap store;
    static ProgressData running, busy;
    running.setTotal(100);
    running.step(62);
    busy.setIndeterminate(true);

    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    auto* cancelBar = new EvalProgressBar(&running, EvalProgressBar::CancelMode);
    auto* stopBar = new EvalProgressBar(&busy, EvalProgressBar::CommitMode);
    layout->addWidget(cancelBar);
    layout->addWidget(stopBar);
    layout->addStretch(1);
    column->setFixedWidth(360);
    window.layout()->addWidget(column);
    shots.push_back({"progress_cancel", cancelBar});
    shots.push_back({"progress_busy_stop", stopBar});

    OptionsContext context{Orvex::SettingsGroupRW(&store, QStringLiteral("Filters/OXF/Elemorama"))};
    context.currentLanguage = QStringLiteral("en");
    auto* dialog = new OptionsUI(context, &window);
    dialog->setModal(false);
    dialog->show();
    shots.push_back({"options_dialog", dialog});

    store.setValue(QStringLiteral("Filters/OXF/Elemorama/SelectionMode"), true);
    store.setValue(QStringLiteral("Filters/OXF/Elemorama/SelectionColor"), int(0x9926A0DAu));
    auto* filled = new OptionsUI(context, &window);
    filled->setModal(false);
    filled->setRecentFilesVisible(true);
    filled->show();
    shots.push_back({"options_dialog_filled", filled});

    addEffectPages(window, shots);
}
#endif
