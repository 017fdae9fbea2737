// Tuplets: {notes}length shares one written length evenly among the notes, rests and chords
// between the braces. The notes carry no lengths of their own: each asks the length reader,
// which hands out the next share.
#include "MMLtoMID.h"

void TMML::BeginTuplet(const char*& p)
{
    const char* const open = p;
    TupletNotesLeft = 0;
    ++p;
    // Count ahead without compiling. The letters of @E and @X and of a comment are no notes; a
    // chord counts once.
    std::int32_t count = 0;
    const char* q = p;
    for (; *q != '}'; ++q) {
        const char c = *q;
        if (c == '\0') ErrorAt(MMLMessage::SyntaxError, open);
        if (c == '/' && q[1] == '/') {
            SkipToLineEnd(q);
            if (*q == '\0') ErrorAt(MMLMessage::SyntaxError, open);
            continue;
        }
        if (c == '[') Error(MMLMessage::MacroInTuplet);
        if (c == '{') Error(MMLMessage::NestedTuplet);
        if (c == '\'') {
            ++count;
            for (++q; *q != '\''; ++q)
                if (*q == '\0') ErrorAt(MMLMessage::SyntaxError, open);
            continue;
        }
        const char u = static_cast<char>(c & ~0x20);
        if (((u >= 'A' && u <= 'G') || u == 'R') && q[-1] != '@') ++count;
    }
    // The body is compiled again after this look-ahead, so the look-ahead alone is what a repeat
    // around a tuplet with a long body would otherwise do without ever reaching the bound.
    CountCommand(p, q);
    ++q;
    TupletTicksLeft = ReadTiedLength(q, false);
    TupletNotesLeft = count;
}

// "}length": shares not taken are dropped first, so a body that asked for fewer than were counted
// does not give its leftovers to the notes after the brace; the length is then read and dropped.
void TMML::EndTuplet(const char*& p)
{
    TupletNotesLeft = 0;
    TupletTicksLeft = 0;
    ++p;
    if (*p != '\0') ReadTiedLength(p, false);
}
