// QXFormHelpers: the page control, the tree view, their notifications, and the
// memo, progress bar and status bar helpers of a form.
#include "QXForms.h"

#include <vector>

// --- pages ------------------------------------------------------------------

HWND QXForm::AddPageControl(int id, int x, int y, int w, int h, HIMAGELIST images) {
    HWND tabs = AddControl(id, WC_TABCONTROLA, "",
                           WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | TCS_BUTTONS |
                               TCS_FLATBUTTONS | TCS_HOTTRACK,
                           0, x, y, w, h);
    if (!tabs) return nullptr;
    if (images) SendMessageA(tabs, TCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
    SetWindowPos(tabs, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    controls_[id].currentPage = 0;
    return tabs;
}

int QXForm::AddPage(int pageControl, const char* text, int image) {
    HWND tabs = Control(pageControl);
    if (!tabs) return -1;
    int index = static_cast<int>(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0));
    TCITEMA item = {};
    item.mask = TCIF_TEXT | TCIF_IMAGE;
    item.pszText = const_cast<char*>(text ? text : "");
    item.iImage = image;
    return static_cast<int>(
        SendMessageA(tabs, TCM_INSERTITEMA, index, reinterpret_cast<LPARAM>(&item)));
}

void QXForm::SetPageText(int pageControl, int page, const char* text) {
    HWND tabs = Control(pageControl);
    if (!tabs) return;
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(text ? text : "");
    SendMessageA(tabs, TCM_SETITEMA, page, reinterpret_cast<LPARAM>(&item));
}

std::string QXForm::PageText(HWND pageControl, int page) {
    char text[256] = "";
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof(text);
    if (!SendMessageA(pageControl, TCM_GETITEMA, page, reinterpret_cast<LPARAM>(&item)))
        return "";
    return text;
}

void QXForm::PutOnPage(int controlId, int pageControl, int page) {
    HWND control = Control(controlId);
    if (!control) return;
    controls_[controlId].page = ControlEntry::PageRef{
        pageControl, page, (GetWindowLongPtrA(control, GWL_STYLE) & WS_VISIBLE) != 0};
    if (CurrentPage(pageControl) != page) ShowWindow(control, SW_HIDE);
}

int QXForm::CurrentPage(int pageControl) const {
    const ControlEntry* tabs = Entry(pageControl);
    return tabs && tabs->currentPage ? *tabs->currentPage : -1;
}

void QXForm::ShowPage(int pageControl, int page) {
    controls_[pageControl].currentPage = page;
    HWND focus = GetFocus();
    bool focusHidden = false;
    for (const auto& entry : controls_) {
        const std::optional<ControlEntry::PageRef>& on = entry.second.page;
        if (!on || on->control != pageControl) continue;
        HWND control = entry.second.window;
        bool show = on->page == page && on->wanted;
        if (!show && control == focus) focusHidden = true;
        ShowWindow(control, show ? SW_SHOWNA : SW_HIDE);
    }
    if (focusHidden) SetFocus(Control(pageControl));
}

bool QXForm::SelectPage(int pageControl, int page) {
    HWND tabs = Control(pageControl);
    if (!tabs || page < 0 || page >= SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0)) return false;
    SendMessageA(tabs, TCM_SETCURSEL, page, 0);
    ShowPage(pageControl, page);
    OnPageChanged(pageControl, page);
    return true;
}

// --- tree view --------------------------------------------------------------

HWND QXForm::AddTreeView(int id, int x, int y, int w, int h, HIMAGELIST images, int indent) {
    HWND tree = AddControl(id, WC_TREEVIEWA, "",
                           WS_VISIBLE | WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS |
                               TVS_LINESATROOT | TVS_SHOWSELALWAYS | TVS_DISABLEDRAGDROP,
                           WS_EX_CLIENTEDGE, x, y, w, h);
    if (!tree) return nullptr;
    if (images)
        SendMessageA(tree, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(images));
    if (indent > 0) SendMessageA(tree, TVM_SETINDENT, indent, 0);
    return tree;
}

HTREEITEM QXForm::TreeAdd(HWND tree, HTREEITEM parent, const char* text, int image,
                          LPARAM value) {
    TVINSERTSTRUCTA insert = {};
    insert.hParent = parent ? parent : TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
    insert.item.pszText = const_cast<char*>(text ? text : "");
    insert.item.iImage = image;
    insert.item.iSelectedImage = image;
    insert.item.lParam = value;
    return reinterpret_cast<HTREEITEM>(
        SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

std::string QXForm::TreeText(HWND tree, HTREEITEM node) {
    if (!node) return "";
    char text[1024] = "";
    TVITEMA item = {};
    item.mask = TVIF_TEXT;
    item.hItem = node;
    item.pszText = text;
    item.cchTextMax = sizeof(text);
    if (!SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return "";
    return text;
}

int QXForm::TreeImage(HWND tree, HTREEITEM node) {
    TVITEMA item = {};
    item.mask = TVIF_IMAGE;
    item.hItem = node;
    if (!node || !SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return -1;
    return item.iImage;
}

LPARAM QXForm::TreeValue(HWND tree, HTREEITEM node) {
    TVITEMA item = {};
    item.mask = TVIF_PARAM;
    item.hItem = node;
    if (!node || !SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return 0;
    return item.lParam;
}

HTREEITEM QXForm::TreeParent(HWND tree, HTREEITEM node) {
    if (!node) return nullptr;
    return reinterpret_cast<HTREEITEM>(
        SendMessageA(tree, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(node)));
}

HTREEITEM QXForm::TreeNext(HWND tree, HTREEITEM node) {
    auto next = [tree](UINT how, HTREEITEM from) {
        return reinterpret_cast<HTREEITEM>(
            SendMessageA(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(from)));
    };
    if (!node) return next(TVGN_ROOT, nullptr);
    if (HTREEITEM child = next(TVGN_CHILD, node)) return child;
    for (HTREEITEM at = node; at; at = next(TVGN_PARENT, at))
        if (HTREEITEM sibling = next(TVGN_NEXT, at)) return sibling;
    return nullptr;
}

int QXForm::TreeCount(HWND tree) { return static_cast<int>(SendMessageA(tree, TVM_GETCOUNT, 0, 0)); }

bool QXForm::TreeSelect(HWND tree, HTREEITEM node) {
    if (node) SendMessageA(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(node));
    return SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(node)) != 0;
}

HTREEITEM QXForm::TreeSelection(HWND tree) {
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
}

bool QXForm::TreeDelete(HWND tree, HTREEITEM node) {
    return node && SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(node)) != 0;
}

void QXForm::TreeClear(HWND tree) {
    SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
}

bool QXForm::HandleNotify(const NMHDR* header, LRESULT* result) {
    if (!header || header->hwndFrom != Control(static_cast<int>(header->idFrom))) return false;
    int id = static_cast<int>(header->idFrom);
    *result = 0;
    switch (header->code) {
    case TCN_SELCHANGE: {
        int page = static_cast<int>(SendMessageA(header->hwndFrom, TCM_GETCURSEL, 0, 0));
        ShowPage(id, page);
        OnPageChanged(id, page);
        return true;
    }
    case TVN_SELCHANGINGA:
    case TVN_SELCHANGINGW: {
        auto* change = reinterpret_cast<const NMTREEVIEWA*>(header);
        OnTreeChanging(id, change->itemOld.hItem, change->itemNew.hItem);
        return true;  // the change is allowed
    }
    case TVN_SELCHANGEDA:
    case TVN_SELCHANGEDW: {
        auto* change = reinterpret_cast<const NMTREEVIEWA*>(header);
        OnTreeChanged(id, change->itemNew.hItem);
        return true;
    }
    case NM_CLICK: {
        char cls[32] = "";
        GetClassNameA(header->hwndFrom, cls, sizeof(cls));
        if (lstrcmpiA(cls, WC_TREEVIEWA) != 0) return false;
        OnTreeClick(id);
        return true;
    }
    default:
        return false;
    }
}

bool QXForm::MemoAppendLine(HWND memo, const char* text) {
    if (!memo || !text) return false;
    int length = GetWindowTextLengthA(memo);
    std::string tail;
    if (length > 0) {
        std::vector<char> all(length + 1);
        GetWindowTextA(memo, all.data(), length + 1);
        if (length < 2 || all[length - 2] != '\r' || all[length - 1] != '\n') tail = "\r\n";
    }
    tail += text;
    if (tail.size() < 2 || tail.compare(tail.size() - 2, 2, "\r\n") != 0) tail += "\r\n";
    SendMessageA(memo, EM_SETSEL, length, length);
    SendMessageA(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(tail.c_str()));
    return true;
}

void QXForm::MemoShowScrollBar(HWND memo) {
    if (!memo) return;
    LONG_PTR style = GetWindowLongPtrA(memo, GWL_STYLE);
    if (!(style & WS_VSCROLL)) {
        SetWindowLongPtrA(memo, GWL_STYLE, style | WS_VSCROLL);
        SetWindowPos(memo, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    }
}

void QXForm::ProgressSetRange(HWND bar, int lowest, int highest) {
    SendMessageA(bar, PBM_SETRANGE32, lowest, highest);
}
void QXForm::ProgressSetPosition(HWND bar, int position) {
    SendMessageA(bar, PBM_SETPOS, position, 0);
}
int QXForm::ProgressPosition(HWND bar) {
    return static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
}
int QXForm::ProgressMaximum(HWND bar) {
    return static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
}
void QXForm::StatusBarSetText(HWND bar, const char* text) {
    SendMessageA(bar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text ? text : ""));
}

