#pragma once
// The effect window's commands as actions with their shortcuts, for its menu bar, and the help
// pages they open.

#include <QObject>
#include <QStringList>

class QAction;
class QMenuBar;
class QWidget;

namespace Orvex::UI {

class ElemoramaActionSet : public QObject {
    Q_OBJECT
public:
    // The actions are added to `window`, so that their shortcuts work wherever the focus is in it.
    explicit ElemoramaActionSet(QWidget* window);

    // The file commands. New and Open stay disabled: the image of a run belongs to the host, which
    // loads and creates images itself. Save and Print work on the result the window shows and never
    // send anything to the host.
    QAction* newImage = nullptr;
    QAction* open = nullptr;
    QAction* save = nullptr;
    QAction* print = nullptr;
    QAction* apply = nullptr;
    QAction* run = nullptr;
    QAction* preferences = nullptr;
    QAction* cancel = nullptr;
    QAction* undo = nullptr;
    QAction* redo = nullptr;
    QAction* help = nullptr;
    QAction* homePage = nullptr;

    // "File" (New, Open, Save, Print), "Elemorama" (Run, Apply, Cancel), "Edit" (Undo, Redo,
    // Preferences) and "Help".
    QMenuBar* createMenuBar(QWidget* parent);
    void retranslate();

private:
    QMenuBar* m_bar = nullptr;
};

// The folders holding the help pages: the installed Help location, the one of an installation
// beside the running program, and the source tree's for a build tree.
QStringList helpFolders();
// The first of "index_<lang>.html" and "index.html" found in `folders`; empty when there is none.
QString findHelpPage(const QStringList& folders, const QString& lang);
// Opens the help page for the interface language with the desktop's handler, or the online
// tutorials when no page is installed.
void showHelp(const QString& lang);

} // namespace Orvex::UI
