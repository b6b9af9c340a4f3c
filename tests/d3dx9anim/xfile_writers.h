// Builders for .X test files: binary token streams and MSZIP compression, so one model
// written as text can be checked in every encoding.
#pragma once

#include "tests/kit/kit.h"

#include <zlib.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace xtest {

class BinaryWriter {
public:
    explicit BinaryWriter(bool doubles = false) : m_doubles(doubles) {
        Raw(doubles ? "xof 0303bin 0064" : "xof 0303bin 0032");
    }
    BinaryWriter& Name(const std::string& s) { return Word(1).Dword(uint32_t(s.size())).Raw(s); }
    BinaryWriter& String(const std::string& s) {
        return Word(2).Dword(uint32_t(s.size())).Raw(s).Word(20);
    }
    BinaryWriter& Integer(uint32_t v) { return Word(3).Dword(v); }
    BinaryWriter& Ints(const std::vector<uint32_t>& v) {
        Word(6).Dword(uint32_t(v.size()));
        for (uint32_t x : v)
            Dword(x);
        return *this;
    }
    BinaryWriter& Floats(const std::vector<double>& v) {
        Word(7).Dword(uint32_t(v.size()));
        for (double x : v) {
            if (m_doubles) {
                Bytes(&x, 8);
            } else {
                const float f = float(x);
                Bytes(&f, 4);
            }
        }
        return *this;
    }
    BinaryWriter& Open() { return Word(10); }
    BinaryWriter& Close() { return Word(11); }
    BinaryWriter& Semicolon() { return Word(20); }
    BinaryWriter& Guid() {
        Word(5);
        for (int i = 0; i < 16; ++i)
            m_bytes.push_back(uint8_t(i));
        return *this;
    }
    BinaryWriter& Word(uint16_t v) { return Bytes(&v, 2); }
    BinaryWriter& Dword(uint32_t v) { return Bytes(&v, 4); }
    BinaryWriter& Raw(const std::string& s) { return Bytes(s.data(), s.size()); }
    BinaryWriter& Bytes(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        m_bytes.insert(m_bytes.end(), b, b + n);
        return *this;
    }
    const std::vector<uint8_t>& Data() const { return m_bytes; }

private:
    bool m_doubles;
    std::vector<uint8_t> m_bytes;
};

// Compresses a whole uncompressed .X image (header included) into tzip/bzip form:
// blocks of at most blockSize bytes, each allowed to refer to the previous block.
inline std::vector<uint8_t> Compress(const std::vector<uint8_t>& file, size_t blockSize = 32768) {
    std::vector<uint8_t> out(file.begin(), file.begin() + 16);
    std::memcpy(out.data() + 8, file[8] == 't' ? "tzip" : "bzip", 4);
    const uint32_t total = uint32_t(file.size());
    out.insert(out.end(), reinterpret_cast<const uint8_t*>(&total),
               reinterpret_cast<const uint8_t*>(&total) + 4);
    for (size_t pos = 16; pos < file.size(); pos += blockSize) {
        const size_t n = std::min(blockSize, file.size() - pos);
        z_stream zs{};
        deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
        if (pos > 16) {
            const size_t history = std::min<size_t>(pos - 16, 32768);
            deflateSetDictionary(&zs, file.data() + pos - history, uInt(history));
        }
        std::vector<uint8_t> packed(deflateBound(&zs, uLong(n)) + 16);
        zs.next_in = const_cast<Bytef*>(file.data() + pos);
        zs.avail_in = uInt(n);
        zs.next_out = packed.data();
        zs.avail_out = uInt(packed.size());
        deflate(&zs, Z_FINISH);
        packed.resize(zs.total_out);
        deflateEnd(&zs);
        const uint16_t raw = uint16_t(n);
        const uint16_t size = uint16_t(packed.size() + 2);
        out.insert(out.end(), reinterpret_cast<const uint8_t*>(&raw),
                   reinterpret_cast<const uint8_t*>(&raw) + 2);
        out.insert(out.end(), reinterpret_cast<const uint8_t*>(&size),
                   reinterpret_cast<const uint8_t*>(&size) + 2);
        out.push_back('C');
        out.push_back('K');
        out.insert(out.end(), packed.begin(), packed.end());
    }
    return out;
}

inline std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

inline std::string WriteTempFile(const std::string& name, const std::vector<uint8_t>& data) {
    return kit::WriteScratchFile("xfile-" + name, data.data(), data.size());
}

} // namespace xtest

namespace xtest {

// The binary twin of a text .X file: names, strings and braces token for token, and
// each run of numbers as integer and float lists (as exporters write them, lists run
// across member boundaries). Templates are left out; the loader knows its own.
inline std::vector<uint8_t> TextToBinary(const std::string& text, bool doubles = false) {
    BinaryWriter w(doubles);
    std::vector<uint32_t> ints;
    std::vector<double> floats;
    const auto flush = [&] {
        if (!ints.empty())
            w.Ints(ints);
        if (!floats.empty())
            w.Floats(floats);
        ints.clear();
        floats.clear();
    };
    size_t i = 16;
    while (i < text.size()) {
        const char c = text[i];
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == ',' || c == ';') {
            ++i;
        } else if (c == '{' || c == '}') {
            flush();
            c == '{' ? w.Open() : w.Close();
            ++i;
        } else if (c == '<') {
            i = text.find('>', i) + 1;
        } else if (c == '"') {
            flush();
            const size_t end = text.find('"', i + 1);
            w.String(text.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '.') {
            size_t end = i;
            while (end < text.size() && (isalnum(static_cast<unsigned char>(text[end])) ||
                                         text[end] == '.' || text[end] == '-' || text[end] == '+'))
                ++end;
            const std::string number = text.substr(i, end - i);
            if (number.find_first_of(".-eE") == std::string::npos) {
                if (!floats.empty())
                    flush();
                ints.push_back(uint32_t(std::stoul(number)));
            } else {
                if (!ints.empty())
                    flush();
                floats.push_back(std::stod(number));
            }
            i = end;
        } else {
            flush();
            size_t end = i;
            while (end < text.size() && (isalnum(static_cast<unsigned char>(text[end])) ||
                                         text[end] == '_' || text[end] == '.' || text[end] == '-'))
                ++end;
            const std::string name = text.substr(i, end - i);
            if (name == "template") { // skip the whole declaration
                i = text.find('}', end) + 1;
                continue;
            }
            w.Name(name);
            i = end;
        }
    }
    flush();
    return w.Data();
}

} // namespace xtest
