#pragma once
// A comment of an XML element, reached as the element's value "<COMMENT>".
// A comment carries no data; a "-->" inside its text is written as "- ->" so that the
// document stays readable.

#include "support/ttreevalue.h"

class TXmlComment : public TTreeValue {
public:
    static constexpr const char* NodeName = "<COMMENT>";

    explicit TXmlComment(const TAString& value = TAString()) : TTreeValue(NodeName, value) {}
    TXmlComment* Clone() const override { return new TXmlComment(*this); }

    // "\n", depth blanks, "<!--", text, "-->".
    void Save(TAString& output, int depth) const override;
    // From "<!--" at position ("HdrErr" otherwise) to "-->" or the end of input.
    void Load(const TAString& input, int& position) override;
};
