#include "document/framework/FilterDocument.h"

#include <stdexcept>

namespace Orvex::Document {

using DataStorage::PixelPlane;

FilterDocument::FilterDocument(Ref<PixelPlane> layer, Ref<DataStorage::DataChannel> selection)
    : m_selection(std::move(selection)) {
    if (!layer) throw std::invalid_argument("FilterDocument without a layer");
    m_layer = std::move(layer);
    m_layerId = m_layer->tag();
}

void FilterDocument::setLayer(Ref<PixelPlane> layer) {
    if (!layer) throw std::invalid_argument("FilterDocument without a layer");
    m_layer = std::move(layer);
    m_layerId = m_layer->tag();
    ++m_revision;
    m_history.clear();
    m_redo.clear();
}

VariantDataHolder::ptr_t FilterDocument::findTag(const QString& path, const QString& key) const {
    auto folder = m_tags.constFind(path);
    if (folder == m_tags.constEnd()) return {};
    return folder->value(key);
}

void FilterDocument::setTag(const QString& path, const QString& key, VariantDataHolder::ptr_t value) {
    if (!value) {
        removeTag(path, key);
        return;
    }
    m_tags[path].insert(key, std::move(value));
}

void FilterDocument::removeTag(const QString& path, const QString& key) {
    auto folder = m_tags.find(path);
    if (folder == m_tags.end()) return;
    folder->remove(key);
    if (folder->isEmpty()) m_tags.erase(folder);
}

void FilterDocument::beginStep(const QString& name, int kind) {
    m_pending = Step{name, kind, m_layer, m_selection, m_tags};
    m_open = true;
}

bool FilterDocument::commitStep(Ref<PixelPlane> newLayer) {
    if (!newLayer || newLayer->size() != m_layer->size()) return false;
    if (!m_open) beginStep(QString(), 0);
    m_layer = std::move(newLayer); // keeps m_layerId: the same layer with other pixels
    m_history.push_back(std::move(m_pending));
    while (int(m_history.size()) > m_historyLimit) m_history.pop_front();
    m_redo.clear();
    m_pending = Step{};
    m_open = false;
    return true;
}

void FilterDocument::rollbackStep() {
    if (m_open && m_pending.before) {
        m_layer = m_pending.before;
        m_selection = m_pending.selectionBefore;
        m_tags = m_pending.tagsBefore;
    }
    m_pending = Step{};
    m_open = false;
}

bool FilterDocument::undo() {
    return travel(m_history, m_redo);
}

bool FilterDocument::redo() {
    return travel(m_redo, m_history);
}

// Returns to the newest step of `from` and keeps where the document was as a step of `to`.
bool FilterDocument::travel(std::deque<Step>& from, std::deque<Step>& to) {
    if (from.empty()) return false;
    Step& step = from.back();
    to.push_back(Step{step.name, step.kind, m_layer, m_selection, m_tags});
    m_layer = step.before;
    m_selection = step.selectionBefore;
    m_tags = step.tagsBefore;
    from.pop_back();
    return true;
}

void FilterDocument::setHistoryLimit(int limit) {
    m_historyLimit = std::max(1, limit);
    while (int(m_history.size()) > m_historyLimit) m_history.pop_front();
}

} // namespace Orvex::Document
