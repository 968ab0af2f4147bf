#include "framework/ChildWindow.h"
#include "framework/Dialog.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

int g_alive = 0;

class Probe : public ChildWindow {
public:
    Probe(HWND wnd, const CREATESTRUCTW& cs) : ChildWindow(wnd), m_tag(int(INT_PTR(cs.lpCreateParams))) { ++g_alive; }
    ~Probe() override { --g_alive; }
    static bool RegisterClass() { return Register<Probe>(L"FerrolinkTestProbe"); }
    int m_tag;
    int m_clicks = 0;

protected:
    LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override
    {
        if (msg == WM_LBUTTONDOWN) {
            ++m_clicks;
            return 0;
        }
        return ChildWindow::OnMessage(msg, wp, lp);
    }
};

// Ends itself from inside its own loop, the way a button handler would.
class SelfClosingDialog : public Dialog {
public:
    explicit SelfClosingDialog(bool closeItself = true) : Dialog(IDD_FERROLINK_DIALOG), m_closeItself(closeItself) {}
    bool initialised = false;

protected:
    BOOL OnInitDialog() override
    {
        initialised = true;
        if (m_closeItself)
            PostMessageW(Handle(), WM_COMMAND, IDOK, 0);
        return TRUE;
    }
    bool m_closeItself;
};

} // namespace

TEST(ChildWindow, ObjectLivesExactlyAsLongAsItsWindow)
{
    ASSERT_TRUE(Probe::RegisterClass());
    ASSERT_TRUE(Probe::RegisterClass()); // a second registration is harmless
    const HWND wnd = CreateWindowExW(0, L"FerrolinkTestProbe", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                     GetModuleHandleW(nullptr), reinterpret_cast<void*>(INT_PTR(42)));
    ASSERT_NE(wnd, nullptr);
    EXPECT_EQ(g_alive, 1);
    Probe* probe = ChildWindow::FromHandle<Probe>(wnd);
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe->m_tag, 42);
    SendMessageW(wnd, WM_LBUTTONDOWN, 0, 0);
    EXPECT_EQ(probe->m_clicks, 1);
    DestroyWindow(wnd);
    EXPECT_EQ(g_alive, 0);
}

TEST(Dialog, ModalLoopEndsOnEndDialogAndDestroysTheWindow)
{
    SelfClosingDialog dialog;
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_TRUE(dialog.initialised);
    EXPECT_EQ(dialog.Handle(), nullptr);
}

TEST(Dialog, QuitMessageIsHandedBackToTheCaller)
{
    SelfClosingDialog dialog(false);
    PostQuitMessage(3); // ends the loop, which must not swallow it
    dialog.DoModal();
    EXPECT_EQ(dialog.Handle(), nullptr);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
}

TEST(Dialog, EndRequestedFromAnotherThreadEndsTheLoop)
{
    SelfClosingDialog dialog(false);
    std::thread closer([&] {
        HWND wnd = nullptr;
        for (int i = 0; i < 500 && !(wnd = dialog.Handle()); ++i)
            Sleep(10);
        Sleep(100); // the loop is now waiting in GetMessage
        SendMessageW(wnd, WM_COMMAND, IDCANCEL, 0);
    });
    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    closer.join();
    EXPECT_LT(GetTickCount64() - started, 3000u);
}

TEST(Dialog, ItemFollowsAControlMadeAgainAndForgetsAGoneOne)
{
    SelfClosingDialog dialog(false);
    ASSERT_TRUE(dialog.Create());
    const HWND first = dialog.Item(IDC_PORT_EDIT).Handle();
    ASSERT_EQ(first, GetDlgItem(dialog.Handle(), IDC_PORT_EDIT));
    EXPECT_EQ(dialog.Item(IDC_PORT_EDIT).Handle(), first);

    DestroyWindow(first);
    EXPECT_EQ(dialog.Item(IDC_PORT_EDIT).Handle(), nullptr);
    const HWND again = CreateWindowExW(0, L"EDIT", L"", WS_CHILD, 0, 0, 10, 10, dialog.Handle(),
                                       reinterpret_cast<HMENU>(INT_PTR(IDC_PORT_EDIT)), nullptr, nullptr);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(dialog.Item(IDC_PORT_EDIT).Handle(), again);

    // A handle taken over by a control with another id is not that item.
    SetWindowLongPtrW(again, GWLP_ID, IDC_STATUS + 100);
    EXPECT_EQ(dialog.Item(IDC_PORT_EDIT).Handle(), nullptr);
    dialog.Destroy();
}
