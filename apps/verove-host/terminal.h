// What verove-host shows on stdout while a session runs: lines, and progress lines that
// --quiet leaves out.
#pragma once

#include <QString>

// Main thread only.
namespace terminal {

void SetQuiet(bool quiet);
// One line, shown at once, also through a pipe.
void Line(const QString& text);
// A line on how far long work has come ("square 12/30, 8.4 s"); left out when quiet.
void Progress(const QString& text);

}  // namespace terminal
