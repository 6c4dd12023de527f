// The thumbnails decoded so far, within a budget of image memory: the least
// recently used go first. Shared by the loader's thread and the window's.
#pragma once

#include <QImage>
#include <cstddef>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

namespace vistrel {

class Thumbnail_Cache {
public:
    static constexpr size_t kDefault_Max_Bytes = 50 * 1000 * 1000;

    explicit Thumbnail_Cache(size_t max_bytes = kDefault_Max_Bytes) : max_bytes_(max_bytes) {}

    // The thumbnail of that picture, now the most recently used; a null
    // image when there is none.
    QImage Find(const std::string& path);

    // Keeps a thumbnail (replacing one of the same path), dropping the least
    // recently used until the total fits. A null image, or one larger than
    // the whole budget, is not kept.
    void Insert(const std::string& path, const QImage& thumbnail);

    // For pictures that are gone (a deleted episode).
    void Remove(const std::string& path);
    void Clear();

    size_t Bytes() const;
    size_t Count() const;
    size_t Max_Bytes() const { return max_bytes_; }

private:
    using Entry = std::pair<std::string, QImage>;

    void Erase(std::list<Entry>::iterator entry);

    const size_t max_bytes_;
    mutable std::mutex mutex_;
    // Most recently used first.
    std::list<Entry> entries_;
    std::unordered_map<std::string, std::list<Entry>::iterator> by_path_;
    size_t bytes_ = 0;
};

// The memory a thumbnail counts for.
size_t Thumbnail_Bytes(const QImage& thumbnail);

} // namespace vistrel
