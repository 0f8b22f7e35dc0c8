#include "framework/TEVApplicationDelegate.h"

#include "framework/NSProcessInfoTEVAdditions.h"
#include "framework/TEVSimpleCustomerSiteLogger.h"
#include "framework/TEVSoftwareUpdateManager.h"
#include "framework/TEVStringFormat.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/ApplicationEvents.h"
#include "platform/desktop/FileBookmark.h"
#include "platform/desktop/OpenPanel.h"
#include "platform/desktop/Sandbox.h"
#include "platform/desktop/Workspace.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cstdlib>
#include <dirent.h>

namespace {

const char* const kClassName = "TEVApplicationDelegate";
// The maker's support address for feedback mail.
const QString kSupportMailAddress = QStringLiteral("support@kelvaro.example.org");

std::shared_ptr<TEVApplicationDelegate> g_applicationDelegate;

} // namespace

std::shared_ptr<TEVApplicationDelegate> TEVApplicationDelegate::applicationDelegate()
{
    return g_applicationDelegate;
}

void TEVApplicationDelegate::setApplicationDelegate(std::shared_ptr<TEVApplicationDelegate> delegate)
{
    g_applicationDelegate = std::move(delegate);
}

TEVApplicationDelegate::TEVApplicationDelegate()
    : bundlePath_(QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString())
{
    delegatesByIdentifier_.reserve(10);
}

TEVApplicationDelegate::~TEVApplicationDelegate() = default;

QString TEVApplicationDelegate::applicationName() const
{
    std::lock_guard lock(mutex_);
    return applicationName_;
}

void TEVApplicationDelegate::setApplicationName(const QString& name)
{
    std::lock_guard lock(mutex_);
    applicationName_ = name;
}

QString TEVApplicationDelegate::feedbackSubject() const
{
    std::lock_guard lock(mutex_);
    return feedbackSubject_;
}

void TEVApplicationDelegate::setFeedbackSubject(const QString& subject)
{
    std::lock_guard lock(mutex_);
    feedbackSubject_ = subject;
}

QString TEVApplicationDelegate::updateRepositoryName() const
{
    std::lock_guard lock(mutex_);
    return updateRepositoryName_;
}

void TEVApplicationDelegate::setUpdateRepositoryName(const QString& name)
{
    std::lock_guard lock(mutex_);
    updateRepositoryName_ = name;
}

void TEVApplicationDelegate::setInternationalApplicationName(const QString& name, quint64 product, quint64 version,
                                                             const QString& rfc2396FeedbackSubject,
                                                             const QString& updateRepositoryName)
{
    setApplicationName(name);
    setProductCode(product);
    setVersionCode(version);
    setFeedbackSubject(rfc2396FeedbackSubject);
    setUpdateRepositoryName(updateRepositoryName);
}

void TEVApplicationDelegate::logStart(const QString& line) const
{
    TEVSimpleCustomerSiteLogger::sharedLogger()->log(startLog_, line);
}

void TEVApplicationDelegate::setupApplicationSupport()
{
    const auto logger = TEVSimpleCustomerSiteLogger::sharedLogger();
    const qint64 osCode = NSProcessInfoTEVAdditions::operatingSystemVersionCode();

    if (maximumOSVersionCode_ != 0 && static_cast<quint64>(osCode) >= maximumOSVersionCode_) {
        const QString version = presentedVersion();
        const QString name = applicationName();
        QString informative = TEVStringFormat::withObjects(
            localized(QStringLiteral("You are using %@ %@. %@ has not been tested with this system version. For safety reasons, "
                                     "the application will not run.\nPlease update to the next release of %@ as soon as it is "
                                     "available.\n\nTo verify if a new version is already available, open the official web page "
                                     "with the button below.")),
            {NSProcessInfoTEVAdditions::operatingSystemMarketingName(), NSProcessInfoTEVAdditions::operatingSystemVersionString(),
             name, name});
        if (!version.isEmpty()) {
            const QString thisIs = TEVStringFormat::withObjects(localized(QStringLiteral("This is %@ %@.")), {name, version});
            informative += QStringLiteral("\n\n") + thisIs;
        }
        platform::Alert alert;
        alert.style = platform::Alert::Style::Critical;
        alert.messageText = localized(QStringLiteral("Unknown operating system version"));
        alert.informativeText = informative;
        alert.buttons = {localized(QStringLiteral("Open web page")), localized(QStringLiteral("Cancel"))};
        if (platform::AlertPresenter::shared()->runModal(alert) == 0)
            contactWebSite();
        terminate();
        return;
    }

    startLog_ = logger->beginLoggingForSubsystem(QStringLiteral("Application"), QStringLiteral("startup"));
    const auto bundle = platform::Bundle::main();
    logStart(QStringLiteral("Launching '%1' with personality %2-0x%3 OS limiter 0x%4, identifier %5, on 0x%6.")
                 .arg(applicationName())
                 .arg(productCode_)
                 .arg(QString::number(versionCode_, 16), QString::number(maximumOSVersionCode_, 16),
                      bundle ? bundle->identifier() : QString(), QString::number(osCode, 16)));
    logStart(QStringLiteral("First stage of startup passed successfully."));

    if (platform::UserNotificationCenter* center = platform::UserNotificationCenter::defaultCenter())
        center->setDelegate(weak_from_this());

    if (isApplicationRunningFromDistributionImage()) {
        logStart(QStringLiteral("Application is still on distribution image."));
        runApplicationLocationAlert();
    }

    updateManager_ = TEVSoftwareUpdateManager::create(updateRepositoryName());
    logStart(QStringLiteral("Update management setup completed."));
    logStart(QStringLiteral("Application setup completed."));
}

QString TEVApplicationDelegate::presentedVersion() const
{
    const auto bundle = platform::Bundle::main();
    if (!bundle)
        return {};
    const auto shortVersion = platform::values::toString(bundle->objectForInfoDictionaryKey(QStringLiteral("CFBundleShortVersionString")));
    if (!shortVersion)
        return {};
    QString version = *shortVersion;
    if (const auto build = platform::values::toString(bundle->objectForInfoDictionaryKey(QStringLiteral("CFBundleVersion"))))
        version += TEVStringFormat::withObjects(localized(QStringLiteral(" (Build %@)")), {*build});
    return TEVStringFormat::withObjects(localized(QStringLiteral("Version %@")), {version});
}

QString TEVApplicationDelegate::localizedUIPolitenessAgnosticStringForKey(const QString& key, const QString& value,
                                                                          const QString& table) const
{
    const auto bundle = platform::Bundle::main();
    if (!bundle)
        return value.isEmpty() ? key : value;
    const auto forms = NSProcessInfoTEVAdditions::shouldUIUsePoliteForms() ? platform::Bundle::StringForms::Polite
                                                                           : platform::Bundle::StringForms::Plain;
    return bundle->localizedString(key, value, table, forms);
}

// ---- user-notification multiplexing

void TEVApplicationDelegate::registerAsMultiplexedDelegate(std::shared_ptr<platform::UserNotificationCenterDelegate> delegate,
                                                           const QString& identifier)
{
    KV_ASSERT_OR_RETURN(delegate != nullptr, , "no delegate specified");
    KV_ASSERT_OR_RETURN(!identifier.isEmpty(), , "identifier missing");
    delegatesByIdentifier_.insert(identifier, std::move(delegate));
}

void TEVApplicationDelegate::deregisterMultiplexedDelegateForUserNotificationsWithIdentifier(const QString& identifier)
{
    KV_ASSERT_OR_RETURN(!identifier.isEmpty(), , "identifier missing");
    delegatesByIdentifier_.remove(identifier);
}

void TEVApplicationDelegate::userNotificationCenterDidDeliverNotification(platform::UserNotificationCenter& center,
                                                                          const platform::UserNotification& notification)
{
    // A copy: the delegate may deregister itself.
    if (const auto delegate = delegatesByIdentifier_.value(notification.identifier))
        delegate->userNotificationCenterDidDeliverNotification(center, notification);
}

void TEVApplicationDelegate::userNotificationCenterDidActivateNotification(platform::UserNotificationCenter& center,
                                                                           const platform::UserNotification& notification)
{
    if (const auto delegate = delegatesByIdentifier_.value(notification.identifier))
        delegate->userNotificationCenterDidActivateNotification(center, notification);
}

bool TEVApplicationDelegate::userNotificationCenterShouldPresentNotification(platform::UserNotificationCenter& center,
                                                                             const platform::UserNotification& notification)
{
    if (const auto delegate = delegatesByIdentifier_.value(notification.identifier))
        return delegate->userNotificationCenterShouldPresentNotification(center, notification);
    return false;
}

// ---- environment

bool TEVApplicationDelegate::isApplicationRunningFromDistributionImage() const
{
    if (bundlePath_.isEmpty())
        return false;
    const QString container = QFileInfo(QDir::cleanPath(bundlePath_)).absolutePath();
    if (!QFileInfo(container + QStringLiteral("/.BG")).isDir())
        return false;
    // A writable folder with a ".BG" is somebody's copy, not the image.
    return platform::Sandbox::isOnReadOnlyFileSystem(container).value_or(false);
}

QString TEVApplicationDelegate::applicationsFolder()
{
    return platform::Paths::homeDirectory() + QStringLiteral("/Applications");
}

bool TEVApplicationDelegate::copyBundleTo(const QString& destination, QString* error) const
{
    const QString source = QDir::cleanPath(bundlePath_);
    if (QFileInfo::exists(destination)) {
        *error = QStringLiteral("\"%1\" already exists.").arg(destination);
        return false;
    }
    if (!QDir().mkpath(destination)) {
        *error = QStringLiteral("Could not create \"%1\".").arg(destination);
        return false;
    }
    QDirIterator it(source, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo entry(it.next());
        const QString target = destination + entry.absoluteFilePath().mid(source.size());
        const bool ok = entry.isDir() && !entry.isSymLink() ? QDir().mkpath(target)
                                                             : QFile::copy(entry.absoluteFilePath(), target);
        if (!ok) {
            *error = QStringLiteral("Could not copy \"%1\".").arg(entry.absoluteFilePath());
            return false;
        }
    }
    return true;
}

void TEVApplicationDelegate::runApplicationLocationAlert()
{
    const QString name = applicationName();
    platform::Alert alert;
    alert.messageText = localized(QStringLiteral("The application has been launched from its distribution disk."));
    alert.informativeText = TEVStringFormat::withObjects(
        localized(QStringLiteral("%@ can be used this way, but %@ may keep it quarantined and may show the License Agreement again. "
                                 "It is recommended to copy the application to the Mac first, e.g. into the Applications folder.")),
        {name, NSProcessInfoTEVAdditions::operatingSystemMarketingName()});
    alert.buttons = {localized(QStringLiteral("Continue")), localized(QStringLiteral("Quit")),
                     localized(QStringLiteral("Copy automatically"))};
    const int choice = platform::AlertPresenter::shared()->runModal(alert);
    if (choice == 1) {
        terminate();
        return;
    }
    if (choice != 2)
        return;

    const QString folder = applicationsFolder();
    if (!QDir().mkpath(folder))
        return;
    const QString destination = folder + QLatin1Char('/') + QFileInfo(QDir::cleanPath(bundlePath_)).fileName();
    QString reason;
    bool ok = copyBundleTo(destination, &reason);
    if (ok) {
        const QString executable = destination + QLatin1Char('/') + QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        ok = platform::Workspace::shared()->launchApplicationAtPath(executable);
        if (!ok)
            reason = QStringLiteral("Could not launch \"%1\".").arg(executable);
    }
    if (ok) {
        terminate();
        return;
    }
    platform::AlertPresenter::shared()->runModal(platform::Alert::forError(
        platform::Error{QStringLiteral("com.tarnwell.library"), 1, {{QStringLiteral("NSLocalizedDescription"), reason}}}));
}

platform::Error TEVApplicationDelegate::errorForWindowResumeFailure()
{
    return platform::Error{QStringLiteral("com.tarnwell.library"),
                           9200,
                           {{QStringLiteral("NSLocalizedDescription"),
                             QStringLiteral("Received Resume restoration information for unknown window.")}}};
}

QIcon TEVApplicationDelegate::computerIcon()
{
    return QIcon::fromTheme(QStringLiteral("computer"));
}

// ---- menu actions

void TEVApplicationDelegate::checkForSoftwareUpdate()
{
    if (!updateManager_)
        return;
    updateManager_->runCheck();
    updateManager_->runAlertWithResults();
}

void TEVApplicationDelegate::contactAuthor()
{
    // The subject is percent-encoded by the caller already.
    const QUrl url = QUrl::fromEncoded((QStringLiteral("mailto:") + kSupportMailAddress + QStringLiteral("?subject=") + feedbackSubject()).toUtf8());
    if (!platform::Workspace::shared()->openURL(url))
        showAddressThatCouldNotBeOpened(localized(QStringLiteral("No mail program could be opened. Please write to:")),
                                        kSupportMailAddress);
}

void TEVApplicationDelegate::contactWebSite()
{
    const auto bundle = platform::Bundle::main();
    const QString text = bundle ? bundle->localizedString(QStringLiteral("URL_WEBSITE"), QString()) : QString();
    const QUrl url(text, QUrl::StrictMode);
    if (text == QLatin1String("URL_WEBSITE") || !url.isValid() || url.scheme().isEmpty()) {
        platform::log(kClassName, QStringLiteral("no web site address in the bundle"));
        return;
    }
    if (!platform::Workspace::shared()->openURL(url))
        showAddressThatCouldNotBeOpened(localized(QStringLiteral("No web browser could be opened. The web site is at:")),
                                        text);
}

// Without a mail program or browser the desktop only logs its failure; the user gets the address, alone in
// its line so that one triple click selects it, to take elsewhere.
void TEVApplicationDelegate::showAddressThatCouldNotBeOpened(const QString& message, const QString& address) const
{
    platform::Alert alert;
    alert.messageText = message;
    alert.informativeText = address;
    alert.style = platform::Alert::Style::Informational;
    alert.buttons = {localized(QStringLiteral("OK"))};
    alert.selectableText = true;
    platform::AlertPresenter::shared()->runModal(alert);
}

void TEVApplicationDelegate::terminate()
{
    platform::NotificationCenter::defaultCenter().post(platform::ApplicationWillTerminateNotification);
    std::exit(0);
}

// ---- sandbox and file access

QString TEVApplicationDelegate::pathOfTrueHomeFolder() const
{
    const auto home = platform::Sandbox::passwordDatabaseHome();
    if (const auto* error = std::get_if<platform::Sandbox::HomeLookupError>(&home)) {
        platform::log(*error == platform::Sandbox::HomeLookupError::NoAccount ? QStringLiteral("Failed to access UNIX user account!\n")
                                                                              : QStringLiteral("Failed to get UNIX home folder path!\n"));
        return {};
    }
    return std::get<QString>(home);
}

bool TEVApplicationDelegate::isRunningInSandbox() const
{
    if (platform::Sandbox::hasFlatpakMarker() || platform::Sandbox::hasSnapMarker())
        return true;
    const QString home = pathOfTrueHomeFolder();
    return home.isNull() || QDir::cleanPath(home) != QDir::cleanPath(platform::Paths::homeDirectory());
}

void TEVApplicationDelegate::beginNonTerminableOperation(const QString& reason)
{
    // Linux has no sudden or automatic termination of idle programs; the count keeps the pairing checkable.
    nonTerminableReasons_.append(reason);
}

void TEVApplicationDelegate::endNonTerminableOperation(const QString& reason)
{
    if (!nonTerminableReasons_.removeOne(reason))
        platform::log(kClassName, QStringLiteral("end of a non-terminable operation that never began: %1").arg(reason));
}

bool TEVApplicationDelegate::canReadFileSystemObjectAtURL(const QUrl& url)
{
    if (!url.isLocalFile())
        return false;
    const QString path = url.toLocalFile();
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    if (info.isDir()) {
        DIR* dir = ::opendir(QFile::encodeName(path).constData());
        if (!dir)
            return false;
        ::closedir(dir);
        return true;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    char buffer[4096];
    return file.read(buffer, sizeof buffer) >= 0;
}

std::optional<QUrl> TEVApplicationDelegate::safetyURLForEntitledAccessToExistingObjectAtURL(const QUrl& url, bool asFolder,
                                                                                           const QString& key,
                                                                                           const QString& localizedDescription)
{
    KV_ASSERT_OR_RETURN(!url.isEmpty() && !key.isEmpty() && !localizedDescription.isEmpty(), std::nullopt,
                        "arguments must not be empty");
    KV_ASSERT_OR_RETURN(url.isLocalFile(), std::nullopt, "specified URL must refer to file system");
    if (!isRunningInSandbox())
        return url;

    const auto defaults = platform::UserDefaults::standard();
    if (!defaults)
        return std::nullopt;
    if (const auto data = defaults->dataForKey(key); data && !data->isEmpty()) {
        if (const auto path = platform::FileBookmark::resolve(*data)) {
            const QUrl resolved = QUrl::fromLocalFile(*path);
            if (canReadFileSystemObjectAtURL(resolved))
                return resolved;
        }
    }

    const QString requested = QDir::cleanPath(url.toLocalFile());
    platform::OpenPanelOptions options;
    options.title = localized(QStringLiteral("Request for Entitlement"));
    options.prompt = localized(QStringLiteral("Confirm"));
    options.message = TEVStringFormat::withObjects(
        localized(QStringLiteral("To work correctly, this application needs access to the object shown: %@ Press 'Confirm' to "
                                 "allow access to this location.")),
        {localizedDescription});
    options.showsHiddenFiles = true;
    options.canChooseDirectories = asFolder;
    options.canChooseFiles = !asFolder;
    const auto panel = platform::OpenPanel::shared();
    for (;;) {
        options.directory = requested;
        const auto chosen = panel->runModal(options);
        if (!chosen)
            return std::nullopt;
        if (QDir::cleanPath(*chosen) != requested)
            continue;
        const auto bookmark = platform::FileBookmark::create(requested);
        if (!bookmark)
            return std::nullopt;
        defaults->setObject(platform::values::fromData(*bookmark), key);
        defaults->synchronize();
        const auto path = platform::FileBookmark::resolve(*bookmark);
        if (!path)
            return std::nullopt;
        const QUrl resolved = QUrl::fromLocalFile(*path);
        return canReadFileSystemObjectAtURL(resolved) ? std::optional<QUrl>(resolved) : std::nullopt;
    }
}
