#include "support/txmlcomment.h"

#include "support/txmlerror.h"

namespace {

constexpr std::string_view Open = "<!--";
constexpr std::string_view Close = "-->";

}  // namespace

void TXmlComment::Save(TAString& output, int depth) const
{
    TAString text = Value();
    text.Replace("-->", "- ->", -1);
    output += "\n";
    output += std::string(static_cast<size_t>(depth < 0 ? 0 : depth), ' ');
    output += TAString(Open);
    output += text;
    output += TAString(Close);
}

void TXmlComment::Load(const TAString& input, int& position)
{
    std::string_view in = input.str();
    size_t pos = position < 0 ? in.size() : static_cast<size_t>(position);
    if (pos > in.size() || in.substr(pos, Open.size()) != Open)
        throw TXmlError("TXmlComment::Load", "HdrErr");
    pos += Open.size();
    size_t end = in.find(Close, pos);
    if (end == std::string_view::npos) {
        SetValue(TAString(in.substr(pos)));
        position = static_cast<int>(in.size());
        return;
    }
    SetValue(TAString(in.substr(pos, end - pos)));
    position = static_cast<int>(end + Close.size());
}
