// QXControls: the controls of a form, their hints and popup menus; what the
// form keeps of each control is its entry, by the control's id.
#include "QXForms.h"

// ---------------------------------------------------------------------------
// QXPopupMenu

void QXPopupMenu::Add(int id, const char* text, const char* shortcut, int image) {
    entries_.push_back({id, text ? text : "", shortcut ? shortcut : "", image, true, true});
}

QXPopupMenu::Entry* QXPopupMenu::Find(int id) {
    for (Entry& entry : entries_)
        if (entry.id == id) return &entry;
    return nullptr;
}

const QXPopupMenu::Entry* QXPopupMenu::Find(int id) const {
    for (const Entry& entry : entries_)
        if (entry.id == id) return &entry;
    return nullptr;
}

bool QXPopupMenu::Contains(int id) const { return Find(id) != nullptr; }

void QXPopupMenu::SetText(int id, const char* text) {
    if (Entry* entry = Find(id)) entry->text = text ? text : "";
}

std::string QXPopupMenu::Text(int id) const {
    const Entry* entry = Find(id);
    return entry ? entry->text : std::string();
}

void QXPopupMenu::Enable(int id, bool enable) {
    if (Entry* entry = Find(id)) entry->enabled = enable;
}

bool QXPopupMenu::Enabled(int id) const {
    const Entry* entry = Find(id);
    return entry && entry->enabled;
}

void QXPopupMenu::Show(int id, bool show) {
    if (Entry* entry = Find(id)) entry->visible = show;
}

bool QXPopupMenu::Visible(int id) const {
    const Entry* entry = Find(id);
    return entry && entry->visible;
}

bool QXPopupMenu::Active(int id) const {
    const Entry* entry = Find(id);
    return entry && entry->enabled && entry->visible;
}

bool QXPopupMenu::Popup(HWND owner, int x, int y, HIMAGELIST images) {
    qx::Menu menu(CreatePopupMenu());
    if (!menu) return false;
    std::vector<qx::Bitmap> bitmaps;  // alive while the menu is open
    for (const Entry& entry : entries_) {
        if (!entry.visible) continue;
        std::string text = entry.text;
        if (!entry.shortcut.empty()) text += "\t" + entry.shortcut;
        AppendMenuA(menu.get(), MF_STRING | (entry.enabled ? 0 : MF_GRAYED),
                    static_cast<UINT_PTR>(entry.id), text.c_str());
        if (images && entry.image >= 0) {
            // The entry's picture from the image list, on the menu's colour.
            qx::ScreenDc screen(GetDC(nullptr));
            qx::Bitmap bitmap(CreateCompatibleBitmap(screen.get(), 16, 16));
            qx::MemoryDc dc(CreateCompatibleDC(screen.get()));
            if (bitmap && dc) {
                HGDIOBJ old = SelectObject(dc.get(), bitmap.get());
                RECT all = {0, 0, 16, 16};
                FillRect(dc.get(), &all, GetSysColorBrush(COLOR_MENU));
                ImageList_Draw(images, entry.image, dc.get(), 0, 0, ILD_TRANSPARENT);
                SelectObject(dc.get(), old);
                MENUITEMINFOA info = {};
                info.cbSize = sizeof(info);
                info.fMask = MIIM_BITMAP;
                info.hbmpItem = bitmap.get();
                SetMenuItemInfoA(menu.get(), static_cast<UINT>(entry.id), FALSE, &info);
                bitmaps.push_back(std::move(bitmap));
            }
        }
    }
    SetForegroundWindow(owner);
    BOOL shown = TrackPopupMenu(menu.get(), TPM_LEFTALIGN | TPM_RIGHTBUTTON, x, y, 0, owner,
                                nullptr);
    PostMessageA(owner, WM_NULL, 0, 0);
    return shown != FALSE;
}


HWND QXForm::AddControl(int id, const char* cls, const char* text, DWORD style, DWORD exStyle,
                        int x, int y, int w, int h) {
    if (!hwnd_) return nullptr;
    HWND control = CreateWindowExA(exStyle, cls, text ? text : "", WS_CHILD | style, x, y, w, h,
                                   hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   QXFormsModule(), nullptr);
    if (!control) return nullptr;
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(Font(0, nullptr, false)), FALSE);
    SetWindowSubclass(control, &QXForm::ControlProc, 1, reinterpret_cast<DWORD_PTR>(this));
    controls_[id].window = control;
    return control;
}

const QXForm::ControlEntry* QXForm::Entry(int id) const {
    auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : &found->second;
}

QXForm::ControlEntry* QXForm::EntryOf(HWND window) {
    if (!window) return nullptr;
    auto found = controls_.find(GetDlgCtrlID(window));
    return found != controls_.end() && found->second.window == window ? &found->second : nullptr;
}

HFONT QXForm::Font(int height, const char* face, bool bold, bool underline) {
    if (height == 0 && !face && !bold && !underline) {
        // The system's message font, made once per module (thread-safe) and
        // kept for the module's life: windows of any form may still use it.
        static const HFONT standard = [] {
            HFONT font = nullptr;
            NONCLIENTMETRICSA metrics = {};
            metrics.cbSize = sizeof(metrics);
            if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
                font = CreateFontIndirectA(&metrics.lfMessageFont);
            return font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        }();
        return standard;
    }
    HFONT font = CreateFontA(height ? -height : -11, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, 0,
                             underline ? TRUE : FALSE, 0,
                             ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, face ? face : "Arial");
    if (font) fonts_.emplace_back(font);
    return font;
}

HWND QXForm::AddButton(int id, const char* text, int x, int y, int w, int h, bool isDefault) {
    HWND button = AddControl(id, "BUTTON", text,
                             WS_VISIBLE | WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON),
                             0, x, y, w, h);
    if (button && isDefault) defaultButton_ = id;
    return button;
}

HWND QXForm::AddLabel(int id, const char* text, int x, int y, int w, int h, COLORREF color,
                      int fontHeight, const char* face, bool bold) {
    HWND label = AddControl(id, "STATIC", text, WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, x, y, w, h);
    if (!label) return nullptr;
    if (fontHeight || face || bold)
        SendMessageA(label, WM_SETFONT,
                     reinterpret_cast<WPARAM>(Font(fontHeight, face, bold)), FALSE);
    if (color != CLR_DEFAULT) controls_[id].colors = {color, CLR_DEFAULT, qx::Brush()};
    return label;
}

HWND QXForm::AddPanel(int id, int x, int y, int w, int h, COLORREF background) {
    HWND panel = AddControl(id, "STATIC", "", WS_VISIBLE | WS_CLIPSIBLINGS, 0, x, y, w, h);
    if (panel) SetWindowPos(panel, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    if (panel && background != CLR_DEFAULT)
        controls_[id].colors = {GetSysColor(COLOR_BTNTEXT), background,
                                qx::Brush(CreateSolidBrush(background))};
    return panel;
}

HWND QXForm::AddLine(int id, int x, int y, int w) {
    return AddControl(id, "STATIC", "", WS_VISIBLE | SS_ETCHEDHORZ, 0, x, y, w, 2);
}

HWND QXForm::AddMemo(int id, int x, int y, int w, int h, COLORREF background, const char* face,
                     int fontHeight) {
    HWND memo = AddControl(id, "EDIT", "",
                           WS_VISIBLE | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0, x, y, w, h);
    if (!memo) return nullptr;
    SendMessageA(memo, EM_SETLIMITTEXT, 0, 0);
    if (face || fontHeight)
        SendMessageA(memo, WM_SETFONT, reinterpret_cast<WPARAM>(Font(fontHeight, face, false)),
                     FALSE);
    controls_[id].colors = {GetSysColor(COLOR_WINDOWTEXT), background,
                            qx::Brush(CreateSolidBrush(background))};
    return memo;
}

HWND QXForm::AddProgressBar(int id, int x, int y, int w, int h) {
    return AddControl(id, PROGRESS_CLASSA, "", WS_VISIBLE, 0, x, y, w, h);
}

HWND QXForm::AddStatusBar(int id) {
    HWND bar = AddControl(id, STATUSCLASSNAMEA, "", WS_VISIBLE | CCS_BOTTOM, 0, 0, 0, 0, 0);
    if (bar) {
        int right = -1;
        SendMessageA(bar, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(&right));
    }
    return bar;
}

HWND QXForm::AddAnimate(int id, int x, int y, int w, int h) {
    return AddControl(id, ANIMATE_CLASSA, "", ACS_CENTER | ACS_TRANSPARENT, 0, x, y, w, h);
}

HWND QXForm::AddSidePicture(int id, int x, int y, int w, int h) {
    HWND picture = AddControl(id, "STATIC", "", WS_VISIBLE | SS_OWNERDRAW, 0, x, y, w, h);
    if (picture) controls_[id].drawing = ControlEntry::Drawing::SidePicture;
    return picture;
}

HWND QXForm::Control(int id) const {
    const ControlEntry* entry = Entry(id);
    return entry ? entry->window : nullptr;
}

void QXForm::SetDefaultButton(int id) {
    if (defaultButton_ && Control(defaultButton_))
        SendMessageA(Control(defaultButton_), BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    defaultButton_ = id;
    if (Control(id)) SendMessageA(Control(id), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

void QXForm::SetControlText(int id, const char* text) {
    if (HWND control = Control(id)) SetWindowTextA(control, text ? text : "");
}

void QXForm::EnableControl(int id, bool enable) {
    if (HWND control = Control(id)) EnableWindow(control, enable ? TRUE : FALSE);
}

void QXForm::ShowControl(int id, bool show) {
    HWND control = Control(id);
    if (!control) return;
    std::optional<ControlEntry::PageRef>& page = controls_[id].page;
    if (page) {
        // On a page: shown only while its page is the current one.
        page->wanted = show;
        if (show && CurrentPage(page->control) != page->page) return;
    }
    ShowWindow(control, show ? SW_SHOWNA : SW_HIDE);
}

bool QXForm::ControlVisible(int id) const {
    HWND control = Control(id);
    if (!control) return false;
    const ControlEntry* entry = Entry(id);
    if (entry->page) return entry->page->wanted;
    return (GetWindowLongPtrA(control, GWL_STYLE) & WS_VISIBLE) != 0;
}


bool QXForm::MenuCommandActive(int id) const {
    for (const auto& entry : controls_)
        if (entry.second.popup && entry.second.popup->Contains(id))
            return entry.second.popup->Active(id);
    return true;
}


// --- buttons, edits, pictures, links, hints, popups -------------------------

HWND QXForm::AddCheckBox(int id, const char* text, int x, int y, int w, int h) {
    HWND box = AddControl(id, "BUTTON", text, WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0, x, y,
                          w, h);
    return box;
}

HWND QXForm::AddRadioButton(int id, const char* text, int x, int y, int w, int h, int group) {
    // Not an automatic radio button: the group rule and the click operation
    // are the form's (HandleRadioClick, SetChecked).
    HWND radio = AddControl(id, "BUTTON", text, WS_VISIBLE | WS_TABSTOP | BS_RADIOBUTTON, 0, x, y,
                            w, h);
    if (radio) controls_[id].radioGroup = group;
    return radio;
}

bool QXForm::Checked(int id) const {
    HWND control = Control(id);
    return control && SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void QXForm::SetChecked(int id, bool on) {
    HWND control = Control(id);
    if (!control || Checked(id) == on) return;
    SendMessageA(control, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    std::optional<int> group = Entry(id)->radioGroup;
    if (group) {
        if (!on) return;  // turning one off leaves the others as they are
        for (const auto& other : controls_)
            if (other.first != id && other.second.radioGroup == group)
                SendMessageA(other.second.window, BM_SETCHECK, BST_UNCHECKED, 0);
    }
    OnCommand(id);
}

void QXForm::HandleRadioClick(int id) {
    if (!Checked(id)) SetChecked(id, true);
}

HWND QXForm::AddGroupBox(int id, const char* text, int x, int y, int w, int h) {
    HWND group = AddControl(id, "BUTTON", text, WS_VISIBLE | BS_GROUPBOX, 0, x, y, w, h);
    if (!group) return nullptr;
    // Below the controls it frames; page controls stay below everything.
    SetWindowPos(group, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    for (const auto& tabs : controls_)
        if (tabs.second.currentPage)
            SetWindowPos(tabs.second.window, HWND_BOTTOM, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return group;
}

HWND QXForm::AddEdit(int id, const char* text, int x, int y, int w, int h, bool readOnly) {
    return AddControl(id, "EDIT", text,
                      WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL | (readOnly ? ES_READONLY : 0),
                      WS_EX_CLIENTEDGE, x, y, w, h);
}

HWND QXForm::AddPicture(int id, int x, int y, int w, int h,
                        std::function<void(HDC, const RECT&)> draw, bool clickable) {
    HWND picture = AddControl(id, "STATIC", "",
                              WS_VISIBLE | SS_OWNERDRAW | (clickable ? SS_NOTIFY : 0), 0, x, y, w,
                              h);
    if (!picture) return nullptr;
    ControlEntry& entry = controls_[id];
    entry.drawing = ControlEntry::Drawing::Caller;
    entry.draw = std::move(draw);
    entry.handCursor = clickable;
    return picture;
}

HWND QXForm::AddLink(int id, const char* text, int x, int y, int w, int h, COLORREF color,
                     int fontHeight, const char* face, bool bold) {
    HWND link = AddControl(id, "STATIC", text, WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_NOTIFY, 0,
                           x, y, w, h);
    if (!link) return nullptr;
    SendMessageA(link, WM_SETFONT, reinterpret_cast<WPARAM>(Font(fontHeight, face, bold, true)),
                 FALSE);
    ControlEntry& entry = controls_[id];
    entry.colors = {color, CLR_DEFAULT, qx::Brush()};
    entry.handCursor = true;
    return link;
}

bool QXForm::HasHandCursor(int id) const {
    const ControlEntry* entry = Entry(id);
    return entry && entry->handCursor;
}

void QXForm::UpdateTool(HWND control) {
    if (!hwnd_ || !control) return;
    if (!tooltip_) {
        tooltip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                                   WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                                   QXFormsModule(), nullptr);
        if (!tooltip_) return;
    }
    const ControlEntry* entry = Entry(GetDlgCtrlID(control));
    TOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V1_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    SendMessageA(tooltip_, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    if (!entry || !entry->hintShown || entry->hint.empty()) return;
    tool.lpszText = const_cast<char*>(entry->hint.c_str());
    SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void QXForm::SetHint(int id, const char* text) {
    controls_[id].hint = text ? text : "";
    UpdateTool(Control(id));
}

std::string QXForm::Hint(int id) const {
    const ControlEntry* entry = Entry(id);
    return entry ? entry->hint : std::string();
}

void QXForm::ShowHint(int id, bool show) {
    controls_[id].hintShown = show;
    UpdateTool(Control(id));
}

bool QXForm::HintShown(int id) const {
    const ControlEntry* entry = Entry(id);
    return entry && entry->hintShown;
}

void QXForm::AttachPopup(int controlId, QXPopupMenu* menu, HIMAGELIST images) {
    ControlEntry& entry = controls_[controlId];
    entry.popup = menu;
    entry.popupImages = images;
}


void QXForm::DrawSidePicture(const DRAWITEMSTRUCT* item) {
    // A band from deep to light blue with a row of small keys of light.
    RECT r = item->rcItem;
    int height = r.bottom - r.top;
    for (int y = 0; y < height; y += 2) {
        int shade = height ? 40 + 120 * y / height : 40;
        qx::Brush brush(CreateSolidBrush(RGB(0, shade / 3, shade + 60)));
        RECT band = {r.left, r.top + y, r.right, r.top + y + 2};
        FillRect(item->hDC, &band, brush.get());
    }
    qx::Brush light(CreateSolidBrush(RGB(230, 200, 80)));
    int w = r.right - r.left;
    for (int y = r.top + 8; y + 10 < r.bottom; y += 24) {
        RECT bow = {r.left + w / 4, y, r.right - w / 4, y + 5};
        RECT stem = {r.left + w / 2 - 1, y + 5, r.left + w / 2 + 1, y + 12};
        FrameRect(item->hDC, &bow, light.get());
        FillRect(item->hDC, &stem, light.get());
    }
}

