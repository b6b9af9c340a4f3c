#include "platform/d3dx9/anim/xfile.h"
#include "xfile_writers.h"

#include <gtest/gtest.h>

using namespace fw::xfile;

namespace {

bool Parse(const std::vector<uint8_t>& bytes, Document& doc, std::string& error) {
    return ParseDocument(bytes.data(), bytes.size(), "t.x", doc, error);
}

Document ParseOk(const std::string& text) {
    Document doc;
    std::string error;
    EXPECT_TRUE(Parse(xtest::Bytes(text), doc, error)) << error;
    return doc;
}

std::string ParseError(const std::vector<uint8_t>& bytes) {
    Document doc;
    std::string error;
    EXPECT_FALSE(Parse(bytes, doc, error));
    return error;
}

std::vector<double> Values(const Object& o) {
    return o.values;
}

} // namespace

TEST(XFileReader, TextObjectsReferencesAndCommentsReadInFileOrder) {
    const Document doc = ParseOk("xof 0302txt 0064\n"
                                 "template Thing { <11111111-2222-3333-4444-555555555555>\n"
                                 "  DWORD n; array FLOAT v[n]; [...] }\n"
                                 "# a comment\n"
                                 "Material red { 1.0;0.0;0.0;1.0;; 5.0; 0;0;0;; 0;0;0;; }\n"
                                 "Frame Root { // trailing comment\n"
                                 "  Thing { 3; 1.5, -2, 3e2;; \"a;b\"; }\n"
                                 "  Thing { <AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE> 0;; }\n"
                                 "  { red }\n"
                                 "  {red <11111111-2222-3333-4444-555555555555>}\n"
                                 "  Frame 2nd.bone {}\n"
                                 "}\n");
    ASSERT_EQ(doc.topLevel.size(), 2u);
    EXPECT_EQ(doc.templates, std::vector<std::string>{"Thing"});
    EXPECT_EQ(doc.floatBits, 64);
    const Object& root = *doc.topLevel[1];
    EXPECT_TRUE(root.Is("frame"));
    EXPECT_EQ(root.name, "Root");
    EXPECT_EQ(root.line, 6u);
    ASSERT_EQ(root.children.size(), 5u);
    const Object& thing = *root.children[0].object;
    EXPECT_EQ(thing.name, "");
    EXPECT_EQ(Values(thing), (std::vector<double>{3, 1.5, -2, 300, 0}));
    Cursor c(thing);
    EXPECT_EQ(c.Dword(), 3u);
    c.Float(), c.Float(), c.Float();
    ASSERT_NE(c.String(), nullptr);
    EXPECT_TRUE(c.Ok());
    EXPECT_EQ(root.children[2].object, doc.topLevel[0]);
    EXPECT_TRUE(root.children[2].isReference);
    EXPECT_EQ(root.children[3].object, doc.topLevel[0]);
    EXPECT_EQ(root.children[4].object->name, "2nd.bone");
}

TEST(XFileReader, SeparatorStylesOfRealExportersAllRead) {
    for (const char* body : {"3; 0; 1; 2; 5;", "3, 0, 1, 2, 5,", "3;;;;; 0;;;;;, 1, 2;; 5;",
                             "3;0,1,2;;5;", "3;0,1,2;5"}) {
        const Document doc = ParseOk(std::string("xof 0303txt 0032\nThing {") + body + "}");
        ASSERT_EQ(doc.topLevel.size(), 1u) << body;
        EXPECT_EQ(Values(*doc.topLevel[0]), (std::vector<double>{3, 0, 1, 2, 5})) << body;
    }
}

TEST(XFileReader, OldExporterNanTextsReadAsZero) {
    const Document doc = ParseOk("xof 0303txt 0032\nV { -1.#IND00; 1.#QNAN0; +2.5; -.5; }");
    EXPECT_EQ(Values(*doc.topLevel[0]), (std::vector<double>{0, 0, 2.5, -0.5}));
}

TEST(XFileReader, ForwardReferencesResolveAndUnknownOnesStayNamed) {
    const Document doc = ParseOk("xof 0303txt 0032\nA { {B} {Nowhere} }\nThing B { 1; }");
    const Object& a = *doc.topLevel[0];
    EXPECT_EQ(a.children[0].object, doc.topLevel[1]);
    EXPECT_EQ(a.children[1].object, nullptr);
    EXPECT_EQ(a.children[1].referenceName, "Nowhere");
}

TEST(XFileReader, CursorRefusesReadsPastTheDataOrOfTheWrongKind) {
    const Document doc = ParseOk("xof 0303txt 0032\nT { 2; \"s\"; -1; }");
    Cursor c(*doc.topLevel[0]);
    uint32_t n = 0;
    EXPECT_FALSE(c.Count(n, 2)); // 2 items of 2 scalars cannot fit in the 2 left
    EXPECT_EQ(n, 0u);
    Cursor d(*doc.topLevel[0]);
    EXPECT_EQ(d.Dword(), 2u);
    EXPECT_EQ(d.Float(), 0.0f); // a string is not a number
    EXPECT_FALSE(d.Ok());
    Cursor e(*doc.topLevel[0]);
    e.Dword(), e.String();
    EXPECT_EQ(e.Dword(), 0u); // negative is no DWORD
    EXPECT_FALSE(e.Ok());
}

TEST(XFileReader, BinaryListsStringsAndReferencesMatchText) {
    xtest::BinaryWriter w;
    w.Word(31).Name("Thing").Open().Guid().Word(41).Name("n").Semicolon().Close();
    w.Name("Frame").Name("Root").Open().Guid();
    w.Name("Thing").Open().Ints({3}).Floats({1.5, -2, 300}).String("a;b").Close();
    w.Name("Thing").Open().Integer(7).Semicolon().Close();
    w.Open().Name("Root").Close();
    w.Close();
    Document doc;
    std::string error;
    ASSERT_TRUE(Parse(w.Data(), doc, error)) << error;
    EXPECT_EQ(doc.encoding, Encoding::Binary);
    EXPECT_EQ(doc.templates, std::vector<std::string>{"Thing"});
    ASSERT_EQ(doc.topLevel.size(), 1u);
    const Object& root = *doc.topLevel[0];
    ASSERT_EQ(root.children.size(), 3u);
    EXPECT_EQ(Values(*root.children[0].object), (std::vector<double>{3, 1.5, -2, 300, 0}));
    Cursor c(*root.children[0].object);
    c.Dword(), c.Float(), c.Float(), c.Float();
    EXPECT_EQ(*c.String(), "a;b");
    EXPECT_EQ(Values(*root.children[1].object), (std::vector<double>{7}));
    EXPECT_EQ(root.children[2].object, &root);
}

TEST(XFileReader, Binary64BitFloatsKeepTheirPrecision) {
    xtest::BinaryWriter w(true);
    w.Name("V").Open().Floats({0.1, 2.5}).Close();
    Document doc;
    std::string error;
    ASSERT_TRUE(Parse(w.Data(), doc, error)) << error;
    EXPECT_EQ(Values(*doc.topLevel[0]), (std::vector<double>{0.1, 2.5}));
}

TEST(XFileReader, CompressedFilesInflateAcrossBlocksThatShareHistory) {
    std::string text = "xof 0303txt 0032\n";
    for (int i = 0; i < 6000; ++i)
        text += "V { " + std::to_string(i % 7) + "; 1.25; 2.5; }\n";
    const auto plain = xtest::Bytes(text);
    const auto packed = xtest::Compress(plain, 32768);
    ASSERT_LT(packed.size(), plain.size() / 10);
    Document a, b;
    std::string error;
    ASSERT_TRUE(Parse(plain, a, error)) << error;
    ASSERT_TRUE(Parse(packed, b, error)) << error;
    EXPECT_TRUE(b.compressed);
    ASSERT_EQ(a.topLevel.size(), b.topLevel.size());
    EXPECT_EQ(Values(*b.topLevel[5999]), Values(*a.topLevel[5999]));

    xtest::BinaryWriter w;
    w.Name("V").Open().Ints({1, 2}).Close();
    Document c;
    ASSERT_TRUE(Parse(xtest::Compress(w.Data()), c, error)) << error;
    EXPECT_EQ(c.encoding, Encoding::Binary);
    EXPECT_EQ(Values(*c.topLevel[0]), (std::vector<double>{1, 2}));
}

TEST(XFileReader, EmptyCompressedFileFromTheFormatNotesInflates) {
    const std::vector<uint8_t> file = {'x', 'o', 'f', ' ', '0', '3', '0',  '2',  't', 'z',
                                       'i', 'p', '0', '0', '6', '4', 0x11, 0,    0,   0,
                                       1,   0,   5,   0,   'C', 'K', 0xE3, 0x02, 0x00};
    Document doc;
    std::string error;
    EXPECT_TRUE(Parse(file, doc, error)) << error;
    EXPECT_TRUE(doc.topLevel.empty());
}

TEST(XFileReader, BadHeadersAreRejectedWithTheReason) {
    EXPECT_NE(ParseError(xtest::Bytes("xOf 0302txt 0032")).find("signature"), std::string::npos);
    EXPECT_NE(ParseError(xtest::Bytes("xof 0302cmp 0032")).find("format"), std::string::npos);
    EXPECT_NE(ParseError(xtest::Bytes("xof 0302txt 0050")).find("float size"), std::string::npos);
    EXPECT_NE(ParseError(xtest::Bytes("xof 03")).find("too short"), std::string::npos);
    EXPECT_NE(ParseError(xtest::Bytes("xof 0x02txt 0032")).find("version"), std::string::npos);
    EXPECT_NE(ParseError(xtest::Bytes("xof 0302tzip0032ab")).find("ends before its size field"),
              std::string::npos);
}

TEST(XFileReader, TextErrorsNameTheFileAndLine) {
    EXPECT_EQ(ParseError(xtest::Bytes("xof 0302txt 0032\nFrame A {\n  1;\n")),
              "t.x:4: file ends inside 'Frame'");
    EXPECT_EQ(ParseError(xtest::Bytes("xof 0302txt 0032\n\nT { 1.0.0; }")),
              "t.x:3: malformed number '1.0.0'");
    EXPECT_EQ(ParseError(xtest::Bytes("xof 0302txt 0032\nT { \"abc }")),
              "t.x:2: unterminated string");
    EXPECT_EQ(ParseError(xtest::Bytes("xof 0302txt 0032\nT { {A B} }")),
              "t.x:2: malformed reference in 'T'");
    EXPECT_EQ(ParseError(xtest::Bytes("xof 0302txt 0032\n1;")),
              "t.x:2: expected a template or a data object");
}

TEST(XFileReader, BinaryErrorsNameTheByteOffset) {
    xtest::BinaryWriter lying;
    lying.Name("V").Open().Word(6).Dword(0x40000000).Dword(1);
    EXPECT_EQ(ParseError(lying.Data()), "t.x: byte 25: truncated list");
    xtest::BinaryWriter unknown;
    unknown.Name("V").Open().Word(99);
    EXPECT_EQ(ParseError(unknown.Data()), "t.x: byte 25: unknown token 99");
    xtest::BinaryWriter odd;
    odd.Name("V").Open().Bytes("\x01", 1);
    EXPECT_NE(ParseError(odd.Data()).find("truncated token"), std::string::npos);
}

TEST(XFileReader, DeepNestingFailsInsteadOfExhaustingTheStack) {
    std::string text = "xof 0302txt 0032\n";
    for (int i = 0; i < 100000; ++i)
        text += "F{";
    EXPECT_NE(ParseError(xtest::Bytes(text)).find("nested too deeply"), std::string::npos);
}

TEST(XFileReader, CorruptOrLyingCompressedDataFails) {
    xtest::BinaryWriter w;
    w.Name("V").Open().Ints({1, 2, 3}).Close();
    auto good = xtest::Compress(w.Data());
    auto truncated = good;
    truncated.resize(truncated.size() - 3);
    EXPECT_NE(ParseError(truncated).find("truncated"), std::string::npos);
    auto huge = good;
    huge[16] = 0xff, huge[17] = 0xff, huge[18] = 0xff, huge[19] = 0x7f;
    EXPECT_NE(ParseError(huge).find("impossible size"), std::string::npos);
    auto noSignature = good;
    noSignature[24] = 'X';
    EXPECT_NE(ParseError(noSignature).find("CK"), std::string::npos);
    auto corrupt = good;
    for (size_t i = 26; i < corrupt.size(); ++i)
        corrupt[i] ^= 0x5a;
    EXPECT_FALSE(ParseError(corrupt).empty());
    auto shortClaim = good;
    shortClaim[16] = uint8_t(shortClaim[16] - 1); // declared size one byte less than the data
    EXPECT_NE(ParseError(shortClaim).find("declared size"), std::string::npos);
}

TEST(XFileReader, ReferencesPickTheLatestEarlierNamesakeAndMaterialsFirst) {
    const Document doc = ParseOk("xof 0303txt 0032\n"
                                 "Material Skin { 1; }\n"
                                 "Frame Skin { Mesh { MeshMaterialList { {Skin} } } }\n"
                                 "Thing T { 1; } A { {T} } Thing T { 2; } B { {T} }\n");
    const Object& list = *doc.topLevel[1]->children[0].object->children[0].object;
    ASSERT_NE(list.children[0].object, nullptr);
    EXPECT_TRUE(list.children[0].object->Is("Material"));
    EXPECT_EQ(doc.topLevel[3]->children[0].object, doc.topLevel[2]);
    EXPECT_EQ(doc.topLevel[5]->children[0].object, doc.topLevel[4]);
}

// A count one short of its data leaves the last items over; they must not be read as
// the members that follow (a vertex index as a weight, weights as the offset matrix).
TEST(XFileReader, SkinWeightsBeyondTheirCountFailInEveryEncoding) {
    EXPECT_EQ(ParseError(xtest::Bytes("xof 0303txt 0032\n"
                                      "SkinWeights {\n"
                                      "  \"Bone\"; 1;\n"
                                      "  0, 1;\n"
                                      "  0.5, 0.5;\n"
                                      "  1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0,1;;\n"
                                      "}\n")),
              "t.x:6: data left over at the end of SkinWeights at line 2 (nWeights = 1)");
    xtest::BinaryWriter w;
    w.Name("SkinWeights").Open().String("Bone").Ints({1, 0, 1});
    w.Floats({0.5, 0.5, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}).Close();
    EXPECT_EQ(ParseError(w.Data()),
              "t.x: byte 65: data left over at the end of SkinWeights at byte 16 (nWeights = 1)");
    EXPECT_EQ(ParseError(xtest::Compress(w.Data())),
              "t.x: byte 49: data left over at the end of SkinWeights at byte 0 (nWeights = 1)");
}

TEST(XFileReader, AnimationKeyBeyondItsCountFails) {
    EXPECT_EQ(ParseError(xtest::Bytes("xof 0303txt 0032\n"
                                      "AnimationSet { Animation { {A}\n"
                                      "  AnimationKey { 2; 1;\n"
                                      "    0; 3; 0,0,0;;,\n"
                                      "    10; 3; 1,1,1;;;\n"
                                      "} } }\n")),
              "t.x:5: data left over at the end of AnimationKey at line 3 (nKeys = 1)");
}

// Its own data ends at the face indices; after them it holds only materials.
TEST(XFileReader, MaterialListHoldsItsIndicesThenOnlyMaterials) {
    EXPECT_EQ(ParseError(xtest::Bytes("xof 0303txt 0032\n"
                                      "MeshMaterialList mats {\n"
                                      "  1; 2;\n"
                                      "  0, 0, 0;;\n"
                                      "  { Red }\n"
                                      "}\n")),
              "t.x:4: data left over at the end of MeshMaterialList 'mats' at line 2 "
              "(nMaterials = 1, nFaceIndexes = 2)");
    EXPECT_EQ(ParseError(xtest::Bytes("xof 0303txt 0032\n"
                                      "MeshMaterialList { 1; 1; 0;;\n"
                                      "  TextureFilename { \"a.png\"; }\n"
                                      "}\n")),
              "t.x:3: MeshMaterialList at line 2 cannot hold a 'TextureFilename' object");
}

TEST(XFileReader, FractionalCountsFailAtTheirLine) {
    EXPECT_EQ(ParseError(xtest::Bytes("xof 0303txt 0032\n"
                                      "AnimationKey {\n"
                                      "  0; 134.7;\n"
                                      "  0; 4; 1,0,0,0;;;\n"
                                      "}\n")),
              "t.x:3: AnimationKey at line 2: count nKeys is 134.7, not a whole number of items");
    EXPECT_EQ(ParseError(xtest::Bytes("xof 0303txt 0032\n"
                                      "Mesh M { 3; 0;0;0;, 1;0;0;, 0;1;0;;\n"
                                      "  1; 2.5; 0,1,2;;\n"
                                      "}\n")),
              "t.x:3: Mesh 'M' at line 2: count nFaceVertexIndices is 2.5, not a whole number "
              "of items");
}

// Binary lists run across members and structures: a bad scalar deep inside one must still
// be reported against the member it landed on, as text reports it.
TEST(XFileReader, MisplacedDataNamesItsMemberInEveryEncoding) {
    EXPECT_EQ(ParseError(xtest::Bytes("xof 0303txt 0032\n"
                                      "Mesh M { 2; 0;0;0;, 1;\"y\";0;;\n"
                                      "  1; 3; 0,1,1;;; }\n")),
              "t.x:2: Mesh 'M' at line 2: y must be a number");
    EXPECT_EQ(ParseError(xtest::Bytes("xof 0303txt 0032\n"
                                      "MeshVertexColors { 2; 0; 1;1;1;1;;, 1; 1;1;\"b\";1;;; }\n")),
              "t.x:2: MeshVertexColors at line 2: blue must be a number");
    EXPECT_EQ(ParseError(xtest::Bytes("xof 0303txt 0032\nTextureFilename { 7; }\n")),
              "t.x:2: TextureFilename at line 2: filename must be a string");
    EXPECT_EQ(ParseError(xtest::Bytes("xof 0303txt 0032\n"
                                      "Material { 1;1;1;1;; 5; TextureFilename { \"a\"; }\n"
                                      "  0;0;0;; 0;0;0;; }\n")),
              "t.x:3: data after the child objects of Material at line 2");
    xtest::BinaryWriter vertices; // the face count arrives inside the vertices' float list
    vertices.Name("Mesh").Open().Ints({2}).Floats({0, 0, 0, 1, 0, 0, 1.5}).Close();
    EXPECT_EQ(ParseError(vertices.Data()),
              "t.x: byte 38: Mesh at byte 16: count nFaces is 1.5, not a whole number of items");
    xtest::BinaryWriter faces; // one index too many in a list of whole faces
    faces.Name("Mesh").Open().Ints({3}).Floats({0, 0, 0, 1, 0, 0, 0, 1, 0});
    faces.Ints({2, 3, 0, 1, 2, 3, 0, 1, 2, 7}).Close();
    EXPECT_EQ(
        ParseError(faces.Data()),
        "t.x: byte 80: data left over at the end of Mesh at byte 16 (nVertices = 3, nFaces = 2)");
    xtest::BinaryWriter normals; // a string where a face normal index belongs
    normals.Name("MeshNormals").Open().Ints({1}).Floats({0, 0, 1}).Ints({1, 3, 0, 0});
    normals.String("n").Close();
    EXPECT_EQ(ParseError(normals.Data()),
              "t.x: byte 85: MeshNormals at byte 16: faceVertexIndices must be a number");
    xtest::BinaryWriter keys; // a fractional key count inside one list of keys
    keys.Name("AnimationKey").Open().Ints({0, 2, 0, 1, 5, 10}).Floats({0.5}).Close();
    EXPECT_EQ(
        ParseError(keys.Data()),
        "t.x: byte 66: AnimationKey at byte 16: count nValues is 0.5, not a whole number of items");
}

// A face of no corners is a whole face: the count after it starts the next one.
TEST(XFileReader, EmptyFacesAreWholeItemsInEveryEncoding) {
    ParseOk("xof 0303txt 0032\nMesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 3; 0;;, 3; 0,1,2;;, 0;;; }\n");
    xtest::BinaryWriter w;
    w.Name("Mesh").Open().Ints({3}).Floats({0, 0, 0, 1, 0, 0, 0, 1, 0});
    w.Ints({3, 0, 3, 0, 1}).Ints({2, 0}).Close(); // the list ends inside a face
    Document doc;
    std::string error;
    EXPECT_TRUE(Parse(w.Data(), doc, error)) << error;
}
