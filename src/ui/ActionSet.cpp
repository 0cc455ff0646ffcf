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
} // namespace

ElemoramaActionSet::ElemoramaActionSet(QWidget* window) : QObject(window) {
    auto make = [&](QAction*& action, const char* name, const QKeySequence& keys) {
        action = new QAction(window);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        window->addAction(action);
    };
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
    for (int i = 0; i < 3; ++i) m_bar->addMenu(new QMenu(m_bar));
    const auto menus = m_bar->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly);
    menus[0]->addActions({run, apply});
    menus[0]->addSeparator();
    menus[0]->addAction(cancel);
    menus[1]->addActions({undo, redo});
    menus[1]->addSeparator();
    menus[1]->addAction(preferences);
    menus[2]->addActions({help, homePage});
    retranslate();
    return m_bar;
}

void ElemoramaActionSet::retranslate() {
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
    if (menus.size() < 3) return;
    menus[0]->setTitle(QStringLiteral("&Elemorama"));
    menus[1]->setTitle(QCoreApplication::translate("ElemoramaActionSet", "&Edit"));
    menus[2]->setTitle(QCoreApplication::translate("ElemoramaActionSet", "&Help"));
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
