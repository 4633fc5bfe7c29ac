// TXmlElement and its node kinds: document layout, parser and its messages, escaping,
// UTF-8, path lookups, files, and a write-then-read property over random trees.
#include "support/txmlattribut.h"
#include "support/txmlcdata.h"
#include "support/txmlcomment.h"
#include "support/txmlelement.h"
#include "support/txmltext.h"

#include "tests/errorof.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <typeinfo>

namespace {

const std::string Decl = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n";

TXmlElement Parse(const std::string& body)
{
    return TXmlElement(TAString(Decl + body));
}

// Everything after the declaration and the writer's comment line.
std::string Body(const TXmlElement& root)
{
    std::string text = root.DocumentText().str();
    EXPECT_EQ(text.substr(0, Decl.size()), Decl);
    size_t lineEnd = text.find('\n', Decl.size());
    std::string comment = text.substr(Decl.size(), lineEnd - Decl.size());
    EXPECT_EQ(comment.substr(0, 4), "<!--");
    EXPECT_EQ(comment.substr(comment.size() - 3), "-->");
    return text.substr(lineEnd);
}

::testing::AssertionResult SameTree(const TTree& a, const TTree& b, const std::string& at = "")
{
    const std::string here = at + "/" + a.Name().str();
    if (typeid(a) != typeid(b))
        return ::testing::AssertionFailure() << here << ": " << typeid(a).name() << " vs " << typeid(b).name();
    if (a.Name() != b.Name())
        return ::testing::AssertionFailure() << here << ": name vs " << b.Name().str();
    if (const auto* va = dynamic_cast<const TTreeValue*>(&a)) {
        const auto& vb = dynamic_cast<const TTreeValue&>(b);
        if (va->Value() != vb.Value())
            return ::testing::AssertionFailure()
                << here << ": value [" << va->Value().str() << "] vs [" << vb.Value().str() << "]";
        return ::testing::AssertionSuccess();
    }
    const auto& ka = dynamic_cast<const TTreeKey&>(a);
    const auto& kb = dynamic_cast<const TTreeKey&>(b);
    if (ka.Count() != kb.Count())
        return ::testing::AssertionFailure() << here << ": " << ka.Count() << " vs " << kb.Count() << " children";
    for (int i = 0; i < ka.Count(); ++i) {
        auto r = SameTree(ka.GetEntry(i), kb.GetEntry(i), here);
        if (!r) return r;
    }
    return ::testing::AssertionSuccess();
}

TEST(TXmlElement, DocumentLayout)
{
    TXmlElement root("Quorvella");
    root.SetSchema("Quorvella.xsd");
    root["CanAdapter"]["-"];
    root["FzgSim Position Top"]("<TEXT>") = "12";
    root["FzgSim Position Top"]("unit") = "px";
    root["FzgSim Position Left"]("<TEXT>") = "-3";

    EXPECT_EQ(Body(root),
              "\n<Quorvella xmlns:xsi=\"http://www.w3.org/2000/10/XMLSchema-instance\""
              " xsi:noNamespaceSchemaLocation=\"Quorvella.xsd\">"
              "\n <CanAdapter>"
              "\n  <-></->"
              "\n </CanAdapter>"
              "\n <FzgSim>"
              "\n  <Position>"
              "\n   <Top unit=\"px\">12</Top>"
              "\n   <Left>-3</Left>"
              "\n  </Position>"
              "\n </FzgSim>"
              "\n</Quorvella>");
}

TEST(TXmlElement, CDataAndCommentsStandOnTheirOwnLines)
{
    TXmlElement a("a");
    a("<COMMENT>") = "c";
    a("<CDATA>") = " d ";
    a("<TEXT>") = "t";
    TAString out;
    a.Save(out, 1);
    EXPECT_EQ(out, "\n <a>\n  <!--c-->\n  <![CDATA[ d ]]>t</a>");
}

TEST(TXmlElement, NodesOfPlainTreesAreWrittenAsXml)
{
    // Nodes of a plain tree become the XML nodes of their names, so they are written.
    TTreeKey plain("k");
    plain.AddValue(TTreeValue("<TEXT>", "t"));
    plain.AddValue(TTreeValue("a", "1"));
    plain.AddKey(TTreeKey("sub"));
    TXmlElement holder("h");
    holder.AddKey(plain);
    TAString out;
    holder.Save(out, 0);
    EXPECT_EQ(out, "\n<h>\n <k a=\"1\">t\n  <sub></sub>\n </k>\n</h>");
}

TEST(TXmlElement, DeclarationMustSayVersionOneAndUtf8)
{
    const Failure unknown{"TXmlElement::TXmlElement", "Unknown Version"};
    for (const char* doc : {
             "<?xml version=\"1.1\" encoding=\"UTF-8\"?><a/>",
             "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>",
             "<?xml encoding=\"UTF-8\" version=\"1.0\"?><a/>",
             "<?xml version='1.0' encoding=\"UTF-8\"?><a/>",
             "<a>no declaration</a>",
         }) {
        SCOPED_TRACE(doc);
        EXPECT_EQ(FailureOf([&] { TXmlElement e{TAString(doc)}; }), unknown);
    }
    EXPECT_EQ(TXmlElement(TAString("<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>")).Name(), "a");
    EXPECT_EQ(TXmlElement(TAString("<?xml\r\n version=\"1.0\"\r\n encoding=\"UTF-8\" ?>\r\n<b/>")).Name(), "b");
    // Text that does not start with "<" names an empty element.
    TXmlElement named(TAString("Quorvella"));
    EXPECT_EQ(named.Name(), "Quorvella");
    EXPECT_EQ(named.Count(), 0);
}

TEST(TXmlElement, ParsesElementsAttributesAndEmptyTags)
{
    TXmlElement root = Parse("<!-- writer -->\n<r><a x=\"b = c d\" y=\"\" z=w/><n k=\"1\"><m/></n>\n</r>");
    EXPECT_EQ(root.Name(), "r");
    ASSERT_EQ(root.Count(), 2);   // the comment before the root belongs to no element
    const TXmlElement& a = root["a"];
    EXPECT_EQ(a("x"), "b = c d");
    EXPECT_EQ(a("y"), "");
    EXPECT_EQ(a("z"), "w");
    EXPECT_EQ(a.Count(), 3);
    // Attributes follow the content they were read with.
    const TXmlElement& n = root["n"];
    EXPECT_EQ(n.GetEntry(0).Name(), "m");
    EXPECT_EQ(n.GetEntry(1).Name(), "k");
    TAString out;
    root["n m"].Save(out, 0);
    EXPECT_EQ(out, "\n<m></m>");
}

TEST(TXmlElement, ParserMessages)
{
    const std::string load = "TXmlElement::Load";
    EXPECT_EQ(FailureOf([] { Parse("<a><b></a></b>"); }), (Failure{load, "Element Termination Incorrect"}));
    EXPECT_EQ(FailureOf([] { Parse("<a></a >"); }), (Failure{load, "Element Termination Incorrect"}));
    EXPECT_EQ(FailureOf([] { Parse("<a><!DOCTYPE a></a>"); }), (Failure{load, "wrong char after '<!'"}));
    EXPECT_EQ(FailureOf([] { Parse("<a><!"); }), (Failure{load, "wrong char after '<!'"}));
    EXPECT_EQ(FailureOf([] { Parse("<a><![CDATX[x]]></a>"); }), (Failure{"TXmlCData::Load", "HdrErr"}));
    EXPECT_EQ(FailureOf([] { Parse("<a><![CDATA[x]></a>"); }), (Failure{"TXmlCData::Load", "EndNotFound"}));
    EXPECT_EQ(FailureOf([] { Parse("<a><>x</></a>"); }), (Failure{load, "Element Name Missing"}));
    // Names that could not be written back: the tree read could never be saved.
    EXPECT_EQ(FailureOf([] { Parse("<a>< /b></a>"); }), (Failure{load, "Invalid Element Name"}));
    EXPECT_EQ(FailureOf([] { Parse("<a><b<c></b<c></a>"); }), (Failure{load, "Invalid Element Name"}));
    EXPECT_EQ(FailureOf([] { Parse("<a x<y=\"1\"></a>"); }), (Failure{load, "Invalid Attribute Name"}));
    // A document without a root element is not an empty settings tree.
    const Failure noRoot{"TXmlElement::TXmlElement", "Root Element Missing"};
    EXPECT_EQ(FailureOf([] { Parse("<!-- only a comment -->"); }), noRoot);
    EXPECT_EQ(FailureOf([] { Parse(""); }), noRoot);
    EXPECT_EQ(FailureOf([] { Parse("</to copy from file>"); }), (Failure{load, "Element Termination Incorrect"}));

    TXmlCData cdata;
    int pos = 0;
    EXPECT_EQ(FailureOf([&] { cdata.Load(TAString("<!-- x -->"), pos); }), (Failure{"TXmlCData::Load", "HdrErr"}));
    TXmlComment comment;
    EXPECT_EQ(FailureOf([&] { comment.Load(TAString("<![CDATA[x]]>"), pos); }),
              (Failure{"TXmlComment::Load", "HdrErr"}));
}

// A document cut off inside an element is malformed: the keys after the cut are lost,
// and a save would lose them for good.
TEST(TXmlElement, DocumentCutOffInsideAnElementIsMalformed)
{
    struct TCase {
        const char* body;
        const char* open;   // the innermost element left open
        int line;           // where it was opened (the declaration is line 1)
    };
    const TCase cases[] = {
        {"<a><b>text", "b", 2},
        {"<a><b>text</b>", "a", 2},
        {"<a><!--open to the end", "a", 2},
        {"<a>\n <CanAdapter>\n  <Simulation>\n   <Kind>RAM</", "Kind", 5},
        {"<a><b></b", "b", 2},
        {"<a><b x=\"1\"", "b", 2},
        {"<a>\n\n <b>\n  <c/>\n", "b", 4},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.body);
        try {
            Parse(c.body);
            ADD_FAILURE() << "accepted";
        } catch (const TXmlError& e) {
            EXPECT_EQ(e.Operation(), "TXmlElement::Load");
            EXPECT_EQ(e.Message(), "End Tag Missing");
            EXPECT_EQ(e.Detail(), "line " + std::to_string(c.line) + ": <" + c.open + "> has no end tag");
        }
    }
    // Complete documents, and a fragment read by Load, still read.
    EXPECT_EQ(Parse("<a><b/></a><!-- after the root, open").Name(), "a");
    TXmlElement fragment("f");
    int pos = 0;
    fragment.Load(TAString("<b>1</b><c>2</c>"), pos);
    EXPECT_EQ(fragment["c"]("<TEXT>"), "2");
}

// Many siblings (bench/xml_loading times a million), every one kept in order.
TEST(TXmlElement, TwoHundredThousandChildrenLoadEveryElement)
{
    std::string body = "<r>";
    for (int i = 0; i < 200000; ++i) body += "<e/>";
    body += "<last>1</last></r>";
    const TXmlElement root = Parse(body);
    EXPECT_EQ(root.Count(), 200001);
    EXPECT_EQ(root.GetEntry(199999).Name(), "e");
    EXPECT_EQ(root.GetEntry(200000).Name(), "last");
}

TEST(TXmlElement, NestingDepthIsBounded)
{
    std::string ok, deep;
    for (int i = 0; i < TXmlElement::MaxDepth; ++i) ok += "<e>";
    for (int i = 0; i < TXmlElement::MaxDepth; ++i) ok += "</e>";
    TXmlElement root = Parse(ok);
    const TTreeKey* key = &root;
    int levels = 1;
    while (key->CountKeys() > 0) {
        key = &key->GetKey(0);
        ++levels;
    }
    EXPECT_EQ(levels, TXmlElement::MaxDepth);
    for (int i = 0; i < 100000; ++i) deep += "<e>";
    EXPECT_EQ(FailureOf([&] { Parse(deep); }), (Failure{"TXmlElement::Load", "Nesting Too Deep"}));
}

TEST(TXmlElement, CDataAndCommentContents)
{
    TXmlElement root = Parse("<a><![CDATA[x[y]z ]<]]><!-- one - two --></a>");
    EXPECT_EQ(root("<CDATA>"), "x[y]z ]<");
    EXPECT_EQ(root("<COMMENT>"), " one - two ");

    // "]]>" in content survives as two sections read back as one.
    TXmlElement w("w");
    w("<CDATA>") = "a]]>b";
    w("<COMMENT>") = "x-->y";
    TXmlElement back = TXmlElement::ParseDocument(w.DocumentText());
    EXPECT_EQ(back("<CDATA>"), "a]]>b");
    EXPECT_EQ(back("<COMMENT>"), "x- ->y");   // comments carry no data
    EXPECT_EQ(back.Count(), 2);
}

TEST(TXmlElement, TextLinesAndEntities)
{
    TXmlElement root = Parse("<a>  first line \r\n   second &amp; &lt;x&gt; &quot;q&quot; &apos;s&apos;</a>");
    EXPECT_EQ(root("<TEXT>[0]"), "first line ");
    EXPECT_EQ(root("<TEXT>[1]"), "second & <x> \"q\" 's'");

    // Text written without escaping still loads: any other "&" stays as it is.
    TXmlElement old = Parse("<a v=\"R&D &amp\">AT&T &#65; &foo; &</a>");
    EXPECT_EQ(old("<TEXT>"), "AT&T &#65; &foo; &");
    EXPECT_EQ(old("v"), "R&D &amp");
}

TEST(TXmlElement, SpecialCharactersAreEscapedOnWriting)
{
    TXmlElement a("a");
    a("v") = "a\"b<c>&d";
    a("<TEXT>") = "x < y && \"z\" > 1";
    TAString out;
    a.Save(out, 0);
    EXPECT_EQ(out, "\n<a v=\"a&quot;b&lt;c&gt;&amp;d\">x &lt; y &amp;&amp; &quot;z&quot; &gt; 1</a>");
}

TEST(TXmlElement, Utf8TextIsKeptAndSingleByteTextIsRead)
{
    const std::string path = "/home/prüfer/Messfahrten/Größe °C/Übersicht.asc";
    TXmlElement root("Quorvella");
    root["LogFile"]("<TEXT>") = path;
    root["LogFile"]("dir") = path;
    std::string doc = root.DocumentText().str();
    EXPECT_NE(doc.find(path), std::string::npos);
    TXmlElement back = TXmlElement::ParseDocument(TAString(doc));
    EXPECT_EQ(back["LogFile"]("<TEXT>"), path);
    EXPECT_EQ(back["LogFile"]("dir"), path);

    // A single-byte writer stored the eight table characters of texts as UTF-8 pairs
    // and every other byte (attributes: all) as it was.
    TXmlElement old = Parse("<a p=\"M\xFCller \xE9t\xE9\">\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F\xC3\x84\xC3\x96\xC3\x9C\xC2\xB0 \xB5s</a>");
    EXPECT_EQ(old("p"), "Müller été");
    EXPECT_EQ(old("<TEXT>"), "äöüßÄÖÜ° µs");

    // A byte that is no UTF-8 is written as the UTF-8 form of its Latin-1 character.
    TXmlElement raw("r");
    raw("<TEXT>") = "\xE4";
    EXPECT_NE(raw.DocumentText().str().find("<r>\xC3\xA4</r>"), std::string::npos);
}

TEST(TXmlElement, ToUtf8KeepsValidSequencesOnly)
{
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"\xE2\x82\xAC \xF0\x9F\x98\x80", "\xE2\x82\xAC \xF0\x9F\x98\x80"},   // 3 and 4 bytes
        {"\x80", "\xC2\x80"},                        // lone continuation byte
        {"\xC0\xAF", "\xC3\x80\xC2\xAF"},            // overlong form
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},  // surrogate
        {"\xE2\x82", "\xC3\xA2\xC2\x82"},            // cut off at the end
        {"\xFF", "\xC3\xBF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(TXmlElement::ToUtf8(c.in), c.out);
    }
}

TEST(TXmlElement, PathLookups)
{
    TXmlElement root("Quorvella");
    root["FzgSim  Position\tTop"]("<TEXT>") = "7";
    const TXmlElement& c = root;
    EXPECT_EQ(c["FzgSim Position Top"]("<TEXT>"), "7");
    EXPECT_EQ(c["FzgSim"]["Position"]["Top"]("<TEXT>"), "7");
    EXPECT_EQ(FailureOf([&] { c["FzgSim Size Top"]; }), (Failure{"TTreeKey::operator [] const", "Key[Size] not found"}));
    root["FzgSim"]("Size") = "attribute";
    EXPECT_EQ(FailureOf([&] { root["FzgSim Size Top"]; }), (Failure{"TTreeKey::operator []", "Item[Size] is no Key"}));
    EXPECT_EQ(root["FzgSim"].Count(), 2);
    root["List Item[1]"];
    EXPECT_EQ(root["List"].CountKeys(), 2);
    EXPECT_EQ(&root.GetElement(1), &root["List"]);
}

TEST(TXmlElement, SetSchemaSetsBothAttributesOnce)
{
    TXmlElement root("Quorvella");
    root.SetSchema("");
    EXPECT_EQ(root.Count(), 0);
    root.SetSchema("Old.xsd");
    root.SetSchema("Quorvella.xsd");
    EXPECT_EQ(root.Count(), 2);
    EXPECT_EQ(root("xmlns:xsi"), TXmlElement::SchemaInstance);
    EXPECT_EQ(root("xsi:noNamespaceSchemaLocation"), "Quorvella.xsd");
}

TEST(TXmlElement, NamesThatCannotBeReadBackAreRefused)
{
    TXmlElement root("Quorvella");
    root.AddKey(TXmlElement("bad name"));
    EXPECT_EQ(FailureOf([&] { root.DocumentText(); }), (Failure{"TXmlElement::Save", "Invalid Name"}));
    TXmlElement attr("a");
    attr("x=y") = "1";
    EXPECT_EQ(FailureOf([&] { attr.DocumentText(); }), (Failure{"TXmlAttribut::Save", "Invalid Name"}));
    EXPECT_EQ(FailureOf([] { TXmlElement().DocumentText(); }), (Failure{"TXmlElement::Save", "Invalid Name"}));
}

class TXmlElementFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path()
            / ("qv_xml_äö_" + std::to_string(::getpid()) + "_"
               + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    TAString File(const char* name) const { return TAString((dir_ / name).string()); }
    void Write(const char* name, const std::string& bytes) const
    {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }
    std::filesystem::path dir_;
};

TEST_F(TXmlElementFile, SaveAndLoadKeepTheTree)
{
    TXmlElement root("Quorvella");
    root.SetSchema("Quorvella.xsd");
    root["FzgSim Position Top"]("<TEXT>") = "Größe <1>";
    root.SaveToFile(File("a.xml"));
    TXmlElement back("placeholder");
    back.LoadFromFile(File("a.xml"));
    EXPECT_EQ(back["FzgSim Position Top"]("<TEXT>"), "Größe <1>");
    EXPECT_EQ(back("xsi:noNamespaceSchemaLocation"), "Quorvella.xsd");
    EXPECT_EQ(back.Name(), "Quorvella");
}

TEST_F(TXmlElementFile, LoadFromFileWantsADocument)
{
    TXmlElement e("keep");
    e("v") = "1";
    EXPECT_EQ(FailureOf([&] { e.LoadFromFile(File("missing.xml")); }),
              (Failure{"TAString::LoadFromFile", "FileNotFound"}));
    const Failure unknown{"TXmlElement::TXmlElement", "Unknown Version"};
    Write("empty.xml", "");
    EXPECT_EQ(FailureOf([&] { e.LoadFromFile(File("empty.xml")); }), unknown);
    Write("text.xml", "Quorvella");
    EXPECT_EQ(FailureOf([&] { e.LoadFromFile(File("text.xml")); }), unknown);
    Write("cut.xml", Decl);
    EXPECT_EQ(FailureOf([&] { e.LoadFromFile(File("cut.xml")); }).message, "Root Element Missing");
    EXPECT_EQ(e.Name(), "keep");   // failed loads leave the element as it was
    EXPECT_EQ(e("v"), "1");

    Write("bom.xml", "\xEF\xBB\xBF" + Decl + "<b x=\"1\"/>");
    e.LoadFromFile(File("bom.xml"));
    EXPECT_EQ(e.Name(), "b");
    EXPECT_EQ(e("x"), "1");
    EXPECT_EQ(e.Count(), 1);
}

// Random trees of elements, attributes, texts, CDATA and comments with markup characters,
// entity-like text and UTF-8: writing and reading back gives the same tree. Attributes are
// placed last in each element, where reading puts them; a text never follows a text (two
// would be written as one) and has no line break or leading blank (not kept by the format).
class RandomTree {
public:
    explicit RandomTree(unsigned seed) : rng_(seed) {}

    TXmlElement Element(int depth)
    {
        TXmlElement e(Pick(NameParts, 1, 4));
        int n = Int(0, depth < 4 ? 5 : 2);
        bool lastWasText = false;
        for (int i = 0; i < n; ++i) {
            switch (Int(0, depth < 4 ? 3 : 2)) {
            case 0:
                if (lastWasText) continue;
                e.AddValue(TXmlText(Text()));
                lastWasText = true;
                continue;
            case 1: e.AddValue(TXmlCData(Pick(AnyParts, 0, 6))); break;
            case 2: e.AddValue(TXmlComment(Pick(CommentParts, 0, 6))); break;
            default: e.AddKey(Element(depth + 1)); break;
            }
            lastWasText = false;
        }
        for (int i = Int(0, 3); i > 0; --i) e.AddValue(TXmlAttribut(Pick(AttrNameParts, 1, 3), Pick(AnyParts, 0, 6)));
        return e;
    }

private:
    static constexpr const char* NameParts[] = {"A", "b", "_", "9", "ä", "ß", ".", "-", ":", "Ω"};
    static constexpr const char* AttrNameParts[] = {"x", "k", ":", "_", "ü", "1"};
    static constexpr const char* AnyParts[] = {
        "a", "Z", "0", " ", "\t", "<", ">", "&", "\"", "'", "=", "/", "ä", "ß", "°", "€", "😀",
        "&amp;", "&lt", "&#65;", "]]>", "]", "[", "--", "-", "\n", "\r\n", "?>", "<!--", "x"};
    static constexpr const char* CommentParts[] = {
        "a", " ", "\t", "<", "&", "\"", "=", "ä", "€", "-", "--", "\n", "[", "]"};

    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    template <size_t N>
    std::string Pick(const char* const (&parts)[N], int minParts, int maxParts)
    {
        std::string s;
        for (int i = Int(minParts, maxParts); i > 0; --i) s += parts[Int(0, int(N) - 1)];
        return s;
    }

    std::string Text()
    {
        std::string s;
        do {
            s = Pick(AnyParts, 1, 6);
            std::erase(s, '\n');
            std::erase(s, '\r');
        } while (s.empty() || s[0] == ' ' || s[0] == '\t');
        return s;
    }

    std::mt19937 rng_;
};

TEST(TXmlElement, WriteThenReadGivesTheSameTree)
{
    for (unsigned seed = 1; seed <= 400; ++seed) {
        RandomTree gen(seed);
        TXmlElement tree = gen.Element(0);
        TAString doc = tree.DocumentText();
        TXmlElement back = TXmlElement::ParseDocument(doc);
        ASSERT_TRUE(SameTree(tree, back)) << "seed " << seed << "\n" << doc.str();
        EXPECT_EQ(back.DocumentText(), doc) << "seed " << seed;
    }
}

// Damaged documents only ever fail with a TXmlError: no crash, no read out of range.
TEST(TXmlElement, DamagedDocumentsFailCleanly)
{
    RandomTree gen(99);
    const std::string doc = gen.Element(0).DocumentText().str() + "<a x=\"1\"><![CDATA[c]]><!--d--></a>";
    std::mt19937 rng(7);
    const char alphabet[] = "<>/!-[]\"=?& \n\x00\xC3\xE4xa";
    for (int round = 0; round < 3000; ++round) {
        std::string s = doc;
        for (int k = std::uniform_int_distribution<int>(1, 6)(rng); k > 0; --k) {
            size_t at = std::uniform_int_distribution<size_t>(0, s.size())(rng);
            char c = alphabet[std::uniform_int_distribution<size_t>(0, sizeof alphabet - 2)(rng)];
            switch (std::uniform_int_distribution<int>(0, 3)(rng)) {
            case 0: s.insert(at, 1, c); break;
            case 1: if (at < s.size()) s[at] = c; break;
            case 2: if (at < s.size()) s.erase(at, 1); break;
            default: s.resize(at); break;
            }
        }
        try {
            TXmlElement parsed = TXmlElement::ParseDocument(TAString(s));
            (void)parsed.Count();
        } catch (const TXmlError&) {
        }
    }
}

}  // namespace
