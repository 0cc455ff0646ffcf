#include "ui/ActionSet.h"

#include "app/Locations.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QUrl>
#include <QWidget>

namespace Orvex::UI {

namespace {
const char* const TutorialsPage = "https://elemorama.example/tutorials/%1/";
constexpr int MenuCount = 4;
} // namespace

ElemoramaActionSet::ElemoramaActionSet(QWidget* window) : QObject(window) {
    auto make = [&](QAction*& action, const char* name, const QKeySequence& keys) {
        action = new QAction(window);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        window->addAction(action);
    };
    make(newImage, "actionNew", QKeySequence::New);
    make(open, "actionOpen", QKeySequence::Open);
    make(save, "actionSave", QKeySequence::Save);
    make(print, "actionPrint", QKeySequence::Print);
    newImage->setEnabled(false);
    open->setEnabled(false);
    make(apply, "actionApply", QKeySequence(Qt::CTRL | Qt::Key_Return));
    make(run, "actionRun", QKeySequence(Qt::CTRL | Qt::Key_R));
    make(preferences, "actionPreferences", QKeySequence::Preferences);
    make(cancel, "actionCancel", QKeySequence(Qt::Key_Escape));
    make(undo, "actionUndo", QKeySequence::Undo);
    make(redo, "actionRedo", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    make(help, "actionHelp", QKeySequence::HelpContents);
    make(homePage, "actionHomePage", QKeySequence());
    // Desktops without a preferences key get the usual one.
    if (preferences->shortcut().isEmpty()) preferences->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    retranslate();
}

QMenuBar* ElemoramaActionSet::createMenuBar(QWidget* parent) {
    m_bar = new QMenuBar(parent);
    m_bar->setObjectName(QStringLiteral("menuBar"));
    for (int i = 0; i < MenuCount; ++i) m_bar->addMenu(new QMenu(m_bar));
    const auto menus = m_bar->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly);
    menus[0]->addActions({newImage, open});
    menus[0]->addSeparator();
    menus[0]->addActions({save, print});
    menus[1]->addActions({run, apply});
    menus[1]->addSeparator();
    menus[1]->addAction(cancel);
    menus[2]->addActions({undo, redo});
    menus[2]->addSeparator();
    menus[2]->addAction(preferences);
    menus[3]->addActions({help, homePage});
    retranslate();
    return m_bar;
}

void ElemoramaActionSet::retranslate() {
    newImage->setText(QCoreApplication::translate("ElemoramaActionSet", "&New..."));
    open->setText(QCoreApplication::translate("ElemoramaActionSet", "&Open..."));
    save->setText(QCoreApplication::translate("ElemoramaActionSet", "&Save..."));
    print->setText(QCoreApplication::translate("ElemoramaActionSet", "&Print..."));
    // Tooltips name what an action does; status tips (shown in the hints panel) explain it.
    auto tips = [](QAction* action, const char* tip, const char* hint) {
        action->setToolTip(QCoreApplication::translate("CommonText", tip));
        action->setStatusTip(QCoreApplication::translate("CommonText", hint));
    };
    tips(open, QT_TRANSLATE_NOOP("CommonText", "Load image from file"), QT_TRANSLATE_NOOP("CommonText", "LoadImage_HINT"));
    tips(save, QT_TRANSLATE_NOOP("CommonText", "Save result image into file"), QT_TRANSLATE_NOOP("CommonText", "SaveImage_HINT"));
    tips(print, QT_TRANSLATE_NOOP("CommonText", "Print result image on printer"), QT_TRANSLATE_NOOP("CommonText", "Print_HINT"));
    tips(apply, QT_TRANSLATE_NOOP("CommonText", "Apply the result to the image"), QT_TRANSLATE_NOOP("CommonText", "Apply_HINT"));
    tips(run, QT_TRANSLATE_NOOP("CommonText", "Run"), QT_TRANSLATE_NOOP("CommonText", "Run_HINT"));
    tips(cancel, QT_TRANSLATE_NOOP("CommonText", "Cancel the result"), QT_TRANSLATE_NOOP("CommonText", "Cancel_HINT"));
    tips(undo, QT_TRANSLATE_NOOP("CommonText", "Undo"), QT_TRANSLATE_NOOP("CommonText", "BTN_UNDO_HINT"));
    tips(redo, QT_TRANSLATE_NOOP("CommonText", "Redo"), QT_TRANSLATE_NOOP("CommonText", "BTN_REDO_HINT"));
    tips(preferences, QT_TRANSLATE_NOOP("CommonText", "Preferences"), QT_TRANSLATE_NOOP("CommonText", "BTN_OPTION_HINT"));
    tips(help, QT_TRANSLATE_NOOP("CommonText", "Help"), QT_TRANSLATE_NOOP("CommonText", "Help_HINT"));
    apply->setText(QCoreApplication::translate("ElemoramaActionSet", "Apply"));
    run->setText(QCoreApplication::translate("ElemoramaActionSet", "&Run"));
    preferences->setText(QCoreApplication::translate("ElemoramaActionSet", "Preferences..."));
    cancel->setText(QCoreApplication::translate("ElemoramaActionSet", "Cancel"));
    undo->setText(QCoreApplication::translate("CommonText", "Undo"));
    redo->setText(QCoreApplication::translate("CommonText", "Redo"));
    help->setText(QCoreApplication::translate("ElemoramaActionSet", "&help..."));
    homePage->setText(QCoreApplication::translate("MacMenu", "%1 home page...").arg(QStringLiteral("ORVEX")));
    if (!m_bar) return;
    const auto menus = m_bar->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly);
    if (menus.size() < MenuCount) return;
    menus[0]->setTitle(QCoreApplication::translate("ElemoramaActionSet", "&File"));
    menus[1]->setTitle(QStringLiteral("&Elemorama"));
    menus[2]->setTitle(QCoreApplication::translate("ElemoramaActionSet", "&Edit"));
    menus[3]->setTitle(QCoreApplication::translate("ElemoramaActionSet", "&Help"));
}

QStringList helpFolders() {
    QStringList folders = Locations::dirs(Locations::Help);
    folders << QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../share/ORVEX/Elemorama/Help"));
#ifdef ELEMORAMA_SOURCE_HELP_DIR
    folders << QStringLiteral(ELEMORAMA_SOURCE_HELP_DIR);
#endif
    return folders;
}

QString findHelpPage(const QStringList& folders, const QString& lang) {
    QStringList names;
    if (!lang.isEmpty()) names << QStringLiteral("index_%1.html").arg(lang);
    names << QStringLiteral("index.html");
    // The page in the user's language wherever it is, before the general one.
    for (const QString& name : names)
        for (const QString& folder : folders) {
            const QFileInfo page(QDir(folder).filePath(name));
            if (page.isFile()) return page.absoluteFilePath();
        }
    return {};
}

void showHelp(const QString& lang) {
    const QString page = findHelpPage(helpFolders(), lang);
    QDesktopServices::openUrl(page.isEmpty() ? QUrl(QString::fromLatin1(TutorialsPage).arg(lang.isEmpty() ? QStringLiteral("en") : lang))
                                             : QUrl::fromLocalFile(page));
}

} // namespace Orvex::UI
