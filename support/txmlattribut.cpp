#include "support/txmlattribut.h"

#include "support/txmlelement.h"

void TXmlAttribut::Save(TAString& output, int /*depth*/) const
{
    const std::string& name = Name().str();
    if (name.empty() || name.find_first_of(" \t\r\n<>=\"/") != std::string::npos)
        throw TXmlError("TXmlAttribut::Save", "Invalid Name");
    output += Name();
    output += "=\"";
    output += TXmlElement::Escape(Value().str());
    output += "\"";
}

void TXmlAttribut::Load(const TAString& /*input*/, int& /*position*/) {}
