#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fuzz/FuzzTargets.h"

namespace {
bool throwFindings = false;
}

void ThrowFuzzFindings() { throwFindings = true; }

void FuzzFailure(const char* what, std::string_view bytes)
{
    if (throwFindings) throw FuzzFinding(what);
    std::fprintf(stderr, "fuzz target: %s (input of %zu bytes)\n", what, bytes.size());
    std::abort();
}
