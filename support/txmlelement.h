#pragma once
// An XML element as a settings-tree key: its attributes, text, CDATA sections, comments
// and child elements are its children, in document order. Attributes are values of
// their own name; the text is the value "<TEXT>", CDATA "<CDATA>", a comment "<COMMENT>".
// operator[] takes a path of blank-separated words, one level per word:
//   config["FzgSim Position Top"]("<TEXT>") = "0";
//
// Document text (UTF-8, LF line ends, no final line break):
//   <?xml version="1.0" encoding="UTF-8" ?>
//   <!-- written by TXmlElement -->
//   <Quorvella xmlns:xsi="..." xsi:noNamespaceSchemaLocation="Quorvella.xsd">
//    <CanAdapter>
//     <->
//    ...
//   </Quorvella>
// An element with an attribute and text stands on one line (<Top unit="px">12</Top>); the
// end tag of an element with child elements stands on a line of its own at the element's
// indentation. Values and texts have <, >, & and " escaped on writing; the five predefined
// entities are decoded on reading and any other "&" is kept as it stands, so documents
// written without escaping still read. Bytes that are not valid UTF-8 are taken as Latin-1
// and written (or read) as their UTF-8 form, so documents from single-byte writers read too.
// A text keeps no leading blanks and a text spread over several lines is read as one text
// node per line.

#include "support/ttreekey.h"
#include "support/txmlerror.h"

#include <string_view>

class TXmlElement : public TTreeKey {
public:
    // Deeper documents are refused ("Nesting Too Deep"): parsing recurses per level.
    static constexpr int MaxDepth = 200;
    // The XML Schema instance namespace written for "xmlns:xsi" by SetSchema.
    static constexpr const char* SchemaInstance = "http://www.w3.org/2000/10/XMLSchema-instance";

    // Text not beginning with "<": an empty element named text. Otherwise text is a whole
    // document and this element becomes its root element. Errors (TXmlError):
    //   "Unknown Version" (TXmlElement::TXmlElement): the declaration is missing or names
    //       another version than 1.0 or another encoding than UTF-8;
    //   "Root Element Missing" (TXmlElement::TXmlElement): no element in the document;
    //   "Element Termination Incorrect", "wrong char after '<!'", "Element Name Missing",
    //   "Invalid Element Name", "Invalid Attribute Name" (a name that could not be written
    //   back, see IsWritableName), "Nesting Too Deep", "End Tag Missing" (the input ends
    //   inside an element: a document cut off; the detail names the element)
    //   (TXmlElement::Load); those of TXmlCData and TXmlComment. The detail of an error
    //   in the document begins with the line it was found on: "line 4: <CanAdapter>
    //   has no end tag" (for a missing end tag, the line of the element's start tag).
    // Parsing takes time and memory linear in the length of the text.
    explicit TXmlElement(const TAString& text = TAString());
    TXmlElement(const TXmlElement&) = default;
    TXmlElement& operator=(const TXmlElement&) = default;
    TXmlElement(TXmlElement&&) noexcept = default;
    TXmlElement& operator=(TXmlElement&&) noexcept = default;
    ~TXmlElement() override = default;

    TXmlElement* Clone() const override { return new TXmlElement(*this); }

    // Path lookups: each word with the one-level lookup of TTreeKey (and its errors).
    TXmlElement& operator[](const TAString& path) override;
    const TXmlElement& operator[](const TAString& path) const override;

    TXmlElement& GetElement(int i);
    const TXmlElement& GetElement(int i) const;

    // Appends "\n", depth blanks and the element. Throws TXmlError("TXmlElement::Save",
    // "Invalid Name") for an element name that could not be read back.
    void Save(TAString& output, int depth) const override;
    // Reads the element's content from position up to its end tag or, for a fragment,
    // the end of input.
    void Load(const TAString& input, int& position) override;

    TAString DocumentText() const;
    // Throws TBaseError("TAString::SaveToFile", "PathNotFound") as TAString does.
    void SaveToFile(const TAString& fileName) const;
    // Replaces this element by the file's root element. Unlike the constructor, the text
    // must be a document (an optional byte order mark, then the declaration).
    // Throws TBaseError("TAString::LoadFromFile", "FileNotFound") or a TXmlError.
    void LoadFromFile(const TAString& fileName);
    // As LoadFromFile, from a text.
    static TXmlElement ParseDocument(const TAString& text);

    // Sets "xmlns:xsi" and "xsi:noNamespaceSchemaLocation"; an empty name does nothing.
    void SetSchema(const TAString& fileName);

    // A name that reads back as the same name: not empty, no blank, tab, line end, <, >,
    // = or "; an element name also neither starts with "!" or "/" nor ends with "/".
    static bool IsWritableName(std::string_view name, bool element);
    // <, >, & and " as entities.
    static TAString Escape(std::string_view text);
    // &lt; &gt; &amp; &quot; &apos; decoded; any other "&" kept.
    static TAString Unescape(std::string_view text);
    // Valid UTF-8 unchanged; every other byte taken as Latin-1 (E4 becomes C3 A4).
    static TAString ToUtf8(std::string_view text);

protected:
    std::unique_ptr<TTreeKey> NewKey(const TAString& name) const override;
    // "<TEXT>" a TXmlText, "<CDATA>" a TXmlCData, "<COMMENT>" a TXmlComment, else a TXmlAttribut.
    std::unique_ptr<TTreeValue> NewValue(const TAString& name) const override;
    // Nodes of other trees become the XML node of their name and kind.
    std::unique_ptr<TTree> Adapt(const TTree& node) const override;

private:
    // needsEnd: the element was opened by a start tag, so the input must close it.
    void LoadContent(const TAString& input, int& position, int depth, bool awaitingRoot, bool needsEnd);
    void TakeOver(TXmlElement& other);
};
