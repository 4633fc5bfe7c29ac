#include "support/txmlelement.h"

#include "support/txmlattribut.h"
#include "support/txmlcdata.h"
#include "support/txmlcomment.h"
#include "support/txmltext.h"

#include <algorithm>
#include <string>
#include <utility>

namespace {

constexpr std::string_view Declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n";
constexpr std::string_view WriterComment = "<!-- written by TXmlElement -->";
constexpr std::string_view Bom = "\xEF\xBB\xBF";

TXmlElement& AsElement(TTreeKey& key)
{
    return dynamic_cast<TXmlElement&>(key);
}

const TXmlElement& AsElement(const TTreeKey& key)
{
    return dynamic_cast<const TXmlElement&>(key);
}

// Length of the valid UTF-8 sequence at s[i], or 0.
size_t Utf8SequenceLength(std::string_view s, size_t i)
{
    auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char b = at(i);
    if (b < 0x80) return 1;
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;   // range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;   // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    if (at(i + 1) < lo || at(i + 1) > hi) return 0;
    for (size_t k = 2; k < len; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
    return len;
}

// The error with the line of position pos in front of its detail ("line 4: <CanAdapter>
// has no end tag"), unless it names a line already.
TXmlError AtLine(const TXmlError& e, const std::string& in, size_t pos)
{
    if (e.Detail().str().compare(0, 5, "line ") == 0) return e;
    const size_t end = std::min(pos, in.size());
    const auto line = 1 + std::count(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(end), '\n');
    TAString detail = "line " + TAString(std::to_string(line));
    if (!e.Detail().IsEmpty()) detail += ": " + e.Detail();
    return TXmlError(e.Operation(), e.Message(), detail);
}

}  // namespace

TXmlElement::TXmlElement(const TAString& text)
{
    if (text[0] != '<') {
        SetName(text);
        return;
    }
    static const char* const op = "TXmlElement::TXmlElement";
    TAString doc = ToUtf8(text.str());

    int end = doc.Find("?>");
    TAString header = end < 0 ? doc : doc.SubString(0, end);
    header.RemoveCr();
    int at = header.Find("xml");
    if (at >= 0) at = header.Find("version=\"1.0\"", at + 3);
    if (at >= 0) at = header.Find("encoding=", at + 13);
    if (at >= 0) {
        int upper = header.Find("UTF-8", at + 9);
        int lower = header.Find("utf-8", at + 9);
        at = upper >= 0 ? upper : lower;
    }
    if (at < 0) throw TXmlError(op, "Unknown Version");

    int position = end < 0 ? doc.Length() : end + 2;
    SetName("to copy from file");
    try {
        LoadContent(doc, position, 0, true, false);
    } catch (const TXmlError& e) {
        throw AtLine(e, doc.str(), doc.str().size());
    }
}

void TXmlElement::TakeOver(TXmlElement& other)
{
    SetName(other.Name());
    Children() = std::move(other.Children());
}

void TXmlElement::LoadContent(const TAString& input, int& position, int depth, bool awaitingRoot, bool needsEnd)
{
    static const char* const op = "TXmlElement::Load";
    const std::string& in = input.str();
    const size_t n = in.size();
    size_t pos = position < 0 ? n : static_cast<size_t>(position);
    auto done = [&] { position = static_cast<int>(pos); };
    // Nodes read before the root element (the writer's comment) belong to no element.
    bool rootFound = !awaitingRoot;

    try {
    while (pos < n) {
        char c = in[pos++];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '"') continue;

        if (c != '<') {
            --pos;
            auto text = std::make_unique<TXmlText>();
            int p = static_cast<int>(pos);
            text->Load(input, p);
            pos = static_cast<size_t>(p);
            if (rootFound) AdoptChild(std::move(text));
            continue;
        }

        char next = pos < n ? in[pos] : '\0';
        if (next == '/') {
            size_t close = in.find('>', pos);
            size_t stop = close == std::string::npos ? n : close;
            std::string_view tag(in.data() + pos + 1, stop - (pos + 1));
            pos = close == std::string::npos ? n : close + 1;
            if (close == std::string::npos && rootFound && needsEnd) {
                done();
                throw TXmlError(op, "End Tag Missing", "<" + Name() + "> has no end tag");
            }
            if (!rootFound || tag != Name().str()) {
                done();
                throw TXmlError(op, "Element Termination Incorrect");
            }
            done();
            return;
        }

        if (next == '!') {
            char kind = pos + 1 < n ? in[pos + 1] : '\0';
            std::unique_ptr<TTreeValue> node;
            if (kind == '-') {
                node = std::make_unique<TXmlComment>();
            } else if (kind == '[') {
                node = std::make_unique<TXmlCData>();
            } else {
                throw TXmlError(op, "wrong char after '<!'");
            }
            int p = static_cast<int>(pos) - 1;
            node->Load(input, p);
            pos = static_cast<size_t>(p);
            if (rootFound) AdoptChild(std::move(node));
            continue;
        }

        size_t close = in.find('>', pos);
        size_t stop = close == std::string::npos ? n : close;
        std::string_view tag(in.data() + pos, stop - pos);
        pos = close == std::string::npos ? n : close + 1;
        bool empty = !tag.empty() && tag.back() == '/';
        if (empty) tag.remove_suffix(1);
        std::vector<TAString> tokens = SplitTokens(tag, " \t\n\r=");
        if (tokens.empty() || tokens.front().IsEmpty()) throw TXmlError(op, "Element Name Missing");
        // Only names that can be written back: a tree read from a file can always be saved.
        if (!IsWritableName(tokens.front().str(), true)) throw TXmlError(op, "Invalid Element Name");
        for (size_t t = 1; t < tokens.size(); t += 2)
            if (!IsWritableName(tokens[t].str(), false)) throw TXmlError(op, "Invalid Attribute Name");
        if (depth + 1 > MaxDepth) throw TXmlError(op, "Nesting Too Deep");

        auto element = std::make_unique<TXmlElement>();
        element->SetName(tokens.front());
        if (!empty) {
            int p = static_cast<int>(pos);
            element->LoadContent(input, p, depth + 1, false, true);
            pos = static_cast<size_t>(p);
        }
        for (size_t t = 1; t < tokens.size(); t += 2) {
            TAString value = t + 1 < tokens.size() ? Unescape(tokens[t + 1].str()) : TAString();
            element->AdoptChild(std::make_unique<TXmlAttribut>(tokens[t], value));
        }
        if (!rootFound) {
            TakeOver(*element);
            rootFound = true;
        } else {
            AdoptChild(std::move(element));
        }
    }
    } catch (const TXmlError& e) {
        throw AtLine(e, in, pos);
    }
    done();
    if (needsEnd) {
        // A document cut off inside an element: what followed the cut is unknown.
        throw TXmlError(op, "End Tag Missing", "<" + Name() + "> has no end tag");
    }
    if (!rootFound) throw TXmlError("TXmlElement::TXmlElement", "Root Element Missing");
}

void TXmlElement::Load(const TAString& input, int& position)
{
    LoadContent(input, position, 0, false, false);
}

TXmlElement& TXmlElement::operator[](const TAString& path)
{
    const int words = path.WordCount();
    if (words <= 1) return AsElement(KeyAt(words == 0 ? path : path.Word(0)));
    TXmlElement* element = this;
    for (int w = 0; w < words; ++w) element = &AsElement(element->KeyAt(path.Word(w)));
    return *element;
}

const TXmlElement& TXmlElement::operator[](const TAString& path) const
{
    const int words = path.WordCount();
    if (words <= 1) return AsElement(KeyAt(words == 0 ? path : path.Word(0)));
    const TXmlElement* element = this;
    for (int w = 0; w < words; ++w) element = &AsElement(element->KeyAt(path.Word(w)));
    return *element;
}

TXmlElement& TXmlElement::GetElement(int i)
{
    return AsElement(GetKey(i));
}

const TXmlElement& TXmlElement::GetElement(int i) const
{
    return AsElement(GetKey(i));
}

void TXmlElement::Save(TAString& output, int depth) const
{
    if (!IsWritableName(Name().str(), true)) throw TXmlError("TXmlElement::Save", "Invalid Name");
    const std::string indent(static_cast<size_t>(depth < 0 ? 0 : depth), ' ');
    output += "\n";
    output += indent;
    output += "<";
    output += Name();
    for (const TTree& child : Children()) {
        if (dynamic_cast<const TXmlAttribut*>(&child)) {
            output += " ";
            child.Save(output, depth + 1);
        }
    }
    output += ">";
    for (const TTree& child : Children()) {
        if (!dynamic_cast<const TXmlAttribut*>(&child)) child.Save(output, depth + 1);
    }
    if (CountKeys() > 0) {
        output += "\n";
        output += indent;
    }
    output += "</";
    output += Name();
    output += ">";
}

TAString TXmlElement::DocumentText() const
{
    TAString text(Declaration);
    text += TAString(WriterComment);
    Save(text, 0);
    return ToUtf8(text.str());
}

void TXmlElement::SaveToFile(const TAString& fileName) const
{
    DocumentText().SaveToFile(fileName, false);
}

TXmlElement TXmlElement::ParseDocument(const TAString& text)
{
    std::string_view s = text.str();
    if (s.substr(0, Bom.size()) == Bom) s.remove_prefix(Bom.size());
    if (s.empty() || s.front() != '<') throw TXmlError("TXmlElement::TXmlElement", "Unknown Version");
    return TXmlElement(TAString(s));
}

void TXmlElement::LoadFromFile(const TAString& fileName)
{
    TAString text;
    text.LoadFromFile(fileName, false);
    TXmlElement document = ParseDocument(text);
    TakeOver(document);
}

void TXmlElement::SetSchema(const TAString& fileName)
{
    if (fileName.IsEmpty()) return;
    (*this)("xmlns:xsi") = SchemaInstance;
    (*this)("xsi:noNamespaceSchemaLocation") = fileName;
}

bool TXmlElement::IsWritableName(std::string_view name, bool element)
{
    if (name.empty() || name.find_first_of(" \t\r\n<>=\"") != std::string_view::npos) return false;
    // "<!" opens a comment, "</" an end tag, and a final "/" marks an empty element.
    return !element || (name.front() != '!' && name.front() != '/' && name.back() != '/');
}

TAString TXmlElement::Escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c; break;
        }
    }
    return TAString(std::move(out));
}

TAString TXmlElement::Unescape(std::string_view text)
{
    static constexpr std::pair<std::string_view, char> entities[] = {
        {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text[i] == '&') {
            bool decoded = false;
            for (const auto& [entity, c] : entities) {
                if (text.substr(i, entity.size()) == entity) {
                    out += c;
                    i += entity.size();
                    decoded = true;
                    break;
                }
            }
            if (decoded) continue;
        }
        out += text[i++];
    }
    return TAString(std::move(out));
}

TAString TXmlElement::ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t len = Utf8SequenceLength(text, i);
        if (len > 0) {
            out.append(text.substr(i, len));
            i += len;
        } else {
            auto b = static_cast<unsigned char>(text[i++]);
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return TAString(std::move(out));
}

std::unique_ptr<TTreeKey> TXmlElement::NewKey(const TAString& name) const
{
    auto element = std::make_unique<TXmlElement>();
    element->SetName(name);
    return element;
}

std::unique_ptr<TTreeValue> TXmlElement::NewValue(const TAString& name) const
{
    if (name == TXmlText::NodeName) return std::make_unique<TXmlText>();
    if (name == TXmlCData::NodeName) return std::make_unique<TXmlCData>();
    if (name == TXmlComment::NodeName) return std::make_unique<TXmlComment>();
    return std::make_unique<TXmlAttribut>(name);
}

std::unique_ptr<TTree> TXmlElement::Adapt(const TTree& node) const
{
    if (dynamic_cast<const TXmlElement*>(&node) || dynamic_cast<const TXmlAttribut*>(&node)
        || dynamic_cast<const TXmlText*>(&node) || dynamic_cast<const TXmlCData*>(&node)
        || dynamic_cast<const TXmlComment*>(&node))
        return std::unique_ptr<TTree>(node.Clone());
    if (dynamic_cast<const TTreeKey*>(&node)) {
        std::unique_ptr<TTreeKey> element = NewKey(node.Name());
        element->Assign(node);
        return element;
    }
    if (const auto* value = dynamic_cast<const TTreeValue*>(&node)) {
        std::unique_ptr<TTreeValue> copy = NewValue(value->Name());
        copy->SetValue(value->Value());
        return copy;
    }
    return std::unique_ptr<TTree>(node.Clone());
}
