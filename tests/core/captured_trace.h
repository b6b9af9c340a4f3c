// Captures what the memory reports print, line by line, for the life of the object.
#pragma once

#include "core/zqmemory_local.h"

#include <cstdio>
#include <string>
#include <vector>

class CapturedTrace {
public:
    CapturedTrace() : previous(SetMemTraceSink(&Append)) {
        Text().clear();
        Text().reserve(8192); // keeps the tests' own figures steady while capturing
    }
    ~CapturedTrace() { SetMemTraceSink(previous); }
    CapturedTrace(const CapturedTrace&) = delete;
    CapturedTrace& operator=(const CapturedTrace&) = delete;

    const std::string& All() const { return Text(); }
    void Clear() { Text().clear(); }
    // Every line without its newline; an empty line stays an empty entry.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::string::size_type start = 0, end;
        while ((end = Text().find('\n', start)) != std::string::npos) {
            lines.push_back(Text().substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }

private:
    static std::string& Text() {
        static std::string text;
        return text;
    }
    static void Append(const char* text) { Text() += text; }

    MemTraceSink previous;
};

// The address as the reports print it.
inline std::string Hex(const void* data) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%8.8llx",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(data)));
    return text;
}

// Sanitizer builds keep the process-wide pool's headers and guards poisoned; tests read them,
// and damage them on purpose, through these.
FW_POOL_INTERNAL inline PoolBlockHeader PoolHeaderOf(const void* data) {
    const auto* header = reinterpret_cast<const PoolBlockHeader*>(static_cast<const char*>(data) -
                                                                  sizeof(PoolBlockHeader));
    return {header->file, header->line, header->allocId, header->size, header->frontGuard};
}
FW_POOL_INTERNAL inline void PokeByte(void* at, char value) {
    *static_cast<volatile char*>(at) = value;
}
