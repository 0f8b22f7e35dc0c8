#include "platform/foundation/NotificationCenter.h"

#include <algorithm>
#include <thread>

namespace platform {

NotificationCenter& NotificationCenter::defaultCenter()
{
    // Never destroyed: observers may be removed from static destructors.
    static NotificationCenter* center = new NotificationCenter;
    return *center;
}

ObserverToken NotificationCenter::addObserver(const QString& name, ObjectIdentity object, Callback callback)
{
    if (!callback)
        return {};
    auto observer = std::make_shared<Observer>();
    observer->name = name;
    observer->object = object;
    observer->callback = std::move(callback);
    std::lock_guard lock(mutex_);
    observer->id = nextId_++;
    observers_.push_back(observer);
    return {observer->id};
}

void NotificationCenter::removeObserver(ObserverToken token)
{
    if (!token.isValid())
        return;
    const auto me = std::this_thread::get_id();
    std::unique_lock lock(mutex_);
    auto it = std::find_if(observers_.begin(), observers_.end(),
                           [&](const auto& observer) { return observer->id == token.id; });
    if (it == observers_.end())
        return;
    std::shared_ptr<Observer> observer = *it;
    observers_.erase(it);
    observer->removed = true;
    // Calls on this thread are our own callers up the stack; waiting for them would never end.
    callsEnded_.wait(lock, [&] {
        return std::all_of(observer->callers.begin(), observer->callers.end(),
                           [&](const std::thread::id& caller) { return caller == me; });
    });
}

void NotificationCenter::post(const QString& name, ObjectIdentity object, const QVariantMap& userInfo)
{
    const Notification notification{name, object, userInfo};
    const auto me = std::this_thread::get_id();
    std::vector<std::shared_ptr<Observer>> matching;
    {
        std::lock_guard lock(mutex_);
        for (const auto& observer : observers_) {
            if (!observer->name.isEmpty() && observer->name != name)
                continue;
            if (observer->object.get() && observer->object != object)
                continue;
            matching.push_back(observer);
        }
    }
    for (const auto& observer : matching) {
        {
            std::lock_guard lock(mutex_);
            if (observer->removed)
                continue;
            observer->callers.push_back(me);
        }
        observer->callback(notification);
        {
            std::lock_guard lock(mutex_);
            observer->callers.erase(std::find(observer->callers.begin(), observer->callers.end(), me));
        }
        callsEnded_.notify_all();
    }
}

} // namespace platform
