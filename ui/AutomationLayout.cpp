#include "ui/AutomationLayout.h"

#include "res/resource.h"

#include <algorithm>
#include <cstdint>

const int kAutomationButtons[10] = {IDC_AUTO_RUN,    IDC_AUTO_SECOND, IDC_AUTO_ADD, IDC_AUTO_EDIT,   IDC_AUTO_DUPLICATE,
                                    IDC_AUTO_DELETE, IDC_AUTO_UP,     IDC_AUTO_DOWN, IDC_AUTO_IMPORT, IDC_AUTO_EXPORT};

namespace {

// 96-DPI pixels.
constexpr int kMargin = 8;
constexpr int kTabsHeight = 26;
constexpr int kButtonWidth = 100;
constexpr int kButtonHeight = 24;
constexpr int kButtonGap = 4;
constexpr int kGroupGap = 10; // between what runs, what edits and what moves the library
constexpr int kRowHeight = 22;
constexpr int kListLeast = 220;

int Scale(int value, int dpi)
{
    return ScaleForDpi(value, dpi);
}

int ColumnHeight()
{
    return 10 * kButtonHeight + 9 * kButtonGap + 3 * kGroupGap;
}

} // namespace

ClientSize AutomationMinimumSize(int dpi)
{
    const int width = kMargin + kListLeast + kMargin + kButtonWidth + kMargin;
    const int height = kMargin + kTabsHeight + kMargin + ColumnHeight() + kMargin + kRowHeight + kMargin;
    return {Scale(width, dpi), Scale(height, dpi)};
}

std::vector<Placement> AutomationLayoutFor(int cx, int cy, int dpi, bool responder)
{
    std::vector<Placement> out;
    if (cx <= 0 || cy <= 0)
        return out;
    // In 96-DPI pixels, never below the least: a smaller window clips.
    const ClientSize least = AutomationMinimumSize(96);
    const int w = std::max(int(int64_t(cx) * 96 / dpi), least.cx);
    const int h = std::max(int(int64_t(cy) * 96 / dpi), least.cy);
    const auto put = [&](int id, int x, int y, int width, int height) {
        out.push_back({id, Scale(x, dpi), Scale(y, dpi), Scale(x + width, dpi) - Scale(x, dpi),
                       Scale(y + height, dpi) - Scale(y, dpi)});
    };
    put(IDC_AUTO_TABS, kMargin, kMargin, w - 2 * kMargin, kTabsHeight);
    const int top = kMargin + kTabsHeight + kMargin;
    const int bottomRow = h - kMargin - kRowHeight;
    const int listWidth = w - 3 * kMargin - kButtonWidth;
    for (int id : {IDC_AUTO_COMMANDS, IDC_AUTO_SEQUENCES, IDC_AUTO_RULES})
        put(id, kMargin, top, listWidth, bottomRow - kMargin - top);
    int y = top;
    for (size_t i = 0; i < std::size(kAutomationButtons); ++i) {
        if (i == 2 || i == 6 || i == 8)
            y += kGroupGap;
        put(kAutomationButtons[i], w - kMargin - kButtonWidth, y, kButtonWidth, kButtonHeight);
        y += kButtonHeight + kButtonGap;
    }
    const int switchWidth = responder ? 190 + kMargin : 0;
    put(IDC_AUTO_RESPOND, kMargin, bottomRow + 2, 190, 18);
    put(IDC_AUTO_STATE, kMargin + switchWidth, bottomRow + 3, w - 2 * kMargin - switchWidth, 16);
    return out;
}
