#include "ui/Layout.h"

#include "res/resource.h"

#include <algorithm>
#include <cstdint>

const int kNetworkSet[6] = {IDC_MODE_LABEL, IDC_MODE_COMBO, IDC_IP_LABEL,
                            IDC_IP_EDIT,    IDC_PORT_LABEL, IDC_PORT_EDIT};
const int kSerialSet[13] = {IDC_SERIAL_PORT_LABEL, IDC_SERIAL_PORT, IDC_REFRESH_PORTS, IDC_BAUD_LABEL,
                            IDC_BAUD,              IDC_DATA_LABEL,  IDC_DATA_BITS,     IDC_STOP_LABEL,
                            IDC_STOP_BITS,         IDC_PARITY_LABEL, IDC_PARITY,       IDC_FLOW_LABEL,
                            IDC_FLOW};

int ScaleForDpi(int value, int dpi)
{
    const long long scaled = static_cast<long long>(value) * dpi;
    return int(scaled >= 0 ? (scaled + 48) / 96 : -((-scaled + 48) / 96));
}

namespace {

// Takes 96-DPI rectangles and keeps them in the window's pixels. Edges are
// scaled, not sizes, so rectangles that touch or keep apart at 96 DPI do so
// at every scale.
struct Builder {
    int dpi = 96;
    std::vector<Placement> items;
    int S(int value) const { return ScaleForDpi(value, dpi); }
    void Put(int id, int x, int y, int w, int h, Visibility v = Visibility::Keep)
    {
        items.push_back({id, S(x), S(y), S(x + w) - S(x), S(y + h) - S(y), v});
    }
    void Hide(int id) { items.push_back({id, -1000, -1000, 10, 10, Visibility::Hide}); }
    void PutShown(int id, int x, int y, int w, int h) { Put(id, x, y, w, h, Visibility::Show); }
};

// A tab control and the two views that share its display area.
void PutTabArea(Builder& b, int tabId, int editId, int hexId, int x, int y, int w, int h, const TabInsets& in)
{
    b.Put(tabId, x, y, w, h);
    const Placement tab = b.items.back();
    const int left = in.left, top = in.top, right = tab.width - in.right, bottom = tab.height - in.bottom;
    b.items.push_back({editId, tab.x + left, tab.y + top, right - left, bottom - top});
    b.items.push_back({hexId, tab.x + left, tab.y + top, right - left, bottom - top});
}
void PutConnectionRow(Builder& b, int cx, bool serial)
{
    b.Put(IDC_COMM_LABEL, 12, 8, 116, 14);
    b.Put(IDC_COMM_COMBO, 12, 24, 116, 180);
    if (serial) {
        for (int id : kNetworkSet)
            b.Hide(id);
        b.PutShown(IDC_SERIAL_PORT_LABEL, 136, 8, 92, 14);
        b.PutShown(IDC_SERIAL_PORT, 136, 24, 92, 180);
        b.PutShown(IDC_REFRESH_PORTS, 236, 24, 72, 24);
        b.PutShown(IDC_BAUD_LABEL, 316, 8, 84, 14);
        b.PutShown(IDC_BAUD, 316, 24, 80, 180);
        b.PutShown(IDC_DATA_LABEL, 404, 8, 54, 14);
        b.PutShown(IDC_DATA_BITS, 404, 24, 54, 180);
        b.PutShown(IDC_STOP_LABEL, 466, 8, 54, 14);
        b.PutShown(IDC_STOP_BITS, 466, 24, 54, 180);
        b.PutShown(IDC_PARITY_LABEL, 528, 8, 76, 14);
        b.PutShown(IDC_PARITY, 528, 24, 76, 180);
        b.Put(IDC_CONNECT, 612, 24, 66, 24);
        b.PutShown(IDC_FLOW_LABEL, 690, 8, 88, 14);
        b.PutShown(IDC_FLOW, 690, 24, 88, 180);
        b.Put(IDC_RECONNECT, 786, 27, 80, 18);
        b.Put(IDC_STATUS, 874, 29, std::max(50, cx - 886), 16);
    } else {
        for (int id : kSerialSet)
            b.Hide(id);
        b.PutShown(IDC_MODE_LABEL, 136, 8, 92, 14);
        b.PutShown(IDC_MODE_COMBO, 136, 24, 92, 180);
        b.PutShown(IDC_IP_LABEL, 236, 8, 150, 14);
        b.PutShown(IDC_IP_EDIT, 236, 24, 150, 24);
        b.PutShown(IDC_PORT_LABEL, 394, 8, 78, 14);
        b.PutShown(IDC_PORT_EDIT, 394, 24, 78, 24);
        b.Put(IDC_CONNECT, 484, 24, 104, 24);
        b.Put(IDC_RECONNECT, 598, 27, 80, 18);
        b.Put(IDC_STATUS, 686, 29, std::max(90, cx - 698), 16);
    }
}

void PutLogTools(Builder& b, int cx, int Y)
{
    b.Put(IDC_CLEAR, 12, Y - 234, 60, 24);
    b.Put(IDC_COPY, 80, Y - 234, 60, 24);
    b.Put(IDC_SAVE, 148, Y - 234, 60, 24);
    b.Put(IDC_RECORD, 216, Y - 234, 60, 24);
    b.Put(IDC_TIMESTAMP, 292, Y - 229, 82, 16);
    b.Put(IDC_AUTOSCROLL, 384, Y - 229, 88, 16);
    b.Put(IDC_PAUSE_RX, 482, Y - 229, 76, 16);
    b.Put(IDC_FIND_LABEL, 574, Y - 227, 28, 16);
    // The counters are wide enough for "RX: 52.4 MB", which is as wide as
    // they get (see CounterText).
    b.Put(IDC_FIND_EDIT, 606, Y - 234, std::max(90, cx - 848), 24);
    b.Put(IDC_FIND_NEXT, cx - 230, Y - 234, 54, 24);
    b.Put(IDC_RX_COUNT, cx - 170, Y - 227, 76, 16);
    b.Put(IDC_TX_COUNT, cx - 88, Y - 227, 76, 16);
}

void PutSendArea(Builder& b, int cx, int Y, int W, bool clientList, const TabInsets& sendTabs)
{
    const int S = cx - 336;
    const int sendWidth = S < 260 ? 260 : S;
    const int sendX = S < 260 ? 280 : cx - 316;
    const int historyX = S < 260 ? 374 : cx - 222;
    PutTabArea(b, IDC_SEND_TABS, IDC_SEND_EDIT, IDC_SEND_HEX, 12, Y - 194, sendWidth, 82, sendTabs);
    b.Put(IDC_SEND, sendX, Y - 194, 82, 24);
    b.Put(IDC_HISTORY, historyX, Y - 194, std::max(130, cx - sendX - 106), 150);
    b.Put(IDC_ESCAPES, sendX, Y - 160, 82, 18);
    b.Put(IDC_CHECKSUM, historyX, Y - 164, std::max(130, cx - sendX - 106), 150);
    b.Put(IDC_SEND_FILE, historyX, Y - 136, 104, 24);
    b.Put(IDC_CR, 12, Y - 99, 40, 18);
    b.Put(IDC_LF, 62, Y - 99, 40, 18);
    b.Put(IDC_CRLF, 112, Y - 99, 56, 18);
    b.Put(IDC_ENTER_SENDS, 186, Y - 99, 58, 18);
    b.Put(IDC_REPEAT, 256, Y - 99, 68, 18);
    b.Put(IDC_REPEAT_MS, 336, Y - 102, 68, 24);
    b.Put(IDC_MS_LABEL, 414, Y - 97, 28, 16);
    b.Put(IDC_CLEAR_AFTER_SEND, 454, Y - 99, 130, 18);
    // Shown by the log while it records, and when bytes were lost.
    b.Put(IDC_RECORD_STATUS, 600, Y - 97, std::max(90, cx - 720), 16);
    b.Put(IDC_LOST, cx - 100, Y - 97, 88, 16);
    if (clientList) {
        b.PutShown(IDC_SEND_TARGET, sendX, Y - 138, 82, 150);
        b.PutShown(IDC_CLIENT_LIST, 12, Y - 68, W, 56);
    } else {
        b.Hide(IDC_SEND_TARGET);
        b.Hide(IDC_CLIENT_LIST);
    }
}

} // namespace

std::vector<Placement> LayoutFor(const LayoutInput& in)
{
    if (in.cx <= 0 || in.cy <= 0)
        return {};
    Builder b;
    b.dpi = in.dpi > 0 ? in.dpi : 96;
    // The client size in 96-DPI pixels, which the numbers below are in.
    const int cx = int(static_cast<long long>(in.cx) * 96 / b.dpi);
    const int cy = int(static_cast<long long>(in.cy) * 96 / b.dpi);
    const int W = std::max(100, cx - 24);
    // Without the client list its room goes to the log: everything below
    // the log moves down by the list's height and gap.
    const int Y = in.clientList ? cy : cy + 66;
    PutConnectionRow(b, cx, in.serial);
    PutTabArea(b, IDC_LOG_TABS, IDC_LOG_EDIT, IDC_LOG_HEX, 12, 58, W, std::max(90, Y - 300), in.logTabs);
    PutLogTools(b, cx, Y);
    PutSendArea(b, cx, Y, W, in.clientList, in.sendTabs);
    return b.items;
}

const Placement* FindPlacement(const std::vector<Placement>& layout, int id)
{
    for (const Placement& p : layout)
        if (p.id == id)
            return &p;
    return nullptr;
}

ScreenRect FitIntoWorkArea(const ScreenRect& window, const ScreenRect& work, int minWidth, int minHeight)
{
    // In 64 bits: a rectangle from the settings file may span more than an
    // int can hold, and what comes out lies inside the work area.
    const auto fit = [](int64_t size, int64_t least, int64_t room) {
        return std::max<int64_t>(0, std::min(std::max(size, std::min(least, room)), room));
    };
    const int64_t width = fit(int64_t(window.right) - window.left, minWidth, int64_t(work.right) - work.left);
    const int64_t height = fit(int64_t(window.bottom) - window.top, minHeight, int64_t(work.bottom) - work.top);
    const int64_t left = std::clamp<int64_t>(window.left, work.left, std::max<int64_t>(work.left, work.right - width));
    const int64_t top = std::clamp<int64_t>(window.top, work.top, std::max<int64_t>(work.top, work.bottom - height));
    return {int(left), int(top), int(left + width), int(top + height)};
}

ScreenRect FirstStartRect(int width, int height, const ScreenRect& work, int minWidth, int minHeight)
{
    const ScreenRect fitted = FitIntoWorkArea({0, 0, width, height}, work, minWidth, minHeight);
    const int left = work.left + (work.Width() - fitted.Width()) / 2;
    const int top = work.top + (work.Height() - fitted.Height()) / 2;
    return {left, top, left + fitted.Width(), top + fitted.Height()};
}

ScreenRect CascadedRect(const ScreenRect& current, int captionHeight, const ScreenRect& work, int minWidth,
                        int minHeight)
{
    // Shrunk where the step would cross the work area's edge, so the new
    // window still shows that it is a new one.
    const ScreenRect next{current.left + captionHeight, current.top + captionHeight,
                          std::min(current.right + captionHeight, work.right),
                          std::min(current.bottom + captionHeight, work.bottom)};
    return FitIntoWorkArea(next, work, minWidth, minHeight);
}
