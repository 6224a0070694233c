// QXPopupMenu: the popup menus of the window layer's forms (QXForms.h).
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

// A popup menu. Entries keep their order; a hidden entry is left out when the
// menu opens, and a disabled or hidden entry's command (also its shortcut)
// never reaches the form.
class QXPopupMenu {
public:
    // shortcut: shown right of the text ("Ctrl+I"); the form's accelerator
    // for it is added separately (QXForm::AddAccelerator).
    void Add(int id, const char* text, const char* shortcut = nullptr, int image = -1);
    bool Contains(int id) const;
    void SetText(int id, const char* text);
    std::string Text(int id) const;
    void Enable(int id, bool enable);
    bool Enabled(int id) const;
    void Show(int id, bool show);
    bool Visible(int id) const;
    // Whether the command may run: the entry is enabled and visible.
    bool Active(int id) const;
    // Opens the menu at the screen point; the chosen entry arrives at the
    // owner window as WM_COMMAND. images: where an entry's image comes from.
    bool Popup(HWND owner, int x, int y, HIMAGELIST images);

private:
    struct Entry {
        int id;
        std::string text, shortcut;
        int image;
        bool enabled, visible;
    };
    Entry* Find(int id);
    const Entry* Find(int id) const;
    std::vector<Entry> entries_;
};
