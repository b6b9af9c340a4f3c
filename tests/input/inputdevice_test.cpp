#include "input/inputdevice.h"
#include "platform/dinput8/testing.h"
#include "platform/win32/host.h"
#include "tests/kit/environment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace fw::dinput8;

namespace {

const auto* const kSharedWindow = kit::AddShared(new kit::SharedWindowEnvironment("input"));

HWND SharedWindow() {
    return kSharedWindow->window();
}

using kit::PumpMessages;

struct Box {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

class InputDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = SharedWindow();
        ASSERT_NE(window, nullptr);
        fw::SetMessageBoxHook([this](HWND owner, const char* text, const char* caption, UINT type) {
            boxes.push_back({owner, text, caption, type});
            return IDOK;
        });
        // The mouse cooperates in the foreground: give the window the focus first.
        PushFocus(window, true);
        PumpMessages();
    }
    void TearDown() override {
        fw::SetMessageBoxHook({});
        PushFocus(window, false);
        PumpMessages();
    }
    HWND window = nullptr;
    std::vector<Box> boxes;
};

void ExpectAllUp(const InputDevice& input) {
    for (unsigned code = 0; code < 260; ++code)
        ASSERT_EQ(input.IsPressed(code), 0) << "code " << code;
    EXPECT_EQ(input.GetMouseDX(), 0);
    EXPECT_EQ(input.GetMouseDY(), 0);
    EXPECT_EQ(input.GetMouseDZ(), 0);
}

} // namespace

TEST_F(InputDeviceTest, StartsQuietWithEverythingUp) {
    InputDevice input(nullptr, window);
    EXPECT_TRUE(boxes.empty());
    PushKey(DIK_A, true); // held before the first poll, but not yet read
    PushMouseButton(0, true);
    ExpectAllUp(input);
    EXPECT_EQ(input.Poll(), 0);
    EXPECT_EQ(input.IsPressed(DIK_A), 0x80);
    EXPECT_EQ(input.IsPressed(256), 0x80);
    PushKey(DIK_A, false);
    PushMouseButton(0, false);
    PumpMessages();
}

TEST_F(InputDeviceTest, KeysAndButtonsReadByTheirCodes) {
    InputDevice input(nullptr, window);
    PushKey(DIK_SPACE, true);
    PushKey(DIK_NUMPADENTER, true);
    PushMouseButton(1, true);
    PumpMessages();
    input.Poll();
    EXPECT_EQ(input.IsPressed(DIK_SPACE), 0x80);
    EXPECT_EQ(input.IsPressed(DIK_NUMPADENTER), 0x80);
    EXPECT_EQ(input.IsPressed(DIK_RETURN), 0);
    EXPECT_EQ(input.IsPressed(257), 0x80); // right button
    EXPECT_EQ(input.IsPressed(256), 0);

    PushMouseButton(1, false);
    PushMouseButton(0, true);
    PushKey(DIK_SPACE, false);
    PumpMessages();
    input.Poll();
    EXPECT_EQ(input.IsPressed(DIK_SPACE), 0);
    EXPECT_EQ(input.IsPressed(256), 0x80); // left button
    EXPECT_EQ(input.IsPressed(257), 0);
    // Codes past the four buttons are outside the state and read as up.
    EXPECT_EQ(input.IsPressed(260), 0);
    EXPECT_EQ(input.IsPressed(0xFFFFFFFFu), 0);

    PushMouseButton(0, false);
    PushKey(DIK_NUMPADENTER, false);
    PumpMessages();
}

TEST_F(InputDeviceTest, MotionAndWheelAreRelativeToThePreviousPoll) {
    InputDevice input(nullptr, window);
    PushMouseMotion(12, -7);
    PushMouseMotion(3, 2);
    PushMouseWheel(1.0f);
    PumpMessages();
    input.Poll();
    EXPECT_EQ(input.GetMouseDX(), 15);
    EXPECT_EQ(input.GetMouseDY(), -5);
    EXPECT_EQ(input.GetMouseDZ(), 120);

    input.Poll();
    EXPECT_EQ(input.GetMouseDX(), 0);
    EXPECT_EQ(input.GetMouseDY(), 0);
    EXPECT_EQ(input.GetMouseDZ(), 0);
}

TEST_F(InputDeviceTest, MouseWithoutFocusReadsAsIdleAndComesBack) {
    InputDevice input(nullptr, window);
    PushMouseButton(1, true);
    PushMouseMotion(4, 4);
    PumpMessages();
    input.Poll();
    EXPECT_EQ(input.IsPressed(257), 0x80);

    PushFocus(window, false);
    PushMouseMotion(9, 9);
    PumpMessages();
    input.Poll();
    EXPECT_EQ(input.IsPressed(257), 0);
    EXPECT_EQ(input.GetMouseDX(), 0);
    input.Poll(); // still away: still idle, however often it is asked
    EXPECT_EQ(input.GetMouseDX(), 0);

    // The poll that fails acquires again once the focus is back; the next one reads.
    PushFocus(window, true);
    PumpMessages();
    input.Poll();
    PushMouseMotion(2, 1);
    input.Poll();
    EXPECT_EQ(input.GetMouseDX(), 2);
    EXPECT_EQ(input.IsPressed(257), 0x80);

    PushMouseButton(1, false);
    PumpMessages();
}

struct FailureCase {
    SetupStep step;
    const char* text;
    bool keyboardWorks;
    bool mouseWorks;
    const char* name; // of the step: the case's stable test name
};
// Test listings (and so CTest's names) show the step, not the record's bytes.
void PrintTo(const FailureCase& failure, std::ostream* out) {
    *out << failure.name;
}

class InputDeviceFailure : public InputDeviceTest,
                           public ::testing::WithParamInterface<FailureCase> {};

TEST_P(InputDeviceFailure, ShowsItsOwnMessageAndCarriesOn) {
    const FailureCase& failure = GetParam();
    std::unique_ptr<InputDevice> input;
    {
        ScopedSetupFailure injected(failure.step);
        input = std::make_unique<InputDevice>(nullptr, window);
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, failure.text);
    EXPECT_EQ(boxes[0].caption, "ERROR");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(boxes[0].owner, window);

    // The devices that exist still work; the missing ones read as idle, poll after poll.
    PushKey(DIK_G, true);
    PushMouseButton(1, true);
    PumpMessages();
    for (int poll = 0; poll < 2; ++poll) {
        EXPECT_EQ(input->Poll(), 0);
        EXPECT_EQ(input->IsPressed(DIK_G), failure.keyboardWorks ? 0x80 : 0);
        EXPECT_EQ(input->IsPressed(257), failure.mouseWorks ? 0x80 : 0);
    }
    input.reset();
    PushKey(DIK_G, false);
    PushMouseButton(1, false);
    PumpMessages();
}

INSTANTIATE_TEST_SUITE_P(
    EachSetupStep, InputDeviceFailure,
    ::testing::Values(
        FailureCase{SetupStep::CreateDirectInput, "创建DirectInput 对象失败!", false, false,
                    "CreateDirectInput"},
        FailureCase{SetupStep::CreateKeyboard, "创建键盘设备失败!", false, true, "CreateKeyboard"},
        FailureCase{SetupStep::SetKeyboardFormat, "设置键盘数据格式失败!", false, true,
                    "SetKeyboardFormat"},
        FailureCase{SetupStep::CreateMouse, "创建鼠标设备失败!", true, false, "CreateMouse"},
        FailureCase{SetupStep::SetMouseFormat, "设置鼠标数据格式失败!", true, false,
                    "SetMouseFormat"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });
