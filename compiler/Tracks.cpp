#include <string>

#include "compiler/Compilation.h"

void TTracks::IndexError(int index)
{
    RaiseIndexError(index);
}

const TMMLParam& TMMLParams::Items(int index) const
{
    if (index < 0 || index >= Count())
        RaiseIndexError(index);
    return index < InlineCount ? inline_[static_cast<std::size_t>(index)]
                               : more_[static_cast<std::size_t>(index - InlineCount)];
}
