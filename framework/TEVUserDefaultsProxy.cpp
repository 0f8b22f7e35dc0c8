#include "framework/TEVUserDefaultsProxy.h"

#include "platform/foundation/Log.h"

#include <mutex>

namespace {

std::mutex g_mutex;
QString g_domain; // null: the standard user defaults

} // namespace

void TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(const QString& domain)
{
    if (!domain.isEmpty() && !platform::UserDefaults::forDomain(domain))
        platform::log("TEVUserDefaultsProxy", QStringLiteral("\"%1\" is no preferences domain; settings are neither read nor written").arg(domain));
    std::lock_guard lock(g_mutex);
    g_domain = domain.isEmpty() ? QString() : domain;
}

QString TEVUserDefaultsProxy::overriddenDomain()
{
    std::lock_guard lock(g_mutex);
    return g_domain;
}

std::shared_ptr<platform::UserDefaults> TEVUserDefaultsProxy::target()
{
    const QString domain = overriddenDomain();
    // forDomain keeps one instance per domain, so redirecting twice to one name changes nothing.
    return domain.isNull() ? platform::UserDefaults::standard() : platform::UserDefaults::forDomain(domain);
}

QVariant TEVUserDefaultsProxy::objectForKey(const QString& key) const
{
    const auto defaults = target();
    return defaults ? defaults->objectForKey(key) : QVariant();
}

bool TEVUserDefaultsProxy::boolForKey(const QString& key) const
{
    const auto defaults = target();
    return defaults && defaults->boolForKey(key);
}

qint64 TEVUserDefaultsProxy::integerForKey(const QString& key) const
{
    const auto defaults = target();
    return defaults ? defaults->integerForKey(key) : 0;
}

float TEVUserDefaultsProxy::floatForKey(const QString& key) const
{
    const auto defaults = target();
    return defaults ? defaults->floatForKey(key) : 0.0f;
}

void TEVUserDefaultsProxy::setObject(const QVariant& value, const QString& key)
{
    if (const auto defaults = target())
        defaults->setObject(value, key);
}

void TEVUserDefaultsProxy::setBool(bool value, const QString& key)
{
    if (const auto defaults = target())
        defaults->setBool(value, key);
}

void TEVUserDefaultsProxy::setInteger(qint64 value, const QString& key)
{
    if (const auto defaults = target())
        defaults->setInteger(value, key);
}

void TEVUserDefaultsProxy::setFloat(float value, const QString& key)
{
    if (const auto defaults = target())
        defaults->setFloat(value, key);
}

void TEVUserDefaultsProxy::removeObjectForKey(const QString& key)
{
    if (const auto defaults = target())
        defaults->removeObjectForKey(key);
}

bool TEVUserDefaultsProxy::synchronize()
{
    const auto defaults = target();
    return defaults && defaults->synchronize();
}

QString TEVUserDefaultsProxy::filePath() const
{
    const auto defaults = target();
    return defaults ? defaults->filePath() : QString();
}

QString TEVUserDefaultsProxy::lastWriteError() const
{
    const auto defaults = target();
    return defaults ? defaults->lastWriteError() : QStringLiteral("no preferences domain");
}

bool TEVUserDefaultsProxy::lastSynchronizeWroteFile() const
{
    const auto defaults = target();
    return defaults && defaults->lastSynchronizeWroteFile();
}

QString TEVUserDefaultsProxy::unreadableReason() const
{
    const auto defaults = target();
    return defaults ? defaults->unreadableReason() : QString();
}

QString TEVUserDefaultsProxy::setAsideBadFile()
{
    const auto defaults = target();
    return defaults ? defaults->setAsideBadFile() : QString();
}
