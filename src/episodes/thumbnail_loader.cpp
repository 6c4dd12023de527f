#include "episodes/thumbnail_loader.h"

#include "episodes/thumbnail_decoder.h"

#include <algorithm>
#include <utility>

namespace vistrel {

Thumbnail_Loader::Thumbnail_Loader(Thumbnail_Cache& cache, Delivery deliver, Decoder decode)
    : cache_(cache), deliver_(std::move(deliver)),
      decode_(decode ? std::move(decode)
                     : Decoder([](const std::string& path) { return Decode_Thumbnail(path); })),
      thread_([this] { Run(); }) {}

Thumbnail_Loader::~Thumbnail_Loader() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        pending_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void Thumbnail_Loader::Request(std::vector<std::string> paths_in_view) {
    {
        const std::lock_guard lock(mutex_);
        pending_.clear();
        for (std::string& path : paths_in_view)
            if (std::find(pending_.begin(), pending_.end(), path) == pending_.end())
                pending_.push_back(std::move(path));
    }
    wake_.notify_all();
}

void Thumbnail_Loader::Run() {
    while (true) {
        std::string path;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
            if (stopping_)
                return;
            path = std::move(pending_.front());
            pending_.pop_front();
        }
        try {
            QImage thumbnail = cache_.Find(path);
            if (thumbnail.isNull()) {
                thumbnail = decode_(path);
                cache_.Insert(path, thumbnail);
            }
            if (deliver_)
                deliver_(path, thumbnail);
        } catch (...) {
            // A failed decode or delivery costs one row its picture, not the
            // loader its thread.
        }
    }
}

} // namespace vistrel
