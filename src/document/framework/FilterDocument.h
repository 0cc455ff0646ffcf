#pragma once
// Orvex::Document -- the effect framework: the document an effect works on, the effect objects
// (filter base, panels, presets) and their runs on the work thread.
//
// Principles
// - Threads: everything here belongs to the interface thread except what an effect's work thread
//   reads during a run (the last-run record, the source plane, the mask planes, the result plane),
//   which the interface does not touch while a job is posted (the effect stops the job first).
// - Ownership: the window owns the document and the current effect; an effect owns its records,
//   presets, panel, renderer and caches; planes and channels are shared, reference-counted.
// - Errors: processing code throws standard exceptions; the effect turns them into message boxes
//   (through FilterMessages, which tests replace) and rolls the document step back.
// - Rectangles exclude their right and bottom edges.

#include "datastorage/DataChannel.h"
#include "datastorage/PixelPlane.h"
#include "datastorage/RefCounted.h"

#include <QMap>
#include <QString>

#include <deque>

namespace Orvex::Document {

// A reference-counted, tagged value kept in the document's tag tree.
class VariantDataHolder : public SharedObject, public Tagged {
public:
    using ptr_t = Ref<VariantDataHolder>;
    ~VariantDataHolder() override = default;
};

// The layered document, reduced to what the effects need of it: one raster layer (an RGBA plane),
// its lock flags, the host's selection, a tag tree of tagged values, and undoable steps that carry
// a name and a change of pixels.
class FilterDocument {
public:
    // Lock flag bits: bit 1 colour data locked, bit 4 all data locked.
    enum LockBits : uint32_t { ColorLocked = 1u << 1, AllLocked = 1u << 4 };

    explicit FilterDocument(Ref<DataStorage::PixelPlane> layer, Ref<DataStorage::DataChannel> selection = {});

    // The layer as shown; changes only through steps. Never null.
    Ref<DataStorage::PixelPlane> layer() const { return m_layer; }
    // Identity of the layer (changes when another layer is installed, not when its pixels change).
    uint32_t layerId() const { return m_layerId; }
    // Counts changes of the layer's pixels from outside the effect (setLayer), not steps.
    uint64_t revision() const { return m_revision; }
    void setLayer(Ref<DataStorage::PixelPlane> layer);

    Ref<DataStorage::DataChannel> selection() const { return m_selection; }
    // Replaces the selection (the mask tools); an open step restores the old one on undo.
    void setSelection(Ref<DataStorage::DataChannel> selection) { m_selection = std::move(selection); }
    uint32_t lockFlags() const { return m_lockFlags; }
    void setLockFlags(uint32_t flags) { m_lockFlags = flags; }
    // A document that is busy (saving, being replaced) starts no run.
    bool isBusy() const { return m_busy; }
    void setBusy(bool busy) { m_busy = busy; }

    // The tag tree: values under a slash-separated path and a key.
    VariantDataHolder::ptr_t findTag(const QString& path, const QString& key) const;
    void setTag(const QString& path, const QString& key, VariantDataHolder::ptr_t value);
    void removeTag(const QString& path, const QString& key);

    // Undoable steps. A step remembers the layer, the selection and the tag tree (so the effects'
    // parameter copies, the drawn lines among them, come back on undo) when it opens; `commitStep` installs the
    // new pixels and keeps the step for undo (at most `historyLimit` steps), `rollbackStep` forgets it.
    void beginStep(const QString& name, int kind);
    bool isStepOpen() const { return m_open; }
    bool commitStep(Ref<DataStorage::PixelPlane> newLayer);
    void rollbackStep();
    int undoCount() const { return int(m_history.size()); }
    bool undo();
    // The steps undone since the last commit, newest last; a new commit forgets them.
    int redoCount() const { return int(m_redo.size()); }
    bool redo();
    QString lastStepName() const { return m_history.empty() ? QString() : m_history.back().name; }
    int historyLimit() const { return m_historyLimit; }
    void setHistoryLimit(int limit);

private:
    struct Step {
        QString name;
        int kind = 0;
        Ref<DataStorage::PixelPlane> before;
        Ref<DataStorage::DataChannel> selectionBefore;
        QMap<QString, QMap<QString, VariantDataHolder::ptr_t>> tagsBefore;
    };
    bool travel(std::deque<Step>& from, std::deque<Step>& to);

    Ref<DataStorage::PixelPlane> m_layer;
    Ref<DataStorage::DataChannel> m_selection;
    uint32_t m_layerId = 0;
    uint64_t m_revision = 0;
    uint32_t m_lockFlags = 0;
    bool m_busy = false;
    QMap<QString, QMap<QString, VariantDataHolder::ptr_t>> m_tags;
    Step m_pending;
    bool m_open = false;
    std::deque<Step> m_history;
    std::deque<Step> m_redo; // each holds the layer and selection to return to
    int m_historyLimit = 8;
};

} // namespace Orvex::Document
