// Windows and devices made once per test program: a GL window per test would cost more
// than the tests. Register with ::testing::AddGlobalTestEnvironment.
#pragma once

#include "core/zqmemory_local.h"
#include "kit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>

namespace kit {

// Registers environment with GoogleTest, which owns it, and returns it for the suite to read.
template <typename Environment> Environment* AddShared(Environment* environment) {
    ::testing::AddGlobalTestEnvironment(environment);
    return environment;
}

class SharedWindowEnvironment : public ::testing::Environment {
public:
    explicit SharedWindowEnvironment(std::string title, int size = 64)
        : title_(std::move(title)), size_(size) {}
    void SetUp() override { window_ = CreateTestWindow(title_.c_str(), size_, size_); }
    void TearDown() override {
        if (window_)
            DestroyWindow(window_);
        window_ = nullptr;
    }
    HWND window() const { return window_; }

private:
    std::string title_;
    int size_;
    HWND window_ = nullptr;
};

class SharedDeviceEnvironment : public ::testing::Environment {
public:
    SharedDeviceEnvironment(std::string title, UINT size, D3DFORMAT depthFormat)
        : title_(std::move(title)), size_(size), depthFormat_(depthFormat) {}
    void SetUp() override {
        offscreen_ = std::make_unique<OffscreenDevice>(title_.c_str(), size_, size_, depthFormat_);
    }
    void TearDown() override { offscreen_.reset(); }
    // Null before the first test and when no device could be made.
    const OffscreenDevice* get() const { return offscreen_.get(); }

private:
    std::string title_;
    UINT size_;
    D3DFORMAT depthFormat_;
    std::unique_ptr<OffscreenDevice> offscreen_;
};

// Fails the test program when the memory tracker reported a damaged guard word: a write past
// a block that no expectation of the tests saw. The reports still reach the output.
class GuardDamageWatch : public ::testing::Environment {
public:
    void SetUp() override { previous_ = SetMemTraceSink(&Forward); }
    void TearDown() override {
        SetMemTraceSink(previous_);
        EXPECT_EQ(Damaged().load(), 0) << "the memory tracker reported damaged guard words";
    }

private:
    static std::atomic<int>& Damaged() {
        static std::atomic<int> count{0};
        return count;
    }
    static void Forward(const char* text) {
        if (std::strstr(text, "Verify pointer"))
            ++Damaged();
        OutputDebugStringA(text);
    }
    MemTraceSink previous_ = nullptr;
};

} // namespace kit
