#include "notify/notify_service.h"

#include "notify/curl_message_sender.h"

namespace vistrel {

namespace {

std::unique_ptr<Message_Sender> Make(const Notify_Service::Hooks& hooks) {
    if (hooks.make_sender)
        return hooks.make_sender();
    return std::make_unique<Curl_Message_Sender>();
}

} // namespace

Notify_Service::Notify_Service(std::string data_folder, Hooks hooks)
    : data_folder_(std::move(data_folder)), hooks_(std::move(hooks)),
      settings_(Notify_Settings::Load(data_folder_)),
      queue_(data_folder_ + kNotify_Queue_File_Name), sender_(Make(hooks_)),
      notifier_(queue_, Episode_Notifier_Hooks{[this] { return Settings(); },
                                               [this] {
                                                   if (worker_)
                                                       worker_->Wake();
                                               },
                                               {},
                                               {}}) {
    Notify_Worker_Hooks worker_hooks;
    worker_hooks.settings = [this] { return Settings(); };
    worker_hooks.refused = hooks_.refused;
    worker_ = std::make_unique<Notify_Worker>(queue_, *sender_, std::move(worker_hooks));
}

Notify_Service::~Notify_Service() {
    Close();
}

Notify_Settings Notify_Service::Settings() const {
    const std::lock_guard lock(settings_mutex_);
    return settings_;
}

void Notify_Service::Apply(const Notify_Settings& settings) {
    settings.Save(data_folder_);
    {
        const std::lock_guard lock(settings_mutex_);
        settings_ = settings;
    }
    if (worker_)
        worker_->Settings_Changed();
}

void Notify_Service::Episode_Started(const Episode_Event& event) {
    notifier_.Episode_Started(event);
}

void Notify_Service::Episode_Ended(const Episode_Event& event) {
    notifier_.Episode_Ended(event);
}

std::string Notify_Service::Last_Failure(Notify_Target target) const {
    return worker_ ? worker_->Last_Failure(target) : std::string();
}

void Notify_Service::Send_Test(Notify_Target target, const Notify_Settings& settings,
                               const Episode_Event& picture,
                               std::function<void(const Delivery&)> done) {
    Stop_Test();
    const std::lock_guard lock(test_mutex_);
    test_sender_ = Make(hooks_);
    test_thread_ = std::thread(
        [sender = test_sender_.get(), target, settings, picture, done = std::move(done)] {
            Delivery delivery;
            try {
                delivery = sender->Send(target, settings, picture);
            } catch (const std::exception& e) {
                delivery = {Delivery::Outcome::Retry, e.what()};
            }
            if (done)
                done(delivery);
        });
}

void Notify_Service::Stop_Test() noexcept {
    const std::lock_guard lock(test_mutex_);
    if (test_sender_)
        test_sender_->Cancel();
    if (test_thread_.joinable())
        test_thread_.join();
    test_sender_.reset();
}

void Notify_Service::Close() noexcept {
    Stop_Test();
    if (worker_)
        worker_->Stop();
}

} // namespace vistrel
