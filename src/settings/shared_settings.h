// The working settings, read by the upload worker's thread while the window
// changes them.
#pragma once

#include "settings/working_settings.h"

#include <mutex>

namespace vistrel {

class Shared_Settings {
public:
    Working_Settings Get() const {
        const std::lock_guard lock(mutex_);
        return settings_;
    }
    void Set(const Working_Settings& settings) {
        const std::lock_guard lock(mutex_);
        settings_ = settings;
    }

private:
    mutable std::mutex mutex_;
    Working_Settings settings_;
};

} // namespace vistrel
