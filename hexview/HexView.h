#pragma once

#include "framework/ChildWindow.h"
#include "hexview/HexModel.h"

#include <cstdint>
#include <functional>
#include <vector>

// The hex dump control: turns messages into model calls and the model into
// GDI drawing. The window owns this object.
class CHexView : public ChildWindow, private HexViewHost {
public:
    // The object lives until the window is destroyed; null when the window
    // cannot be created.
    static CHexView* Create(HWND parent, const RECT& rect, int id, const HexViewConfig& config);

    CHexView(HWND wnd, const CREATESTRUCTW& create);
    ~CHexView() override;

    void AppendBytes(const std::vector<uint8_t>& bytes, bool show = true) { m_model.AppendBytes(bytes, show); }
    void ScrollToEnd() { m_model.ScrollToEnd(); }
    void CatchUp() { m_model.CatchUp(); }
    void RowsGrew() { m_model.RowsGrew(); }
    void Clear() { m_model.Clear(); }
    void ResetEditor() { m_model.ResetEditor(); }
    void SetContent(const std::vector<uint8_t>& bytes) { m_model.SetContent(bytes); }
    std::vector<uint8_t> GetContent() const { return m_model.GetContent(); }
    void ShowRows(const HexRows* rows) { m_model.ShowRows(rows); }
    void SelectFound(int64_t index, int64_t length) { m_model.SelectFound(index, length); }
    // Called with the byte the mouse points at or a click selects.
    void OnPoint(std::function<void(int64_t offset)> onPoint) { m_onPoint = std::move(onPoint); }
    // Its owner's copy, when it has one (a large selection is copied off
    // the window's thread); else the view copies itself.
    void OnCopy(std::function<void()> onCopy) { m_onCopy = std::move(onCopy); }
    void CopySelection();
    void SelectAll() { m_model.SelectAll(); }
    // The font and every cell follow the window's DPI.
    void SetDpi(int dpi);

    const HexModel& Model() const { return m_model; }

protected:
    LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    int ClientHeight() const override;
    void Repaint() override;
    void RepaintBand(int y, int height) override;
    void SetScroll(int maximum, int page, int position) override;

    void Paint(HDC dc) override;
    void CreateFontAndMetrics();
    int m_dpi = 96;

    bool RepaintIsDue() const;

    HexModel m_model;
    std::function<void(int64_t)> m_onPoint;
    std::function<void()> m_onCopy;
    bool m_trackingLeave = false;
    HFONT m_font = nullptr;
    bool m_invalidInFull = false;
};
