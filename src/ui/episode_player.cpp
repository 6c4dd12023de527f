#include "ui/episode_player.h"

#include "episodes/video_export.h"
#include "recording/picture_names.h"
#include "ui/picture_canvas.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QImageReader>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>

namespace vistrel {

Episode_Player::Episode_Player(Player_Controls controls, QObject* parent)
    : QObject(parent), c_(controls) {
    // Often enough for 80 pictures a second; the picture due is computed
    // from the clock, so a late tick loses nothing but the pictures between.
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, &Episode_Player::Tick);
    connect(c_.slider, &QSlider::valueChanged, this, [this](int value) {
        if (value != index_)
            Show(value);
    });
    connect(c_.play, &QAbstractButton::clicked, this, [this] { Playing() ? Pause() : Play(); });
    connect(c_.speed, &QComboBox::currentIndexChanged, this, [this] {
        if (Playing())
            Play(); // the pace changes from the picture shown
    });
    Clear();
}

int Episode_Player::Speed() const {
    static constexpr int kSpeeds[] = {1, 4, 16};
    return kSpeeds[std::clamp(c_.speed->currentIndex(), 0, 2)];
}

void Episode_Player::Clear() {
    Pause();
    folder_.clear();
    pictures_.clear();
    offsets_.clear();
    index_ = -1;
    skipped_ = 0;
    c_.canvas->Show(QImage());
    c_.label->clear();
    const QSignalBlocker quiet(c_.slider);
    c_.slider->setRange(0, 0);
    c_.slider->setEnabled(false);
    c_.play->setEnabled(false);
}

void Episode_Player::Load(const std::string& folder_path, std::vector<std::string> pictures) {
    Clear();
    if (pictures.empty())
        return;
    folder_ = folder_path;
    pictures_ = std::move(pictures);
    offsets_ = Picture_Times_Ms(pictures_);
    c_.slider->setEnabled(true);
    c_.play->setEnabled(true);
    Show(0);
}

void Episode_Player::Update(std::vector<std::string> pictures) {
    if (pictures.size() <= pictures_.size())
        return;
    pictures_ = std::move(pictures);
    offsets_ = Picture_Times_Ms(pictures_);
    const QSignalBlocker quiet(c_.slider);
    c_.slider->setRange(0, int(pictures_.size()) - 1);
    Show_Label();
}

void Episode_Player::Show(int index) {
    if (pictures_.empty())
        return;
    index = std::clamp(index, 0, int(pictures_.size()) - 1);
    index_ = index;
    QImageReader reader(QString::fromStdString(folder_ + "/" + pictures_[size_t(index)]));
    c_.canvas->Show(reader.read());
    {
        const QSignalBlocker quiet(c_.slider);
        c_.slider->setRange(0, int(pictures_.size()) - 1);
        c_.slider->setValue(index);
    }
    Show_Label();
    emit Shown(index);
}

void Episode_Player::Show_Label() {
    if (index_ < 0)
        return;
    const std::string& name = pictures_[size_t(index_)];
    QString text = QStringLiteral("%1   %2 / %3")
                       .arg(QString::fromStdString(name))
                       .arg(index_ + 1)
                       .arg(pictures_.size());
    if (const auto parts = Parse_Picture_Name(name))
        text += QStringLiteral("   %1:%2:%3")
                    .arg(parts->hour, 2, 10, QLatin1Char('0'))
                    .arg(parts->minute, 2, 10, QLatin1Char('0'))
                    .arg(parts->second, 2, 10, QLatin1Char('0'));
    if (skipped_ > 0)
        text += QStringLiteral("   (skipping: %1 pictures passed over)").arg(skipped_);
    c_.label->setText(text);
}

void Episode_Player::Play() {
    if (pictures_.empty())
        return;
    if (index_ >= int(pictures_.size()) - 1)
        Show(0); // played to the end: again from the start
    if (!clock_.isValid())
        clock_.start();
    play_start_ = Now();
    offset_start_ = offsets_[size_t(index_)];
    skipped_ = 0;
    timer_.start();
    c_.play->setText(tr("Pause"));
}

void Episode_Player::Pause() {
    timer_.stop();
    c_.play->setText(tr("Play"));
    Show_Label();
}

void Episode_Player::Tick() {
    if (pictures_.empty() || !Playing())
        return;
    const int64_t due = offset_start_ + (Now() - play_start_) * Speed();
    // The last picture whose time has come.
    const auto after = std::upper_bound(offsets_.begin() + index_, offsets_.end(), due);
    const int target = std::max(index_, int(after - offsets_.begin()) - 1);
    if (target > index_ + 1)
        skipped_ += target - index_ - 1;
    if (target != index_)
        Show(target);
    if (index_ >= int(pictures_.size()) - 1)
        Pause();
}

} // namespace vistrel
