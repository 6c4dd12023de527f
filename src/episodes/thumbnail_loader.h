// Decodes the thumbnails of the rows in view on a thread of its own, so that
// scrolling through a day of episodes never waits for a disk or a decoder.
#pragma once

#include "episodes/thumbnail_cache.h"

#include <QImage>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vistrel {

class Thumbnail_Loader {
public:
    // Called on the loader's thread for each requested picture, with a null
    // image when it cannot be read.
    using Delivery = std::function<void(const std::string& path, const QImage& thumbnail)>;
    using Decoder = std::function<QImage(const std::string& path)>;

    // `cache` must outlive the loader. The decoder is Decode_Thumbnail
    // unless a test gives its own.
    Thumbnail_Loader(Thumbnail_Cache& cache, Delivery deliver, Decoder decode = {});
    // Stops after the picture being decoded, if any, dropping the rest.
    ~Thumbnail_Loader();
    Thumbnail_Loader(const Thumbnail_Loader&) = delete;
    Thumbnail_Loader& operator=(const Thumbnail_Loader&) = delete;

    // The pictures of the rows now in view, in the order to load them. They
    // replace whatever is still waiting: rows scrolled past are not worth
    // decoding. Those in the cache come back without a decode.
    void Request(std::vector<std::string> paths_in_view);

private:
    void Run();

    Thumbnail_Cache& cache_;
    const Delivery deliver_;
    const Decoder decode_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> pending_;
    bool stopping_ = false;
    // Last: it starts once everything it reads is ready.
    std::thread thread_;
};

} // namespace vistrel
