#include "framework/TEVUserDefaultsProxy.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

const QString kOtherDomain = QStringLiteral("com.tarnwell.kelvaro.proxytest");
const QString kKey = QStringLiteral("ProxyTestValue");

class TEVUserDefaultsProxyTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith({});
        for (const auto& defaults : {platform::UserDefaults::standard(), platform::UserDefaults::forDomain(kOtherDomain)}) {
            defaults->removeObjectForKey(kKey);
            defaults->synchronize();
        }
    }

    // The value stored in a domain's file, not in any instance's memory.
    static QVariant storedValue(const QString& domain, const QString& key)
    {
        QFile file(platform::UserDefaults::pathForDomain(domain));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return platform::values::toDictionary(platform::readPropertyList(file.readAll()).value).value_or(QVariantMap()).value(key);
    }
};

} // namespace

TEST_F(TEVUserDefaultsProxyTest, WithoutRedirectionSharesTheStandardDefaults)
{
    auto proxy = TEVUserDefaultsProxy::standardUserDefaults();
    proxy.setInteger(12, kKey);
    EXPECT_EQ(platform::UserDefaults::standard()->integerForKey(kKey), 12);
    platform::UserDefaults::standard()->setBool(true, kKey);
    EXPECT_TRUE(proxy.boolForKey(kKey));
}

TEST_F(TEVUserDefaultsProxyTest, RedirectedProxyReadsAndWritesOnlyThatDomainsFile)
{
    const auto standard = platform::UserDefaults::standard();
    standard->setInteger(5, kKey);
    ASSERT_TRUE(standard->synchronize());

    TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(kOtherDomain);
    auto proxy = TEVUserDefaultsProxy::standardUserDefaults();
    EXPECT_EQ(proxy.integerForKey(kKey), 0);
    proxy.setInteger(7, kKey);
    // A second redirection to the same name keeps the unsaved write.
    TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(QString(kOtherDomain));
    EXPECT_EQ(proxy.integerForKey(kKey), 7);
    ASSERT_TRUE(proxy.synchronize());

    EXPECT_EQ(storedValue(kOtherDomain, kKey), platform::values::fromSigned(7));
    proxy.setObject(QStringLiteral("2.5"), kKey);
    EXPECT_EQ(proxy.floatForKey(kKey), 0.0f); // a string is no number
    EXPECT_EQ(storedValue(standard->domain(), kKey), platform::values::fromSigned(5));
    EXPECT_EQ(standard->integerForKey(kKey), 5);
}

TEST_F(TEVUserDefaultsProxyTest, RedirectingToNullReturnsToTheStandardDefaults)
{
    platform::UserDefaults::standard()->setInteger(3, kKey);
    TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(kOtherDomain);
    TEVUserDefaultsProxy::overrideUserDefaultsDomainWith({});
    EXPECT_TRUE(TEVUserDefaultsProxy::overriddenDomain().isNull());
    EXPECT_EQ(TEVUserDefaultsProxy::standardUserDefaults().integerForKey(kKey), 3);
}

TEST_F(TEVUserDefaultsProxyTest, InvalidDomainWritesNowhere)
{
    platform::UserDefaults::standard()->setInteger(3, kKey);
    TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(QStringLiteral("../escape"));
    EXPECT_TRUE(kelvaro::test::log().contains(QStringLiteral("TEVUserDefaultsProxy: \"../escape\" is no preferences domain")));
    auto proxy = TEVUserDefaultsProxy::standardUserDefaults();
    proxy.setInteger(9, kKey);
    EXPECT_FALSE(proxy.synchronize());
    EXPECT_EQ(proxy.integerForKey(kKey), 0);
    EXPECT_EQ(platform::UserDefaults::standard()->integerForKey(kKey), 3);
}
