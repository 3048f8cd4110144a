// The pad's pulse times: the texts the user picks or types, and what they mean.
#pragma once

#include <QString>
#include <QStringList>

class QComboBox;

// GUI thread only.
class CZtVerovePulseTimes {
public:
    // The longest pulse, which "Toggle" stands for: until the user stops it.
    static constexpr double kToggleMs = 8.28e7;

    // The choices: "1 ms" ... "1 s", "Toggle".
    static QStringList DefaultTexts();
    // A time in 1 ms ... kToggleMs; ok false when the text does not read so.
    static double Parse(const QString& text, bool* ok);
    // The text of a duration: "Toggle" from kToggleMs on.
    static QString Text(double ms);
    // The pulse a text asks for: a time that reads, else kToggleMs for "Toggle" in any case
    // (toggleAtEnd: for a text ending in it), else -1.0 with ok false.
    static double DurationOf(const QString& text, bool toggleAtEnd, bool* ok);
    // Appends to texts every item of the combo that reads and is not there yet (typed by the
    // user); refills the combo from texts without signals and selects the duration's text,
    // searching from the end: a readable text not yet listed is appended, an unreadable one
    // selects the first item.
    static void Fill(QComboBox* combo, QStringList* texts, double durationMs);
};
