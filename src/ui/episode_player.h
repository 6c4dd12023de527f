// The Episodes viewer: an episode's pictures one at a time, stepped by hand
// or played at 1x, 4x or 16x the pace they were taken at. The pace comes from
// the names, which give the second; pictures of the same second are spread
// evenly over it. Playing, the picture shown is the one due at that moment:
// when decoding cannot keep up, pictures are passed over and the label says
// so rather than the episode playing slower than asked.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

class QAbstractButton;
class QComboBox;
class QLabel;
class QSlider;

namespace vistrel {

class Picture_Canvas;

struct Player_Controls {
    Picture_Canvas* canvas;
    QLabel* label;
    QSlider* slider;
    QAbstractButton* play;
    QComboBox* speed; // 1x, 4x, 16x in that order
};

class Episode_Player : public QObject {
    Q_OBJECT

public:
    explicit Episode_Player(Player_Controls controls, QObject* parent = nullptr);

    // Shows the first picture of the episode; an empty folder clears it.
    void Load(const std::string& folder_path, std::vector<std::string> pictures);
    // The episode being recorded grew: the new pictures are added, the one
    // shown stays.
    void Update(std::vector<std::string> pictures);
    void Clear();

    void Show(int index);
    void Step(int delta) { Show(index_ + delta); }
    void First() { Show(0); }
    void Last() { Show(int(pictures_.size()) - 1); }
    void Play();
    void Pause();
    bool Playing() const { return timer_.isActive(); }
    int Speed() const;

    int Index() const { return index_; }
    size_t Count() const { return pictures_.size(); }
    // Pictures passed over since the last Play, for want of time.
    int Skipped() const { return skipped_; }
    // For the tests: the elapsed time of the play, in milliseconds.
    void Set_Clock(std::function<int64_t()> now) { now_ = std::move(now); }
    void Tick();

signals:
    void Shown(int index);

private:
    void Show_Label();
    int64_t Now() const { return now_ ? now_() : clock_.elapsed(); }

    Player_Controls c_;
    std::string folder_;
    std::vector<std::string> pictures_;
    std::vector<int64_t> offsets_;
    int index_ = -1;
    QTimer timer_;
    QElapsedTimer clock_;
    std::function<int64_t()> now_;
    int64_t play_start_ = 0;   // the clock when Play was pressed
    int64_t offset_start_ = 0; // the picture's offset then
    int skipped_ = 0;
};

} // namespace vistrel
