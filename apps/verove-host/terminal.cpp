// verove-host's terminal output.
#include "terminal.h"

#include <cstdio>

namespace terminal {
namespace {

bool g_quiet = false;

}  // namespace

void SetQuiet(bool quiet) {
    g_quiet = quiet;
}

void Line(const QString& text) {
    std::printf("%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);  // progress shows as it happens, also through a pipe
}

void Progress(const QString& text) {
    if (!g_quiet) {
        Line(text);
    }
}

}  // namespace terminal
