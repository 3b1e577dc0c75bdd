#include "platform/ui/dialogs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "platform/ui/dialog_template.h"
#include "platform/ui/dialog_testing.h"
#include "platform/ui/resources.h"
#include "platform/ui/shell.h"

namespace {

using namespace platform::testing;
using platform::DialogKey;

constexpr int kEdit = 100, kGo = 101, kStop = 102, kList = 103, kLabel = 104, kIcon = 105;
constexpr UINT kFinish = WM_USER + 1;
constexpr UINT kRunOnDialog = WM_USER + 2;

// An icon group of one 16x16 image, enough for LoadIconW.
const BYTE kIconGroup[] = {0, 0, 1, 0, 1, 0, 16, 16, 16, 0, 1, 0, 4, 0, 0x28, 1, 0, 0, 1, 0};
const platform::Resource kResources[] = {
    {RT_GROUP_ICON, MAKEINTRESOURCEW(7), 0x409, kIconGroup, sizeof kIconGroup},
};
const platform::ResourceTable kTable{kResources, 1};

struct Sample {
    DWORD style = WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_SETFONT;
    DWORD exStyle = WS_EX_CAPTIONOKBTN;
    std::u16string className;
    std::vector<WORD> Build() const {
        constexpr DWORD child = WS_CHILD | WS_VISIBLE;
        return platform::BuildDialogTemplate(
            {style, exStyle, 0, 0, 187, 109, u"Sample", className, 8, u"Tahoma"},
            {
                {child | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 0, 7, 7, 100, 24,
                 kEdit, u"EDIT", u""},
                {child | WS_TABSTOP, 0, 7, 86, 40, 16, kGo, u"BUTTON", u"&Go"},
                {child | WS_TABSTOP, 0, 60, 86, 40, 16, kStop, u"BUTTON", u"Stop"},
                {child | WS_TABSTOP | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_SORT, 0, 110, 7, 70,
                 48, kList, u"LISTBOX", u""},
                {child | SS_CENTER, 0, 7, 60, 100, 8, kLabel, u"STATIC", u"Hello"},
                {child | SS_ICON, 0, 160, 86, 20, 20, kIcon, u"STATIC", u"", 7},
            });
    }
};

// What the dialog procedure saw, read by the test after the dialog ended.
struct Log {
    HWND initialFocusCandidate = nullptr;
    std::vector<int> commands;
    int closes = 0;
    int sizes = 0;
    DWORD shellFlags = 0;
    bool hideDone = false;
    bool disableEditOnInit = false;
    std::promise<std::thread::id>* timerFired = nullptr;
};

INT_PTR CALLBACK SampleProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    static thread_local Log* log = nullptr;
    switch (message) {
        case WM_INITDIALOG: {
            log = reinterpret_cast<Log*>(lParam);
            log->initialFocusCandidate = reinterpret_cast<HWND>(wParam);
            for (const char16_t* line : {u"charlie", u"alpha", u"Bravo", u"delta"})
                SendDlgItemMessageW(dialog, kList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
            if (log->shellFlags) {
                SHINITDLGINFO info{SHIDIM_FLAGS, dialog, log->shellFlags};
                SHInitDialog(&info);
            }
            if (log->hideDone) SHDoneButton(dialog, SHDB_HIDE);
            if (log->disableEditOnInit) EnableWindow(GetDlgItem(dialog, kEdit), FALSE);
            return TRUE;
        }
        case WM_COMMAND:
            log->commands.push_back(LOWORD(wParam));
            if (LOWORD(wParam) == IDOK) EndDialog(dialog, IDOK);
            if (LOWORD(wParam) == kStop) EndDialog(dialog, 77);
            return TRUE;
        case WM_CLOSE:
            ++log->closes;
            EndDialog(dialog, 0);
            return TRUE;
        case WM_SIZE:
            ++log->sizes;
            return TRUE;
        case WM_TIMER:
            KillTimer(dialog, wParam);
            if (log->timerFired) log->timerFired->set_value(std::this_thread::get_id());
            return TRUE;
        case kFinish:
            SetDlgItemTextW(dialog, kLabel, u"finished");
            EndDialog(dialog, lParam);
            return TRUE;
        case kRunOnDialog:
            (*reinterpret_cast<std::function<void(HWND)>*>(lParam))(dialog);
            return TRUE;
        default:
            return FALSE;
    }
}

class Dialogs : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        UseTestFrontEnd(80, 24);
        platform::RegisterResources(kTable);
    }

    // Runs the sample on a thread of its own and returns the running dialog.
    HWND Start(const Sample& sample = {}) {
        words_ = sample.Build();
        result_ = std::async(std::launch::async, [this] {
            return DialogBoxIndirectParamW(nullptr,
                                           reinterpret_cast<LPCDLGTEMPLATEW>(words_.data()),
                                           nullptr, SampleProc, reinterpret_cast<LPARAM>(&log_));
        });
        HWND dialog = WaitForDialog();
        EXPECT_NE(dialog, nullptr);
        return dialog;
    }
    INT_PTR Result() { return result_.get(); }
    void TearDown() override {
        if (!result_.valid()) return;
        HWND dialog = WaitForDialog(0);
        if (dialog) EndDialog(dialog, -5);
        result_.wait();
    }

    Log log_;
    std::vector<WORD> words_;
    std::future<INT_PTR> result_;
};

TEST_F(Dialogs, TemplateGivesControlsTextsSortedListAndFirstTabStopFocus) {
    HWND dialog = Start();
    EXPECT_EQ(ControlText(dialog, kGo), u"&Go");
    EXPECT_EQ(ControlText(dialog, kLabel), u"Hello");
    EXPECT_EQ(ListLines(dialog, kList),
              (std::vector<std::u16string>{u"alpha", u"Bravo", u"charlie", u"delta"}));
    EXPECT_EQ(ListSelection(dialog, kList), -1);
    EXPECT_EQ(log_.initialFocusCandidate, GetDlgItem(dialog, kEdit));
    EXPECT_EQ(FocusedControlId(dialog), kEdit);
    EXPECT_EQ(GetDlgCtrlID(GetDlgItem(dialog, kList)), kList);
    EXPECT_NE(SendDlgItemMessageW(dialog, kIcon, STM_GETICON, 0, 0), 0);
    EXPECT_EQ(SendDlgItemMessageW(dialog, kList, LB_GETCOUNT, 0, 0), 4);
    WCHAR line[32];
    EXPECT_EQ(SendDlgItemMessageW(dialog, kList, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(line)), 5);
    EXPECT_EQ(std::u16string(line), u"Bravo");
    EXPECT_EQ(SendDlgItemMessageW(dialog, kList, LB_GETTEXT, 9, reinterpret_cast<LPARAM>(line)),
              LB_ERR);
    WCHAR text[4];
    EXPECT_EQ(GetDlgItemTextW(dialog, kLabel, text, 4), 3u);  // cut to the buffer
    EXPECT_EQ(std::u16string(text), u"Hel");
    EXPECT_TRUE(DoneButtonShown(dialog));
    EXPECT_TRUE(PressDoneButton(dialog));
    EXPECT_EQ(Result(), IDOK);
    EXPECT_EQ(log_.commands, std::vector<int>{IDOK});
    EXPECT_FALSE(IsWindow(dialog));
}

TEST_F(Dialogs, TabOrderSkipsDisabledControlsAndFocusPassesOnWhenDisabled) {
    HWND dialog = Start();
    EnableWindow(GetDlgItem(dialog, kStop), FALSE);  // from this thread: runs on the dialog's
    EXPECT_FALSE(ControlEnabled(dialog, kStop));
    std::vector<int> order;
    for (int i = 0; i < 4; ++i) {
        SendKey(dialog, DialogKey::Tab);
        order.push_back(FocusedControlId(dialog));
    }
    EXPECT_EQ(order, (std::vector<int>{kGo, kList, kEdit, kGo}));
    SendKey(dialog, DialogKey::ShiftTab);
    EXPECT_EQ(FocusedControlId(dialog), kEdit);
    SendKey(dialog, DialogKey::ShiftTab);
    EXPECT_EQ(FocusedControlId(dialog), kList);

    SendKey(dialog, DialogKey::ShiftTab);
    ASSERT_EQ(FocusedControlId(dialog), kGo);
    EXPECT_FALSE(EnableWindow(GetDlgItem(dialog, kGo), FALSE));  // was enabled
    EXPECT_EQ(FocusedControlId(dialog), kList);
    EXPECT_TRUE(EnableWindow(GetDlgItem(dialog, kGo), TRUE));  // was disabled
    EXPECT_EQ(FocusedControlId(dialog), kList);
}

TEST_F(Dialogs, DisabledButtonCannotBePressedEnabledOneSendsItsCommand) {
    HWND dialog = Start();
    EnableWindow(GetDlgItem(dialog, kStop), FALSE);
    EXPECT_FALSE(ClickControl(dialog, kStop));
    SendDlgItemMessageW(dialog, kStop, BM_CLICK, 0, 0);
    auto screen = Screen(dialog);
    bool stopBracketed = false, goBracketed = false;
    for (auto& row : screen) {
        stopBracketed = stopBracketed || row.find(u"[ Stop ]") != std::u16string::npos;
        goBracketed = goBracketed || row.find(u"[ Go ]") != std::u16string::npos;
    }
    EXPECT_FALSE(stopBracketed) << "a disabled button must not look pressable";
    EXPECT_TRUE(goBracketed);

    EXPECT_TRUE(ClickControl(dialog, kGo));
    EXPECT_EQ(FocusedControlId(dialog), kGo);
    SendKey(dialog, DialogKey::Enter);
    SendKey(dialog, DialogKey::Space);
    EnableWindow(GetDlgItem(dialog, kStop), TRUE);
    SendKey(dialog, DialogKey::Tab);
    SendKey(dialog, DialogKey::Space);
    EXPECT_EQ(Result(), 77);
    EXPECT_EQ(log_.commands, (std::vector<int>{kGo, kGo, kGo, kStop}));
}

TEST_F(Dialogs, MessagePostedFromAnotherThreadIsHandledWhileDialogWaits) {
    HWND dialog = Start();
    std::thread([dialog] { PostMessageW(dialog, kFinish, 0, 42); }).join();
    EXPECT_EQ(Result(), 42);
}

TEST_F(Dialogs, ListSelectsWithKeysAndClicksAndNotifies) {
    HWND dialog = Start();
    SendKey(dialog, DialogKey::ShiftTab);  // from the edit box back to the list
    ASSERT_EQ(FocusedControlId(dialog), kList);
    SendKey(dialog, DialogKey::Down);
    EXPECT_EQ(ListSelection(dialog, kList), 0);
    SendKey(dialog, DialogKey::PageDown);
    EXPECT_EQ(ListSelection(dialog, kList), 3);
    SendKey(dialog, DialogKey::Up);
    EXPECT_EQ(ListSelection(dialog, kList), 2);
    // The list's first line lies one row below its top border.
    auto screen = Screen(dialog);
    int row = -1, column = -1;
    for (size_t r = 0; r < screen.size() && row < 0; ++r) {
        size_t at = screen[r].find(u"alpha");
        if (at != std::u16string::npos) row = static_cast<int>(r), column = static_cast<int>(at);
    }
    ASSERT_GE(row, 0);
    EXPECT_TRUE(ClickAt(dialog, column, row + 1));
    EXPECT_EQ(ListSelection(dialog, kList), 1);
    PostMessageW(dialog, kFinish, 0, 1);
    EXPECT_EQ(Result(), 1);
    EXPECT_EQ(log_.commands, (std::vector<int>{kList, kList, kList, kList}));
}

TEST_F(Dialogs, EscapeClosesOnlyDialogsThatOfferAWayToClose) {
    Sample withoutClose;
    log_.hideDone = true;
    HWND dialog = Start(withoutClose);
    EXPECT_FALSE(DoneButtonShown(dialog));
    EXPECT_FALSE(PressDoneButton(dialog));
    SendKey(dialog, DialogKey::Escape);
    SendKey(dialog, DialogKey::CtrlC);
    EXPECT_FALSE(WaitForDialogEnd(dialog, 0));
    EXPECT_EQ(log_.closes, 0);
    PostMessageW(dialog, kFinish, 0, 5);
    EXPECT_EQ(Result(), 5);

    log_ = Log{};
    HWND second = Start();  // its title bar keeps the OK button: Escape is a close request
    SendKey(second, DialogKey::Escape);
    EXPECT_EQ(Result(), 0);
    EXPECT_EQ(log_.closes, 1);
}

TEST_F(Dialogs, FullScreenShellDialogShowsCaptionAndDoneUntilHidden) {
    log_.shellFlags =
        SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN | SHIDIF_EMPTYMENU;
    Sample plain;
    plain.exStyle = 0;
    HWND dialog = Start(plain);
    EXPECT_TRUE(IsFullScreen(dialog));
    EXPECT_GE(log_.sizes, 1);
    auto screen = Screen(dialog);
    EXPECT_EQ(screen[0].find(u"Sample"), 1u);
    EXPECT_NE(screen[0].find(u"[OK]"), std::u16string::npos);
    SHDoneButton(dialog, SHDB_HIDE);
    EXPECT_FALSE(DoneButtonShown(dialog));
    EXPECT_EQ(Screen(dialog)[0].find(u"[OK]"), std::u16string::npos);
    SHDoneButton(dialog, SHDB_SHOW);
    SHFullScreen(dialog, SHFS_HIDETASKBAR);
    EXPECT_FALSE(DoneButtonShown(dialog));
    SHFullScreen(dialog, SHFS_SHOWTASKBAR);
    EXPECT_TRUE(DoneButtonShown(dialog));
    // A click on the title bar's button is the Done button.
    EXPECT_TRUE(ClickAt(dialog, static_cast<int>(Screen(dialog)[0].find(u"[OK]")) + 1, 0));
    EXPECT_EQ(Result(), IDOK);
}

TEST_F(Dialogs, EditBoxScrollsToCaretAndWithKeys) {
    HWND dialog = Start();
    std::u16string text;
    for (int i = 0; i < 12; ++i) text += u"line " + std::u16string(1, char16_t(u'a' + i)) + u"\r\n";
    text += u"last";
    SetDlgItemTextW(dialog, kEdit, text.c_str());
    EXPECT_EQ(ControlText(dialog, kEdit), text);
    EXPECT_EQ(FirstVisibleLine(dialog, kEdit), 0);
    SendDlgItemMessageW(dialog, kEdit, EM_SETSEL, 0, -1);
    SendDlgItemMessageW(dialog, kEdit, EM_SCROLLCARET, 0, 0);
    int bottom = FirstVisibleLine(dialog, kEdit);
    EXPECT_GT(bottom, 0);
    bool lastShown = false;
    for (auto& row : Screen(dialog))
        lastShown = lastShown || row.find(u"last") != std::u16string::npos;
    EXPECT_TRUE(lastShown);
    ASSERT_EQ(FocusedControlId(dialog), kEdit);
    SendKey(dialog, DialogKey::Up);
    EXPECT_EQ(FirstVisibleLine(dialog, kEdit), bottom - 1);
    SendKey(dialog, DialogKey::PageUp);
    SendKey(dialog, DialogKey::PageUp);
    SendKey(dialog, DialogKey::PageUp);
    EXPECT_EQ(FirstVisibleLine(dialog, kEdit), 0);
    SendKey(dialog, DialogKey::Down);
    EXPECT_EQ(FirstVisibleLine(dialog, kEdit), 1);
}

TEST_F(Dialogs, MessageBoxRunsOverTheDialogAndReturnsOk) {
    HWND dialog = Start();
    std::function<void(HWND)> ask = [](HWND owner) {
        int answer = MessageBoxW(owner, u"Please run again!", u"Sample", MB_OK);
        SetDlgItemTextW(owner, kLabel, answer == IDOK ? u"answered" : u"wrong");
    };
    PostMessageW(dialog, kRunOnDialog, 0, reinterpret_cast<LPARAM>(&ask));
    HWND box = WaitForDialog(10000, dialog);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ControlText(box, 0xFFFF), u"Please run again!");
    EXPECT_TRUE(ClickControl(box, IDOK));
    EXPECT_TRUE(WaitForDialogEnd(box));
    EXPECT_EQ(ControlText(dialog, kLabel), u"answered");
    EXPECT_EQ(WaitForDialog(0), dialog);
}

TEST_F(Dialogs, CopiedDialogClassIsFoundAndBroughtForward) {
    WNDCLASSW cls{};
    ASSERT_TRUE(GetClassInfoW(nullptr, u"Dialog", &cls));
    cls.lpszClassName = u"DialogsTestClass";
    cls.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(7));
    EXPECT_NE(cls.hIcon, nullptr);
    EXPECT_EQ(LoadIconW(nullptr, MAKEINTRESOURCEW(8)), nullptr);
    ASSERT_NE(RegisterClassW(&cls), 0);
    EXPECT_EQ(FindWindowW(u"DialogsTestClass", nullptr), nullptr);
    Sample sample;
    sample.className = u"DialogsTestClass";
    HWND dialog = Start(sample);
    EXPECT_EQ(FindWindowW(u"DialogsTestClass", nullptr), dialog);
    EXPECT_EQ(FindWindowW(u"DialogsTestClass", u"Sample"), dialog);
    EXPECT_EQ(FindWindowW(u"DialogsTestClass", u"Other"), nullptr);
    EXPECT_TRUE(
        SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(dialog) | 1)));
    // The request is posted; a message posted behind it is handled after it.
    std::promise<void> behind;
    std::function<void(HWND)> mark = [&](HWND) { behind.set_value(); };
    PostMessageW(dialog, kRunOnDialog, 0, reinterpret_cast<LPARAM>(&mark));
    behind.get_future().get();
    EXPECT_EQ(ForegroundRequests(dialog), 1);
    EXPECT_TRUE(PressDoneButton(dialog));
    EXPECT_EQ(Result(), IDOK);
    EXPECT_EQ(FindWindowW(u"DialogsTestClass", nullptr), nullptr);
    EXPECT_TRUE(UnregisterClassW(u"DialogsTestClass", nullptr));
}

TEST_F(Dialogs, FocusSkipsAFirstTabStopThatInitialisationDisabled) {
    log_.disableEditOnInit = true;
    HWND dialog = Start();
    EXPECT_EQ(FocusedControlId(dialog), kGo);
}

TEST_F(Dialogs, TimerOfTheDialogFiresOnItsThreadWhileItWaits) {
    platform::UseManualClock();
    std::promise<std::thread::id> fired;
    log_.timerFired = &fired;
    HWND dialog = Start();
    std::thread::id dialogThread;
    std::function<void(HWND)> who = [&](HWND) { dialogThread = std::this_thread::get_id(); };
    SendMessageW(dialog, kRunOnDialog, 0, reinterpret_cast<LPARAM>(&who));
    EXPECT_EQ(SetTimer(dialog, 1, 10000, nullptr), 1u);
    platform::AdvanceClock(10000);
    auto result = fired.get_future();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(result.get(), dialogThread);
    platform::UseRealClock();
}

TEST(DialogTemplates, BadTemplatesFailWithMinusOne) {
    UseTestFrontEnd();
    std::vector<WORD> words = platform::BuildDialogTemplate(
        {WS_POPUP, 0, 0, 0, 10, 10, u"x", u"NoSuchClass", 0, u""}, {});
    EXPECT_EQ(DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATEW>(words.data()),
                                      nullptr, SampleProc, 0),
              -1);
    words = platform::BuildDialogTemplate({WS_POPUP, 0, 0, 0, 10, 10, u"x", u"", 0, u""},
                                          {{WS_CHILD, 0, 0, 0, 1, 1, 5, u"NoSuchControl", u""}});
    EXPECT_EQ(DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATEW>(words.data()),
                                      nullptr, SampleProc, 0),
              -1);
    EXPECT_EQ(DialogBoxIndirectParamW(nullptr, nullptr, nullptr, SampleProc, 0), -1);
}

}  // namespace
