// The colour variables of the host's style sheets.
#pragma once

#include <QString>

// Replaces every "@Name" the host knows by its colour ("#rrggbb"); unknown names stay and are
// logged.
QString ReplaceColorVariables(const QString& styleSheet);
