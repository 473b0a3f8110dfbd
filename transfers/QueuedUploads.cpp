#include "QueuedUploads.h"
#include "store/Data.h"
#include <algorithm>

namespace {
// The upload's place when it is queued and numbered.
bool PlaceOf(ItemPtr upload, QueuedUploads::Place& place)
{
    ItemPtr status = upload["upload_entry_status"];
    ItemPtr number = upload["effective_upload_order"];
    if (!number || !status || status.AsString() != QLatin1String("queued"))
        return false;
    place = { number.AsInt64(), upload.Serial(), upload.Get() };
    return true;
}
} // namespace

std::vector<QueuedUploads::Place>::iterator QueuedUploads::Find(ItemPtr upload)
{
    ItemPtr number = upload["effective_upload_order"];
    if (!number)
        return m_places.end();
    const Place key { number.AsInt64(), upload.Serial(), upload.Get() };
    const auto place = std::lower_bound(m_places.begin(), m_places.end(), key);
    return place != m_places.end() && place->upload == upload.Get() ? place : m_places.end();
}

void QueuedUploads::Erase(ItemPtr upload)
{
    if (m_walking) {
        m_goneInWalk.insert(upload.Get());
        return;
    }
    const auto place = Find(upload);
    if (place != m_places.end())
        m_places.erase(place);
}

void QueuedUploads::Update(ItemPtr upload)
{
    if (!upload)
        return;
    if (m_walking) {
        m_changedInWalk.push_back(upload.Get());
        return;
    }
    Place place;
    const bool queued = PlaceOf(upload, place);
    const auto at = Find(upload);
    if (at != m_places.end() && !queued)
        m_places.erase(at);
    else if (at == m_places.end() && queued)
        m_places.insert(std::upper_bound(m_places.begin(), m_places.end(), place), place);
}

void QueuedUploads::Rebuild()
{
    m_places.clear();
    ItemPtr queued = d.GetType("upload_entry_status")->HasItem("queued");
    for (ItemPtr upload : queued.GetItems("upload_entry")) {
        Place place;
        if (PlaceOf(upload, place))
            m_places.push_back(place);
    }
    std::sort(m_places.begin(), m_places.end());
}

bool QueuedUploads::Requeued() const
{
    Place place;
    return std::any_of(m_changedInWalk.begin(), m_changedInWalk.end(),
        [&](Item* upload) { return !m_goneInWalk.count(upload) && PlaceOf(ItemPtr(upload), place); });
}

void QueuedUploads::EndWalk(std::vector<Place> numbered, std::vector<Place> kept)
{
    m_walking = false;
    auto gone = [this](const Place& place) { return m_goneInWalk.count(place.upload) > 0; };
    if (!m_goneInWalk.empty()) {
        numbered.erase(std::remove_if(numbered.begin(), numbered.end(), gone), numbered.end());
        kept.erase(std::remove_if(kept.begin(), kept.end(), gone), kept.end());
    }
    m_places.clear();
    m_places.reserve(numbered.size() + kept.size());
    std::merge(numbered.begin(), numbered.end(), kept.begin(), kept.end(), std::back_inserter(m_places));
    std::vector<Item*> changed;
    changed.swap(m_changedInWalk);
    for (Item* upload : changed) {
        if (!m_goneInWalk.count(upload))
            Update(ItemPtr(upload));
    }
    m_goneInWalk.clear();
}
