#include "support/ttreekey.h"

#include <climits>
#include <typeinfo>

namespace {

struct TAddress {
    TAString name;
    int index = 0;
};

// "Name[k]" -> (Name, k); k as atoi would read it, saturated, and never negative.
TAddress ParseAddress(const TAString& address)
{
    TAddress a;
    int open = address.Find("[");
    if (open < 0) {
        a.name = address;
        return a;
    }
    a.name = address.SubString(0, open);
    const std::string& s = address.str();
    size_t i = static_cast<size_t>(open) + 1;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    long long value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        value = value * 10 + (s[i] - '0');
        if (value > INT_MAX) value = INT_MAX;
    }
    a.index = negative ? 0 : static_cast<int>(value);
    return a;
}

bool IsKey(const TTree& node)
{
    return dynamic_cast<const TTreeKey*>(&node) != nullptr;
}

bool IsValue(const TTree& node)
{
    return dynamic_cast<const TTreeValue*>(&node) != nullptr;
}

}  // namespace

void TTreeKey::Assign(const TTree& other)
{
    const auto& key = dynamic_cast<const TTreeKey&>(other);
    if (&key == this) return;
    // Built aside first: other may be one of our own descendants.
    TAString name = key.Name();
    ilist<TTree> copy;
    copy.Reserve(static_cast<size_t>(key.Count()));
    for (const TTree& child : key.children_) copy.Adopt(Adapt(child));
    children_ = std::move(copy);
    SetName(name);
}

void TTreeKey::Clear()
{
    children_.clear();
}

int TTreeKey::Find(const TAString& address) const
{
    TAddress a = ParseAddress(address);
    int seen = 0;
    for (int i = 0; i < children_.Count(); ++i) {
        if (children_[i].Name() == a.name && seen++ == a.index) return i;
    }
    return -1;
}

TAString& TTreeKey::AddValueByName(const TAString& address)
{
    TAddress a = ParseAddress(address);
    AdoptChild(NewValue(a.name));
    while (Find(address) < 0) AdoptChild(NewValue(a.name));
    return operator()(address);
}

TAString TTreeKey::IndexedName(const TAString& name, int position, bool keys) const
{
    int k = 0;
    for (int i = 0; i < position && i < children_.Count(); ++i) {
        const TTree& child = children_[i];
        if (child.Name() == name && (keys ? IsKey(child) : IsValue(child))) ++k;
    }
    return TAString::Indexed(name, k);
}

TTreeKey& TTreeKey::KeyAt(const TAString& address)
{
    int at = Find(address);
    if (at < 0) {
        TAddress a = ParseAddress(address);
        int present = 0;
        for (const TTree& child : children_) present += child.Name() == a.name ? 1 : 0;
        while (present <= a.index) {
            AdoptChild(NewKey(a.name));
            ++present;
        }
        at = Find(address);
    }
    auto* key = dynamic_cast<TTreeKey*>(&children_[at]);
    if (!key) throw TTreeError("TTreeKey::operator []", "Item[" + address + "] is no Key");
    return *key;
}

const TTreeKey& TTreeKey::KeyAt(const TAString& address) const
{
    int at = Find(address);
    if (at < 0) throw TTreeError("TTreeKey::operator [] const", "Key[" + address + "] not found");
    const auto* key = dynamic_cast<const TTreeKey*>(&children_[at]);
    if (!key) throw TTreeError("TTreeKey::operator [] const", "Item[" + address + "] is no Key");
    return *key;
}

TTreeKey& TTreeKey::operator[](const TAString& address)
{
    return KeyAt(address);
}

const TTreeKey& TTreeKey::operator[](const TAString& address) const
{
    return KeyAt(address);
}

TAString& TTreeKey::operator()(const TAString& address)
{
    if (address.IsEmpty()) return Name();
    int at = Find(address);
    if (at < 0) return AddValueByName(address);
    auto* value = dynamic_cast<TTreeValue*>(&children_[at]);
    if (!value) throw TTreeError("TTreeKey::operator()", "Item[" + address + "] is no Value");
    return value->Value();
}

const TAString& TTreeKey::operator()(const TAString& address) const
{
    if (address.IsEmpty()) return Name();
    int at = Find(address);
    if (at < 0) throw TTreeError("TTreeKey::operator()const", "Value[" + address + "] not found");
    const auto* value = dynamic_cast<const TTreeValue*>(&children_[at]);
    if (!value) throw TTreeError("TTreeKey::operator()const", "Item[" + address + "] no Value");
    return value->Value();
}

void TTreeKey::AddKey(const TTreeKey& key)
{
    AdoptChild(Adapt(key));
}

void TTreeKey::AddValue(const TTreeValue& value)
{
    AdoptChild(Adapt(value));
}

TTreeKey& TTreeKey::operator-=(const TAString& address)
{
    int at = Find(address);
    if (at < 0) throw TTreeError("TTreeKey::operator-=", "Item[" + address + "]not found");
    children_.erase(at);
    return *this;
}

// The rank-th child of child's name and kind here, created (with any missing ones) if absent.
TTree& TTreeKey::MergeTarget(const TTree& child, int rank, bool key)
{
    int seen = 0;
    for (int i = 0; i < children_.Count(); ++i) {
        TTree& mine = children_[i];
        if (mine.Name() == child.Name() && (key ? IsKey(mine) : IsValue(mine)) && seen++ == rank)
            return mine;
    }
    for (; seen <= rank; ++seen) {
        if (key) {
            AdoptChild(NewKey(child.Name()));
        } else {
            AdoptChild(NewValue(child.Name()));
        }
    }
    return children_.back();
}

void TTreeKey::Merge(const TTreeKey& other)
{
    if (&other == this) return;
    // By index: merging may append to our list, and other may be one of our descendants.
    const int n = other.Count();
    for (int j = 0; j < n; ++j) {
        const TTree& child = other.children_[j];
        if (const auto* key = dynamic_cast<const TTreeKey*>(&child)) {
            int rank = 0;
            for (int i = 0; i < j; ++i)
                if (other.children_[i].Name() == key->Name() && IsKey(other.children_[i])) ++rank;
            static_cast<TTreeKey&>(MergeTarget(*key, rank, true)).Merge(*key);
        } else if (const auto* value = dynamic_cast<const TTreeValue*>(&child)) {
            int rank = 0;
            for (int i = 0; i < j; ++i)
                if (other.children_[i].Name() == value->Name() && IsValue(other.children_[i])) ++rank;
            static_cast<TTreeValue&>(MergeTarget(*value, rank, false)).SetValue(value->Value());
        }
    }
}

const TTree& TTreeKey::GetEntry(int i) const
{
    if (i < 0 || i >= children_.Count())
        throw TTreeError("TTreeKey::GetEntry const", "Item " + TAString(i) + " not found");
    return children_[i];
}

TTree& TTreeKey::GetEntry(int i)
{
    if (i < 0 || i >= children_.Count())
        throw TTreeError("TTreeKey::GetEntry", "Item " + TAString(i) + " not found");
    return children_[i];
}

const TTreeKey& TTreeKey::GetKey(int i) const
{
    int seen = 0;
    for (const TTree& child : children_) {
        const auto* key = dynamic_cast<const TTreeKey*>(&child);
        if (key && seen++ == i) return *key;
    }
    throw TTreeError("TTreeKey::GetKey const", "Key " + TAString(i) + " not found");
}

TTreeKey& TTreeKey::GetKey(int i)
{
    int seen = 0;
    for (TTree& child : children_) {
        auto* key = dynamic_cast<TTreeKey*>(&child);
        if (key && seen++ == i) return *key;
    }
    throw TTreeError("TTreeKey::GetKey", "Key " + TAString(i) + " not found");
}

const TTreeValue& TTreeKey::GetValue(int i) const
{
    int seen = 0;
    for (const TTree& child : children_) {
        const auto* value = dynamic_cast<const TTreeValue*>(&child);
        if (value && seen++ == i) return *value;
    }
    throw TTreeError("TTreeKey::GetValue const", "Value " + TAString(i) + " not found");
}

TTreeValue& TTreeKey::GetValue(int i)
{
    int seen = 0;
    for (TTree& child : children_) {
        auto* value = dynamic_cast<TTreeValue*>(&child);
        if (value && seen++ == i) return *value;
    }
    throw TTreeError("TTreeKey::GetValue const", "Value " + TAString(i) + " not found");
}

std::unique_ptr<TTreeKey> TTreeKey::GetSelection(const TAString& pattern) const
{
    static constexpr std::string_view separators = " \r\n\t";
    try {
        std::unique_ptr<TTreeKey> selection(Clone());
        if (pattern.IsEmpty()) return selection;
        selection->Clear();

        std::vector<TAString> tokens = SplitTokens(pattern.str(), separators);
        TAString first = tokens.empty() ? TAString() : tokens.front();
        // The remaining tokens for the next level; tokens that need them keep their quotes.
        TAString rest;
        for (size_t t = 1; t < tokens.size(); ++t) {
            const std::string& tok = tokens[t].str();
            bool quote = tok.empty() || tok.find_first_of(separators) != std::string::npos;
            rest += " ";
            rest += quote ? "\"" + tokens[t] + "\"" : tokens[t];
        }

        for (const TTree& child : children_) {
            if (child.Name().WildCompare(first) != 0) continue;
            if (const auto* key = dynamic_cast<const TTreeKey*>(&child)) {
                selection->AdoptChild(key->GetSelection(rest));
            } else {
                selection->AdoptChild(std::unique_ptr<TTree>(child.Clone()));
            }
        }
        return selection;
    } catch (...) {
        throw TTreeError("TTreeKey::GetSelection", "FatalError");
    }
}

bool TTreeKey::Contains(const TAString& name) const
{
    for (const TTree& child : children_)
        if (child.Name() == name) return true;
    return false;
}

int TTreeKey::CountKeys() const
{
    int n = 0;
    for (const TTree& child : children_) n += IsKey(child) ? 1 : 0;
    return n;
}

std::unique_ptr<TTreeKey> TTreeKey::NewKey(const TAString& name) const
{
    return std::make_unique<TTreeKey>(name);
}

std::unique_ptr<TTreeValue> TTreeKey::NewValue(const TAString& name) const
{
    return std::make_unique<TTreeValue>(name);
}

std::unique_ptr<TTree> TTreeKey::Adapt(const TTree& node) const
{
    return std::unique_ptr<TTree>(node.Clone());
}

std::vector<TAString> TTreeKey::SplitTokens(std::string_view text, std::string_view separators)
{
    std::vector<TAString> tokens;
    std::string current;
    bool inToken = false;
    bool quoted = false;
    for (char c : text) {
        if (!quoted && separators.find(c) != std::string_view::npos) {
            if (inToken) tokens.emplace_back(std::move(current));
            current.clear();
            inToken = false;
            continue;
        }
        inToken = true;
        if (c == '"') {
            quoted = !quoted;
        } else {
            current += c;
        }
    }
    if (inToken) tokens.emplace_back(std::move(current));
    return tokens;
}
