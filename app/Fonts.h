// The fonts the windows are designed with. They carry the Windows names the program's texts were
// laid out in; where those fonts are missing, Qt falls back to a CJK font of the system, so that
// every Japanese text shows real glyphs.
#pragma once

#include <QFont>

enum class FontFamily {
    Proportional,  // ＭＳ Ｐゴシック: captions, menus, dialogs
    Monospace,     // ＭＳ ゴシック: the editor and the time display
};

QFont JapaneseFont(FontFamily family, int pixelSize);
