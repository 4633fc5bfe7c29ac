#include "support/txmlattribut.h"

#include "support/txmlelement.h"

void TXmlAttribut::Save(TAString& output, int /*depth*/) const
{
    if (!TXmlElement::IsWritableName(Name().str(), false))
        throw TXmlError("TXmlAttribut::Save", "Invalid Name");
    output += Name();
    output += "=\"";
    output += TXmlElement::Escape(Value().str());
    output += "\"";
}

void TXmlAttribut::Load(const TAString& /*input*/, int& /*position*/) {}
