#pragma once
#include "datastorage/RefCounted.h"

#include <QMetaClassInfo>
#include <QObject>

namespace Orvex::Document {

// The work-space side of every filter: its names and the signals the window listens to. Filters
// are Qt objects owned by the window; the reference count serves holders in the tag tree.
class WorkSpaceFilter : public QObject, public RefCounted<MultiThreadedLocks> {
    Q_OBJECT
public:
    explicit WorkSpaceFilter(QObject* parent = nullptr) : QObject(parent) {}
    ~WorkSpaceFilter() override = default;

    // "Orvex::Document::Filters::Rain"
    QString ClassName() const { return QString::fromLatin1(metaObject()->className()); }
    // The last "::" section of the class name ("Rain", "Ice7"); the settings group is "Filters/" + key.
    QString FilterKey() const { return ClassName().section(QStringLiteral("::"), -1); }
    // The class information entry (FilterName, FilterIcon, FilterDescription); empty when absent.
    QString classInfo(const char* name) const {
        const int i = metaObject()->indexOfClassInfo(name);
        return i < 0 ? QString() : QString::fromUtf8(metaObject()->classInfo(i).value());
    }

signals:
    void ChangedName();
    void MenuActionStateChanged();
    void ChangedAddonsUI();
};

} // namespace Orvex::Document
