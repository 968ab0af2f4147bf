#include "hexview/HexView.h"

#include "framework/Clipboard.h"
#include "framework/Dpi.h"

#include <windowsx.h>

#include <cstring>

namespace {

const wchar_t kClassName[] = L"FerrolinkHexView";

class GdiRowPainter : public HexRowPainter {
public:
    explicit GdiRowPainter(HDC dc) : m_dc(dc) {}
    void Fill(int x, int y, int width, int height, COLORREF colour) override
    {
        const RECT r{x, y, x + width, y + height};
        SetBkColor(m_dc, colour);
        ExtTextOutW(m_dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
    }
    void Char(int x, int y, wchar_t c, COLORREF text, COLORREF background) override
    {
        SetTextColor(m_dc, text);
        SetBkColor(m_dc, background);
        TextOutW(m_dc, x, y, &c, 1);
    }
    void Text(int x, int y, const std::wstring& text, COLORREF colour) override
    {
        SetTextColor(m_dc, colour);
        SetBkColor(m_dc, HexColours::Background);
        TextOutW(m_dc, x, y, text.c_str(), int(text.size()));
    }

private:
    HDC m_dc;
};

} // namespace

CHexView* CHexView::Create(HWND parent, const RECT& rect, int id, const HexViewConfig& config)
{
    if (!Register<CHexView>(kClassName, CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS, IDC_IBEAM,
                            static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))))
        return nullptr;
    HexViewConfig copy = config;
    const HWND wnd = CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL, rect.left,
                                     rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
                                     reinterpret_cast<HMENU>(INT_PTR(id)), GetModuleHandleW(nullptr), &copy);
    CHexView* view = wnd ? FromHandle<CHexView>(wnd) : nullptr;
    if (view)
        view->SetDpi(WindowDpi(parent));
    return view;
}

CHexView::CHexView(HWND wnd, const CREATESTRUCTW& create) : ChildWindow(wnd)
{
    if (create.lpCreateParams)
        m_model.Configure(*static_cast<const HexViewConfig*>(create.lpCreateParams));
    m_model.SetHost(this);
}

CHexView::~CHexView()
{
    if (m_font)
        DeleteObject(m_font);
}

void CHexView::SetDpi(int dpi)
{
    m_dpi = dpi > 0 ? dpi : 96;
    CreateFontAndMetrics();
    m_model.OnSize();
    InvalidateRect(m_wnd, nullptr, FALSE);
}

void CHexView::CreateFontAndMetrics()
{
    if (m_font)
        DeleteObject(m_font);
    LOGFONTW font{};
    font.lfHeight = -MulDiv(14, m_dpi, 96);
    font.lfCharSet = ANSI_CHARSET;
    font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    lstrcpynW(font.lfFaceName, L"Consolas", LF_FACESIZE);
    m_font = CreateFontIndirectW(&font);

    const HDC dc = GetDC(m_wnd);
    const HGDIOBJ previous = SelectObject(dc, m_font);
    TEXTMETRICW metrics{};
    if (GetTextMetricsW(dc, &metrics))
        m_model.SetFontMetrics(metrics.tmAveCharWidth, metrics.tmHeight);
    SelectObject(dc, previous);
    ReleaseDC(m_wnd, dc);
}

int CHexView::ClientHeight() const
{
    RECT r{};
    GetClientRect(m_wnd, &r);
    return r.bottom;
}

// Invalidating costs a window-server round trip under Wine, and a flood asks
// twice per block: a hidden view is painted in full when it is shown, and a
// view already invalid in full gains nothing from being invalidated again.
bool CHexView::RepaintIsDue() const
{
    return !m_invalidInFull && IsWindowVisible(m_wnd);
}

void CHexView::Repaint()
{
    if (!RepaintIsDue())
        return;
    InvalidateRect(m_wnd, nullptr, FALSE);
    m_invalidInFull = true;
}

void CHexView::RepaintBand(int y, int height)
{
    if (!RepaintIsDue())
        return;
    RECT r{};
    GetClientRect(m_wnd, &r);
    r.top = y;
    r.bottom = y + height;
    InvalidateRect(m_wnd, &r, FALSE);
}

void CHexView::SetScroll(int maximum, int page, int position)
{
    SCROLLINFO si{};
    si.cbSize = sizeof(si);
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    si.nMin = 0;
    si.nMax = maximum;
    si.nPage = UINT(page);
    si.nPos = position;
    SetScrollInfo(m_wnd, SB_VERT, &si, TRUE);
}

void CHexView::Paint(HDC dc)
{
    RECT client{};
    GetClientRect(m_wnd, &client);
    const HGDIOBJ previous = SelectObject(dc, m_font);
    SetBkMode(dc, OPAQUE);
    GdiRowPainter painter(dc);
    m_model.Paint(painter, client.right, client.bottom);
    SelectObject(dc, previous);
}

void CHexView::CopySelection()
{
    if (m_onCopy) {
        m_onCopy();
        return;
    }
    const std::wstring text = m_model.SelectionText();
    if (!text.empty())
        CopyTextToClipboard(m_wnd, text);
}

LRESULT CHexView::OnMessage(UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_PAINT)
        m_invalidInFull = false;
    if (HandlePaint(msg, wp))
        return msg == WM_ERASEBKGND ? TRUE : 0;
    switch (msg) {
    case WM_SIZE:
        DefWindowProcW(m_wnd, msg, wp, lp);
        m_model.OnSize();
        return 0;
    case WM_LBUTTONDOWN:
        SetFocus(m_wnd);
        if (m_model.OnLButtonDown(GET_X_LPARAM(lp), GET_Y_LPARAM(lp), (wp & MK_SHIFT) != 0)) {
            SetCapture(m_wnd);
            if (m_onPoint)
                m_onPoint(m_model.SelEnd());
        }
        break;
    case WM_MOUSEMOVE:
    case WM_MOUSELEAVE: {
        const int64_t before = m_model.Pointed();
        if (msg == WM_MOUSELEAVE) {
            m_trackingLeave = false;
            m_model.OnMouseMove(-1, -1, false);
        } else {
            if (!m_trackingLeave && m_onPoint) {
                TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, m_wnd, 0};
                m_trackingLeave = TrackMouseEvent(&track) != FALSE;
            }
            m_model.OnMouseMove(GET_X_LPARAM(lp), GET_Y_LPARAM(lp), (wp & MK_LBUTTON) != 0);
        }
        if (m_onPoint && m_model.Pointed() != before)
            m_onPoint(m_model.Pointed());
        break;
    }
    case WM_LBUTTONUP:
        if (m_model.OnLButtonUp())
            ReleaseCapture();
        break;
    case WM_KEYDOWN:
        if (m_model.OnKeyDown(int(wp), (GetKeyState(VK_SHIFT) & 0x8000) != 0))
            return 0;
        break;
    case WM_CHAR:
        switch (m_model.OnChar(wchar_t(wp))) {
        case HexModel::CharResult::Copy:
            CopySelection();
            return 0;
        case HexModel::CharResult::Handled:
            return 0;
        case HexModel::CharResult::Default:
            break;
        }
        break;
    case WM_VSCROLL: {
        SCROLLINFO si{};
        si.cbSize = sizeof(si);
        si.fMask = SIF_ALL;
        GetScrollInfo(m_wnd, SB_VERT, &si);
        m_model.OnVScroll(LOWORD(wp), si.nTrackPos);
        break;
    }
    case WM_MOUSEWHEEL:
        m_model.OnWheel(GET_WHEEL_DELTA_WPARAM(wp));
        return 0;
    case WM_SETFOCUS:
        DefWindowProcW(m_wnd, msg, wp, lp);
        m_model.OnFocus(true);
        return 0;
    case WM_KILLFOCUS:
        DefWindowProcW(m_wnd, msg, wp, lp);
        m_model.OnFocus(false);
        return 0;
    case WM_GETDLGCODE:
        if (!m_model.ReadOnly())
            return DLGC_WANTALLKEYS;
        return DefWindowProcW(m_wnd, msg, wp, lp) | DLGC_WANTCHARS;
    }
    return DefWindowProcW(m_wnd, msg, wp, lp);
}
