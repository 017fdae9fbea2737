// The editor's stored preferences: QVRLY/editor.ini in the user's configuration directory, beside
// the port assignment, in the same INI form ([EDITOR], TABWIDTH=n).
#pragma once

#include <QString>

class TEditorSettings {
public:
    static QString FileName();
    // The stored tab width; fallback when there is none or it is no number within 1..max.
    static int ReadTabWidth(int fallback, int max);
    // Raises an Exception when the file cannot be written.
    static void WriteTabWidth(int width);
};
