#include "support/txmlcdata.h"

#include "support/txmlerror.h"

namespace {

constexpr std::string_view Open = "<![CDATA[";
constexpr std::string_view Close = "]]>";

}  // namespace

void TXmlCData::Save(TAString& output, int depth) const
{
    TAString content = Value();
    content.Replace("]]>", "]]]]><![CDATA[>", -1);
    output += "\n";
    output += std::string(static_cast<size_t>(depth < 0 ? 0 : depth), ' ');
    output += TAString(Open);
    output += content;
    output += TAString(Close);
}

void TXmlCData::Load(const TAString& input, int& position)
{
    static const char* const op = "TXmlCData::Load";
    std::string_view in = input.str();
    size_t pos = position < 0 ? in.size() : static_cast<size_t>(position);
    if (pos > in.size() || in.substr(pos, Open.size()) != Open) throw TXmlError(op, "HdrErr");
    std::string content;
    // Sections that follow each other without a gap are one content (see Save).
    do {
        pos += Open.size();
        size_t end = in.find(Close, pos);
        if (end == std::string_view::npos) throw TXmlError(op, "EndNotFound");
        content.append(in.substr(pos, end - pos));
        pos = end + Close.size();
    } while (in.substr(pos, Open.size()) == Open);
    SetValue(TAString(std::move(content)));
    position = static_cast<int>(pos);
}
