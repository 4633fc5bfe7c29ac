#pragma once
// A CDATA section of an XML element, reached as the element's value "<CDATA>".
// The content is kept byte for byte. A "]]>" inside the content is written as two
// adjacent sections, which are read back as one.

#include "support/ttreevalue.h"

class TXmlCData : public TTreeValue {
public:
    static constexpr const char* NodeName = "<CDATA>";

    explicit TXmlCData(const TAString& value = TAString()) : TTreeValue(NodeName, value) {}
    TXmlCData* Clone() const override { return new TXmlCData(*this); }

    // "\n", depth blanks, "<![CDATA[", content, "]]>".
    void Save(TAString& output, int depth) const override;
    // From "<![CDATA[" at position ("HdrErr" otherwise) to "]]>" ("EndNotFound" if missing).
    void Load(const TAString& input, int& position) override;
};
