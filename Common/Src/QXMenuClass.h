// The class identifier of the Explorer's context-menu handler: the class
// factory of tvcryptc carries it and the settings program registers it. One
// value in two forms, the GUID and the lower-case braced text that the
// registry holds; a test keeps the two in step.
#pragma once

#include <windows.h>

// {fb3b1886-f342-484a-93c8-186391036e0e}
static constexpr GUID CLSID_QXMenu = {
    0xfb3b1886, 0xf342, 0x484a, {0x93, 0xc8, 0x18, 0x63, 0x91, 0x03, 0x6e, 0x0e}};
#define QX_MENU_CLASS_TEXT "{fb3b1886-f342-484a-93c8-186391036e0e}"

// The ProgID under which the server registers its class.
#define QX_MENU_PROGID "TarvistoMenu"
