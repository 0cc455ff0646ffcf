#ifdef ELEMORAMA_GALLERY_WITH_UI
#include "GalleryUi.h"

#include "document/ProgressData.h"
#include "settings/Settings.h"
#include "ui/EvalProgressBar.h"
#include "ui/OptionsUI.h"

#include <QLayout>
#include <QVBoxLayout>

using Orvex::Document::ProgressData;
using Orvex::UI::EvalProgressBar;
using Orvex::UI::OptionsContext;
using Orvex::UI::OptionsUI;

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
}
#endif
