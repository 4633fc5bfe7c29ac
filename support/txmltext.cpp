#include "support/txmltext.h"

#include "support/txmlelement.h"

void TXmlText::Save(TAString& output, int /*depth*/) const
{
    output += TXmlElement::Escape(Value().str());
}

void TXmlText::Load(const TAString& input, int& position)
{
    const std::string& in = input.str();
    size_t pos = position < 0 ? in.size() : static_cast<size_t>(position);
    size_t start = pos < in.size() ? pos : in.size();
    size_t stop = in.find_first_of("<\n\r", start);
    if (stop == std::string::npos) stop = in.size();
    SetValue(TXmlElement::Unescape(std::string_view(in).substr(start, stop - start)));
    // A line end is consumed, a "<" is left for the element.
    if (stop < in.size() && in[stop] != '<') ++stop;
    position = static_cast<int>(stop);
}
