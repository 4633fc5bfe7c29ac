// StringList, TArgString, TFullFileName, ilist and TBaseError.
#include "support/ilist.h"
#include "support/stringlist.h"
#include "support/targstring.h"
#include "support/tbaseerror.h"
#include "support/tfullfilename.h"

#include "tests/errorof.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(TBaseError, DescribeNamesModuleOnlyWhenKnown)
{
    struct Sink : TDescribeSink {
        void Put(const TAString& t) override { text = t; }
        TAString text;
    } sink;
    TBaseError("TCanBuffer::Write", "write error").Describe(sink);
    EXPECT_EQ(sink.text, "Module:TCanBuffer::Write Error:write error");
    TBaseError("", "write error").Describe(sink);
    EXPECT_EQ(sink.text, "Error:write error");
    EXPECT_STREQ(TBaseError("A::B", "m").what(), "Module:A::B Error:m");
}

TEST(StringList, SplitsAtLineFeeds)
{
    StringList empty{TAString("")};
    EXPECT_EQ(empty.Count(), 0);
    StringList lines{TAString("a\nb\n\nc")};
    ASSERT_EQ(lines.Count(), 4);
    EXPECT_EQ(lines[0], "a");
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], "c");
    StringList trailing{TAString("a\n")};
    EXPECT_EQ(trailing.Count(), 1);
    EXPECT_EQ(lines.Add("d"), 4);
}

TEST(StringList, IndexPastTheCountAndMissingFilesThrow)
{
    StringList lines{TAString("a")};
    EXPECT_EQ(ErrorOf([&] { (void)lines[1]; }),
              "StringList::Del|IndexOverrun");
    EXPECT_EQ(ErrorOf([&] { lines.LoadFromFile("/nonexistent/qv/file.asc", true); }),
              "StringList::LoadFromFile|FileNotFound");
}

TEST(TArgString, QuotesGroupSeparators)
{
    TArgString args(" ,", "Simulation, RAM 1 \"a b\",,x");
    EXPECT_EQ(args.ArgCount(), 5);
    EXPECT_EQ(args.Arg(0), "Simulation");
    EXPECT_EQ(args.Arg(1), "RAM");
    EXPECT_EQ(args.Arg(3), "a b");
    EXPECT_EQ(args.Arg(4), "x");
    EXPECT_EQ(args.Arg(5), "");
    EXPECT_EQ(TArgString(" ", "").ArgCount(), 0);
    EXPECT_EQ(TArgString(" ", "   ").ArgCount(), 0);
}

TEST(TFullFileName, ResolvesRelativeNamesAgainstTheBase)
{
    TFullFileName names("/x/y");
    EXPECT_EQ(names.Resolve("../a.xml"), "/x/a.xml");
    EXPECT_EQ(names.Resolve("../../../a.xml"), "/a.xml");
    EXPECT_EQ(names.Resolve("./Quorvella.xml"), "/x/y/Quorvella.xml");
    EXPECT_EQ(names.Resolve("Quorvella.xml"), "/x/y/Quorvella.xml");
    EXPECT_EQ(names.Resolve("/b.xml"), "/b.xml");
    EXPECT_EQ(names.Last(), "/b.xml");
    EXPECT_EQ(TFullFileName("/").Resolve("a"), "/a");
    EXPECT_EQ(TFullFileName("/x/").Resolve("a"), "/x/a");
}

struct Item {
    explicit Item(int v) : value(v) {}
    virtual ~Item() = default;
    virtual Item* Clone() const { return new Item(*this); }
    int value;
};

TEST(ilist, StoresClonesAndCopiesDeeply)
{
    ilist<Item> list;
    Item a(1);
    list.push_back(a);
    a.value = 99;
    EXPECT_EQ(list[0].value, 1);
    list.push_back(Item(3));
    list.insert(ilist<Item>::iterator(&list, 1), Item(2));
    list.insert(list.end(), Item(4));
    ilist<Item> copy = list;
    copy[0].value = 10;
    int expected = 1;
    for (const Item& item : list) EXPECT_EQ(item.value, expected++);
    EXPECT_EQ(copy[0].value, 10);
    list.xchng(list.begin(), ilist<Item>::iterator(&list, 3));
    EXPECT_EQ(list.front().value, 4);
    EXPECT_EQ(list.back().value, 1);
}

// A settings document with a million elements must load in linear time: appending
// may move the stored pointers only a logarithmic number of times.
TEST(ilist, AppendingOneByOneGrowsTheStorageGeometrically)
{
    ilist<Item> list;
    int growths = 0;
    size_t capacity = list.Capacity();
    for (int i = 0; i < 1000000; ++i) {
        list.Adopt(std::make_unique<Item>(i));
        if (list.Capacity() != capacity) {
            ++growths;
            capacity = list.Capacity();
        }
    }
    EXPECT_EQ(list.Count(), 1000000);
    EXPECT_EQ(list[999999].value, 999999);
    // Doubling from 1 reaches 2^20 > 10^6 in 21 steps; one slot at a time would be 10^6.
    EXPECT_LE(growths, 21);
}

TEST(ilist, MisuseThrowsItsErrors)
{
    ilist<Item> list;
    ilist<Item> other;
    EXPECT_EQ(ErrorOf([&] { list.front(); }), "ilist::front|Empty");
    EXPECT_EQ(ErrorOf([&] { list.back(); }), "ilist::back|Empty");
    EXPECT_EQ(ErrorOf([&] { (void)*ilist<Item>::iterator(); }), "ilist::iterator::operator*|List=0");
    EXPECT_EQ(ErrorOf([&] { (void)*list.end(); }), "ilist::iterator::operator*|end");
    const ilist<Item>& c = list;
    EXPECT_EQ(ErrorOf([&] { (void)*c.begin(); }), "ilist::const_iterator::operator*|end");
    list.push_back(Item(1));
    EXPECT_EQ(ErrorOf([&] { list.erase(other.begin()); }), "ilist<T>::erase|WrongList");
    EXPECT_EQ(ErrorOf([&] { list.erase(1); }), "ilist<T>::erase|ItOutOffRange");
    EXPECT_EQ(ErrorOf([&] { list.xchng(list.begin(), list.end()); }), "ilist<T>::xchng|iterator invalid");
    EXPECT_EQ(ErrorOf([&] { list.Reserve(0x7FFFFFE1u); }), "ilist<T>::Resize|ListOverrun");
    list.erase(list.begin());
    EXPECT_TRUE(list.Empty());
}

}  // namespace
