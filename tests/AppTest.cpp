#include "app/FerrolinkApp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::wstring> g_calls;
bool g_networkStarts = true;

bool FakeStart()
{
    g_calls.push_back(L"start");
    return g_networkStarts;
}
void FakeStop()
{
    g_calls.push_back(L"stop");
}
void FakeError(const wchar_t* text)
{
    g_calls.push_back(std::wstring(L"error: ") + text);
}
void FakeWindow()
{
    g_calls.push_back(L"window");
}

ShellServices Fakes(bool networkStarts)
{
    g_calls.clear();
    g_networkStarts = networkStarts;
    return {&FakeStart, &FakeStop, &FakeError, &FakeWindow};
}

} // namespace

TEST(Application, RunsTheWindowBetweenNetworkStartAndCleanup)
{
    CFerrolinkApp app(Fakes(true));
    EXPECT_FALSE(app.InitInstance()); // the process ends when the window has closed
    EXPECT_TRUE(app.NetworkStarted());
    app.ExitInstance();
    app.ExitInstance(); // the network stack is cleaned up once only
    EXPECT_EQ(g_calls, (std::vector<std::wstring>{L"start", L"window", L"stop"}));
}

TEST(Application, FailedNetworkStartShowsTheErrorAndNoWindow)
{
    CFerrolinkApp app(Fakes(false));
    EXPECT_FALSE(app.InitInstance());
    app.ExitInstance();
    EXPECT_EQ(g_calls, (std::vector<std::wstring>{L"start", L"error: Winsock2 initialization failed."}));
}

TEST(Application, RunCallsExitInstanceAfterAFalseInitInstance)
{
    CFerrolinkApp app(Fakes(true));
    app.Run();
    EXPECT_EQ(g_calls, (std::vector<std::wstring>{L"start", L"window", L"stop"}));
}
