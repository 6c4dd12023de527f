#include "episodes/thumbnail_cache.h"

namespace vistrel {

size_t Thumbnail_Bytes(const QImage& thumbnail) {
    return static_cast<size_t>(thumbnail.sizeInBytes());
}

QImage Thumbnail_Cache::Find(const std::string& path) {
    const std::lock_guard lock(mutex_);
    const auto found = by_path_.find(path);
    if (found == by_path_.end())
        return {};
    entries_.splice(entries_.begin(), entries_, found->second);
    return found->second->second;
}

void Thumbnail_Cache::Insert(const std::string& path, const QImage& thumbnail) {
    const size_t bytes = Thumbnail_Bytes(thumbnail);
    const std::lock_guard lock(mutex_);
    if (const auto found = by_path_.find(path); found != by_path_.end())
        Erase(found->second);
    if (thumbnail.isNull() || bytes > max_bytes_)
        return;
    while (bytes_ + bytes > max_bytes_ && !entries_.empty())
        Erase(std::prev(entries_.end()));
    entries_.emplace_front(path, thumbnail);
    by_path_[path] = entries_.begin();
    bytes_ += bytes;
}

void Thumbnail_Cache::Remove(const std::string& path) {
    const std::lock_guard lock(mutex_);
    if (const auto found = by_path_.find(path); found != by_path_.end())
        Erase(found->second);
}

void Thumbnail_Cache::Clear() {
    const std::lock_guard lock(mutex_);
    entries_.clear();
    by_path_.clear();
    bytes_ = 0;
}

size_t Thumbnail_Cache::Bytes() const {
    const std::lock_guard lock(mutex_);
    return bytes_;
}

size_t Thumbnail_Cache::Count() const {
    const std::lock_guard lock(mutex_);
    return entries_.size();
}

void Thumbnail_Cache::Erase(std::list<Entry>::iterator entry) {
    bytes_ -= Thumbnail_Bytes(entry->second);
    by_path_.erase(entry->first);
    entries_.erase(entry);
}

} // namespace vistrel
