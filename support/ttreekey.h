#pragma once
// A named key of a settings tree: an ordered list of owned child nodes (keys and
// values mixed, names may repeat), kept in insertion order. Adding a node stores a
// copy; the key destroys its children.
//
// Addresses: a name, optionally followed by "[k]", k the 0-based index among the
// children of that name of any kind ("Item" is "Item[0]"). Everything before the first
// "[" is the name; k is read like atoi (missing, malformed or negative reads as 0).
// The k-th child of that name is found first and its kind is tested afterwards:
//   key["Item[1]"]   the second child named Item, created (with any missing ones) if absent
//   key("Port")      reference to the text of the value Port, created empty if absent
// The const forms never create; they throw TTreeError instead. An empty address given
// to operator() addresses the key's own name.

#include "support/ilist.h"
#include "support/ttree.h"
#include "support/ttreeerror.h"
#include "support/ttreevalue.h"

#include <memory>
#include <string_view>
#include <vector>

class TTreeKey : public TTree {
public:
    explicit TTreeKey(const TAString& name = TAString()) : TTree(name) {}
    TTreeKey(const TTreeKey&) = default;
    TTreeKey& operator=(const TTreeKey&) = default;
    TTreeKey(TTreeKey&&) noexcept = default;
    TTreeKey& operator=(TTreeKey&&) noexcept = default;
    ~TTreeKey() override = default;

    TTreeKey* Clone() const override { return new TTreeKey(*this); }
    // Name and a deep copy of the children; the other node must be a key (else std::bad_cast).
    void Assign(const TTree& other) override;

    // Removes and destroys all children.
    virtual void Clear();
    // Appends a new empty value named by the name part of address, then returns
    // operator()(address) (appending further values until that index exists).
    virtual TAString& AddValueByName(const TAString& address);
    // name + "[k]", k = the number of children of the given kind named name before position.
    virtual TAString IndexedName(const TAString& name, int position, bool keys) const;

    // "Item[" + address + "] is no Key" (TTreeKey::operator []); creates missing keys.
    virtual TTreeKey& operator[](const TAString& address);
    // "Item[..] is no Value" (TTreeKey::operator()); creates a missing value.
    virtual TAString& operator()(const TAString& address);
    // "Item[..] is no Key" / "Key[..] not found" (TTreeKey::operator [] const).
    virtual const TTreeKey& operator[](const TAString& address) const;
    // "Item[..] no Value" / "Value[..] not found" (TTreeKey::operator()const).
    virtual const TAString& operator()(const TAString& address) const;

    virtual void AddKey(const TTreeKey& key);
    virtual void AddValue(const TTreeValue& value);
    // Removes the addressed child; "Item[" + address + "]not found" (TTreeKey::operator-=).
    virtual TTreeKey& operator-=(const TAString& address);

    // Overlays other onto this key: the k-th value of a name among other's values sets
    // the k-th value of that name here, the k-th key of a name is merged into the k-th
    // key of that name here; missing ones are created, entries other lacks stay.
    virtual void Merge(const TTreeKey& other);

    // The i-th child (0-based) of any kind / of the keys / of the values, in list order.
    virtual const TTree& GetEntry(int i) const;
    virtual TTree& GetEntry(int i);
    virtual const TTreeKey& GetKey(int i) const;
    virtual TTreeKey& GetKey(int i);
    virtual const TTreeValue& GetValue(int i) const;
    virtual TTreeValue& GetValue(int i);

    // A copy of this key holding only the children selected by pattern: tokens separated
    // by blanks, tabs, CR or LF (double quotes group and are dropped); the first token is
    // matched against the children's names as a wildcard ("*" the rest, "?" one
    // character); matching values are copied, matching keys contribute their own
    // selection of the remaining tokens (the whole key when none remain). An empty
    // pattern copies the whole key. Any failure throws "FatalError".
    virtual std::unique_ptr<TTreeKey> GetSelection(const TAString& pattern) const;
    // True if a child has exactly this name (no index syntax).
    virtual bool Contains(const TAString& name) const;

    int CountKeys() const;
    int Count() const { return children_.Count(); }

protected:
    // The node kinds this key creates for missing children; derived trees make their own.
    virtual std::unique_ptr<TTreeKey> NewKey(const TAString& name) const;
    virtual std::unique_ptr<TTreeValue> NewValue(const TAString& name) const;
    // The copy of node that this key stores when node is added to it.
    virtual std::unique_ptr<TTree> Adapt(const TTree& node) const;

    void AdoptChild(std::unique_ptr<TTree> child) { children_.Adopt(std::move(child)); }
    const ilist<TTree>& Children() const { return children_; }
    ilist<TTree>& Children() { return children_; }

    // Splits text at the separator characters; a double-quoted part may hold separators,
    // the quotes are dropped ("a \"b c\"" gives a, b c; "\"\"" gives one empty token).
    static std::vector<TAString> SplitTokens(std::string_view text, std::string_view separators);

    // The one-level lookups behind the operators (derived classes resolve paths with them).
    TTreeKey& KeyAt(const TAString& address);
    const TTreeKey& KeyAt(const TAString& address) const;

private:
    int Find(const TAString& address) const;
    TTree& MergeTarget(const TTree& child, int rank, bool key);

    ilist<TTree> children_;
};
