// The settings program's pictures: the ten small images of the tree, the tabs
// and the popup menu, the product picture of the pages and the About banner.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "QXHandles.h"

// Ten images of 16 x 16: 1 a certificate out of its validity period, 2 an own
// valid certificate, 3 another valid certificate, 6 a store (also the tabs),
// 7 the other certificates, 8 the own certificates, 9 the user (also "&Import").
qx::ImageList CreateSetupImages();
// The product picture that opens the About window.
void DrawProductPicture(HDC dc, const RECT& area);
// The banner of the About window.
void DrawAboutBanner(HDC dc, const RECT& area);
