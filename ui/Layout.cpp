#include "ui/Layout.h"

#include "res/resource.h"

#include <algorithm>

const int kNetworkSet[6] = {IDC_MODE_LABEL, IDC_MODE_COMBO, IDC_IP_LABEL,
                            IDC_IP_EDIT,    IDC_PORT_LABEL, IDC_PORT_EDIT};
const int kSerialSet[13] = {IDC_SERIAL_PORT_LABEL, IDC_SERIAL_PORT, IDC_REFRESH_PORTS, IDC_BAUD_LABEL,
                            IDC_BAUD,              IDC_DATA_LABEL,  IDC_DATA_BITS,     IDC_STOP_LABEL,
                            IDC_STOP_BITS,         IDC_PARITY_LABEL, IDC_PARITY,       IDC_FLOW_LABEL,
                            IDC_FLOW};

namespace {

struct Builder {
    std::vector<Placement> items;
    void Put(int id, int x, int y, int w, int h, Visibility v = Visibility::Keep)
    {
        items.push_back({id, x, y, w, h, v});
    }
    void Hide(int id) { Put(id, -1000, -1000, 10, 10, Visibility::Hide); }
    void PutShown(int id, int x, int y, int w, int h) { Put(id, x, y, w, h, Visibility::Show); }
};

// A tab control and the two views that share its display area.
void PutTabArea(Builder& b, int tabId, int editId, int hexId, int x, int y, int w, int h, const TabInsets& in)
{
    b.Put(tabId, x, y, w, h);
    const int left = in.left, top = in.top, right = w - in.right, bottom = h - in.bottom;
    b.Put(editId, x + left, y + top, right - left, bottom - top);
    b.Put(hexId, x + left, y + top, right - left, bottom - top);
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
        b.Put(IDC_STATUS, 786, 29, std::max(70, cx - 798), 16);
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
        b.Put(IDC_STATUS, 602, 29, std::max(90, cx - 614), 16);
    }
}

void PutLogTools(Builder& b, int cx, int Y)
{
    b.Put(IDC_CLEAR, 12, Y - 234, 60, 24);
    b.Put(IDC_COPY, 80, Y - 234, 60, 24);
    b.Put(IDC_SAVE, 148, Y - 234, 60, 24);
    b.Put(IDC_TIMESTAMP, 224, Y - 229, 82, 16);
    b.Put(IDC_AUTOSCROLL, 316, Y - 229, 88, 16);
    b.Put(IDC_PAUSE_RX, 414, Y - 229, 76, 16);
    b.Put(IDC_FIND_LABEL, 506, Y - 227, 28, 16);
    b.Put(IDC_FIND_EDIT, 538, Y - 234, std::max(90, cx - 748), 24);
    b.Put(IDC_FIND_NEXT, cx - 198, Y - 234, 54, 24);
    b.Put(IDC_RX_COUNT, cx - 136, Y - 227, 60, 16);
    b.Put(IDC_TX_COUNT, cx - 72, Y - 227, 60, 16);
}

void PutSendArea(Builder& b, int cx, int Y, int W, const TabInsets& sendTabs)
{
    const int S = cx - 336;
    const int sendWidth = S < 260 ? 260 : S;
    const int sendX = S < 260 ? 280 : cx - 316;
    const int historyX = S < 260 ? 374 : cx - 222;
    PutTabArea(b, IDC_SEND_TABS, IDC_SEND_EDIT, IDC_SEND_HEX, 12, Y - 194, sendWidth, 82, sendTabs);
    b.Put(IDC_SEND, sendX, Y - 194, 82, 24);
    b.Put(IDC_HISTORY, historyX, Y - 194, std::max(130, cx - sendX - 106), 150);
    b.Put(IDC_CR, 12, Y - 99, 40, 18);
    b.Put(IDC_LF, 62, Y - 99, 40, 18);
    b.Put(IDC_CRLF, 112, Y - 99, 56, 18);
    b.Put(IDC_ENTER_SENDS, 186, Y - 99, 58, 18);
    b.Put(IDC_REPEAT, 256, Y - 99, 68, 18);
    b.Put(IDC_REPEAT_MS, 336, Y - 102, 68, 24);
    b.Put(IDC_MS_LABEL, 414, Y - 97, 28, 16);
    b.Put(IDC_CLEAR_AFTER_SEND, 454, Y - 99, 130, 18);
    b.Put(IDC_CLIENT_LIST, 12, Y - 68, W, 56);
}

} // namespace

std::vector<Placement> LayoutFor(const LayoutInput& in)
{
    if (in.cx <= 0 || in.cy <= 0)
        return {};
    Builder b;
    const int W = std::max(100, in.cx - 24);
    PutConnectionRow(b, in.cx, in.serial);
    PutTabArea(b, IDC_LOG_TABS, IDC_LOG_EDIT, IDC_LOG_HEX, 12, 58, W, std::max(90, in.cy - 300), in.logTabs);
    PutLogTools(b, in.cx, in.cy);
    PutSendArea(b, in.cx, in.cy, W, in.sendTabs);
    return b.items;
}

const Placement* FindPlacement(const std::vector<Placement>& layout, int id)
{
    for (const Placement& p : layout)
        if (p.id == id)
            return &p;
    return nullptr;
}
