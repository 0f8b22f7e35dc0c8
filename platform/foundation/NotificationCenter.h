#pragma once
// In-process notifications: observers keyed by name and, optionally, by the posting object's identity.
// Delivery is synchronous on the posting thread, in registration order. One default centre for the
// process; thread-safe.

#include <QString>
#include <QVariantMap>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

// The identity of a posting object: a raw pointer, a shared pointer or none. Only compared, never used.
class ObjectIdentity {
public:
    ObjectIdentity() = default;
    ObjectIdentity(std::nullptr_t) {}
    ObjectIdentity(const void* object) : object_(object) {}
    template <typename T>
    ObjectIdentity(const std::shared_ptr<T>& object) : object_(object.get()) {}
    const void* get() const { return object_; }
    bool operator==(const ObjectIdentity&) const = default;

private:
    const void* object_ = nullptr;
};

struct Notification {
    QString name;
    ObjectIdentity object;
    QVariantMap userInfo;
};

// Returned by addObserver; 0 is no observer.
struct ObserverToken {
    quint64 id = 0;
    bool isValid() const { return id != 0; }
    bool operator==(const ObserverToken&) const = default;
};

class NotificationCenter {
public:
    using Callback = std::function<void(const Notification&)>;

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    static NotificationCenter& defaultCenter();

    // An empty name observes every notification; a null object, every poster.
    ObserverToken addObserver(const QString& name, ObjectIdentity object, Callback callback);
    // Safe during delivery, also for the observer being called: a removed observer is not called again,
    // not even later in the same post. When it returns, no call of the observer is under way on another
    // thread either, so the caller may destroy what the callback uses (do not hold a lock there that
    // such a callback waits for).
    void removeObserver(ObserverToken token);
    // Observers added during a post are not called for it.
    void post(const QString& name, ObjectIdentity object = {}, const QVariantMap& userInfo = {});

private:
    struct Observer {
        quint64 id = 0;
        QString name;
        ObjectIdentity object;
        Callback callback;
        bool removed = false;
        std::vector<std::thread::id> callers; // threads now inside its callback
    };

    std::mutex mutex_;
    std::condition_variable callsEnded_;
    std::vector<std::shared_ptr<Observer>> observers_;
    quint64 nextId_ = 1;
};

} // namespace platform
