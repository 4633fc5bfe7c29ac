#pragma once
// The base of every node of a settings tree: a name. Names compare byte for byte,
// case-sensitive. Keys (TTreeKey) own child nodes; values (TTreeValue) hold a text.
// The XML document model derives its node kinds from these two and adds Save/Load.

#include "support/tastring.h"

class TTree {
public:
    explicit TTree(const TAString& name = TAString()) : name_(name) {}
    virtual ~TTree() = default;

    // A new node of the same class with the same name and a deep copy of the content.
    virtual TTree* Clone() const = 0;
    // Copies name and content from a node of the same kind; another kind throws std::bad_cast.
    virtual void Assign(const TTree& other);

    // Appends the node's serialised form at the given depth; nothing at this level.
    virtual void Save(TAString& output, int depth) const;
    // Reads the node from input, starting at position and advancing it; nothing at this level.
    virtual void Load(const TAString& input, int& position);

    // Both compare names only.
    virtual bool operator<(const TTree& other) const { return name_ < other.name_; }
    virtual bool operator!=(const TTree& other) const { return name_ != other.name_; }

    const TAString& Name() const { return name_; }
    TAString& Name() { return name_; }
    void SetName(const TAString& name) { name_ = name; }

protected:
    TTree(const TTree&) = default;
    TTree& operator=(const TTree&) = default;
    TTree(TTree&&) noexcept = default;
    TTree& operator=(TTree&&) noexcept = default;

private:
    TAString name_;
};
