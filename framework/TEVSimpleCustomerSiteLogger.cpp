#include "framework/TEVSimpleCustomerSiteLogger.h"

#include "framework/TEVApplicationDelegate.h"
#include "platform/desktop/ApplicationEvents.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

const char* const kClassName = "TEVSimpleCustomerSiteLogger";
const QString kGeneral = QStringLiteral("General");
const QString kEnableKey = QStringLiteral("SCSLEnable");
// Far more numbered reports than anybody keeps; the bound only stops a runaway loop.
constexpr int kMaxReportNumber = 100000;

std::shared_ptr<TEVSimpleCustomerSiteLogger> g_shared;

} // namespace

std::shared_ptr<TEVSimpleCustomerSiteLogger> TEVSimpleCustomerSiteLogger::sharedLogger()
{
    if (!g_shared)
        g_shared = std::make_shared<TEVSimpleCustomerSiteLogger>();
    return g_shared;
}

void TEVSimpleCustomerSiteLogger::resetSharedLogger()
{
    g_shared.reset();
}

TEVSimpleCustomerSiteLogger::TEVSimpleCustomerSiteLogger()
{
    linesByIdentifiers_.insert(kGeneral, 0);

    QVariant activation;
    const QString path = pathOfActivationFile();
    if (!path.isEmpty() && QFileInfo(path).isFile()) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            const auto dictionary = platform::values::toDictionary(platform::readPropertyList(file.read(1024 * 1024)).value);
            if (dictionary && dictionary->contains(kEnableKey))
                activation = dictionary->value(kEnableKey);
        }
    }
    if (!activation.isValid()) {
        if (const auto defaults = platform::UserDefaults::standard())
            activation = defaults->objectForKey(kEnableKey);
    }

    if (const auto settings = platform::values::toDictionary(activation)) {
        const auto subsystems = platform::values::toArray(settings->value(QStringLiteral("Subsystems")));
        const auto categories = platform::values::toArray(settings->value(QStringLiteral("Categories")));
        if (subsystems && categories) {
            for (const QVariant& name : *subsystems) {
                if (const auto text = platform::values::toString(name))
                    activeSubsystems_.insert(*text);
            }
            for (const QVariant& name : *categories) {
                if (const auto text = platform::values::toString(name))
                    activeCategories_.insert(*text);
            }
            enabled_ = !activeSubsystems_.isEmpty() || !activeCategories_.isEmpty();
        }
        const QVariant disable = settings->value(QStringLiteral("DisableReportFile"));
        if (platform::values::isNumber(disable))
            logFileDisabled_ = platform::values::toBool(disable).value_or(false);
    }

    terminateObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
        platform::ApplicationWillTerminateNotification, {}, [this](const platform::Notification&) { applicationWillTerminate(); });
}

TEVSimpleCustomerSiteLogger::~TEVSimpleCustomerSiteLogger()
{
    platform::NotificationCenter::defaultCenter().removeObserver(terminateObserver_);
    closeLogFile();
}

QString TEVSimpleCustomerSiteLogger::pathOfActivationFile()
{
    const auto bundle = platform::Bundle::main();
    const QString identifier = bundle ? bundle->identifier() : QString();
    if (identifier.isEmpty() || identifier.contains(QLatin1Char('/')))
        return {};
    return platform::Paths::desktopDirectory() + QLatin1Char('/') + identifier + QStringLiteral(".plist");
}

bool TEVSimpleCustomerSiteLogger::isLoggingActiveForSubsystem(const QString& subsystem) const
{
    return !subsystem.isEmpty() && activeSubsystems_.contains(subsystem);
}

bool TEVSimpleCustomerSiteLogger::isLoggingActiveForCategory(const QString& category) const
{
    return !category.isEmpty() && activeCategories_.contains(category);
}

QString TEVSimpleCustomerSiteLogger::logIdentifierForSubsystem(const QString& subsystem, const QString& category)
{
    if (subsystem.isEmpty() || category.isEmpty())
        return {};
    return subsystem + QLatin1Char('-') + category;
}

qint64 TEVSimpleCustomerSiteLogger::beginLoggingForSubsystem(const QString& subsystem, const QString& category)
{
    const QString identifier = logIdentifierForSubsystem(subsystem, category);
    if (identifier.isNull() || (!isLoggingActiveForSubsystem(subsystem) && !isLoggingActiveForCategory(category)))
        return -1;
    if (const auto it = logTagsByIdentifiers_.constFind(identifier); it != logTagsByIdentifiers_.constEnd())
        return it.value();
    const qint64 tag = ++lastTag_;
    logTagsByIdentifiers_.insert(identifier, tag);
    identifiersByLogTags_.insert(tag, identifier);
    linesByIdentifiers_.insert(identifier, 0);
    log(tag, QStringLiteral("--- Begin of log %1 ---").arg(identifier));
    return tag;
}

void TEVSimpleCustomerSiteLogger::endLoggingWithTag(qint64 tag)
{
    if (tag == 0)
        return;
    const auto it = identifiersByLogTags_.constFind(tag);
    if (it == identifiersByLogTags_.constEnd())
        return;
    const QString identifier = it.value();
    log(tag, QStringLiteral("--- End of log %1 ---").arg(identifier));
    identifiersByLogTags_.remove(tag);
    logTagsByIdentifiers_.remove(identifier);
    linesByIdentifiers_.remove(identifier);
}

void TEVSimpleCustomerSiteLogger::log(qint64 tag, const QString& message)
{
    if (!enabled_ || message.isEmpty())
        return;
    QString identifier;
    if (tag == 0) {
        identifier = kGeneral;
    } else {
        const auto it = identifiersByLogTags_.constFind(tag);
        if (it == identifiersByLogTags_.constEnd())
            return;
        identifier = it.value();
    }
    if (logFileDisabled_)
        return;
    if (!logFile_)
        logFile_ = createNewLogFile();
    if (!logFile_)
        return;
    const quint64 number = linesByIdentifiers_.value(identifier) + 1;
    const QString time = platform::currentDate().toLocalTime().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
    const QByteArray line = QStringLiteral("%1 %2 [%3]: %4\n")
                                .arg(time)
                                .arg(number, 5, 10, QLatin1Char('0'))
                                .arg(identifier, message)
                                .toUtf8();
    // Flushed per line: the report matters most when the program dies right after it.
    if (std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), logFile_) != static_cast<size_t>(line.size())
        || std::fflush(logFile_) != 0)
        platform::log(kClassName, QStringLiteral("could not write to %1: %2").arg(logFilePath_, QString::fromLocal8Bit(std::strerror(errno))));
    linesByIdentifiers_.insert(identifier, number);
}

void TEVSimpleCustomerSiteLogger::synchronizeLog()
{
    if (logFile_)
        std::fflush(logFile_);
}

std::FILE* TEVSimpleCustomerSiteLogger::createNewLogFile()
{
    const auto delegate = TEVApplicationDelegate::applicationDelegate();
    const QString name = delegate ? delegate->applicationName() : QStringLiteral("TEV Generic Application");
    QString folder = QStringLiteral("/tmp");
    if (!delegate || !delegate->isRunningInSandbox()) {
        const QString desktop = platform::Paths::desktopDirectory();
        if (!desktop.isEmpty() && QFileInfo(desktop).isDir())
            folder = desktop;
    }
    for (int number = 0; number < kMaxReportNumber; ++number) {
        const QString file = number == 0 ? QStringLiteral("%1-Report.txt").arg(name) : QStringLiteral("%1-Report %2.txt").arg(name).arg(number);
        const QString path = folder + QLatin1Char('/') + file;
        // O_EXCL with O_NOFOLLOW: a name that exists (a planted link included) is never opened, and a
        // second process racing for the same name gets the next one.
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            // Every later line tries again; one log line is enough.
            if (!reportedCreateFailure_)
                platform::log(kClassName, QStringLiteral("could not create %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
            reportedCreateFailure_ = true;
            return nullptr;
        }
        std::FILE* stream = ::fdopen(fd, "w");
        if (!stream) {
            ::close(fd);
            return nullptr;
        }
        logFilePath_ = path;
        return stream;
    }
    platform::log(kClassName, QStringLiteral("no free report name in %1").arg(folder));
    return nullptr;
}

void TEVSimpleCustomerSiteLogger::applicationWillTerminate()
{
    // Ending a log edits the tables, so walk a copy.
    QList<qint64> tags = identifiersByLogTags_.keys();
    std::sort(tags.begin(), tags.end());
    for (const qint64 tag : tags)
        endLoggingWithTag(tag);
    if (logFile_) {
        const quint64 number = linesByIdentifiers_.value(kGeneral) + 1;
        log(0, QStringLiteral("Application entered termination phase. [%1] EOF.").arg(number));
        closeLogFile();
    }
    platform::NotificationCenter::defaultCenter().removeObserver(terminateObserver_);
    terminateObserver_ = {};
}

void TEVSimpleCustomerSiteLogger::closeLogFile()
{
    if (logFile_)
        std::fclose(logFile_);
    logFile_ = nullptr;
    logFilePath_.clear();
}
