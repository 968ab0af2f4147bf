#include "ui/Layout.h"

#include "res/resource.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

const int kNetworkSet[8] = {IDC_MODE_LABEL, IDC_MODE_COMBO, IDC_TLS,       IDC_IP_LABEL,
                            IDC_IP_EDIT,    IDC_PORT_LABEL, IDC_PORT_EDIT, IDC_NET_OPTIONS};
const int kSerialSet[13] = {IDC_SERIAL_PORT_LABEL, IDC_SERIAL_PORT, IDC_REFRESH_PORTS, IDC_BAUD_LABEL,
                            IDC_BAUD,              IDC_DATA_LABEL,  IDC_DATA_BITS,     IDC_STOP_LABEL,
                            IDC_STOP_BITS,         IDC_PARITY_LABEL, IDC_PARITY,       IDC_FLOW_LABEL,
                            IDC_FLOW};

const int kSerialLineSet[10] = {IDC_DTR,      IDC_RTS,   IDC_PULSE_DTR, IDC_PULSE_RTS,      IDC_PULSE_MS,
                                IDC_PULSE_MS_LABEL, IDC_BREAK, IDC_BREAK_MS, IDC_BREAK_MS_LABEL, IDC_LINE_LAMPS};

int ScaleForDpi(int value, int dpi)
{
    const long long scaled = static_cast<long long>(value) * dpi;
    return int(scaled >= 0 ? (scaled + 48) / 96 : -((-scaled + 48) / 96));
}

namespace {

constexpr int kMargin = 12;
// 96-DPI pixels: the narrowest the rows wrap to, and the least the log keeps.
constexpr int kMinWidth = 480;
constexpr int kLogMinHeight = 72;
constexpr int kLineGap = 6;      // between the wrapped lines of one row
constexpr int kLabelHeight = 16; // a label above its field
constexpr int kFieldHeight = 24;
// Two whole lines of text and both scroll bars fit the send box.
constexpr int kSendHeight = 96;
constexpr int kClientListHeight = 56;
// The send side's button column, wide enough for "to last sender".
constexpr int kSendColumn = 100;
// A lower DPI is tried in these steps when the layout does not fit.
constexpr int kDpiStep = 12;
constexpr int kLeastDpi = 48;

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
};

// A control in a row that wraps: each takes its place on a line, left to
// right, and a line is begun where the next one does not fit.
struct FlowItem {
    int id = 0;
    int gap = 0;   // before it, unless it begins a line
    int width = 0; // its least width
    bool grows = false; // it takes what is left of its line
    int height = kFieldHeight;
    int dy = 0;         // below the top of its line's fields
    int listHeight = 0; // a combo box: the height with its list dropped
    int labelId = 0;    // a label above it, as wide as it or `labelWidth`
    int labelWidth = 0;
    bool keepWithNext = false; // a line does not begin between the two
    Visibility visibility = Visibility::Keep;
    bool pushRight = false; // on a line with nothing that grows, it and what follows keep to the right
};

// Lays the items out between the margins from `top` down, into the builder
// when there is one; the height it takes.
int Flow(Builder* b, const std::vector<FlowItem>& items, int cx, int top)
{
    const int right = cx - kMargin;
    // Where each line begins.
    std::vector<size_t> lines{0};
    int x = kMargin;
    for (size_t i = 0; i < items.size(); ++i) {
        const bool first = lines.back() == i;
        int extent = x + (first ? 0 : items[i].gap) + items[i].width;
        if (i == 0 || !items[i - 1].keepWithNext)
            for (size_t k = i; items[k].keepWithNext && k + 1 < items.size(); ++k)
                extent += items[k + 1].gap + items[k + 1].width;
        if (!first && extent > right && (i == 0 || !items[i - 1].keepWithNext)) {
            lines.push_back(i);
            x = kMargin;
        }
        x += (lines.back() == i ? 0 : items[i].gap) + items[i].width;
    }
    lines.push_back(items.size());

    int y = top;
    for (size_t line = 0; line + 1 < lines.size(); ++line) {
        const size_t from = lines[line], to = lines[line + 1];
        bool labelled = false;
        int used = kMargin, growers = 0;
        for (size_t i = from; i < to; ++i) {
            labelled = labelled || items[i].labelId;
            used += (i == from ? 0 : items[i].gap) + items[i].width;
            growers += items[i].grows;
        }
        const int fieldTop = y + (labelled ? kLabelHeight : 0);
        int left = std::max(0, right - used);
        bool pushed = growers > 0;
        x = kMargin;
        for (size_t i = from; i < to; ++i) {
            const FlowItem& item = items[i];
            x += i == from ? 0 : item.gap;
            if (item.pushRight && !pushed) {
                x += left;
                pushed = true;
            }
            int width = item.width;
            if (item.grows && growers) {
                const int extra = left / growers--;
                width += extra;
                left -= extra;
            }
            if (b) {
                if (item.labelId)
                    b->Put(item.labelId, x, y, item.labelWidth ? item.labelWidth : width, 14, item.visibility);
                b->Put(item.id, x, fieldTop + item.dy, width, item.listHeight ? item.listHeight : item.height,
                       item.visibility);
            }
            x += width;
        }
        y = fieldTop + kFieldHeight + (line + 2 < lines.size() ? kLineGap : 0);
    }
    return y - top;
}

std::vector<FlowItem> ConnectionRow(bool serial)
{
    const Visibility show = Visibility::Show;
    std::vector<FlowItem> row{{IDC_COMM_COMBO, 0, 116, false, 0, 0, 180, IDC_COMM_LABEL}};
    if (serial) {
        row.push_back({IDC_SERIAL_PORT, 8, 92, false, 0, 0, 180, IDC_SERIAL_PORT_LABEL, 0, false, show});
        row.push_back({IDC_REFRESH_PORTS, 8, 72, false, kFieldHeight, 0, 0, 0, 0, false, show});
        row.push_back({IDC_BAUD, 8, 80, false, 0, 0, 180, IDC_BAUD_LABEL, 84, false, show});
        row.push_back({IDC_DATA_BITS, 8, 54, false, 0, 0, 180, IDC_DATA_LABEL, 0, false, show});
        row.push_back({IDC_STOP_BITS, 8, 54, false, 0, 0, 180, IDC_STOP_LABEL, 0, false, show});
        row.push_back({IDC_PARITY, 8, 76, false, 0, 0, 180, IDC_PARITY_LABEL, 0, false, show});
        // Open ends the row of the port's settings, as Connect does the address.
        row.push_back({IDC_FLOW, 8, 88, false, 0, 0, 180, IDC_FLOW_LABEL, 0, false, show});
        row.push_back({IDC_CONNECT, 12, 66});
    } else {
        row.push_back({IDC_MODE_COMBO, 8, 92, false, 0, 0, 180, IDC_MODE_LABEL, 0, false, show});
        row.push_back({IDC_TLS, 8, 48, false, 18, 3, 0, 0, 0, false, show});
        row.push_back({IDC_IP_EDIT, 8, 150, false, kFieldHeight, 0, 0, IDC_IP_LABEL, 0, false, show});
        row.push_back({IDC_PORT_EDIT, 8, 78, false, kFieldHeight, 0, 0, IDC_PORT_LABEL, 0, false, show});
        row.push_back({IDC_NET_OPTIONS, 8, 84, false, kFieldHeight, 0, 0, 0, 0, false, show});
        row.push_back({IDC_CONNECT, 12, 104});
    }
    row.push_back({IDC_RECONNECT, 10, 80, false, 18, 3});
    row.push_back({IDC_BRIDGE, 6, 84, false, kFieldHeight});
    row.push_back({IDC_STATUS, 8, serial ? 90 : 120, true, 16, 5});
    return row;
}

// Below the port's settings: DTR and RTS, their pulses, a Break, and the
// lamps of the device's lines, which keep to the right.
std::vector<FlowItem> SerialLineRow()
{
    const Visibility show = Visibility::Show;
    return {{IDC_DTR, 0, 48, false, 18, 3, 0, 0, 0, false, show},
            {IDC_RTS, 8, 48, false, 18, 3, 0, 0, 0, false, show},
            {IDC_PULSE_DTR, 10, 72, false, kFieldHeight, 0, 0, 0, 0, false, show},
            {IDC_PULSE_RTS, 6, 72, false, kFieldHeight, 0, 0, 0, 0, false, show},
            {IDC_PULSE_MS, 6, 52, false, kFieldHeight, 0, 0, 0, 0, true, show},
            {IDC_PULSE_MS_LABEL, 4, 20, false, 16, 5, 0, 0, 0, false, show},
            {IDC_BREAK, 16, 60, false, kFieldHeight, 0, 0, 0, 0, false, show},
            {IDC_BREAK_MS, 6, 56, false, kFieldHeight, 0, 0, 0, 0, true, show},
            {IDC_BREAK_MS_LABEL, 4, 20, false, 16, 5, 0, 0, 0, false, show},
            {IDC_LINE_LAMPS, 20, 236, false, 18, 3, 0, 0, 0, false, show, true}};
}

// The rows above the log, and the height they take.
int UpperRows(Builder* b, int cx, bool serial, bool serialLines = false)
{
    int height = Flow(b, ConnectionRow(serial), cx, 8);
    if (serial || serialLines)
        height += kLineGap + Flow(b, SerialLineRow(), cx, 8 + height + kLineGap);
    return height;
}

std::vector<FlowItem> LogToolRow()
{
    return {{IDC_CLEAR, 0, 60},
            {IDC_COPY, 8, 60},
            {IDC_SAVE, 8, 60},
            {IDC_RECORD, 8, 60},
            {IDC_TIMESTAMP, 16, 82, false, 16, 5},
            {IDC_AUTOSCROLL, 10, 88, false, 16, 5},
            {IDC_PAUSE_RX, 10, 76, false, 16, 5},
            {IDC_FIND_LABEL, 16, 28, false, 16, 7, 0, 0, 0, true},
            {IDC_FIND_EDIT, 4, 90, true, kFieldHeight, 0, 0, 0, 0, true},
            {IDC_FIND_NEXT, 12, 54},
            // Wide enough for "RX: 52.4 MB", which is as wide as they get
            // (see CounterText).
            {IDC_RX_COUNT, 6, 76, false, 16, 7, 0, 0, 0, true, Visibility::Keep, true},
            {IDC_TX_COUNT, 6, 76, false, 16, 7}};
}

std::vector<FlowItem> SendOptionRow()
{
    return {{IDC_CR, 0, 40, false, 18, 3},
            {IDC_LF, 10, 40, false, 18, 3},
            {IDC_CRLF, 10, 56, false, 18, 3},
            {IDC_ENTER_SENDS, 18, 58, false, 18, 3},
            {IDC_REPEAT, 12, 68, false, 18, 3, 0, 0, 0, true},
            {IDC_REPEAT_MS, 12, 68, false, kFieldHeight, 0, 0, 0, 0, true},
            {IDC_MS_LABEL, 10, 28, false, 16, 5},
            {IDC_CLEAR_AFTER_SEND, 12, 130, false, 18, 3},
            {IDC_AUTOMATION, 8, 96},
            // Shown by the log while it records, and when bytes were lost.
            {IDC_RECORD_STATUS, 16, 90, true, 16, 5},
            {IDC_LOST, 20, 88, false, 16, 5}};
}

// A tab control and the two views that share its display area.
void PutTabArea(Builder& b, int tabId, int editId, int hexId, int x, int y, int w, int h, const TabInsets& in)
{
    b.Put(tabId, x, y, w, h);
    const Placement tab = b.items.back();
    const int left = in.left, top = in.top, right = tab.width - in.right, bottom = tab.height - in.bottom;
    b.items.push_back({editId, tab.x + left, tab.y + top, right - left, bottom - top});
    b.items.push_back({hexId, tab.x + left, tab.y + top, right - left, bottom - top});
}

// The send box beside two columns: Send, Escapes and the target; the
// history, the checksum and Send File. The history gives up width first,
// then the box.
void PutSendArea(Builder& b, int cx, int top, bool target, const TabInsets& sendTabs)
{
    const int right = cx - kMargin;
    int history = 210;
    int box = right - kMargin - (8 + kSendColumn + 12 + history);
    if (box < 260) {
        history = std::max(130, history - (260 - box));
        box = std::max(160, right - kMargin - (8 + kSendColumn + 12 + history));
    }
    const int column = kMargin + box + 8, historyX = column + kSendColumn + 12;
    PutTabArea(b, IDC_SEND_TABS, IDC_SEND_EDIT, IDC_SEND_HEX, kMargin, top, box, kSendHeight, sendTabs);
    b.Put(IDC_SEND, column, top, kSendColumn, kFieldHeight);
    b.Put(IDC_ESCAPES, column, top + 34, kSendColumn, 18);
    if (target)
        b.Put(IDC_SEND_TARGET, column, top + 56, kSendColumn, 150, Visibility::Show);
    else
        b.Hide(IDC_SEND_TARGET);
    b.Put(IDC_HISTORY, historyX, top, history, 150);
    b.Put(IDC_CHECKSUM, historyX, top + 30, history, 150);
    b.Put(IDC_SEND_FILE, historyX, top + 58, 104, kFieldHeight);
}

// The rows from the log's tool row down, bottom up: how far above the
// bottom edge each begins.
struct LowerRows {
    int tools, send, options, clients;
};

LowerRows LowerRowsFor(int cx, bool clientList)
{
    LowerRows r{};
    int above = kMargin;
    if (clientList) {
        above += kClientListHeight;
        r.clients = above;
        above += 10;
    }
    above += Flow(nullptr, SendOptionRow(), cx, 0);
    r.options = above;
    above += 10 + kSendHeight;
    r.send = above;
    above += 16 + Flow(nullptr, LogToolRow(), cx, 0);
    r.tools = above;
    return r;
}

// The height the layout needs at that width, in 96-DPI pixels.
int NeededHeight(int cx, bool serial, bool clientList)
{
    return 8 + UpperRows(nullptr, cx, serial) + 10 + kLogMinHeight + 8 +
           LowerRowsFor(cx, clientList).tools;
}

bool FitsAt(const LayoutInput& in, int dpi)
{
    // In 96-DPI pixels, rounded down: what fits must fit whole.
    const int64_t cx = int64_t(in.cx) * 96 / dpi, cy = int64_t(in.cy) * 96 / dpi;
    return cx >= kMinWidth && cy >= NeededHeight(int(cx), in.serial || in.serialLines, in.clientList);
}

} // namespace

int LayoutDpi(const LayoutInput& in)
{
    const int dpi = in.dpi > 0 ? in.dpi : 96;
    for (int tried = dpi; tried > kLeastDpi; tried -= kDpiStep)
        if (FitsAt(in, tried))
            return tried;
    return std::min(dpi, kLeastDpi);
}

ClientSize MinimumClientSize(int dpi)
{
    // A server's or listener's client list, or a serial row that wraps
    // further: whichever needs more.
    const int height = std::max({NeededHeight(kMinWidth, false, true), NeededHeight(kMinWidth, false, false),
                                 NeededHeight(kMinWidth, true, false)});
    // Rounded up, so that the layout fits whole at that DPI.
    const auto up = [dpi](int value) { return int((int64_t(value) * dpi + 95) / 96); };
    return {up(kMinWidth), up(height)};
}

std::vector<Placement> LayoutFor(const LayoutInput& in)
{
    if (in.cx <= 0 || in.cy <= 0)
        return {};
    Builder b;
    b.dpi = LayoutDpi(in);
    // The client size in 96-DPI pixels, which the numbers below are in.
    const int cx = int(static_cast<long long>(in.cx) * 96 / b.dpi);
    const int cy = int(static_cast<long long>(in.cy) * 96 / b.dpi);
    const int W = std::max(100, cx - 2 * kMargin);

    if (in.serial)
        for (int id : kNetworkSet)
            b.Hide(id);
    else {
        for (int id : kSerialSet)
            b.Hide(id);
        if (!in.serialLines)
            for (int id : kSerialLineSet)
                b.Hide(id);
    }
    const int logTop = 8 + UpperRows(&b, cx, in.serial, in.serialLines) + 10;
    const LowerRows rows = LowerRowsFor(cx, in.clientList);
    const int toolsTop = std::max(cy - rows.tools, logTop + kLogMinHeight + 8);
    // Below the least height the rows keep their places under the log.
    const int Y = toolsTop + rows.tools;
    PutTabArea(b, IDC_LOG_TABS, IDC_LOG_EDIT, IDC_LOG_HEX, kMargin, logTop, W, toolsTop - 8 - logTop, in.logTabs);
    Flow(&b, LogToolRow(), cx, toolsTop);
    PutSendArea(b, cx, Y - rows.send, in.clientList || in.sideChoice, in.sendTabs);
    Flow(&b, SendOptionRow(), cx, Y - rows.options);
    if (in.clientList)
        b.Put(IDC_CLIENT_LIST, kMargin, Y - rows.clients, W, kClientListHeight, Visibility::Show);
    else
        b.Hide(IDC_CLIENT_LIST);
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
