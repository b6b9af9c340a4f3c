// The .X file reader: text, binary and MSZIP-compressed files become a tree of data
// objects. Members are kept as one flat stream of scalars per object, in file order,
// which is what both encodings really are (binary lists freely span members), and
// the consumers read them back through a bounds-checked cursor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fw::xfile {

struct Object;

// A child is an object nested in its parent or a `{ Name }` reference to another one.
struct Child {
    Object* object = nullptr;  // null when a reference names no object of the file
    std::string referenceName; // set for references
    bool isReference = false;
    uint32_t objectsBefore = 0; // references: how many objects the file had defined so far
};

struct Object {
    std::string templateName; // identifier as written (compare case-insensitively)
    std::string name;         // empty when unnamed
    std::vector<double> values;
    // Strings interleaved with values: (index in values of the placeholder, text).
    std::vector<std::pair<uint32_t, std::string>> strings;
    std::vector<Child> children;
    uint32_t line = 0; // text: line of the identifier; binary: byte offset
    bool binary = false;
    uint32_t index = 0; // position in Document::objects (file order)

    bool Is(std::string_view templ) const;
    // "Mesh at line 12" or "Mesh at byte 300", for diagnostics.
    std::string Where() const;
};

enum class Encoding { Text, Binary };

struct Document {
    Encoding encoding = Encoding::Text;
    bool compressed = false;
    int floatBits = 32;
    int versionMajor = 0;
    int versionMinor = 0;
    std::vector<std::unique_ptr<Object>> objects; // owns every object, file order
    std::vector<Object*> topLevel;
    std::vector<std::string> templates; // names of templates the file declares
};

// Parses a whole file image. fileName only labels the error text, which reads
// "<fileName>:<line>: <what>" for text and "<fileName>: byte <n>: <what>" for binary.
// Objects of the standard templates are held to their layouts: data past what the
// counts describe, a count that is no whole number, data after child objects or a child
// the template does not allow fails the parse. Data cut short is left to the readers.
bool ParseDocument(const uint8_t* data, size_t size, const std::string& fileName, Document& doc,
                   std::string& error);
bool LoadDocument(const std::string& path, Document& doc, std::string& error);

// Inflates the MSZIP blocks that follow a compressed file's 16-byte header.
bool InflateMsZip(const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string& error);

// Reads an object's scalar stream in order; every read fails (and latches) past the end
// or on a kind mismatch, so callers check Ok() once after a group of reads.
class Cursor {
public:
    explicit Cursor(const Object& object) : m_object(object) { FindRun(); }

    uint32_t Dword() {
        const double v = Double();
        if (!(v >= 0.0 && v <= 4294967295.0)) {
            Fail();
            return 0;
        }
        return uint32_t(v);
    }
    float Float() { return float(Double()); }
    double Double() {
        if (m_pos < m_runEnd)
            return m_object.values[m_pos++];
        Fail();
        return 0.0;
    }
    // As many Dword() calls; returns how many succeeded (the rest of out is zero).
    size_t Dwords(uint32_t* out, size_t count);
    const std::string* String();
    // Count that is followed by at least count * perItem more scalars: guards
    // allocations against counts that the data cannot back.
    bool Count(uint32_t& count, size_t perItem) {
        count = Dword();
        if (m_ok && uint64_t(count) * perItem > Remaining())
            Fail();
        if (!m_ok)
            count = 0;
        return m_ok;
    }

    size_t Remaining() const {
        return m_pos < m_object.values.size() ? m_object.values.size() - m_pos : 0;
    }
    bool Ok() const { return m_ok; }
    void Fail() {
        m_ok = false;
        m_runEnd = 0;
    }

private:
    // Numbers can be read up to the next string or the end of the data.
    void FindRun() {
        const auto& strings = m_object.strings;
        m_runEnd =
            m_nextString < strings.size() ? strings[m_nextString].first : m_object.values.size();
    }
    const Object& m_object;
    size_t m_pos = 0;
    size_t m_runEnd = 0;
    size_t m_nextString = 0;
    bool m_ok = true;
};

// Case-insensitive ASCII comparison, as template identifiers are matched.
bool EqualsNoCase(std::string_view a, std::string_view b);

} // namespace fw::xfile
