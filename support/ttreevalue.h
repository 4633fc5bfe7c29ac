#pragma once
// A named text value in a settings tree.

#include "support/ttree.h"

class TTreeValue : public TTree {
public:
    explicit TTreeValue(const TAString& name = TAString(), const TAString& value = TAString())
        : TTree(name), value_(value) {}
    TTreeValue(const TTreeValue&) = default;
    TTreeValue& operator=(const TTreeValue&) = default;
    TTreeValue(TTreeValue&&) noexcept = default;
    TTreeValue& operator=(TTreeValue&&) noexcept = default;

    TTreeValue* Clone() const override { return new TTreeValue(*this); }
    // Name and value; the other node must be a value (else std::bad_cast).
    void Assign(const TTree& other) override;

    const TAString& Value() const { return value_; }
    TAString& Value() { return value_; }
    void SetValue(const TAString& value) { value_ = value; }

private:
    TAString value_;
};
