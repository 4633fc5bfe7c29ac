#pragma once
// An attribute of an XML element: written as name="value" inside the start tag, with
// <, >, & and " escaped; read by the element that owns it.

#include "support/ttreevalue.h"

class TXmlAttribut : public TTreeValue {
public:
    explicit TXmlAttribut(const TAString& name = TAString(), const TAString& value = TAString())
        : TTreeValue(name, value) {}
    TXmlAttribut* Clone() const override { return new TXmlAttribut(*this); }

    // Throws TXmlError("TXmlAttribut::Save", "Invalid Name") for a name that could not be read back.
    void Save(TAString& output, int depth) const override;
    void Load(const TAString& input, int& position) override;
};
