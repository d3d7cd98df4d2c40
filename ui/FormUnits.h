// The forms are laid out in pixels, as the window was designed: their fonts are stored in
// points at 96 dots per inch, and turned into pixel sizes here so that the captions keep
// fitting their fixed-size controls whatever the screen's dots per inch.
#pragma once

class QWidget;

void UsePixelFonts(QWidget* form);
