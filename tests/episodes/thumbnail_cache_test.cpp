#include "episodes/thumbnail_cache.h"
#include "episodes/thumbnail_loader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace vistrel {
namespace {

// 10 x 10 pixels of four bytes: 400 bytes each.
QImage Square(QRgb colour) {
    QImage image(10, 10, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}
constexpr size_t kSquare_Bytes = 400;

TEST(Thumbnail_Cache, drops_the_least_recently_used_beyond_its_budget) {
    Thumbnail_Cache cache(3 * kSquare_Bytes);
    cache.Insert("a", Square(1));
    cache.Insert("b", Square(2));
    cache.Insert("c", Square(3));
    EXPECT_EQ(cache.Find("a").pixel(0, 0), Square(1).pixel(0, 0)); // a is now the newest
    cache.Insert("d", Square(4));
    EXPECT_TRUE(cache.Find("b").isNull());
    EXPECT_FALSE(cache.Find("a").isNull());
    EXPECT_FALSE(cache.Find("c").isNull());
    EXPECT_FALSE(cache.Find("d").isNull());
    EXPECT_EQ(cache.Bytes(), 3 * kSquare_Bytes);
    EXPECT_EQ(cache.Count(), 3u);
}

TEST(Thumbnail_Cache, replacing_removing_and_refusing_keep_the_count_of_bytes) {
    Thumbnail_Cache cache(3 * kSquare_Bytes);
    cache.Insert("a", Square(1));
    cache.Insert("a", Square(2));
    EXPECT_EQ(cache.Bytes(), kSquare_Bytes);
    EXPECT_EQ(cache.Find("a").pixel(0, 0), Square(2).pixel(0, 0));
    cache.Insert("big", QImage(40, 40, QImage::Format_RGB32)); // 6400 bytes: never fits
    EXPECT_TRUE(cache.Find("big").isNull());
    EXPECT_EQ(cache.Count(), 1u);
    cache.Insert("null", QImage());
    EXPECT_EQ(cache.Count(), 1u);
    cache.Remove("a");
    EXPECT_EQ(cache.Bytes(), 0u);
    EXPECT_TRUE(cache.Find("a").isNull());
    EXPECT_EQ(Thumbnail_Cache().Max_Bytes(), 50u * 1000 * 1000);
}

TEST(Thumbnail_Cache, never_holds_more_than_its_budget_under_two_threads) {
    const size_t budget = 10 * kSquare_Bytes + 123;
    Thumbnail_Cache cache(budget);
    std::atomic<bool> over{false};
    auto work = [&](unsigned seed) {
        std::mt19937 gen(seed);
        for (int i = 0; i < 5000; ++i) {
            const std::string path = std::to_string(gen() % 40);
            const int side = 5 + static_cast<int>(gen() % 12);
            if (gen() % 3 == 0)
                cache.Find(path);
            else
                cache.Insert(path, QImage(side, side, QImage::Format_RGB32));
            if (cache.Bytes() > budget)
                over = true;
        }
    };
    std::thread other(work, 1u);
    work(2u);
    other.join();
    EXPECT_FALSE(over);
    EXPECT_GT(cache.Count(), 0u);
}

// A decoder the test holds at its first picture until told to go on.
class Gated_Decoder {
public:
    QImage operator()(const std::string& path) {
        std::unique_lock lock(mutex_);
        decoded_.push_back(path);
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
        return Square(qRgb(static_cast<int>(path.size()), 0, 0));
    }
    void Wait_For_Decodes(size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return decoded_.size() >= count; });
    }
    void Open() {
        const std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    std::vector<std::string> Decoded() {
        const std::lock_guard lock(mutex_);
        return decoded_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> decoded_;
    bool open_ = false;
};

struct Deliveries {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> paths;
    std::vector<bool> null;

    void Add(const std::string& path, const QImage& image) {
        const std::lock_guard lock(mutex);
        paths.push_back(path);
        null.push_back(image.isNull());
        changed.notify_all();
    }
    void Wait_For(size_t count) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return paths.size() >= count; });
    }
};

TEST(Thumbnail_Loader, delivers_what_is_in_view_and_drops_rows_scrolled_past) {
    Thumbnail_Cache cache;
    Gated_Decoder decoder;
    Deliveries deliveries;
    {
        Thumbnail_Loader loader(
            cache, [&](const std::string& p, const QImage& i) { deliveries.Add(p, i); },
            [&](const std::string& p) { return decoder(p); });
        loader.Request({"a", "b", "c"});
        decoder.Wait_For_Decodes(1);
        loader.Request({"d", "e", "d"});
        decoder.Open();
        deliveries.Wait_For(3);
    }
    EXPECT_EQ(deliveries.paths, (std::vector<std::string>{"a", "d", "e"}));
    EXPECT_EQ(decoder.Decoded(), (std::vector<std::string>{"a", "d", "e"}));
    EXPECT_EQ(deliveries.null, (std::vector<bool>{false, false, false}));
    EXPECT_FALSE(cache.Find("d").isNull());
}

TEST(Thumbnail_Loader, takes_what_the_cache_holds_without_decoding_it_again) {
    Thumbnail_Cache cache;
    cache.Insert("kept", Square(qRgb(1, 2, 3)));
    Deliveries deliveries;
    std::atomic<int> decodes{0};
    {
        Thumbnail_Loader loader(
            cache, [&](const std::string& p, const QImage& i) { deliveries.Add(p, i); },
            [&](const std::string&) {
                ++decodes;
                return QImage();
            });
        loader.Request({"kept", "broken"});
        deliveries.Wait_For(2);
    }
    EXPECT_EQ(deliveries.paths, (std::vector<std::string>{"kept", "broken"}));
    EXPECT_EQ(deliveries.null, (std::vector<bool>{false, true}));
    EXPECT_EQ(decodes, 1);
    EXPECT_TRUE(cache.Find("broken").isNull());
}

TEST(Thumbnail_Loader, stops_after_the_picture_it_decodes_with_many_waiting) {
    Thumbnail_Cache cache;
    Gated_Decoder decoder;
    std::vector<std::string> many;
    for (int i = 0; i < 1000; ++i)
        many.push_back("picture " + std::to_string(i));
    std::thread opener;
    {
        Thumbnail_Loader loader(
            cache, [](const std::string&, const QImage&) {},
            [&](const std::string& p) { return decoder(p); });
        loader.Request(many);
        decoder.Wait_For_Decodes(1);
        // Opened only once the destructor has begun waiting.
        opener = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            decoder.Open();
        });
    }
    opener.join();
    EXPECT_EQ(decoder.Decoded().size(), 1u);
}

} // namespace
} // namespace vistrel
