// The optical configuration a calibration is stored for, as a user names it.
#pragma once

#include <QString>

// The device's configuration key ("#F$K<changer>$N<filter>$P<position>…#O<objective>
// #R<rotation>[#L<port>][#Z<zoom>]#C<camera>") in short: "Emission: Quad band, Excitation: GFP,
// objective: 20x Air, camera: Camera, TRAX port 1". A camera turn, the TRAX port and a
// manual zoom appear only when the key has them.
QString ConfigurationText(const QString& key);
