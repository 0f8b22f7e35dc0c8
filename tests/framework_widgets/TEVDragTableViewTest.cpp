#include "framework/widgets/TEVDragTableView.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Coder.h"
#include "platform/foundation/SequentialArchiver.h"
#include "platform/foundation/SequentialUnarchiver.h"
#include "platform/foundation/Values.h"
#include "tests/support/TestEnvironment.h"

#include <QMimeData>

#include <gtest/gtest.h>

namespace {

using Table = TEVDragTableView;

// A list item of the kind the preference tables hold: archivable and copyable.
class DragItem final : public platform::Archivable {
public:
    explicit DragItem(QString name) : name(std::move(name)) {}
    QString name;
    QString className() const override { return QStringLiteral("TestDragItem"); }
    void encodeWithCoder(platform::Coder& coder) const override { coder.encodeObject(name); }
    static platform::ObjectRef decode(platform::Coder& coder)
    {
        const auto name = platform::values::toString(coder.decodeObject());
        return name ? std::make_shared<DragItem>(*name) : nullptr;
    }
};
KV_REGISTER_CLASS(QStringLiteral("TestDragItem"), QStringLiteral("NSObject"), 0, &DragItem::decode, true);
KV_REGISTER_CLASS(QStringLiteral("TestArchiveOnlyItem"), QStringLiteral("NSObject"), 0, &DragItem::decode, false);

QVariantList strings(const QString& letters)
{
    QVariantList list;
    for (QChar c : letters)
        list.append(QString(c));
    return list;
}

QString letters(const QVariantList& list)
{
    QString text;
    for (const QVariant& element : list)
        text += element.toString();
    return text;
}

std::unique_ptr<Table> stringTable(bool sourceOnly = false, bool allowDuplicates = false)
{
    auto table = std::make_unique<Table>();
    EXPECT_TRUE(table->enableDraggingForArrayElementClass(QStringLiteral("NSString"), sourceOnly, allowDuplicates));
    return table;
}

// Drags `rows` of `array` out of `from` and drops them on `to` above `row`.
bool dragAndDrop(Table& from, const QVariantList& source, const QList<int>& rows, Table& to, QVariantList& target, int row)
{
    QMimeData data;
    if (!from.writeRows(rows, source, &data))
        return false;
    return to.acceptDrop({&data, &from}, &target, row, Table::DropPosition::Above);
}

} // namespace

TEST(TEVDragTableView, EnablingNeedsAClassThatArchivesAndCopies)
{
    Table table;
    EXPECT_TRUE(table.enableDraggingForArrayElementClass(QStringLiteral("TestDragItem"), false, false));
    EXPECT_EQ(table.nativeDragPasteboardType(), QStringLiteral("TEVDragTable [TestDragItem] Object List"));
    EXPECT_FALSE(table.enableDraggingForArrayElementClass(QStringLiteral("TestArchiveOnlyItem"), false, false));
    EXPECT_FALSE(table.isDraggingEnabled());
    EXPECT_TRUE(table.nativeDragPasteboardType().isNull());
    EXPECT_FALSE(table.enableDraggingForArrayElementClass(QStringLiteral("NoSuchClass"), false, false));
}

TEST(TEVDragTableView, PasteboardHoldsTheDraggedRowsInTheirOrder)
{
    const auto table = stringTable();
    QMimeData data;
    ASSERT_TRUE(table->writeRows({3, 1, 9, 3}, strings("ABCD"), &data)); // beyond the end and repeated rows skipped
    const QVariant archived = platform::SequentialUnarchiver::unarchiveObjectWithData(data.data(table->nativeDragPasteboardType()));
    EXPECT_EQ(letters(platform::values::toArray(archived).value_or(QVariantList())), QStringLiteral("DB"));
}

TEST(TEVDragTableView, MovesWithinOneTableRemoveExactlyTheDraggedRows)
{
    const struct {
        const char* before;
        QList<int> rows;
        int dropRow;
        const char* after;
    } rows[] = {
        {"ABCD", {1, 2}, 0, "BCAD"}, // up
        {"ABCD", {0}, 3, "BCAD"},    // down
        {"ABCD", {0}, 4, "BCDA"},    // to the end
        {"ABCD", {0, 2}, 4, "BDAC"}, // several rows apart
        {"ABCD", {2, 0}, 1, "CABD"}, // in the dragged order
        {"ABCD", {1, 2}, 2, "ABCD"}, // onto itself
        {"ABAC", {2}, 4, "ABCA"},    // the second of two equal elements
        {"AAAB", {1, 2}, 4, "ABAA"},
    };
    for (const auto& row : rows) {
        const auto table = stringTable();
        QVariantList array = strings(QString::fromLatin1(row.before));
        EXPECT_TRUE(dragAndDrop(*table, array, row.rows, *table, array, row.dropRow)) << row.before;
        EXPECT_EQ(letters(array), QString::fromLatin1(row.after)) << row.before << " drop at " << row.dropRow;
    }
}

TEST(TEVDragTableView, MoveKeepsTheVeryObjects)
{
    Table table;
    ASSERT_TRUE(table.enableDraggingForArrayElementClass(QStringLiteral("TestDragItem"), false, false));
    const auto a = std::make_shared<DragItem>("A");
    const auto b = std::make_shared<DragItem>("A"); // equal to a, another object
    QVariantList array{platform::values::fromObject(a), platform::values::fromObject(b)};
    ASSERT_TRUE(dragAndDrop(table, array, {1}, table, array, 0));
    ASSERT_EQ(array.size(), 2);
    EXPECT_EQ(platform::values::toObject(array[0]), b);
    EXPECT_EQ(platform::values::toObject(array[1]), a);
}

TEST(TEVDragTableView, DropFromAnotherTableAddsDuplicatesOnlyWhenAllowed)
{
    const auto source = stringTable();
    const QVariantList sourceArray = strings("XB");
    for (bool allowed : {false, true}) {
        const auto target = stringTable(false, allowed);
        QVariantList array = strings("AB");
        EXPECT_TRUE(dragAndDrop(*source, sourceArray, {1}, *target, array, 0));
        EXPECT_EQ(letters(array), allowed ? QStringLiteral("BAB") : QStringLiteral("AB"));
        EXPECT_EQ(letters(sourceArray), QStringLiteral("XB")); // a copy: the source keeps its element
    }
}

TEST(TEVDragTableView, ValidationRefusesWhatMustNotDrop)
{
    const auto own = stringTable(true);
    const auto other = stringTable();
    Table numbers;
    ASSERT_TRUE(numbers.enableDraggingForArrayElementClass(QStringLiteral("NSNumber"), false, false));
    EXPECT_NE(numbers.nativeDragPasteboardType(), other->nativeDragPasteboardType());

    const QVariantList array = strings("AB");
    QMimeData ownData, otherData;
    ASSERT_TRUE(own->writeRows({0}, array, &ownData));
    ASSERT_TRUE(other->writeRows({0}, array, &otherData));
    const auto above = Table::DropPosition::Above;
    EXPECT_EQ(own->validateDrop({&ownData, own.get()}, &array, 2, above), Table::Move); // source-only still reorders
    EXPECT_EQ(own->validateDrop({&otherData, other.get()}, &array, 0, above), Table::None);
    EXPECT_EQ(other->validateDrop({&ownData, own.get()}, &array, 0, above), Table::Copy);
    EXPECT_EQ(other->validateDrop({&ownData, own.get()}, &array, 0, Table::DropPosition::On), Table::None);
    EXPECT_EQ(other->validateDrop({&ownData, own.get()}, &array, 3, above), Table::None);
    const QVariantList numberArray{platform::values::fromSigned(1)};
    EXPECT_EQ(numbers.validateDrop({&otherData, other.get()}, &numberArray, 0, above), Table::None);
}

TEST(TEVDragTableView, DropOfDataThatIsNoArrayOfTheClassChangesNothing)
{
    const auto source = stringTable();
    const auto target = stringTable();
    QVariantList array = strings("AB");
    const QString type = target->nativeDragPasteboardType();
    const QByteArray numbers = platform::SequentialArchiver::archivedDataWithRootObject(QVariantList{platform::values::fromSigned(5)});
    for (const QByteArray& bytes : {QByteArray("garbage"), numbers}) {
        QMimeData data;
        data.setData(type, bytes);
        EXPECT_FALSE(target->acceptDrop({&data, source.get()}, &array, 0, Table::DropPosition::Above));
    }
    EXPECT_EQ(letters(array), QStringLiteral("AB"));
    EXPECT_TRUE(kelvaro::test::log().contains(QStringLiteral("TEVDragTableView: the dragged data holds a")));
}

TEST(TEVDragTableView, MoveRefusedWhenTheArrayChangedSinceTheDragStarted)
{
    const auto table = stringTable();
    QVariantList array = strings("ABC");
    QMimeData data;
    ASSERT_TRUE(table->writeRows({2}, array, &data));
    array.removeFirst();
    EXPECT_FALSE(table->acceptDrop({&data, table.get()}, &array, 0, Table::DropPosition::Above));
    EXPECT_EQ(letters(array), QStringLiteral("BC"));
}
