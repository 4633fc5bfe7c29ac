// TTreeKey: addressing, creating and const lookups, removal, merge and selection.
#include "support/ttreeerror.h"
#include "support/ttreekey.h"
#include "support/ttreevalue.h"

#include "tests/errorof.h"

#include <gtest/gtest.h>

#include <typeinfo>

namespace {

// Item (value "a"), Item (key), Port (value "p"), Item (value "c"), Sub (key with value x = "1").
TTreeKey Sample()
{
    TTreeKey root("Root");
    root.AddValue(TTreeValue("Item", "a"));
    root.AddKey(TTreeKey("Item"));
    root.AddValue(TTreeValue("Port", "p"));
    root.AddValue(TTreeValue("Item", "c"));
    TTreeKey sub("Sub");
    sub.AddValue(TTreeValue("x", "1"));
    root.AddKey(sub);
    return root;
}

TEST(TTreeKey, IndexSelectsAmongSameNamedChildrenOfAnyKind)
{
    TTreeKey root = Sample();
    const TTreeKey& c = root;
    EXPECT_EQ(c("Item"), "a");
    EXPECT_EQ(c("Item[0]"), "a");
    EXPECT_EQ(c("Item[2]"), "c");
    EXPECT_EQ(&c["Item[1]"], &root.GetKey(0));
    // The kind is tested after the k-th child of the name is found.
    EXPECT_EQ(FailureOf<TTreeError>([&] { root["Item"]; }),
              (Failure{"TTreeKey::operator []", "Item[Item] is no Key"}));
    EXPECT_EQ(FailureOf<TTreeError>([&] { c["Item[2]"]; }),
              (Failure{"TTreeKey::operator [] const", "Item[Item[2]] is no Key"}));
    EXPECT_EQ(FailureOf<TTreeError>([&] { root("Item[1]"); }),
              (Failure{"TTreeKey::operator()", "Item[Item[1]] is no Value"}));
    EXPECT_EQ(FailureOf<TTreeError>([&] { c("Item[1]"); }),
              (Failure{"TTreeKey::operator()const", "Item[Item[1]] no Value"}));
    // A missing or malformed index reads as 0.
    EXPECT_EQ(c("Item[x]"), "a");
    EXPECT_EQ(c("Item[]"), "a");
    EXPECT_EQ(c("Item[-2]"), "a");
    EXPECT_EQ(root.Count(), 5);
}

TEST(TTreeKey, ConstLookupsNeverCreate)
{
    TTreeKey root = Sample();
    const TTreeKey& c = root;
    EXPECT_EQ(FailureOf<TTreeError>([&] { c("Item[3]"); }),
              (Failure{"TTreeKey::operator()const", "Value[Item[3]] not found"}));
    EXPECT_EQ(FailureOf<TTreeError>([&] { c["Nope"]; }),
              (Failure{"TTreeKey::operator [] const", "Key[Nope] not found"}));
    EXPECT_EQ(FailureOf<TTreeError>([&] { c("Nope"); }),
              (Failure{"TTreeKey::operator()const", "Value[Nope] not found"}));
    EXPECT_EQ(root.Count(), 5);
}

TEST(TTreeKey, NonConstLookupsCreateUpToTheIndex)
{
    TTreeKey root("Root");
    TAString& port = root("Port");
    EXPECT_EQ(port, "");
    port = "4711";
    EXPECT_EQ(static_cast<const TTreeKey&>(root)("Port"), "4711");
    EXPECT_EQ(root.Count(), 1);

    // Two keys named Item; Item[2] is not there and appends a third.
    root.AddKey(TTreeKey("Item"));
    root.AddKey(TTreeKey("Item"));
    TTreeKey& third = root["Item[2]"];
    EXPECT_EQ(third.Name(), "Item");
    EXPECT_EQ(root.CountKeys(), 3);
    EXPECT_EQ(&root.GetKey(2), &third);

    // On a key without Slot, Slot[3] appends four keys and returns the last.
    TTreeKey& slot = root["Slot[3]"];
    EXPECT_EQ(root.CountKeys(), 7);
    EXPECT_EQ(&root.GetKey(6), &slot);
    EXPECT_EQ(&root["Slot[3]"], &slot);   // found now, nothing more created

    root("Val[1]") = "second";
    EXPECT_EQ(root.Count(), 10);
    EXPECT_EQ(root("Val[0]"), "");
    EXPECT_EQ(root("Val[1]"), "second");
}

TEST(TTreeKey, EmptyValueAddressIsTheKeysOwnName)
{
    TTreeKey root("Root");
    EXPECT_EQ(static_cast<const TTreeKey&>(root)(""), "Root");
    root("") = "Renamed";
    EXPECT_EQ(root.Name(), "Renamed");
    EXPECT_EQ(root.Count(), 0);
}

TEST(TTreeKey, RemoveTakesTheAddressedChildOnly)
{
    TTreeKey root = Sample();
    root -= "Item[2]";
    EXPECT_EQ(root.Count(), 4);
    EXPECT_EQ(FailureOf<TTreeError>([&] { static_cast<const TTreeKey&>(root)("Item[2]"); }).message,
              "Value[Item[2]] not found");
    root -= "Item[1]";   // the key
    EXPECT_EQ(root.CountKeys(), 1);
    EXPECT_EQ(FailureOf<TTreeError>([&] { root -= "Nope"; }),
              (Failure{"TTreeKey::operator-=", "Item[Nope]not found"}));
    EXPECT_EQ(root.Count(), 3);
}

TEST(TTreeKey, GetEntryKeyValueCountByKind)
{
    TTreeKey root = Sample();
    EXPECT_EQ(root.GetEntry(2).Name(), "Port");
    EXPECT_EQ(root.GetKey(1).Name(), "Sub");
    EXPECT_EQ(root.GetValue(2).Value(), "c");
    const TTreeKey& c = root;
    EXPECT_EQ(FailureOf<TTreeError>([&] { c.GetEntry(5); }), (Failure{"TTreeKey::GetEntry const", "Item 5 not found"}));
    EXPECT_EQ(FailureOf<TTreeError>([&] { root.GetEntry(-1); }), (Failure{"TTreeKey::GetEntry", "Item -1 not found"}));
    EXPECT_EQ(FailureOf<TTreeError>([&] { c.GetKey(2); }), (Failure{"TTreeKey::GetKey const", "Key 2 not found"}));
    EXPECT_EQ(FailureOf<TTreeError>([&] { root.GetKey(2); }), (Failure{"TTreeKey::GetKey", "Key 2 not found"}));
    TTreeKey keysOnly("K");
    keysOnly.AddKey(TTreeKey("a"));
    EXPECT_EQ(FailureOf<TTreeError>([&] { keysOnly.GetValue(0); }),
              (Failure{"TTreeKey::GetValue const", "Value 0 not found"}));
    EXPECT_EQ(FailureOf<TTreeError>([&] { static_cast<const TTreeKey&>(keysOnly).GetValue(0); }),
              (Failure{"TTreeKey::GetValue const", "Value 0 not found"}));
}

TEST(TTreeKey, IndexedNameCountsEarlierChildrenOfTheSameKind)
{
    TTreeKey root = Sample();   // Item(v) Item(k) Port(v) Item(v) Sub(k)
    EXPECT_EQ(root.IndexedName("Item", 3, false), "Item[1]");
    EXPECT_EQ(root.IndexedName("Item", 1, true), "Item[0]");
    EXPECT_EQ(root.IndexedName("Item", 5, true), "Item[1]");
    EXPECT_EQ(root.IndexedName("Port", 0, false), "Port[0]");
}

TEST(TTreeKey, ContainsTakesExactNamesOnly)
{
    TTreeKey root = Sample();
    EXPECT_TRUE(root.Contains("Port"));
    EXPECT_FALSE(root.Contains("Item[1]"));
    EXPECT_FALSE(root.Contains("port"));
    EXPECT_FALSE(root.Contains("x"));   // only direct children
}

TEST(TTreeKey, ChildrenAreCopiesOwnedByTheKey)
{
    TTreeKey sub("Sub");
    TTreeKey root("Root");
    root.AddKey(sub);
    sub("late") = "1";
    EXPECT_FALSE(root["Sub"].Contains("late"));

    TTreeKey copy = Sample();
    std::unique_ptr<TTreeKey> clone(copy.Clone());
    copy["Sub"]("x") = "changed";
    EXPECT_EQ((*clone)["Sub"]("x"), "1");
    EXPECT_EQ(clone->Name(), "Root");
}

TEST(TTreeKey, AssignCopiesNameAndChildrenOfTheSameKindOnly)
{
    TTreeKey target("T");
    target("old") = "1";
    TTreeKey source = Sample();
    target.Assign(source);
    EXPECT_EQ(target.Name(), "Root");
    EXPECT_EQ(target.Count(), 5);
    EXPECT_FALSE(target.Contains("old"));

    // From one of its own children: the child is copied before the old children go.
    target.Assign(target["Sub"]);
    EXPECT_EQ(target.Name(), "Sub");
    EXPECT_EQ(target("x"), "1");
    EXPECT_EQ(target.Count(), 1);

    TTreeValue value("v", "1");
    EXPECT_THROW(target.Assign(value), std::bad_cast);
    EXPECT_THROW(value.Assign(target), std::bad_cast);
    TTreeValue other("w", "2");
    value.Assign(other);
    EXPECT_EQ(value.Name(), "w");
    EXPECT_EQ(value.Value(), "2");
}

TEST(TTreeKey, MergeOverlaysByNameIndexAndKind)
{
    TTreeKey mine("Mine");
    mine("Keep") = "k";
    mine("Same") = "old";
    mine["Sub"]("x") = "old";
    mine["Sub"]("y") = "stays";

    TTreeKey other("Other");
    other("Same") = "new";
    other("Twice") = "first";
    other.AddValue(TTreeValue("Twice", "second"));
    TTreeKey sub("Sub");
    sub("x") = "new";
    other.AddKey(sub);
    TTreeKey sub2("Sub");
    sub2("z") = "2";
    other.AddKey(sub2);

    mine.Merge(other);
    EXPECT_EQ(mine.Name(), "Mine");
    EXPECT_EQ(mine("Keep"), "k");
    EXPECT_EQ(mine("Same"), "new");
    EXPECT_EQ(mine("Twice[0]"), "first");
    EXPECT_EQ(mine("Twice[1]"), "second");
    EXPECT_EQ(mine["Sub[0]"]("x"), "new");
    EXPECT_EQ(mine["Sub[0]"]("y"), "stays");
    EXPECT_EQ(mine["Sub[1]"]("z"), "2");
    EXPECT_EQ(mine.Count(), 6);

    // A value and a key sharing a name each meet their own kind.
    TTreeKey mixed("M");
    mixed("N") = "v";
    TTreeKey withKey("W");
    TTreeKey n("N");
    n("inner") = "i";
    withKey.AddKey(n);
    withKey.AddValue(TTreeValue("N", "w"));
    mixed.Merge(withKey);
    EXPECT_EQ(mixed("N"), "w");
    EXPECT_EQ(mixed["N[1]"]("inner"), "i");
    EXPECT_EQ(mixed.Count(), 2);
}

TEST(TTreeKey, SelectionByWildcardPath)
{
    TTreeKey root("Root");
    root["CanAdapter"]["Vector3.2"]("Baudrate") = "500";
    root["CanAdapter"]["Vector3.2"]("Channel") = "1";
    root("CanCount") = "2";
    root["Canx"];
    root["FzgSim"]("Top") = "0";
    root["My Key"]("inner") = "1";

    std::unique_ptr<TTreeKey> can = root.GetSelection("Can*");
    EXPECT_EQ(can->Name(), "Root");
    ASSERT_EQ(can->Count(), 3);
    EXPECT_EQ((*can)["CanAdapter"]["Vector3.2"]("Channel"), "1");   // key child complete
    EXPECT_EQ((*can)("CanCount"), "2");
    EXPECT_FALSE(can->Contains("FzgSim"));

    std::unique_ptr<TTreeKey> deep = root.GetSelection("CanAdapter\t* B?udrate");
    ASSERT_EQ(deep->Count(), 1);
    const TTreeKey& vector = (*deep)["CanAdapter"]["Vector3.2"];
    EXPECT_EQ(vector.Count(), 1);
    EXPECT_EQ(vector("Baudrate"), "500");

    std::unique_ptr<TTreeKey> quoted = root.GetSelection("\"My Key\" inner");
    ASSERT_EQ(quoted->Count(), 1);
    EXPECT_EQ((*quoted)["My Key"]("inner"), "1");

    EXPECT_EQ(root.GetSelection("")->Count(), root.Count());
    EXPECT_EQ(root.GetSelection("Can")->Count(), 0);   // no wildcard: whole name
}

TEST(TTreeKey, SelectionKeepsQuotedTokensBelowTheFirstLevel)
{
    TTreeKey root("Root");
    root["A"]["b c"]("v") = "1";
    root["A"]["b"]("v") = "2";
    std::unique_ptr<TTreeKey> sel = root.GetSelection("A \"b c\"");
    const TTreeKey& a = (*sel)["A"];
    ASSERT_EQ(a.Count(), 1);
    EXPECT_EQ(a.GetKey(0).Name(), "b c");
}

}  // namespace
