#include "framework/TEVSoftwareUpdateManager.h"

#include "framework/NSProcessInfoTEVAdditions.h"
#include "framework/TEVApplicationDelegate.h"
#include "framework/TEVStringFormat.h"
#include "platform/desktop/UrlDownload.h"
#include "platform/desktop/Workspace.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"

#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

const char* const kClassName = "TEVSoftwareUpdateManager";
const QString kAutoUpdateKey = QStringLiteral("AutoUpdateNotification");
const QString kTimeStampKey = QStringLiteral("AutoUpdateCheckTimeStamp");
const QUrl kDefaultRepository(QStringLiteral("https://www.tarnwell.com"));

double g_minimumPeriod = 86400;
QUrl g_repository;

QString invalid(const QString& what)
{
    return QStringLiteral("%1: received invalid update info: %2\n").arg(QLatin1String(kClassName), what);
}

std::optional<QString> nonEmptyString(const QVariant& value)
{
    const auto text = platform::values::toString(value);
    if (!text || text->isEmpty())
        return std::nullopt;
    return text;
}

} // namespace

double TEVSoftwareUpdateManager::leadingDouble(const QString& text)
{
    static const QRegularExpression number(QStringLiteral("^\\s*[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?"));
    const QRegularExpressionMatch match = number.match(text);
    if (!match.hasMatch())
        return 0;
    bool ok = false;
    const double value = QLocale::c().toDouble(match.captured(0).trimmed(), &ok);
    return ok ? value : 0;
}

QUrl TEVSoftwareUpdateManager::repositoryURL()
{
    return g_repository.isValid() && !g_repository.isEmpty() ? g_repository : kDefaultRepository;
}

void TEVSoftwareUpdateManager::setRepositoryURL(const QUrl& url)
{
    g_repository = url;
}

QUrl TEVSoftwareUpdateManager::sourceURLOfUpdateInfoForProductIdentifier(const QString& identifier)
{
    if (identifier.isEmpty())
        return {};
    // Path characters stay; '/' is encoded too, so an identifier cannot reach another folder.
    const QByteArray encoded = QUrl::toPercentEncoding(identifier, "!$&'()*+,;=:@");
    QString base = repositoryURL().toString(QUrl::StripTrailingSlash);
    const QUrl url(base + QStringLiteral("/ProductRepository/") + QString::fromLatin1(encoded) + QStringLiteral(".plist"), QUrl::StrictMode);
    return url.isValid() ? url : QUrl();
}

bool TEVSoftwareUpdateManager::userPrefersAutomaticUpdateCheck()
{
    const auto defaults = platform::UserDefaults::standard();
    return defaults && defaults->boolForKey(kAutoUpdateKey);
}

void TEVSoftwareUpdateManager::setUserPrefersAutomaticUpdateCheck(bool prefers)
{
    if (const auto defaults = platform::UserDefaults::standard()) {
        defaults->setBool(prefers, kAutoUpdateKey);
        defaults->synchronize();
    }
}

double TEVSoftwareUpdateManager::minimumPeriodForAutomaticUpdateCheck()
{
    return g_minimumPeriod;
}

void TEVSoftwareUpdateManager::setMinimumPeriodForAutomaticUpdateCheck(double seconds)
{
    if (std::isnan(seconds) || seconds < 1)
        return;
    g_minimumPeriod = seconds;
}

int TEVSoftwareUpdateManager::compareVersions(const QString& a, const QString& b)
{
    // Digits only, without leading zeros; compared as texts, so no component is too long to compare.
    const auto component = [](const QStringList& parts, qsizetype i) {
        if (i >= parts.size())
            return QString();
        const QString& part = parts.at(i);
        qsizetype end = 0;
        while (end < part.size() && part.at(end).isDigit() && part.at(end).unicode() < 128)
            ++end;
        qsizetype start = 0;
        while (start < end && part.at(start) == QLatin1Char('0'))
            ++start;
        return part.mid(start, end - start);
    };
    const QStringList first = a.trimmed().split(QLatin1Char('.'));
    const QStringList second = b.trimmed().split(QLatin1Char('.'));
    for (qsizetype i = 0; i < std::max(first.size(), second.size()); ++i) {
        const QString x = component(first, i);
        const QString y = component(second, i);
        if (x.size() != y.size())
            return x.size() < y.size() ? -1 : 1;
        if (const int order = x.compare(y))
            return order < 0 ? -1 : 1;
    }
    return 0;
}

TEVSoftwareUpdateManager::TEVSoftwareUpdateManager(QUrl downloadURL, const QString& appVersion)
    : appVersion_(leadingDouble(appVersion))
    , appVersionString_(appVersion)
    , downloadURL_(std::move(downloadURL))
{
}

std::shared_ptr<TEVSoftwareUpdateManager> TEVSoftwareUpdateManager::create(const QString& productIdentifier)
{
    const QUrl url = sourceURLOfUpdateInfoForProductIdentifier(productIdentifier);
    if (url.isEmpty()) {
        platform::log(QStringLiteral("%1: could not generate URL for identifier '%2'\n").arg(QLatin1String(kClassName), productIdentifier));
        return nullptr;
    }
    const auto bundle = platform::Bundle::main();
    const auto version = bundle ? nonEmptyString(bundle->objectForInfoDictionaryKey(QStringLiteral("CFBundleShortVersionString")))
                                : std::nullopt;
    if (!version) {
        platform::log(QStringLiteral("%1: could not determine short version number of the current application\n").arg(QLatin1String(kClassName)));
        return nullptr;
    }
    auto manager = std::make_shared<TEVSoftwareUpdateManager>(url, *version);
    if (userPrefersAutomaticUpdateCheck())
        manager->runAutomaticUpdateCheckIfNecessary();
    return manager;
}

QString TEVSoftwareUpdateManager::localized(const QString& key) const
{
    if (const auto delegate = TEVApplicationDelegate::applicationDelegate())
        return delegate->localizedUIPolitenessAgnosticStringForKey(key, {}, TEVApplicationDelegate::kStringTable);
    return key;
}

bool TEVSoftwareUpdateManager::validate(const QVariantMap& info) const
{
    using namespace platform;
    if (!nonEmptyString(info.value(QStringLiteral("TEVBuildNumber")))) {
        log(invalid(QStringLiteral("build number error")));
        return false;
    }
    static const QRegularExpression hexDigits(QStringLiteral("^[0-9A-Fa-f]{1,15}$"));
    const auto minimumOS = nonEmptyString(info.value(QStringLiteral("TEVMinimumOSVersion")));
    if (!minimumOS || !hexDigits.match(*minimumOS).hasMatch()) {
        log(invalid(QStringLiteral("OS version error")));
        return false;
    }
    const QVariant code = info.value(QStringLiteral("TEVProductCode"));
    const auto kind = values::kindOf(code);
    if (kind != values::Kind::Signed && kind != values::Kind::Unsigned && kind != values::Kind::Real) {
        log(invalid(QStringLiteral("product SKU error")));
        return false;
    }
    if (!nonEmptyString(info.value(QStringLiteral("TEVProductName")))) {
        log(invalid(QStringLiteral("product name error")));
        return false;
    }
    const auto urls = values::toDictionary(info.value(QStringLiteral("TEVProductURLs")));
    if (!urls) {
        log(invalid(QStringLiteral("product URL error")));
        return false;
    }
    for (auto it = urls->begin(); it != urls->end(); ++it) {
        if (it.key().isEmpty()) {
            log(invalid(QStringLiteral("localization key error")));
            return false;
        }
        // Only a web page over https is opened for the user; anything else could run a local handler.
        const auto text = nonEmptyString(it.value());
        const QUrl url = text ? QUrl(*text, QUrl::StrictMode) : QUrl();
        if (!url.isValid() || url.scheme() != QLatin1String("https") || url.host().isEmpty()) {
            log(invalid(QStringLiteral("error in URL for language '%1'").arg(it.key())));
            return false;
        }
    }
    if (!values::toDate(info.value(QStringLiteral("TEVReleaseDate")))) {
        log(invalid(QStringLiteral("release date error")));
        return false;
    }
    if (!nonEmptyString(info.value(QStringLiteral("TEVVersionNumber")))) {
        log(invalid(QStringLiteral("version specificier error")));
        return false;
    }
    return true;
}

void TEVSoftwareUpdateManager::runCheck()
{
    // The download waits in a nested event loop, where a menu action or the automatic check could ask again.
    if (checkRunning_) {
        platform::log(kClassName, QStringLiteral("a check is already running"));
        return;
    }
    checkRunning_ = true;
    fetchAndValidate();
    checkRunning_ = false;
    if (alertWhenCheckEnds_) {
        alertWhenCheckEnds_ = false;
        // After the caller of this check has seen its result (the automatic check stores its time stamp).
        const std::weak_ptr<TEVSoftwareUpdateManager> weak = weak_from_this();
        platform::RunLoop::main()->perform([weak] {
            if (const auto self = weak.lock())
                self->runAlertWithResults();
        });
    }
}

void TEVSoftwareUpdateManager::fetchAndValidate()
{
    hasPerformedCheck_ = false;
    isRelevantUpdateAvailable_ = false;
    updateInfo_.reset();

    platform::DownloadLimits limits;
    limits.maxBytes = kMaximumUpdateInfoBytes;
    const auto downloaded = platform::UrlDownload::fetch(downloadURL_, limits);
    if (const auto* error = std::get_if<platform::DownloadError>(&downloaded)) {
        platform::log(QStringLiteral("%1: problem during download of software update information detected: %2\n")
                          .arg(QLatin1String(kClassName), error->reason));
        return;
    }
    platform::PlistLimits plistLimits;
    plistLimits.maxInputBytes = kMaximumUpdateInfoBytes;
    plistLimits.maxDepth = 8;
    plistLimits.maxValues = 10000;
    const platform::PlistReadResult read = platform::readPropertyList(std::get<QByteArray>(downloaded), plistLimits);
    const auto info = platform::values::toDictionary(read.value);
    if (!info) {
        platform::log(kClassName, QStringLiteral("received no update info dictionary: %1")
                                      .arg(read.error.isEmpty() ? QStringLiteral("not a dictionary") : read.error));
        return;
    }
    if (!validate(*info))
        return;
    hasPerformedCheck_ = true;
    updateInfo_ = *info;
    isRelevantUpdateAvailable_ = NSProcessInfoTEVAdditions::operatingSystemVersionCode() >= minimumOSVersionCode()
                                 && compareVersions(versionNumber(), appVersionString_) > 0;
}

void TEVSoftwareUpdateManager::runAlertWithResults()
{
    // The flags are cleared while a check waits for its answer; its result is shown when it ends.
    if (checkRunning_) {
        alertWhenCheckEnds_ = true;
        return;
    }
    const auto presenter = platform::AlertPresenter::shared();
    if (hasPerformedCheck_ && isRelevantUpdateAvailable_) {
        if (const auto alert = alertForAvailableUpdate(); alert && presenter->runModal(*alert) == 0) {
            if (const QUrl url = localizedProductURL(); url.isValid())
                platform::Workspace::shared()->openURL(url);
        }
        return;
    }
    platform::Alert alert;
    if (hasPerformedCheck_) {
        alert.messageText = localized(QStringLiteral("This software product is up-to-date"));
        alert.informativeText = localized(
            QStringLiteral("You are already using the latest version of this software package that is available for this operating system."));
    } else {
        alert.messageText = localized(QStringLiteral("Could not contact update site"));
        alert.informativeText = localized(QStringLiteral("It was not possible to contact the update server via Internet. Please check your "
                                                         "Internet connection or retry at a later time."));
    }
    alert.buttons = {localized(QStringLiteral("OK"))};
    presenter->runModal(alert);
}

std::optional<platform::Alert> TEVSoftwareUpdateManager::alertForAvailableUpdate() const
{
    if (!hasPerformedCheck_)
        return std::nullopt;
    platform::Alert alert;
    alert.messageText = localized(QStringLiteral("A new version is available"));
    alert.informativeText = TEVStringFormat::withObjects(
        localized(QStringLiteral("The software package %@, version %@ (Build %@), is available since %@.\nClick on the Connect button "
                                 "below to open the download web site and get detailed information.")),
        {productName(), versionNumber(), buildNumber(), localizedReleaseDateString()});
    alert.buttons = {localized(QStringLiteral("Connect")), localized(QStringLiteral("Cancel"))};
    return alert;
}

void TEVSoftwareUpdateManager::runAutomaticUpdateCheckIfNecessary()
{
    const auto defaults = platform::UserDefaults::standard();
    if (!defaults)
        return;
    const auto stamp = platform::values::toDate(defaults->objectForKey(kTimeStampKey));
    if (stamp && stamp->addMSecs(std::llround(g_minimumPeriod * 1000)) > platform::currentDate())
        return;
    platform::log(QStringLiteral("Performing automatic software update check.\n"));
    const std::weak_ptr<TEVSoftwareUpdateManager> weak = weak_from_this();
    platform::RunLoop::main()->perform([weak, defaults] {
        const auto self = weak.lock();
        if (!self || self->checkRunning_)
            return;
        self->runCheck();
        if (!self->hasPerformedCheck_)
            return; // no time stamp: the next launch tries again
        defaults->setObject(platform::values::fromDate(platform::currentDate()), kTimeStampKey);
        defaults->synchronize();
        platform::RunLoop::main()->perform([weak] {
            if (const auto manager = weak.lock())
                manager->showUserNotificationWithResultsIfNecessary();
        });
    });
}

void TEVSoftwareUpdateManager::showUserNotificationWithResultsIfNecessary()
{
    platform::UserNotificationCenter* center = platform::UserNotificationCenter::defaultCenter();
    if (!center || !hasPerformedCheck_ || !isRelevantUpdateAvailable_)
        return;
    const QString identifier = userNotificationIdentifierForAutomaticUpdates();
    if (const auto delegate = TEVApplicationDelegate::applicationDelegate())
        delegate->registerAsMultiplexedDelegate(shared_from_this(), identifier);
    platform::UserNotification notification;
    notification.title = localized(QStringLiteral("Update available"));
    notification.subtitle = TEVStringFormat::withObjects(localized(QStringLiteral("Version %@")), {versionNumber()});
    notification.informativeText = localized(QStringLiteral("Click to open web page."));
    notification.actionButtonTitle = localized(QStringLiteral("Open"));
    notification.otherButtonTitle = localized(QStringLiteral("Cancel"));
    notification.hasActionButton = true;
    notification.identifier = identifier;
    center->removeDeliveredNotification(identifier);
    deliveredIdentifier_ = identifier;
    deliveredURL_ = localizedProductURL();
    center->deliverNotification(notification);
}

bool TEVSoftwareUpdateManager::isOwnNotification(const QString& identifier) const
{
    return identifier == userNotificationIdentifierForAutomaticUpdates()
        || (!deliveredIdentifier_.isNull() && identifier == deliveredIdentifier_);
}

QString TEVSoftwareUpdateManager::userNotificationIdentifierForAutomaticUpdates() const
{
    return QStringLiteral("TEVSoftwareUpdate-%1").arg(productCode());
}

bool TEVSoftwareUpdateManager::userNotificationCenterShouldPresentNotification(platform::UserNotificationCenter&,
                                                                               const platform::UserNotification& notification)
{
    return isOwnNotification(notification.identifier);
}

void TEVSoftwareUpdateManager::userNotificationCenterDidActivateNotification(platform::UserNotificationCenter&,
                                                                             const platform::UserNotification& notification)
{
    if (!isOwnNotification(notification.identifier))
        return;
    // The page the notification offered, even when a later check found nothing.
    const QUrl url = notification.identifier == deliveredIdentifier_ && deliveredURL_.isValid() ? deliveredURL_
                                                                                                : localizedProductURL();
    if (url.isValid())
        platform::Workspace::shared()->openURL(url);
}

// ---- readers of the update information

QString TEVSoftwareUpdateManager::buildNumber() const
{
    return updateInfo_ ? platform::values::toString(updateInfo_->value(QStringLiteral("TEVBuildNumber"))).value_or(QString()) : QString();
}

QString TEVSoftwareUpdateManager::productName() const
{
    return updateInfo_ ? platform::values::toString(updateInfo_->value(QStringLiteral("TEVProductName"))).value_or(QString()) : QString();
}

QString TEVSoftwareUpdateManager::versionNumber() const
{
    return updateInfo_ ? platform::values::toString(updateInfo_->value(QStringLiteral("TEVVersionNumber"))).value_or(QString()) : QString();
}

QDateTime TEVSoftwareUpdateManager::releaseDate() const
{
    return updateInfo_ ? platform::values::toDate(updateInfo_->value(QStringLiteral("TEVReleaseDate"))).value_or(QDateTime()) : QDateTime();
}

quint64 TEVSoftwareUpdateManager::productCode() const
{
    return updateInfo_ ? platform::values::toUnsigned(updateInfo_->value(QStringLiteral("TEVProductCode"))).value_or(0) : 0;
}

qint64 TEVSoftwareUpdateManager::minimumOSVersionCode() const
{
    const QString text =
        updateInfo_ ? platform::values::toString(updateInfo_->value(QStringLiteral("TEVMinimumOSVersion"))).value_or(QString()) : QString();
    bool ok = false;
    const qint64 code = text.toLongLong(&ok, 16);
    return ok ? code : 0;
}

QUrl TEVSoftwareUpdateManager::localizedProductURL() const
{
    const auto urls = updateInfo_ ? platform::values::toDictionary(updateInfo_->value(QStringLiteral("TEVProductURLs"))) : std::nullopt;
    if (!urls || urls->isEmpty())
        return {};
    const auto bundle = platform::Bundle::main();
    QStringList order = bundle ? bundle->preferredLocalizationsFromArray(urls->keys()) : QStringList();
    // Information in none of the user's languages still names a page.
    const QString chosen = order.isEmpty() ? urls->firstKey() : order.first();
    const auto text = nonEmptyString(urls->value(chosen));
    if (chosen.isEmpty() || !text)
        return {};
    return QUrl(*text, QUrl::StrictMode);
}

QString TEVSoftwareUpdateManager::localizedReleaseDateString() const
{
    const QDateTime date = releaseDate();
    if (!date.isValid())
        return QString();
    return QLocale().toString(date.toLocalTime().date(), QLocale::ShortFormat);
}
