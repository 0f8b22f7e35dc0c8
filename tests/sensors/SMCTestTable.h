#pragma once
// An SMC key table that a test changes while a controller reads it (values, failing keys, keys that
// vanish), and encoders for the SMC's value formats.

#include "platform/foundation/Values.h"
#include "platform/hardware/SmcConnection.h"
#include "platform/registry/FixtureIORegistry.h"
#include "sensors/TEVSystemManagementController.h"

#include <QVariantMap>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace smctest {

inline quint32 code(const char* text)
{
    return platform::SmcConnection::fourCharCode(QString::fromLatin1(text));
}

inline QByteArray bytes(std::initializer_list<char> list)
{
    return QByteArray(list.begin(), qsizetype(list.size()));
}

// Big-endian fixed point with `fraction` fraction bits: sp78 is fixed(v, 8), fpe2 fixed(v, 2).
inline QByteArray fixed(double value, int fraction)
{
    const auto n = qint16(quint16(qint32(std::lround(value * (1 << fraction)))));
    return bytes({char(quint16(n) >> 8), char(quint16(n) & 0xff)});
}
inline QByteArray ui16(quint16 n)
{
    return bytes({char(n >> 8), char(n & 0xff)});
}
// "flt " is in host order.
inline QByteArray flt(float value)
{
    QByteArray bytes(4, '\0');
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}
// A "{fds" fan description: four header bytes, then the name.
inline QByteArray fds(const char* name)
{
    QByteArray bytes(16, '\0');
    bytes.replace(4, qsizetype(std::strlen(name)), name);
    return bytes.left(16);
}

class Table {
public:
    struct Key {
        quint32 type = 0;
        QByteArray bytes;
        bool fail = false;
    };

    // Adds the key at the end of the index, or changes it in place.
    void set(const char* key, const char* type, const QByteArray& bytes)
    {
        const quint32 k = code(key);
        if (!keys_.count(k))
            order_.push_back(k);
        keys_[k] = {code(type), bytes, false};
    }
    void fail(const char* key) { keys_.at(code(key)).fail = true; }
    void remove(const char* key)
    {
        const quint32 k = code(key);
        keys_.erase(k);
        std::erase(order_, k);
    }

    platform::SmcAnswer<quint32> keyAtIndex(quint32 index) const
    {
        if (index >= order_.size())
            return platform::SmcAnswer<quint32>::failure(platform::smcresult::KeyNotFound);
        return platform::SmcAnswer<quint32>::success(order_[index]);
    }
    const Key* find(quint32 key) const
    {
        const auto it = keys_.find(key);
        return it == keys_.end() ? nullptr : &it->second;
    }
    quint32 size() const { return quint32(order_.size()); }

private:
    std::map<quint32, Key> keys_;
    std::vector<quint32> order_;
};

class TableConnection final : public platform::SmcConnection {
public:
    explicit TableConnection(std::shared_ptr<Table> table) : table_(std::move(table)) {}
    int open() override
    {
        open_ = true;
        return 0;
    }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    platform::SmcAnswer<quint32> keyCount() override { return platform::SmcAnswer<quint32>::success(table_->size()); }
    platform::SmcAnswer<quint32> keyAtIndex(quint32 index) override { return table_->keyAtIndex(index); }
    platform::SmcAnswer<platform::SmcKeyInfo> keyInfo(quint32 key) override
    {
        if (key == code("#KEY"))
            return platform::SmcAnswer<platform::SmcKeyInfo>::success({4, code("ui32")});
        const Table::Key* found = table_->find(key);
        if (!found)
            return platform::SmcAnswer<platform::SmcKeyInfo>::failure(platform::smcresult::KeyNotFound);
        return platform::SmcAnswer<platform::SmcKeyInfo>::success({quint32(found->bytes.size()), found->type});
    }
    platform::SmcAnswer<QByteArray> readKey(quint32 key) override
    {
        if (key == code("#KEY")) {
            const quint32 n = table_->size();
            return platform::SmcAnswer<QByteArray>::success(
                bytes({char(n >> 24), char(n >> 16), char(n >> 8), char(n)}));
        }
        const Table::Key* found = table_->find(key);
        if (!found)
            return platform::SmcAnswer<QByteArray>::failure(platform::smcresult::KeyNotFound);
        if (found->fail)
            return platform::SmcAnswer<QByteArray>::failure(platform::smcresult::NotReadable);
        return platform::SmcAnswer<QByteArray>::success(found->bytes.left(MaxDataBytes));
    }

private:
    std::shared_ptr<Table> table_;
    bool open_ = false;
};

inline std::shared_ptr<TEVIORegistryEntry> smcEntry()
{
    const QVariantMap smc{
        {"Class", QVariantList{platform::values::fromString("AppleSMC"), platform::values::fromString("IOService")}},
        {"Properties", QVariantMap{{"smc-version", platform::values::fromString("1.41f3")}}}};
    const auto loaded = platform::FixtureIORegistry::load({smc});
    EXPECT_TRUE(loaded.registry) << loaded.error.toStdString();
    return TEVIORegistryEntry::serviceObjectsMatchingName("AppleSMC", loaded.registry)->at(0);
}

inline std::shared_ptr<TEVSystemManagementController> controllerFor(std::shared_ptr<Table> table)
{
    auto controller = TEVSystemManagementController::createWithIORegistryEntry(
        smcEntry(), std::make_unique<TableConnection>(std::move(table)));
    EXPECT_TRUE(controller);
    return controller;
}

inline std::shared_ptr<TEVSystemManagementController> controllerFor(std::unique_ptr<platform::SmcConnection> connection)
{
    auto controller = TEVSystemManagementController::createWithIORegistryEntry(smcEntry(), std::move(connection));
    EXPECT_TRUE(controller);
    return controller;
}

// A description as the known-key tables give it.
inline QVariantMap description(const char* key, const char* identifier, const char* location,
                               std::optional<qint64> quantity = std::nullopt)
{
    QVariantMap map{{"SMCKey", platform::values::fromString(key)},
                    {"UniqueID", platform::values::fromString(identifier)},
                    {"LocationID", platform::values::fromString(location)}};
    if (quantity)
        map.insert("Quantity", platform::values::fromSigned(*quantity));
    return map;
}

// A lookup that knows exactly the given descriptions.
inline std::function<std::optional<QVariantMap>(const QString&)> lookup(const std::vector<QVariantMap>& known)
{
    return [known](const QString& key) -> std::optional<QVariantMap> {
        for (const auto& entry : known)
            if (entry.value("SMCKey").toString() == key)
                return entry;
        return std::nullopt;
    };
}

} // namespace smctest
