// Tuplets: {notes}length shares one written length evenly among the notes, rests and chords
// between the braces. The notes carry no lengths of their own: each asks the length reader,
// which hands out the next share.
#include "compiler/Commands.h"
#include "compiler/Compilation.h"

void compile::TupletOpen(TCompilation& comp, const char*& p)
{
    const char* const open = p;
    comp.TupletNotesLeft = 0;
    ++p;
    // Count ahead without compiling. The letter after "@" (of @E, @X) and a comment are no notes;
    // a chord counts once.
    std::int32_t count = 0;
    const char* q = p;
    for (;;) {
        if (*q == '\0') comp.ErrorAt(MMLMessage::SyntaxError, open);
        const TCommand command = CommandOf(q);
        if (command == TCommand::TupletClose) break;
        switch (command) {
        case TCommand::Comment:
        case TCommand::Chord:
            if (command == TCommand::Chord) ++count;
            q = AfterBody(q);
            if (q == nullptr) comp.ErrorAt(MMLMessage::SyntaxError, open);
            continue;
        case TCommand::Bracket:
            comp.Error(MMLMessage::MacroInTuplet);
        case TCommand::TupletOpen:
            comp.Error(MMLMessage::NestedTuplet);
        case TCommand::Program:
        case TCommand::Effects:
        case TCommand::SysEx:
            if (TCompilation::IsLetter(q[1])) ++q;
            break;
        default:
            if (IsNoteOrRest(command)) ++count;
            break;
        }
        ++q;
    }
    // The body is compiled again after this look-ahead, so the look-ahead alone is what a repeat
    // around a tuplet with a long body would otherwise do without ever reaching the bound.
    comp.CountCommand(p, q);
    ++q;
    comp.TupletTicksLeft = comp.ReadTiedLength(q, false);
    comp.TupletNotesLeft = count;
}

// "}length": shares not taken are dropped first, so a body that asked for fewer than were counted
// does not give its leftovers to the notes after the brace; the length is then read and dropped.
void compile::TupletClose(TCompilation& comp, const char*& p)
{
    comp.TupletNotesLeft = 0;
    comp.TupletTicksLeft = 0;
    ++p;
    if (*p != '\0') comp.ReadTiedLength(p, false);
}
