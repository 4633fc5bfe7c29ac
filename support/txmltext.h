#pragma once
// The text of an XML element, reached as the element's value "<TEXT>".
// Written in place with <, >, & and " escaped. Read up to the next "<", line feed or
// carriage return, so leading blanks are not kept and each line of a text spread over
// several lines becomes a text node of its own.

#include "support/ttreevalue.h"

class TXmlText : public TTreeValue {
public:
    static constexpr const char* NodeName = "<TEXT>";

    explicit TXmlText(const TAString& value = TAString()) : TTreeValue(NodeName, value) {}
    TXmlText* Clone() const override { return new TXmlText(*this); }

    void Save(TAString& output, int depth) const override;
    void Load(const TAString& input, int& position) override;
};
