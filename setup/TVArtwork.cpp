// Pictures drawn with GDI at run time: nothing is loaded from files.
#include "TVArtwork.h"

#include "QXHandles.h"
#include "QXVersion.h"

namespace {

const COLORREF kMaskColor = RGB(255, 0, 255);

void Fill(HDC dc, int l, int t, int r, int b, COLORREF color) {
    qx::Brush brush(CreateSolidBrush(color));
    RECT rect = {l, t, r, b};
    FillRect(dc, &rect, brush.get());
}

void Frame(HDC dc, int l, int t, int r, int b, COLORREF color) {
    qx::Brush brush(CreateSolidBrush(color));
    RECT rect = {l, t, r, b};
    FrameRect(dc, &rect, brush.get());
}

// A sheet with lines and a seal of the given colour.
void Certificate(HDC dc, COLORREF seal) {
    Fill(dc, 1, 2, 15, 13, RGB(255, 255, 240));
    Frame(dc, 1, 2, 15, 13, RGB(90, 90, 90));
    for (int y = 4; y <= 8; y += 2) Fill(dc, 3, y, 10, y + 1, RGB(120, 120, 160));
    Fill(dc, 10, 9, 14, 15, seal);
    Frame(dc, 10, 9, 14, 15, RGB(60, 60, 60));
}

void Key(HDC dc, int x, int y, COLORREF color) {
    Frame(dc, x, y, x + 5, y + 5, color);
    Fill(dc, x + 5, y + 2, x + 12, y + 3, color);
    Fill(dc, x + 9, y + 3, x + 10, y + 5, color);
    Fill(dc, x + 11, y + 3, x + 12, y + 6, color);
}

void DrawImage(HDC dc, int index) {
    Fill(dc, 0, 0, 16, 16, kMaskColor);
    switch (index) {
    case 0:  // the product's mark
        Fill(dc, 2, 2, 14, 14, RGB(0, 40, 120));
        Key(dc, 3, 5, RGB(240, 200, 60));
        break;
    case 1: Certificate(dc, RGB(200, 30, 30)); break;   // not valid now
    case 2:                                             // own, valid
        Certificate(dc, RGB(30, 160, 60));
        Key(dc, 2, 9, RGB(200, 150, 0));
        break;
    case 3: Certificate(dc, RGB(40, 90, 200)); break;   // another's, valid
    case 4: Certificate(dc, RGB(150, 150, 150)); break;
    case 5: Fill(dc, 3, 3, 13, 13, RGB(150, 150, 150)); break;
    case 6:  // a store: a drawer
        Fill(dc, 1, 4, 15, 14, RGB(230, 190, 80));
        Frame(dc, 1, 4, 15, 14, RGB(120, 90, 20));
        Fill(dc, 6, 8, 10, 10, RGB(120, 90, 20));
        break;
    case 7:  // other people's certificates: two sheets
        Fill(dc, 4, 1, 15, 11, RGB(220, 230, 255));
        Frame(dc, 4, 1, 15, 11, RGB(40, 90, 200));
        Certificate(dc, RGB(40, 90, 200));
        break;
    case 8:  // own certificates: a key
        Key(dc, 1, 5, RGB(200, 150, 0));
        Key(dc, 2, 6, RGB(160, 110, 0));
        break;
    case 9:  // the user
        Fill(dc, 5, 1, 11, 7, RGB(240, 200, 160));
        Frame(dc, 5, 1, 11, 7, RGB(120, 80, 40));
        Fill(dc, 2, 8, 14, 15, RGB(40, 90, 200));
        break;
    }
}

void Gradient(HDC dc, const RECT& area, COLORREF from, COLORREF to) {
    int width = area.right - area.left;
    for (int x = 0; x < width; x += 2) {
        int r = GetRValue(from) + (GetRValue(to) - GetRValue(from)) * x / (width ? width : 1);
        int g = GetGValue(from) + (GetGValue(to) - GetGValue(from)) * x / (width ? width : 1);
        int b = GetBValue(from) + (GetBValue(to) - GetBValue(from)) * x / (width ? width : 1);
        Fill(dc, area.left + x, area.top, area.left + x + 2, area.bottom, RGB(r, g, b));
    }
}

void Text(HDC dc, const RECT& area, const char* text, int height, COLORREF color, UINT format) {
    qx::Font font(CreateFontA(-height, 0, 0, 0, FW_BOLD, TRUE, 0, 0, ANSI_CHARSET,
                              OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                              DEFAULT_PITCH | FF_SWISS, "Arial"));
    HGDIOBJ old = SelectObject(dc, font.get());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, color);
    RECT box = area;
    DrawTextA(dc, text, -1, &box, format | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
}

}  // namespace

qx::ImageList CreateSetupImages() {
    qx::ImageList list(ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 10, 0));
    if (!list) return list;
    qx::ScreenDc screen(GetDC(nullptr));
    qx::MemoryDc dc(CreateCompatibleDC(screen.get()));
    for (int index = 0; index < 10; ++index) {
        qx::Bitmap bitmap(CreateCompatibleBitmap(screen.get(), 16, 16));
        if (!bitmap || !dc) break;
        HGDIOBJ old = SelectObject(dc.get(), bitmap.get());
        DrawImage(dc.get(), index);
        SelectObject(dc.get(), old);
        ImageList_AddMasked(list.get(), bitmap.get(), kMaskColor);
    }
    return list;
}

void DrawProductPicture(HDC dc, const RECT& area) {
    Gradient(dc, area, RGB(0, 30, 90), RGB(60, 130, 210));
    RECT text = area;
    text.left += 12;
    Text(dc, text, QX_PRODUCT_VERSION, (area.bottom - area.top) * 2 / 5, RGB(255, 255, 255),
         DT_LEFT | DT_VCENTER);
    int x = area.right - 40, y = area.top + (area.bottom - area.top) / 2 - 6;
    qx::Pen pen(CreatePen(PS_SOLID, 3, RGB(240, 200, 60)));
    HGDIOBJ oldPen = SelectObject(dc, pen.get());
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Ellipse(dc, x, y, x + 12, y + 12);
    MoveToEx(dc, x + 12, y + 6, nullptr);
    LineTo(dc, x + 30, y + 6);
    LineTo(dc, x + 30, y + 12);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
}

void DrawAboutBanner(HDC dc, const RECT& area) {
    Gradient(dc, area, RGB(0, 20, 70), RGB(90, 160, 230));
    RECT text = area;
    text.left += 16;
    Text(dc, text, "Tarvisto", (area.bottom - area.top) * 3 / 5, RGB(255, 255, 255),
         DT_LEFT | DT_VCENTER);
    RECT line = area;
    line.right -= 16;
    Text(dc, line, "sign - verify - encrypt - decrypt", 14, RGB(240, 220, 140),
         DT_RIGHT | DT_BOTTOM);
}
