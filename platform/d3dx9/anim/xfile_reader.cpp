// Text and binary .X token streams and the one parser that builds objects from both.
// In both encodings an object body is its scalars in member order, then child objects
// and references, which is all we keep. The standard templates' layouts are checked as
// the scalars arrive, so a count that disagrees with its data fails here instead of
// shifting every later member. Separators are accepted wherever they appear, as real
// exporters place them loosely.
#include "platform/d3dx9/anim/xfile.h"
#include "platform/win32/host.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <span>
#include <unordered_map>

namespace fw::xfile {

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = char(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

bool Object::Is(std::string_view templ) const {
    return EqualsNoCase(templateName, templ);
}

std::string Object::Where() const {
    return templateName + (binary ? " at byte " : " at line ") + std::to_string(line);
}

// ---------------------------------------------------------------------------
// Cursor

size_t Cursor::Dwords(uint32_t* out, size_t count) {
    const size_t ready = std::min(count, m_pos < m_runEnd ? m_runEnd - m_pos : 0);
    const double* values = m_object.values.data() + m_pos;
    size_t got = 0;
    for (; got < ready; ++got) {
        const double v = values[got];
        if (!(v >= 0.0 && v <= 4294967295.0))
            break;
        out[got] = uint32_t(v);
    }
    m_pos += got;
    if (got < count) {
        m_pos += got < ready; // a number out of range was read, as Dword() reads it
        Fail();
        std::fill(out + got, out + count, 0u);
    }
    return got;
}

const std::string* Cursor::String() {
    const auto& strings = m_object.strings;
    if (!m_ok || m_nextString >= strings.size() || strings[m_nextString].first != m_pos) {
        Fail();
        return nullptr;
    }
    ++m_pos;
    const std::string* text = &strings[m_nextString++].second;
    FindRun();
    return text;
}

namespace {

enum class Tok {
    End,
    Name,
    String,
    Number,
    List, // binary integer or float list: scalars taken with AppendList
    OBrace,
    CBrace,
    Separator,
    Guid,
    Template,
    Other, // punctuation and type keywords: only meaningful inside templates
    Error,
};

struct Token {
    Tok kind = Tok::End;
    std::string_view text; // names and strings
    double number = 0.0;
};

constexpr int kMaxDepth = 200;

// ---------------------------------------------------------------------------
// Text

class TextLexer {
public:
    TextLexer(const uint8_t* data, size_t size, size_t start, int lineBase)
        : m_p(reinterpret_cast<const char*>(data)), m_size(size), m_pos(start),
          m_lineBase(lineBase) {}

    Token Next() {
        SkipSpace();
        m_tokenPos = m_pos;
        Token t;
        if (m_pos >= m_size)
            return t;
        const char c = m_p[m_pos];
        switch (c) {
        case '{':
            ++m_pos;
            t.kind = Tok::OBrace;
            return t;
        case '}':
            ++m_pos;
            t.kind = Tok::CBrace;
            return t;
        case '"':
            return LexString();
        case '<':
            return LexGuid();
        default:
            break;
        }
        if (IsDigit(c) || c == '-' || c == '+' || c == '.')
            return LexNumber();
        if (IsNameStart(c)) {
            const size_t start = m_pos;
            while (m_pos < m_size && IsNameChar(m_p[m_pos]))
                ++m_pos;
            t.text = std::string_view(m_p + start, m_pos - start);
            t.kind = EqualsNoCase(t.text, "template") ? Tok::Template : Tok::Name;
            return t;
        }
        ++m_pos;
        t.kind = Tok::Other;
        return t;
    }

    // An optional object or reference name: anything up to a space or a delimiter,
    // so names that start with a digit or hold a dot still read as names.
    std::string_view ReadName() {
        SkipSpace();
        const size_t start = m_pos;
        while (m_pos < m_size && !IsSpace(m_p[m_pos]) && !IsDelimiter(m_p[m_pos]))
            ++m_pos;
        return std::string_view(m_p + start, m_pos - start);
    }

    // Template bodies are recorded by name only; skip to the closing brace.
    bool SkipTemplateBody() {
        for (;;) {
            SkipSpace();
            if (m_pos >= m_size)
                return false;
            if (m_p[m_pos++] == '}')
                return true;
        }
    }

    void AppendList(std::vector<double>&) {}
    size_t TokenPos() const { return m_tokenPos; }
    uint32_t LineAt(size_t pos) {
        // Incremental: objects are created in file order, so this stays linear.
        if (pos < m_linePos) {
            m_linePos = 0;
            m_lines = 0;
        }
        m_lines += CountNewlines(m_p + m_linePos, m_p + pos);
        m_linePos = pos;
        return uint32_t(m_lineBase) + m_lines;
    }
    std::string Where(size_t pos, const std::string& file) {
        return file + ":" + std::to_string(LineAt(std::min(pos, m_size)));
    }
    std::string errorText;

private:
    // Eight bytes at a time: line numbers need a count over the whole file.
    static uint32_t CountNewlines(const char* p, const char* end) {
        constexpr uint64_t kOnes = 0x0101010101010101u, kLow7 = 0x7F7F7F7F7F7F7F7Fu;
        uint32_t lines = 0;
        for (; end - p >= 8; p += 8) {
            uint64_t word;
            std::memcpy(&word, p, 8);
            const uint64_t x = word ^ (kOnes * '\n');           // zero bytes were newlines
            const uint64_t nonzero = ((x & kLow7) + kLow7) | x; // high bit set unless zero
            lines += uint32_t(std::popcount(~nonzero & ~kLow7));
        }
        return lines + uint32_t(std::count(p, end, '\n'));
    }

    static constexpr auto kSkipped = [] {
        std::array<bool, 256> table{};
        for (unsigned char c : {' ', '\t', '\n', '\r', '\0', ';', ','})
            table[c] = true;
        return table;
    }();

    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
    static bool IsSpace(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0';
    }
    static bool IsDelimiter(char c) {
        return c == '{' || c == '}' || c == ';' || c == ',' || c == '<' || c == '"';
    }
    static bool IsNameStart(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
               static_cast<unsigned char>(c) >= 0x80;
    }
    static bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c) || c == '-' || c == '.'; }

    void SkipSpace() {
        while (m_pos < m_size) {
            const char c = m_p[m_pos];
            if (kSkipped[static_cast<unsigned char>(c)]) { // separators carry nothing we need
                ++m_pos;
            } else if (c == '#' || (c == '/' && m_pos + 1 < m_size && m_p[m_pos + 1] == '/')) {
                const void* nl = std::memchr(m_p + m_pos, '\n', m_size - m_pos);
                m_pos = nl ? size_t(static_cast<const char*>(nl) - m_p) : m_size;
            } else {
                return;
            }
        }
    }

    Token LexString() {
        Token t;
        const size_t start = m_pos + 1;
        const void* q = std::memchr(m_p + start, '"', m_size - start);
        if (!q) {
            errorText = "unterminated string";
            t.kind = Tok::Error;
            return t;
        }
        const size_t end = size_t(static_cast<const char*>(q) - m_p);
        t.kind = Tok::String;
        t.text = std::string_view(m_p + start, end - start);
        m_pos = end + 1;
        return t;
    }

    Token LexGuid() {
        Token t;
        const void* q = std::memchr(m_p + m_pos, '>', std::min<size_t>(m_size - m_pos, 64));
        if (!q) {
            errorText = "malformed GUID";
            t.kind = Tok::Error;
            return t;
        }
        m_pos = size_t(static_cast<const char*>(q) - m_p) + 1;
        t.kind = Tok::Guid;
        return t;
    }

    static bool ContinuesNumber(char c) {
        return IsDigit(c) || c == '.' || c == '-' || c == '+' || c == '#' ||
               (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    }

    Token LexNumber() {
        // Fast path for what exporters write ("-0.123456", "42"): up to 15 digits make
        // an exact integer, and one division by an exact power of ten rounds correctly.
        static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        Token t;
        t.kind = Tok::Number;
        const char* p = m_p + m_pos;
        const char* end = m_p + m_size;
        const bool negative = *p == '-';
        if (*p == '-' || *p == '+')
            ++p;
        uint64_t mantissa = 0;
        int digits = 0, fraction = 0;
        for (; p < end && IsDigit(*p); ++p, ++digits)
            mantissa = mantissa * 10 + uint64_t(*p - '0');
        if (p < end && *p == '.')
            for (++p; p < end && IsDigit(*p); ++p, ++digits, ++fraction)
                mantissa = mantissa * 10 + uint64_t(*p - '0');
        if (digits > 0 && digits <= 15 && (p == end || !ContinuesNumber(*p))) {
            const double value = double(mantissa) / kPow10[fraction];
            t.number = negative ? -value : value;
            m_pos = size_t(p - m_p);
            return t;
        }
        return LexNumberSlowly();
    }

    Token LexNumberSlowly() {
        Token t;
        t.kind = Tok::Number;
        const size_t start = m_pos;
        while (m_pos < m_size && ContinuesNumber(m_p[m_pos]))
            ++m_pos;
        const char* first = m_p + start;
        const char* last = m_p + m_pos;
        if (*first == '+')
            ++first;
        const auto [stop, ec] = std::from_chars(first, last, t.number);
        if (ec == std::errc() && stop == last)
            return t;
        // Old exporters print NaN and infinity as "-1.#IND00", "1.#QNAN0", "1.#INF00";
        // numbers beyond float range are no better.
        if ((ec == std::errc() && *stop == '#') || ec == std::errc::result_out_of_range) {
            t.number = 0.0;
            return t;
        }
        errorText = "malformed number '" + std::string(m_p + start, m_pos - start) + "'";
        t.kind = Tok::Error;
        return t;
    }

    const char* m_p;
    size_t m_size;
    size_t m_pos;
    size_t m_tokenPos = 0;
    int m_lineBase;
    size_t m_linePos = 0;
    uint32_t m_lines = 0;
};

// ---------------------------------------------------------------------------
// Binary

class BinaryLexer {
public:
    BinaryLexer(const uint8_t* data, size_t size, int floatBits, size_t offsetBase)
        : m_p(data), m_size(size), m_floatBytes(floatBits == 64 ? 8 : 4), m_offsetBase(offsetBase) {
    }

    Token Next() {
        Token t;
        m_tokenPos = m_pos;
        if (m_pos >= m_size)
            return t;
        if (m_size - m_pos < 2)
            return Fail("truncated token");
        const uint32_t token = Word(m_pos);
        m_pos += 2;
        switch (token) {
        case 1:   // NAME
        case 2: { // STRING
            uint32_t length = 0;
            if (!Dword(length) || length > m_size - m_pos)
                return Fail("truncated name or string");
            t.text = std::string_view(reinterpret_cast<const char*>(m_p + m_pos), length);
            m_pos += length;
            if (token == 1) {
                t.kind = Tok::Name;
                return t;
            }
            // A string carries its own separator token (a WORD, whatever the docs say).
            if (m_size - m_pos >= 2 && (Word(m_pos) == 0x13 || Word(m_pos) == 0x14))
                m_pos += 2;
            t.kind = Tok::String;
            return t;
        }
        case 3: { // INTEGER
            uint32_t v = 0;
            if (!Dword(v))
                return Fail("truncated integer");
            t.kind = Tok::Number;
            t.number = double(v);
            return t;
        }
        case 5: // GUID
            if (m_size - m_pos < 16)
                return Fail("truncated GUID");
            m_pos += 16;
            t.kind = Tok::Guid;
            return t;
        case 6:   // INTEGER_LIST
        case 7: { // FLOAT_LIST
            uint32_t count = 0;
            const size_t itemSize = token == 6 ? 4 : m_floatBytes;
            if (!Dword(count) || uint64_t(count) * itemSize > m_size - m_pos)
                return Fail("truncated list");
            m_listCount = count;
            m_listFloat = token == 7;
            m_listPos = m_pos;
            m_pos += count * itemSize;
            t.kind = Tok::List;
            return t;
        }
        case 10:
            t.kind = Tok::OBrace;
            return t;
        case 11:
            t.kind = Tok::CBrace;
            return t;
        case 19:
        case 20:
            t.kind = Tok::Separator;
            return t;
        case 31:
            t.kind = Tok::Template;
            return t;
        default:
            if ((token >= 12 && token <= 18) || (token >= 40 && token <= 52)) {
                t.kind = Tok::Other;
                return t;
            }
            return Fail("unknown token " + std::to_string(token));
        }
    }

    std::string_view ReadName() {
        const size_t save = m_pos;
        Token t = Next();
        if (t.kind == Tok::Name)
            return t.text;
        m_pos = save;
        return {};
    }

    bool SkipTemplateBody() {
        for (;;) {
            const Token t = Next();
            if (t.kind == Tok::CBrace)
                return true;
            if (t.kind == Tok::End || t.kind == Tok::Error)
                return false;
        }
    }

    void AppendList(std::vector<double>& values) {
        const uint8_t* p = m_p + m_listPos;
        const size_t base = values.size();
        values.resize(base + m_listCount);
        double* out = values.data() + base;
        if (!m_listFloat)
            Convert<uint32_t>(p, out);
        else if (m_floatBytes == 4)
            Convert<float>(p, out);
        else
            Convert<double>(p, out);
    }

    size_t TokenPos() const { return m_tokenPos; }
    uint32_t LineAt(size_t pos) { return uint32_t(m_offsetBase + pos); }
    std::string Where(size_t pos, const std::string& file) {
        return file + ": byte " + std::to_string(m_offsetBase + pos);
    }
    std::string errorText;

private:
    Token Fail(std::string what) {
        errorText = std::move(what);
        Token t;
        t.kind = Tok::Error;
        return t;
    }
    template <class T> void Convert(const uint8_t* p, double* out) const {
        for (uint32_t i = 0; i < m_listCount; ++i) {
            T v;
            std::memcpy(&v, p + sizeof(T) * i, sizeof(T));
            out[i] = double(v);
        }
    }
    uint32_t Word(size_t pos) const { return m_p[pos] | (m_p[pos + 1] << 8); }
    bool Dword(uint32_t& v) {
        if (m_size - m_pos < 4)
            return false;
        v = m_p[m_pos] | (m_p[m_pos + 1] << 8) | (m_p[m_pos + 2] << 16) |
            (uint32_t(m_p[m_pos + 3]) << 24);
        m_pos += 4;
        return true;
    }

    const uint8_t* m_p;
    size_t m_size;
    size_t m_pos = 0;
    size_t m_tokenPos = 0;
    size_t m_floatBytes;
    size_t m_offsetBase;
    uint32_t m_listCount = 0;
    bool m_listFloat = false;
    size_t m_listPos = 0;
};

// ---------------------------------------------------------------------------
// Layouts of the standard templates

enum class Kind : uint8_t { Number, String, Struct };

struct Layout;

struct Member {
    const char* name;
    Kind kind = Kind::Number;
    const Layout* type = nullptr; // Struct members
    uint8_t fixed = 1;            // items, when no count member sizes the array
    int8_t sizedBy = -1;          // index of the earlier member that sizes the array
    bool count = false;           // a number of items: must be a whole number
};

constexpr Member Num(const char* name) {
    return {name};
}
constexpr Member Str(const char* name) {
    return {name, Kind::String};
}
constexpr Member Count(const char* name) {
    return {name, Kind::Number, nullptr, 1, -1, true};
}
constexpr Member Nums(const char* name, uint8_t fixed) {
    return {name, Kind::Number, nullptr, fixed};
}
constexpr Member NumArray(const char* name, int8_t sizedBy) {
    return {name, Kind::Number, nullptr, 1, sizedBy};
}
constexpr Member Of(const char* name, const Layout& type) {
    return {name, Kind::Struct, &type};
}
constexpr Member ArrayOf(const char* name, const Layout& type, int8_t sizedBy) {
    return {name, Kind::Struct, &type, 1, sizedBy};
}

enum class Children : uint8_t { None, Any, Listed };

struct Layout {
    std::string_view name;
    std::span<const Member> members;
    Children children = Children::None;
    std::string_view allowed; // the one template a Listed layout admits
    uint8_t flat = 0;         // scalars per item when it holds fixed numbers only, else 0
    bool counted = false;     // a count, then that many numbers (MeshFace, FloatKeys)
};

// A structure of fixed numbers only (Vector, Coords2d, Matrix4x4, ...) needs no frame of
// its own: an array of them is one run of scalars.
constexpr int FlatSize(std::span<const Member> members) {
    int size = 0;
    for (const Member& m : members) {
        if (m.count || m.sizedBy >= 0 || m.kind == Kind::String ||
            (m.kind == Kind::Struct && m.type->flat == 0))
            return 0;
        size += m.fixed * (m.kind == Kind::Struct ? m.type->flat : 1);
    }
    return size <= 255 ? size : 0;
}

constexpr bool IsCounted(std::span<const Member> members) {
    return members.size() == 2 && members[0].count && members[1].kind == Kind::Number &&
           members[1].sizedBy == 0 && !members[1].count;
}

constexpr size_t kMaxMembers = 8;
constexpr int kMaxLayoutDepth = 4;

// The walker below relies on every structure starting with a scalar it must read.
constexpr bool StartsWithScalar(const Layout& layout) {
    if (layout.members.empty())
        return false;
    const Member& m = layout.members[0];
    return m.sizedBy < 0 && m.fixed > 0 && (m.kind != Kind::Struct || StartsWithScalar(*m.type));
}

constexpr int Depth(const Layout& layout) {
    int deepest = 0;
    for (const Member& m : layout.members)
        if (m.kind == Kind::Struct)
            deepest = std::max(deepest, Depth(*m.type));
    return deepest + 1;
}

#define FW_LAYOUT(id, name, children, allowed, ...)                                                \
    constexpr Member id##Members[] = {__VA_ARGS__};                                                \
    constexpr Layout id{name,                                                                      \
                        id##Members,                                                               \
                        children,                                                                  \
                        allowed,                                                                   \
                        uint8_t(FlatSize(id##Members)),                                            \
                        IsCounted(id##Members)};                                                   \
    static_assert(std::size(id##Members) <= kMaxMembers && Depth(id) <= kMaxLayoutDepth &&         \
                  StartsWithScalar(id))

FW_LAYOUT(kVector, "Vector", Children::None, {}, Num("x"), Num("y"), Num("z"));
FW_LAYOUT(kCoords2d, "Coords2d", Children::None, {}, Num("u"), Num("v"));
FW_LAYOUT(kMatrix4x4, "Matrix4x4", Children::None, {}, Nums("matrix", 16));
FW_LAYOUT(kColorRGBA, "ColorRGBA", Children::None, {}, Num("red"), Num("green"), Num("blue"),
          Num("alpha"));
FW_LAYOUT(kColorRGB, "ColorRGB", Children::None, {}, Num("red"), Num("green"), Num("blue"));
FW_LAYOUT(kIndexedColor, "IndexedColor", Children::None, {}, Num("index"),
          Of("indexColor", kColorRGBA));
FW_LAYOUT(kBoolean, "Boolean", Children::None, {}, Num("truefalse"));
FW_LAYOUT(kBoolean2d, "Boolean2d", Children::None, {}, Of("u", kBoolean), Of("v", kBoolean));
FW_LAYOUT(kMaterialWrap, "MaterialWrap", Children::None, {}, Of("u", kBoolean), Of("v", kBoolean));
FW_LAYOUT(kTextureFilename, "TextureFilename", Children::None, {}, Str("filename"));
FW_LAYOUT(kMaterial, "Material", Children::Any, {}, Of("faceColor", kColorRGBA), Num("power"),
          Of("specularColor", kColorRGB), Of("emissiveColor", kColorRGB));
FW_LAYOUT(kMeshFace, "MeshFace", Children::None, {}, Count("nFaceVertexIndices"),
          NumArray("faceVertexIndices", 0));
FW_LAYOUT(kMeshFaceWraps, "MeshFaceWraps", Children::None, {}, Count("nFaceWrapValues"),
          ArrayOf("faceWrapValues", kBoolean2d, 0));
FW_LAYOUT(kMeshTextureCoords, "MeshTextureCoords", Children::None, {}, Count("nTextureCoords"),
          ArrayOf("textureCoords", kCoords2d, 0));
FW_LAYOUT(kMeshMaterialList, "MeshMaterialList", Children::Listed, "Material", Count("nMaterials"),
          Count("nFaceIndexes"), NumArray("faceIndexes", 1));
FW_LAYOUT(kMeshNormals, "MeshNormals", Children::None, {}, Count("nNormals"),
          ArrayOf("normals", kVector, 0), Count("nFaceNormals"),
          ArrayOf("faceNormals", kMeshFace, 2));
FW_LAYOUT(kMeshVertexColors, "MeshVertexColors", Children::None, {}, Count("nVertexColors"),
          ArrayOf("vertexColors", kIndexedColor, 0));
FW_LAYOUT(kMesh, "Mesh", Children::Any, {}, Count("nVertices"), ArrayOf("vertices", kVector, 0),
          Count("nFaces"), ArrayOf("faces", kMeshFace, 2));
FW_LAYOUT(kFrameTransformMatrix, "FrameTransformMatrix", Children::None, {},
          Of("frameMatrix", kMatrix4x4));
FW_LAYOUT(kFloatKeys, "FloatKeys", Children::None, {}, Count("nValues"), NumArray("values", 0));
FW_LAYOUT(kTimedFloatKeys, "TimedFloatKeys", Children::None, {}, Num("time"),
          Of("tfkeys", kFloatKeys));
FW_LAYOUT(kAnimationKey, "AnimationKey", Children::None, {}, Num("keyType"), Count("nKeys"),
          ArrayOf("keys", kTimedFloatKeys, 1));
FW_LAYOUT(kAnimationOptions, "AnimationOptions", Children::None, {}, Num("openclosed"),
          Num("positionquality"));
FW_LAYOUT(kAnimTicksPerSecond, "AnimTicksPerSecond", Children::None, {}, Num("AnimTicksPerSecond"));
FW_LAYOUT(kXSkinMeshHeader, "XSkinMeshHeader", Children::None, {}, Num("nMaxSkinWeightsPerVertex"),
          Num("nMaxSkinWeightsPerFace"), Num("nBones"));
FW_LAYOUT(kVertexDuplicationIndices, "VertexDuplicationIndices", Children::None, {},
          Count("nIndices"), Num("nOriginalVertices"), NumArray("indices", 0));
FW_LAYOUT(kSkinWeights, "SkinWeights", Children::None, {}, Str("transformNodeName"),
          Count("nWeights"), NumArray("vertexIndices", 1), NumArray("weights", 1),
          Of("matrixOffset", kMatrix4x4));
FW_LAYOUT(kVertexElement, "VertexElement", Children::None, {}, Num("Type"), Num("Method"),
          Num("Usage"), Num("UsageIndex"));
FW_LAYOUT(kDeclData, "DeclData", Children::None, {}, Count("nElements"),
          ArrayOf("Elements", kVertexElement, 0), Count("nDWords"), NumArray("data", 2));
FW_LAYOUT(kFVFData, "FVFData", Children::None, {}, Num("dwFVF"), Count("nDWords"),
          NumArray("data", 1));
FW_LAYOUT(kEffectInstance, "EffectInstance", Children::Any, {}, Str("EffectFilename"));
FW_LAYOUT(kEffectParamFloats, "EffectParamFloats", Children::None, {}, Str("ParamName"),
          Count("nFloats"), NumArray("Floats", 1));
FW_LAYOUT(kEffectParamString, "EffectParamString", Children::None, {}, Str("ParamName"),
          Str("Value"));
FW_LAYOUT(kEffectParamDWord, "EffectParamDWord", Children::None, {}, Str("ParamName"),
          Num("Value"));
FW_LAYOUT(kHeader, "Header", Children::None, {}, Num("major"), Num("minor"), Num("flags"));
FW_LAYOUT(kGuid, "Guid", Children::None, {}, Num("data1"), Num("data2"), Num("data3"),
          Nums("data4", 8));
FW_LAYOUT(kCompressedAnimationSet, "CompressedAnimationSet", Children::None, {},
          Num("CompressedBlockSize"), Num("TicksPerSec"), Num("PlaybackType"),
          Count("BufferLength"), NumArray("CompressedData", 3));

#undef FW_LAYOUT

// Frame, Animation and AnimationSet hold no data of their own, so nothing in them can
// shift; they and the templates a file declares itself are not checked.
// clang-format off
constexpr const Layout* kLayouts[] = {
    &kVector, &kCoords2d, &kMatrix4x4, &kColorRGBA, &kColorRGB, &kIndexedColor, &kBoolean,
    &kBoolean2d, &kMaterialWrap, &kTextureFilename, &kMaterial, &kMeshFace, &kMeshFaceWraps,
    &kMeshTextureCoords, &kMeshMaterialList, &kMeshNormals, &kMeshVertexColors, &kMesh,
    &kFrameTransformMatrix, &kFloatKeys, &kTimedFloatKeys, &kAnimationKey, &kAnimationOptions,
    &kAnimTicksPerSecond, &kXSkinMeshHeader, &kVertexDuplicationIndices, &kSkinWeights,
    &kVertexElement, &kDeclData, &kFVFData, &kEffectInstance, &kEffectParamFloats,
    &kEffectParamString, &kEffectParamDWord, &kHeader, &kGuid, &kCompressedAnimationSet,
};
// clang-format on

const Layout* FindLayout(std::string_view templ) {
    for (const Layout* layout : kLayouts)
        if (EqualsNoCase(layout->name, templ))
            return layout;
    return nullptr;
}

// Follows one object's scalars through its template, nested structures and all, as
// they arrive. Binary lists may span members, so a list is taken a member at a time:
// counts one by one, any run of plain numbers whole.
class LayoutWalker {
public:
    enum class Verdict { Ok, Leftover, AfterChildren, WrongKind, BadCount };

    explicit LayoutWalker(const Layout* layout) : m_root(layout) {
        if (layout)
            m_frames[m_depth++] = Frame{layout};
    }

    bool Checked() const { return m_root != nullptr; }

    // One number inside a run of plain numbers, the common case in text, skips Expect().
    Verdict TakeNumber(double value) {
        Frame& f = m_frames[m_depth - 1];
        if (f.entered && f.left > 0 && !m_closed) {
            const Member& m = f.layout->members[f.member];
            if (m.kind == Kind::Number ? !m.count : m.kind == Kind::Struct && m.type->flat) {
                --f.left;
                return Verdict::Ok;
            }
        }
        size_t taken = 0;
        return TakeNumbers(&value, 1, taken);
    }

    // The member the next value lands on (kept for the error message), if there is one.
    Verdict NextMember(const Member*& m) {
        m = Expect();
        m_last = m;
        if (!m)
            return Verdict::Leftover;
        return m_closed ? Verdict::AfterChildren : Verdict::Ok;
    }

    // Numbers in file order. Unless the verdict is Ok, taken is the index of the refused one.
    Verdict TakeNumbers(const double* values, size_t n, size_t& taken) {
        for (taken = 0; taken < n;) {
            const Member* m = nullptr;
            if (const Verdict next = NextMember(m); next != Verdict::Ok)
                return next;
            if (m->kind == Kind::String)
                return Verdict::WrongKind;
            Frame& f = m_frames[m_depth - 1];
            if (f.layout->counted && f.read == 0 && m_depth > 1 &&
                SkipCountedItems(values, n, taken))
                continue;
            if (m->count) {
                const double value = values[taken];
                if (!(value >= 0.0 && value <= 4294967295.0 && value == std::floor(value)))
                    return Verdict::BadCount;
                f.counts[f.member] = uint32_t(value);
                f.read |= uint8_t(1u << f.member);
                --f.left;
                ++taken;
                continue;
            }
            const uint64_t run = std::min<uint64_t>(f.left, n - taken);
            f.left -= run;
            taken += size_t(run);
        }
        return Verdict::Ok;
    }

    Verdict TakeString() {
        const Member* m = nullptr;
        if (const Verdict next = NextMember(m); next != Verdict::Ok)
            return next;
        if (m->kind != Kind::String)
            return Verdict::WrongKind;
        --m_frames[m_depth - 1].left;
        return Verdict::Ok;
    }

    // A child object or reference ends the data. Data cut short is left to the
    // object's reader, which knows which counts it needs.
    void CloseData() { m_closed = true; }

    bool Admits(std::string_view child) const {
        return !m_root || m_root->children == Children::Any ||
               (m_root->children == Children::Listed && EqualsNoCase(child, m_root->allowed));
    }
    bool AdmitsReferences() const { return !m_root || m_root->children != Children::None; }

    // The member the last offered scalar was meant for; inside a run of flat structures,
    // the member of the structure it fell on.
    const Member* Last() const {
        if (!m_last || m_last->kind != Kind::Struct)
            return m_last;
        const Frame& f = m_frames[m_depth - 1];
        return MemberAt(*m_last->type, (f.total - f.left) % m_last->type->flat);
    }

    // "nVertices = 8, nFaces = 6": the object's own counts read so far.
    std::string Counts() const {
        std::string out;
        const Frame& f = m_frames[0];
        for (size_t i = 0; m_root && i < m_root->members.size(); ++i)
            if (f.read & (1u << i))
                out += (out.empty() ? "" : ", ") + std::string(m_root->members[i].name) + " = " +
                       std::to_string(f.counts[i]);
        return out;
    }

private:
    struct Frame {
        const Layout* layout = nullptr;
        size_t member = 0;
        bool entered = false; // left holds the current member's items
        uint64_t left = 0;    // items, or scalars for an array of flat structures
        uint64_t total = 0;   // scalars of that array
        uint32_t counts[kMaxMembers] = {};
        uint8_t read = 0; // bit per count member already read
    };

    // At the start of an item of a counted array (faces, say), skips the items that lie
    // whole and sound in the list without a frame each; the first that does not is left
    // to the member-by-member walk, which reports it. False when none was skipped.
    bool SkipCountedItems(const double* values, size_t n, size_t& taken) {
        Frame& array = m_frames[m_depth - 2];
        size_t at = taken;
        uint64_t items = array.left;
        for (; items > 0 && at < n; --items) {
            const double count = values[at];
            if (!(count >= 0.0 && count <= 4294967295.0 && count == std::floor(count)) ||
                count > double(n - at - 1))
                break;
            at += 1 + size_t(count);
        }
        if (at == taken)
            return false;
        --m_depth; // the item's fresh frame: Expect() opens one for the next item again
        array.left = items;
        taken = at;
        return true;
    }

    static const Member* MemberAt(const Layout& layout, uint64_t scalar) {
        for (const Member& m : layout.members) {
            const uint64_t each = m.kind == Kind::Struct ? m.type->flat : 1;
            if (scalar < m.fixed * each)
                return m.kind == Kind::Struct ? MemberAt(*m.type, scalar % each) : &m;
            scalar -= m.fixed * each;
        }
        return nullptr;
    }

    // The member the next scalar belongs to, entering and leaving structures on the
    // way; null once the whole layout is read. Every structure begins with a scalar, so
    // this takes a few steps, never one per item of a long array.
    const Member* Expect() {
        while (m_depth > 0) {
            Frame& f = m_frames[m_depth - 1];
            if (f.member == f.layout->members.size()) {
                if (m_depth == 1)
                    return nullptr; // the object's own frame stays for Counts()
                --m_depth;
                --m_frames[m_depth - 1].left;
                continue;
            }
            const Member& m = f.layout->members[f.member];
            const bool flat = m.kind == Kind::Struct && m.type->flat;
            if (!f.entered) {
                f.left = m.sizedBy >= 0 ? f.counts[m.sizedBy] : m.fixed;
                if (flat)
                    f.total = f.left *= m.type->flat;
                f.entered = true;
            }
            if (f.left == 0) {
                ++f.member;
                f.entered = false;
                continue;
            }
            if (m.kind != Kind::Struct || flat)
                return &m;
            m_frames[m_depth++] = Frame{m.type};
        }
        return nullptr;
    }

    const Layout* m_root;
    Frame m_frames[kMaxLayoutDepth];
    int m_depth = 0;
    const Member* m_last = nullptr;
    bool m_closed = false;
};

std::string FormatNumber(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

// ---------------------------------------------------------------------------
// Parser

template <class Lexer> class Parser {
public:
    Parser(Lexer& lexer, Document& doc, const std::string& file)
        : m_lex(lexer), m_doc(doc), m_file(file) {}

    bool Run(std::string& error) {
        for (;;) {
            const Token t = m_lex.Next();
            const size_t at = m_lex.TokenPos();
            switch (t.kind) {
            case Tok::End:
                return ResolveReferences(error);
            case Tok::Separator:
                continue;
            case Tok::Template:
                if (!ParseTemplate())
                    return Failed(error);
                continue;
            case Tok::Name: {
                Object* object = ParseObject(t.text, at, 0);
                if (!object)
                    return Failed(error);
                m_doc.topLevel.push_back(object);
                continue;
            }
            case Tok::Error:
                return Fail(at, m_lex.errorText, error);
            default:
                return Fail(at, "expected a template or a data object", error);
            }
        }
    }

private:
    bool Failed(std::string& error) {
        error = m_error;
        return false;
    }
    bool Fail(size_t at, const std::string& what, std::string& error) {
        SetError(at, what);
        return Failed(error);
    }
    void SetError(size_t at, const std::string& what) {
        if (m_error.empty())
            m_error = m_lex.Where(at, m_file) + ": " + what;
    }

    bool ParseTemplate() {
        const Token name = m_lex.Next();
        const size_t at = m_lex.TokenPos();
        if (name.kind != Tok::Name) {
            SetError(at, "template without a name");
            return false;
        }
        const Token open = m_lex.Next();
        if (open.kind != Tok::OBrace || !m_lex.SkipTemplateBody()) {
            SetError(at, "malformed template '" + std::string(name.text) + "'");
            return false;
        }
        m_doc.templates.emplace_back(name.text);
        return true;
    }

    Object* ParseObject(std::string_view identifier, size_t at, int depth) {
        if (depth > kMaxDepth) {
            SetError(at, "objects nested too deeply");
            return nullptr;
        }
        auto owned = std::make_unique<Object>();
        Object* object = owned.get();
        m_doc.objects.push_back(std::move(owned));
        object->templateName = identifier;
        object->index = uint32_t(m_doc.objects.size() - 1);
        object->line = m_lex.LineAt(at);
        object->binary = m_doc.encoding == Encoding::Binary;
        object->name = m_lex.ReadName();
        Token open = m_lex.Next();
        if (open.kind == Tok::Guid)
            open = m_lex.Next();
        if (open.kind != Tok::OBrace) {
            SetError(m_lex.TokenPos(), "expected '{' after '" + object->templateName + "'");
            return nullptr;
        }
        if (!object->name.empty())
            m_named[object->name].push_back(object);
        return ParseBody(*object, depth) ? object : nullptr;
    }

    bool ParseBody(Object& object, int depth) {
        LayoutWalker layout(FindLayout(object.templateName));
        for (;;) {
            const Token t = m_lex.Next();
            const size_t at = m_lex.TokenPos();
            switch (t.kind) {
            case Tok::Number:
                if (layout.Checked() &&
                    !Accepted(object, layout, layout.TakeNumber(t.number), t.number, at))
                    return false;
                object.values.push_back(t.number);
                break;
            case Tok::Separator:
            case Tok::Guid: // instance GUIDs carry nothing we use
                break;
            case Tok::List: {
                const size_t first = object.values.size();
                m_lex.AppendList(object.values);
                if (!Check(object, layout, first, at))
                    return false;
                break;
            }
            case Tok::String:
                if (layout.Checked() && !Accepted(object, layout, layout.TakeString(), 0.0, at))
                    return false;
                object.strings.emplace_back(uint32_t(object.values.size()), std::string(t.text));
                object.values.push_back(0.0);
                break;
            case Tok::CBrace:
                return true;
            case Tok::OBrace:
                layout.CloseData();
                if (!layout.AdmitsReferences()) {
                    SetError(at, Describe(object) + " cannot hold a reference");
                    return false;
                }
                if (!ParseReference(object, at))
                    return false;
                break;
            case Tok::Name: {
                layout.CloseData();
                if (!layout.Admits(t.text)) {
                    SetError(at, Describe(object) + " cannot hold a '" + std::string(t.text) +
                                     "' object");
                    return false;
                }
                Object* child = ParseObject(t.text, at, depth + 1);
                if (!child)
                    return false;
                object.children.push_back(Child{child, {}, false, 0});
                break;
            }
            case Tok::End:
                SetError(at, "file ends inside '" + object.templateName + "'");
                return false;
            case Tok::Error:
                SetError(at, m_lex.errorText);
                return false;
            default:
                SetError(at, "unexpected token in '" + object.templateName + "'");
                return false;
            }
        }
    }

    static std::string Describe(const Object& o) {
        return o.templateName + (o.name.empty() ? "" : " '" + o.name + "'") +
               (o.binary ? " at byte " : " at line ") + std::to_string(o.line);
    }

    static std::string WithCounts(const LayoutWalker& layout) {
        const std::string counts = layout.Counts();
        return counts.empty() ? "" : " (" + counts + ")";
    }

    // Checks the numbers appended to the object's values from index first on.
    bool Check(const Object& object, LayoutWalker& layout, size_t first, size_t at) {
        if (!layout.Checked())
            return true;
        size_t taken = 0;
        const auto verdict =
            layout.TakeNumbers(object.values.data() + first, object.values.size() - first, taken);
        return verdict == LayoutWalker::Verdict::Ok ||
               Accepted(object, layout, verdict, object.values[first + taken], at);
    }

    bool Accepted(const Object& object, const LayoutWalker& layout, LayoutWalker::Verdict verdict,
                  double value, size_t at) {
        if (verdict == LayoutWalker::Verdict::Ok)
            return true;
        const Member* m = layout.Last();
        switch (verdict) {
        case LayoutWalker::Verdict::Leftover:
            SetError(at, "data left over at the end of " + Describe(object) + WithCounts(layout));
            break;
        case LayoutWalker::Verdict::AfterChildren:
            SetError(at, "data after the child objects of " + Describe(object));
            break;
        case LayoutWalker::Verdict::WrongKind:
            SetError(at, Describe(object) + ": " + m->name + " must be " +
                             (m->kind == Kind::String ? "a string" : "a number"));
            break;
        default:
            SetError(at, Describe(object) + ": count " + m->name + " is " + FormatNumber(value) +
                             ", not a whole number of items");
            break;
        }
        return false;
    }

    bool ParseReference(Object& object, size_t at) {
        Child child;
        child.isReference = true;
        child.referenceName = m_lex.ReadName();
        child.objectsBefore = uint32_t(m_doc.objects.size());
        Token t = m_lex.Next();
        if (t.kind == Tok::Guid)
            t = m_lex.Next();
        if (t.kind != Tok::CBrace) {
            SetError(at, "malformed reference in '" + object.templateName + "'");
            return false;
        }
        object.children.push_back(std::move(child));
        return true;
    }

    // A reference names the latest object of that name defined before it, or failing
    // that the first one after it (lenient: D3DX knows only earlier ones). Material lists
    // look for materials first, as exporters reuse a name for a material and a frame.
    bool ResolveReferences(std::string&) {
        for (auto& object : m_doc.objects)
            for (Child& child : object->children) {
                if (!child.isReference || child.referenceName.empty())
                    continue;
                const auto found = m_named.find(child.referenceName);
                if (found == m_named.end())
                    continue;
                if (object->Is("MeshMaterialList"))
                    child.object = Resolve(found->second, child.objectsBefore, "Material");
                if (!child.object)
                    child.object = Resolve(found->second, child.objectsBefore, {});
            }
        return true;
    }

    static Object* Resolve(const std::vector<Object*>& candidates, uint32_t before,
                           std::string_view templ) {
        Object* earlier = nullptr;
        for (Object* candidate : candidates) {
            if (!templ.empty() && !candidate->Is(templ))
                continue;
            if (candidate->index < before)
                earlier = candidate;
            else
                return earlier ? earlier : candidate;
        }
        return earlier;
    }

    Lexer& m_lex;
    Document& m_doc;
    const std::string& m_file;
    std::string m_error;
    std::unordered_map<std::string, std::vector<Object*>> m_named; // in file order
};

bool ParseDigits(const uint8_t* p, int& value) {
    value = 0;
    for (int i = 0; i < 2; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return false;
        value = value * 10 + (p[i] - '0');
    }
    return true;
}

} // namespace

bool ParseDocument(const uint8_t* data, size_t size, const std::string& fileName, Document& doc,
                   std::string& error) {
    doc = Document{};
    if (size < 16) {
        error = fileName + ": too short for a .X header";
        return false;
    }
    if (std::memcmp(data, "xof ", 4) != 0) {
        error = fileName + ": not a .X file (no 'xof ' signature)";
        return false;
    }
    if (!ParseDigits(data + 4, doc.versionMajor) || !ParseDigits(data + 6, doc.versionMinor)) {
        error = fileName + ": malformed version in the .X header";
        return false;
    }
    const std::string_view format(reinterpret_cast<const char*>(data + 8), 4);
    if (format == "txt " || format == "tzip") {
        doc.encoding = Encoding::Text;
    } else if (format == "bin " || format == "bzip") {
        doc.encoding = Encoding::Binary;
    } else {
        error = fileName + ": unknown .X format '" + std::string(format) + "'";
        return false;
    }
    doc.compressed = format[1] == 'z';
    const std::string_view floats(reinterpret_cast<const char*>(data + 12), 4);
    if (floats == "0032") {
        doc.floatBits = 32;
    } else if (floats == "0064") {
        doc.floatBits = 64;
    } else {
        error = fileName + ": unsupported float size '" + std::string(floats) + "'";
        return false;
    }

    const uint8_t* body = data;
    size_t bodySize = size;
    size_t start = 16;
    std::vector<uint8_t> inflated;
    if (doc.compressed) {
        std::string why;
        if (!InflateMsZip(data + 16, size - 16, inflated, why)) {
            error = fileName + ": " + why;
            return false;
        }
        body = inflated.data();
        bodySize = inflated.size();
        start = 0;
    }
    if (doc.encoding == Encoding::Text) {
        TextLexer lexer(body, bodySize, start, 1);
        Parser<TextLexer> parser(lexer, doc, fileName);
        return parser.Run(error);
    }
    // Binary offsets count from the start of the file (or of the inflated data).
    BinaryLexer lexer(body + start, bodySize - start, doc.floatBits, start);
    Parser<BinaryLexer> parser(lexer, doc, fileName);
    return parser.Run(error);
}

bool LoadDocument(const std::string& path, Document& doc, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!ReadUserFile(path, bytes, error)) {
        error = path + ": " + error;
        return false;
    }
    return ParseDocument(bytes.data(), bytes.size(), path, doc, error);
}

} // namespace fw::xfile
