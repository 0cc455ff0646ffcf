#pragma once
#include "document/filters/EffectRegistry.h"
#include "document/filters/PresetFile.h"
#include "document/framework/NodeInfo.h"
#include "document/framework/ThreadFilterUI.h"

#include <QList>
#include <QRect>

#include <memory>
#include <mutex>
#include <vector>

class QAbstractButton;
class QComboBox;

namespace Orvex {
class ISettings;
class SettingsGroupRO;
class SettingsGroupRW;
} // namespace Orvex

namespace Orvex::Document::Filters {

class MaskStroke;

// The common base of every effect object: the parameter records (current, last run, one per
// preset), the settings panel built from the record's table, the preset combo box and its
// buttons, the stored parameters, the source / result / mask planes, and the runs on the work
// thread. A concrete effect supplies only its identity (registry id, class information); its
// algorithm is the engine's renderer for that id.
//
// Runs: every finished change schedules a run 200 ms later (changes in between are coalesced).
// The run copies the current record into the last-run record and posts the job; the work thread
// calls the renderer with the last-run record only. A new run first stops the one in flight (the
// renderer sees the cancel flag between tiles), so the newest record always wins.
class ToolFilter : public ThreadFilterUI {
    Q_OBJECT
public:
    // Run modes (also the committed mode): live, normal, idle / nothing committed.
    enum RunMode { LiveRun = 0, NormalRun = 2, Idle = 4 };
    enum JobKind { NoJob = 0, PenJob = 1, ImageJob = 2 };
    enum JobFlags { ImageRequested = 1, CommitResult = 2 };
    // The mask planes, in the order the renderer receives them.
    enum MaskKind { Mask = 0, DuoMask = 1, Strokes = 2 };
    // Work-thread events (SignalFromWorkThread tags).
    enum Event { EventError = 1, EventStarted = -1, EventFinished = -2, EventCancelled = -3 };
    // Pen-job events: a stroke opened (-1) or closed (-2), samples painted (-4, a QRect).
    enum PenEvent { PenStrokeStarted = -1, PenStrokeFinished = -2, PenPainted = -4 };
    // Tools added by this base (after the effect's own in the palette).
    enum BaseTool { HistoryBrushTool = 9, HandTool = 11, ZoomTool = 12 };
    // The pen size range in image pixels; the stamp radius is half the size.
    static constexpr int MinPenSize = 1;
    static constexpr int MaxPenSize = 1000;
    static constexpr int DefaultPenSize = 100;

    // The (text, title) of an error box, event 1's user data.
    struct ErrorReport {
        QString text;
        QString title;
    };

    // A copy of a parameter record kept in the document's tag tree under "/TMP/ToolFilter".
    class ParamsDataHolder : public VariantDataHolder {
    public:
        explicit ParamsDataHolder(std::unique_ptr<AnyParams> record) : params(std::move(record)) {}
        std::unique_ptr<AnyParams> params;
    };
    // The have-result flag of the document, key "haveResult".
    class ResultFlagHolder : public VariantDataHolder {
    public:
        bool haveResult = false;
        int runMode = Idle;
        QString filterKey;
    };
    static const QString TagPath; // "/TMP/ToolFilter"

    ToolFilter(int effectId, uint32_t layerKind, QObject* parent = nullptr);
    ~ToolFilter() override;

    int effectId() const { return m_effectId; }
    AnyParams& current() { return *m_current; }
    const AnyParams& current() const { return *m_current; }
    // The record of the run in flight or the last one; read by the work thread.
    const AnyParams& lastRun() const { return *m_lastRun; }

    // ---- settings store ------------------------------------------------------------------------
    // The store and the group below which "Filters/<key>" lies (the application's run prefix).
    static void setSettingsRoot(ISettings* store, const QString& rootPath);
    static ISettings* settingsStore();
    static QString settingsRootPath();
    QString settingsGroupPath() const; // root + "/Filters/" + FilterKey

    // ---- work space ----------------------------------------------------------------------------
    void setDocument(FilterDocument* document) { m_document = document; }
    FilterDocument* document() const { return m_document; }
    bool isActive() const { return m_active; }
    virtual void Activate();
    virtual void Deactivate();
    // Empty when the effect can run on the document, else the reason.
    virtual QString CheckApplicable() const;

    // ---- panel and parameters ------------------------------------------------------------------
    virtual QWidget* CreateParamsWidget();
    void Retranslate() override;
    virtual void SaveParams(SettingsGroupRW& group) const;
    virtual void LoadParams(const SettingsGroupRO& group);
    bool StoreParamsToDocument();
    bool LoadParamsFromDocument();
    bool ParamsUnchanged() const { return m_current->unchangedFrom(*m_lastRun); }
    void CommitParams();
    // What every panel control's On<Param>Changed does: stores the value (text of the field's
    // type, clamped), schedules a run when it changed, then marks the preset edited. False for an
    // unknown member or unreadable text.
    bool setParamValue(const QString& member, const QString& text);
    // Replaces the whole current record (the window's document restore, tests); schedules a run
    // when it changed.
    void setCurrentParams(const AnyParams& record);
    virtual void ParamsToUI();

    // ---- presets -------------------------------------------------------------------------------
    void FillPresets();
    void LoadPreset(int index);
    void StorePreset(int index);
    void RemovePreset(int index);
    void ReplaceUserPresets(const PresetList& presets);
    void CollectUserPresets(PresetList& presets) const;
    void SelectMatchingPreset();
    void MarkPresetEdited();
    void RestorePresetSelection();
    void StorePresetSelection();
    int currentPreset() const { return m_currentPreset; }
    int presetCount() const { return m_presetRecords.size(); }
    int firstUserPreset() const; // the index after the separator
    QString presetName(int index) const;
    bool isBuiltInPreset(int index) const;
    bool isPresetEdited() const;
    QComboBox* presetCombo() const { return m_presetCombo; }
    QAbstractButton* saveButton() const { return m_saveButton; }
    QAbstractButton* deleteButton() const { return m_deleteButton; }
    QAbstractButton* resetButton() const { return m_resetButton; }
    QAbstractButton* commitButton() const { return m_commitButton; }
    // The control of a record member (nullptr when the panel has none).
    QWidget* control(const QString& member) const;

    // ---- runs ----------------------------------------------------------------------------------
    // The window's run and stop commands; true when there was nothing to do.
    bool RequestRun(bool stop, bool preview);
    virtual void RunWithMask(int mode);
    virtual bool UsesLiveMode() const { return false; }
    int runMode() const { return m_runMode; }
    int committedMode() const { return m_committedMode; }
    int jobFlags() const { return m_jobFlags.load(); }
    // Resets the result to the source, optionally clearing the masks.
    void ClearState(bool clearMasks);
    void ApplyResult();
    bool haveResult() const;

    // Auto-run: previews start by themselves after every change (otherwise only on request).
    bool autoRun() const { return m_autoRun; }
    void setAutoRun(bool on) { m_autoRun = on; }
    // True while a job is posted or computing.
    bool isProcessing() const { return isEvalRunning(); }

    // The strokes file of the tools (the mask and trunk effects fill these in).
    virtual bool LoadStrokes(const QString& path) {
        Q_UNUSED(path);
        return false;
    }
    virtual bool SaveStrokes(const QString& path) {
        Q_UNUSED(path);
        return false;
    }

    Ref<DataStorage::PixelPlane> sourcePlane() const { return m_source; }
    Ref<DataStorage::PixelPlane> resultPlane() const { return m_result; }

    // ---- masks (painted by the mask tools) -----------------------------------------------------
    bool isMaskEnabled(MaskKind kind) const { return m_maskEnabled[kind]; }
    void setMaskEnabled(MaskKind kind, bool on) { m_maskEnabled[kind] = on; }
    // The 8-bit plane (channel 12) of the mask at the layer's size; null before activation.
    Ref<DataStorage::PixelPlane> maskPlane(MaskKind kind) const { return m_masks[kind]; }
    // Replaces a mask's samples (a tool stroke, the host's selection), then OnMaskChanged.
    void setMaskChannel(MaskKind kind, Ref<DataStorage::DataChannel> channel);
    virtual bool IsMaskEmpty() const;
    virtual void OnMaskChanged();

    // ---- tools ---------------------------------------------------------------------------------
    // The tool palette, in display order: the effect's own tools, then HistoryBrush, Hand, Zoom.
    virtual std::vector<int> toolIds() const;
    // The action text, status tip and icon name ("tools/...") of a tool; empty for unknown ids.
    virtual QString ToolText(int id) const;
    virtual QString ToolStatusTip(int id) const;
    virtual QString ToolIcon(int id) const;
    // Makes `id` the current tool; false (no change) for an id not in toolIds().
    virtual bool SelectTool(int id);
    int currentTool() const { return m_currentTool; }
    // The pen diameter in image pixels, clamped to MinPenSize ... MaxPenSize. A new size applies
    // from the next press on.
    int penSize() const { return m_penSize.load(); }
    void setPenSize(int size);

    // ---- pen input -----------------------------------------------------------------------------
    // A pointer event of the view in image coordinates (UI thread). Press, moves and release of a
    // stroke are queued and painted on the work thread; maskPainted() follows on the UI thread.
    virtual void OnNewPoint(NodeInfo& node);
    void DoFillJobData(const NodeInfo* node);
    // True between a press and its release.
    bool isStrokeInProgress() const { return m_strokeInProgress.load(); }

signals:
    void CalcFinished(bool isCommit);
    // The panel changed the current record (the window updates its title, enables Apply ...).
    void paramsEdited();
    // The samples of the enabled mask changed inside `imageRect` (a null rect: anywhere), on the UI
    // thread: during a stroke after each painted batch, after a stroke, a fill, a clear or a load.
    void maskPainted(const QRect& imageRect);
    void currentToolChanged(int id);

public slots:
    void SignalFromWorkThread(int tag, const void* userData) override;
    void OnLoadPreset(int index);
    void OnSavePresetClicked();
    void OnDeletePresetClicked();
    void OnResetParamClicked();

protected:
    // The effect's computation on the work thread: the engine's renderer for the effect id.
    virtual RunOutcome Process(const DataStorage::PixelPlane& source, const MaskChannels& masks,
                               DataStorage::PixelPlane& result);
    // Applies queued stroke points to the enabled mask (work thread): press opens a stroke, moves
    // stamp segments, release stamps the last one and closes it (FinishStroke).
    virtual void EvalJobPen(const std::vector<NodeInfo>& nodes);
    // The end of a stroke on the work thread: applies the finished stroke to its target. The plain
    // pen paints its target directly, so the base has nothing left to do.
    virtual void FinishStroke() {}
    // Pen-job events on the UI thread (PenEvent tags).
    virtual void OnPenEvent(int tag, const void* userData);
    // The mask the tools edit: "duomask" when enabled, else "mask"; -1 when neither is.
    int editedMaskKind() const;
    // After the enabled mask changed on the UI thread: the document's selection follows "mask",
    // the effect's cache key changes, the result is marked stale and a run is scheduled. With a
    // step name, all of it is one undoable document step (the selection comes back on undo).
    void maskEdited(const QRect& imageRect, const QString* stepName = nullptr);
    void OnDefferedUpdate() override;

    // WorkJobContext: pen nodes are posted under the job's mutex; the work thread asks TakeJobs
    // and then runs EvalJob.
    void post(const void* argument) override;
    bool hasWork() override { return TakeJobs(); }
    void execute() override { EvalJob(); }
    bool TakeJobs();
    void EvalJob();
    void EvalJobImage();

    void setHaveResult(bool have);
    bool readHaveResult();
    void enablePanel(bool on);

    int m_effectId;
    std::unique_ptr<AnyParams> m_current;
    std::unique_ptr<AnyParams> m_lastRun;
    std::unique_ptr<EffectRenderer> m_renderer;
    QList<std::shared_ptr<AnyParams>> m_presetRecords; // one per combo item, separator included

    FilterDocument* m_document = nullptr;
    bool m_active = false;
    std::atomic<bool> m_strokeInProgress{false};
    int m_currentTool = 0;
    std::atomic<int> m_penSize{DefaultPenSize};
    uint32_t m_layerId = 0;
    uint64_t m_sourceRevision = ~uint64_t(0);
    Ref<DataStorage::PixelPlane> m_source;
    Ref<DataStorage::PixelPlane> m_result;
    Ref<DataStorage::PixelPlane> m_historyPlane;
    Ref<DataStorage::PixelPlane> m_masks[3];
    bool m_maskEnabled[3] = {false, false, false};

    int m_runMode = LiveRun;
    int m_committedMode = Idle;
    std::atomic<int> m_jobKind{NoJob};
    std::atomic<int> m_jobFlags{0};
    std::mutex m_penMutex;
    std::vector<NodeInfo> m_penQueue;
    std::vector<NodeInfo> m_penWork;

    QComboBox* m_presetCombo = nullptr;
    QAbstractButton* m_saveButton = nullptr;
    QAbstractButton* m_deleteButton = nullptr;
    QAbstractButton* m_resetButton = nullptr;
    QAbstractButton* m_commitButton = nullptr;
    int m_currentPreset = 0;

private:
    struct Control {
        FieldInfo field;
        QWidget* widget = nullptr;
    };
    QWidget* buildControl(const FieldInfo& field, QWidget* parent);
    void setControlValue(const Control& control);
    void retranslateControls();
    void connectPresetControls();
    QString freshPresetName(const QString& name) const;
    void leaveEditMode(int index);

    std::vector<Control> m_controls;
    bool m_inFill = false;
    bool m_autoRun = true;
    bool m_presetsConnected = false;
    std::unique_ptr<RunProgress> m_runProgress;
    // The open stroke of the pen job (work thread only).
    std::unique_ptr<MaskStroke> m_stroke;
    NodeInfo m_previousNode;
    QRect m_penDirty;
};

} // namespace Orvex::Document::Filters
